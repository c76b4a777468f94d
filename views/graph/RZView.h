#pragma once
// A plain view whose children may draw outside its bounds. Qt always clips
// child widgets, so a widget that must overhang paints it from the parent
// instead; the answer is kept for code that asks.
#include <QWidget>

class RZView : public QWidget {
public:
    using QWidget::QWidget;
    bool wantsDefaultClipping() const;
};
