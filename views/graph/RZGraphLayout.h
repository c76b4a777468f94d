#pragma once
// Every metric, flag, font and colour the line graph reads while laying out
// and drawing. Lengths are in points; fonts are set by pixel size.
#include <QColor>
#include <QFont>

#define RZ_GRAPH_SETTING(Type, name, Setter)                   \
public:                                                         \
    Type name() const { return m_##name; }                      \
    void Setter(const Type& value) { m_##name = value; }        \
                                                                \
private:                                                        \
    Type m_##name;

class RZGraphLayout {
public:
    RZGraphLayout();

    // The application font at a pixel size.
    static QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal);

    RZ_GRAPH_SETTING(bool, startPlotFromZero, setStartPlotFromZero)  // no effect; kept for callers
    RZ_GRAPH_SETTING(bool, drawMovement, setDrawMovement)
    RZ_GRAPH_SETTING(bool, xAxisGridHidden, setXAxisGridHidden)
    RZ_GRAPH_SETTING(bool, xAxisGridDashLine, setXAxisGridDashLine)
    RZ_GRAPH_SETTING(double, xAxisIntervalInPx, setXAxisIntervalInPx)
    RZ_GRAPH_SETTING(double, xAxisMargin, setXAxisMargin)
    RZ_GRAPH_SETTING(bool, xAxisZeroHidden, setXAxisZeroHidden)
    RZ_GRAPH_SETTING(bool, xAxisZeroDashLine, setXAxisZeroDashLine)
    RZ_GRAPH_SETTING(double, xAxisLinesWidth, setXAxisLinesWidth)
    RZ_GRAPH_SETTING(QColor, xAxisLinesStrokeColor, setXAxisLinesStrokeColor)
    RZ_GRAPH_SETTING(double, xAxisLabelHeight, setXAxisLabelHeight)
    RZ_GRAPH_SETTING(QFont, xAxisLabelFont, setXAxisLabelFont)
    RZ_GRAPH_SETTING(QColor, xAxisLabelColor, setXAxisLabelColor)
    RZ_GRAPH_SETTING(unsigned, yAxisSegmentCount, setYAxisSegmentCount)
    RZ_GRAPH_SETTING(bool, yAxisZeroHidden, setYAxisZeroHidden)
    RZ_GRAPH_SETTING(bool, yAxisZeroDashLine, setYAxisZeroDashLine)
    RZ_GRAPH_SETTING(bool, yAxisGridHidden, setYAxisGridHidden)
    RZ_GRAPH_SETTING(bool, yAxisGridDashLine, setYAxisGridDashLine)
    RZ_GRAPH_SETTING(QColor, yAxisLinesStrokeColor, setYAxisLinesStrokeColor)
    RZ_GRAPH_SETTING(double, yAxisLinesWidth, setYAxisLinesWidth)
    RZ_GRAPH_SETTING(double, yAxisLabelWidth, setYAxisLabelWidth)
    RZ_GRAPH_SETTING(double, yAxisLabelHeight, setYAxisLabelHeight)
    RZ_GRAPH_SETTING(QFont, yAxisLabelFont, setYAxisLabelFont)
    RZ_GRAPH_SETTING(QColor, yAxisLabelColor, setYAxisLabelColor)
    RZ_GRAPH_SETTING(QFont, yAxisUnitLabelFont, setYAxisUnitLabelFont)
    RZ_GRAPH_SETTING(QColor, yAxisUnitLabelColor, setYAxisUnitLabelColor)
    RZ_GRAPH_SETTING(double, titleLabelHeight, setTitleLabelHeight)
    RZ_GRAPH_SETTING(QFont, titleLabelFont, setTitleLabelFont)
    RZ_GRAPH_SETTING(QColor, titleLabelColor, setTitleLabelColor)
    RZ_GRAPH_SETTING(double, movementLineWidth, setMovementLineWidth)
    RZ_GRAPH_SETTING(QColor, movementLineColor, setMovementLineColor)
    RZ_GRAPH_SETTING(QColor, movementDotColor, setMovementDotColor)
};

#undef RZ_GRAPH_SETTING
