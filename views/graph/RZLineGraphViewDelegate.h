#pragma once
// What a line graph asks of its owner. Both calls are optional: the default
// answers mean "not implemented".
#include <QString>
#include <optional>

#include "RZGraphPoint.h"

class RZLineGraphView;

class RZLineGraphViewDelegate {
public:
    virtual ~RZLineGraphViewDelegate();

    // The text of the y-axis label for a grid value (index 0 at the bottom).
    // nullopt: not implemented, the graph writes the number itself; a null
    // string: an empty label.
    virtual std::optional<QString> lineGraphView(RZLineGraphView* lineGraphView, double yAxisLabelTitleFromValue,
                                                 int index);
    // Sent after every hover update with the hovered point, or nullptr.
    virtual void lineGraphView(RZLineGraphView* lineGraphView, const RZGraphPoint* mouseMovedWithGraphPoint);
};
