#pragma once
// One plotted series with its colours and marker options.
#include <QColor>
#include <QList>

#include "RZGraphPoint.h"

class RZGraphPlot {
public:
    RZGraphPlot();

    const QList<RZGraphPoint>& graphPoints() const { return m_graphPoints; }
    void setGraphPoints(const QList<RZGraphPoint>& graphPoints) { m_graphPoints = graphPoints; }
    QColor fillColor() const { return m_fillColor; }
    void setFillColor(const QColor& color) { m_fillColor = color; }
    QColor strokeColor() const { return m_strokeColor; }
    void setStrokeColor(const QColor& color) { m_strokeColor = color; }
    double lineWidth() const { return m_lineWidth; }
    void setLineWidth(double width) { m_lineWidth = width; }
    double graphPointSize() const { return m_graphPointSize; }
    void setGraphPointSize(double size) { m_graphPointSize = size; }
    QColor graphPointColor() const { return m_graphPointColor; }
    void setGraphPointColor(const QColor& color) { m_graphPointColor = color; }
    QColor graphPointHighlightColor() const { return m_graphPointHighlightColor; }
    void setGraphPointHighlightColor(const QColor& color) { m_graphPointHighlightColor = color; }
    bool strokeCircleAroundGraphPoint() const { return m_strokeCircleAroundGraphPoint; }
    void setStrokeCircleAroundGraphPoint(bool on) { m_strokeCircleAroundGraphPoint = on; }
    bool fillCircleAroundGraphPoint() const { return m_fillCircleAroundGraphPoint; }
    void setFillCircleAroundGraphPoint(bool on) { m_fillCircleAroundGraphPoint = on; }
    bool curveLine() const { return m_curveLine; }
    void setCurveLine(bool on) { m_curveLine = on; }

private:
    QList<RZGraphPoint> m_graphPoints;
    QColor m_fillColor;
    QColor m_strokeColor;
    double m_lineWidth = 2;
    double m_graphPointSize = 10;
    QColor m_graphPointColor;
    QColor m_graphPointHighlightColor;
    bool m_strokeCircleAroundGraphPoint = false;
    bool m_fillCircleAroundGraphPoint = true;
    bool m_curveLine = false;
};
