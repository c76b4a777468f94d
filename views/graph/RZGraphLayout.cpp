#include "RZGraphLayout.h"

#include <QGuiApplication>

namespace {
// The platform's named greys: light is two thirds white, dark one third.
const QColor kLightGray(170, 170, 170);
const QColor kDarkGray(85, 85, 85);
}  // namespace

QFont RZGraphLayout::systemFont(int pixelSize, QFont::Weight weight)
{
    QFont font = QGuiApplication::instance() ? QGuiApplication::font() : QFont();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

RZGraphLayout::RZGraphLayout()
    : m_startPlotFromZero(false)
    , m_drawMovement(true)
    , m_xAxisGridHidden(false)
    , m_xAxisGridDashLine(true)
    , m_xAxisIntervalInPx(60)
    , m_xAxisMargin(0)
    , m_xAxisZeroHidden(false)
    , m_xAxisZeroDashLine(false)
    , m_xAxisLinesWidth(0.5)
    , m_xAxisLinesStrokeColor(kLightGray)
    , m_xAxisLabelHeight(40)
    , m_xAxisLabelFont(systemFont(12))
    , m_xAxisLabelColor(kDarkGray)
    , m_yAxisSegmentCount(3)
    , m_yAxisZeroHidden(false)
    , m_yAxisZeroDashLine(false)
    , m_yAxisGridHidden(false)
    , m_yAxisGridDashLine(true)
    , m_yAxisLinesStrokeColor(kLightGray)
    , m_yAxisLinesWidth(0.5)
    , m_yAxisLabelWidth(40)
    , m_yAxisLabelHeight(25)
    , m_yAxisLabelFont(systemFont(12))
    , m_yAxisLabelColor(kDarkGray)
    , m_yAxisUnitLabelFont(systemFont(10))
    , m_yAxisUnitLabelColor(kDarkGray)
    , m_titleLabelHeight(25)
    , m_titleLabelFont(systemFont(14))
    , m_titleLabelColor(kDarkGray)
    , m_movementLineWidth(2)
    , m_movementLineColor(kLightGray)
    , m_movementDotColor(Qt::red)
{
}
