#include "RZGraphPlot.h"

namespace {
// The platform's light grey: two thirds white.
QColor lightGray(double alpha)
{
    QColor color(170, 170, 170);
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}
}  // namespace

RZGraphPlot::RZGraphPlot()
    : m_fillColor(lightGray(0.5))
    , m_strokeColor(Qt::transparent)
    , m_graphPointColor(Qt::white)
    , m_graphPointHighlightColor(lightGray(0.5))
{
}
