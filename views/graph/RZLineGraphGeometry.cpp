#include "RZLineGraphGeometry.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace {
// A long text is boxed as at most this wide.
constexpr double kXLabelMaxWidth = 150;
// The least spacing of two x values in points.
constexpr double kXAxisMinIntervalInPx = 5;
}  // namespace

RZLineGraphGeometry::RZLineGraphGeometry(RZGraphLayout* layout)
    : m_layout(layout)
{
}

void RZLineGraphGeometry::setupFrames(QSizeF viewSize, bool hasTitle, bool hasUnit)
{
    const RZGraphLayout& l = *m_layout;
    const double w = viewSize.width();
    const double h = viewSize.height();
    const double th = hasTitle ? l.titleLabelHeight() : 0;
    const double uh = hasUnit ? l.yAxisLabelHeight() : 0;
    m_frames.title = QRectF(0, h - th, w, th);
    m_frames.unit = QRectF(l.yAxisLabelWidth(), m_frames.title.y() - uh, 80, uh);
    m_frames.plot = QRectF(l.yAxisLabelWidth(), l.xAxisLabelHeight(), w - l.yAxisLabelWidth() - l.xAxisMargin(),
                           h - l.xAxisLabelHeight() - th - uh);
    m_frames.noData = QRectF(0, 0, w, h);
    m_frames.xLabels = QRectF(l.yAxisLabelWidth(), 0, w - l.yAxisLabelWidth() - l.xAxisMargin(), l.xAxisLabelHeight());
    m_frames.yLabels = QRectF(0, 0, l.yAxisLabelWidth(), h);
}

double RZLineGraphGeometry::derivedMaximum(const QList<std::shared_ptr<RZGraphPlot>>& plots)
{
    double maximum = -static_cast<double>(FLT_MAX);
    for (const auto& plot : plots) {
        if (!plot)
            continue;
        for (const RZGraphPoint& point : plot->graphPoints())
            if (point.point().y() > maximum)
                maximum = point.point().y();
    }
    return maximum;
}

bool RZLineGraphGeometry::calculate(const RZGraphScaleInput& input)
{
    const RZGraphLayout& l = *m_layout;
    const unsigned segments = l.yAxisSegmentCount();
    const double usableHeight = plotHeight() - l.yAxisLinesWidth();
    // Besides an empty graph, a y range without height, a single x value and
    // an x interval that does not advance would each divide by zero (or
    // mirror the graph); they are shown as having no data.
    const bool valid = segments > 0 && input.yAxisMaxValue > 0 && input.yAxisMaxValue > input.yAxisMinValue
                       && std::isfinite(input.yAxisMaxValue) && std::isfinite(input.yAxisMinValue)
                       && usableHeight > 0 && input.xAxisValueCount >= 2 && input.xAxisInterval > 0
                       && std::isfinite(input.xAxisInterval);
    m_valid = valid;
    if (!valid)
        return false;
    m_input = input;
    m_layout->setXAxisIntervalInPx(
        std::max(kXAxisMinIntervalInPx, plotWidth() / static_cast<double>(input.xAxisValueCount - 1)));
    m_yAxisInterval = (input.yAxisMaxValue - input.yAxisMinValue) / segments;
    m_yAxisIntervalInPx = usableHeight / segments;
    return true;
}

QList<double> RZLineGraphGeometry::yAxisValues() const
{
    QList<double> values;
    const unsigned segments = m_layout->yAxisSegmentCount();
    values.reserve(segments + 1);
    for (unsigned i = 0; i <= segments; ++i)
        values.append(m_input.yAxisMinValue + i * m_yAxisInterval);
    return values;
}

QPointF RZLineGraphGeometry::map(QPointF data) const
{
    const RZGraphLayout& l = *m_layout;
    const double px = l.xAxisLinesWidth() / 2
                      + (data.x() - m_input.xAxisStartGraphPoint) / m_input.xAxisInterval * l.xAxisIntervalInPx();
    const double py = m_yAxisInterval > 0 ? l.yAxisLinesWidth() / 2
                                                + (data.y() - m_input.yAxisMinValue) / m_yAxisInterval * m_yAxisIntervalInPx
                                          : l.yAxisLinesWidth() / 2;
    return {px, py};
}

std::optional<QRectF> RZLineGraphGeometry::xLabelFrame(double position, QSizeF textSize) const
{
    const RZGraphLayout& l = *m_layout;
    const double x = map({position, 0}).x();
    const double w = std::max(l.xAxisIntervalInPx(), std::min(textSize.width(), kXLabelMaxWidth));
    if (x < -w / 5)
        return std::nullopt;
    const double h = std::min(textSize.height(), l.xAxisLabelHeight());
    return QRectF(x - w / 2, m_frames.xLabels.height() / 2 - h / 2, w, h);
}

QList<bool> RZLineGraphGeometry::shownXLabels(const QList<std::optional<QRectF>>& texts)
{
    const qsizetype count = texts.size();
    for (qsizetype stride = 1; stride < count; ++stride) {
        QList<bool> shown(count, false);
        std::optional<QRectF> right;  // the nearest kept text to the right
        bool fits = true;
        for (qsizetype i = count - 1; i >= 0 && fits; i -= stride) {
            if (!texts[i])
                continue;
            fits = !right || texts[i]->right() + kXLabelGap <= right->left();
            shown[i] = true;
            right = texts[i];
        }
        if (fits)
            return shown;
    }
    // The newest alone always fits.
    QList<bool> shown(count, false);
    if (count > 0)
        shown.last() = texts.last().has_value();
    return shown;
}

QRectF RZLineGraphGeometry::yLabelFrame(double value) const
{
    const RZGraphLayout& l = *m_layout;
    const double y = map({0, value}).y() + m_frames.plot.y();
    return {0, y - l.yAxisLabelHeight() / 2, l.yAxisLabelWidth() - 5, l.yAxisLabelHeight()};
}

RZPath RZLineGraphGeometry::xAxisZeroPath() const
{
    const double y = map({0, m_input.yAxisMinValue}).y();
    return {RZPathElement::moveTo({0, y}), RZPathElement::lineTo({plotWidth(), y})};
}

RZPath RZLineGraphGeometry::xAxisGridPath() const
{
    RZPath path;
    for (double value : yAxisValues()) {
        const double y = map({0, value}).y();
        path << RZPathElement::moveTo({0, y}) << RZPathElement::lineTo({plotWidth(), y});
    }
    return path;
}

RZPath RZLineGraphGeometry::yAxisZeroPath() const
{
    const double inset = m_layout->xAxisLinesWidth() / 2;
    const double right = plotWidth() - inset;
    return {RZPathElement::moveTo({inset, 0}), RZPathElement::lineTo({inset, plotHeight()}),
            RZPathElement::moveTo({right, 0}), RZPathElement::lineTo({right, plotHeight()})};
}

RZPath RZLineGraphGeometry::yAxisGridPath(const QList<double>& xPositions) const
{
    const double inset = m_layout->xAxisLinesWidth() / 2;
    RZPath path{RZPathElement::moveTo({inset, 0}), RZPathElement::lineTo({inset, plotHeight()})};
    for (double position : xPositions) {
        const double x = map({position, 0}).x();
        path << RZPathElement::moveTo({x, 0}) << RZPathElement::lineTo({x, plotHeight()});
    }
    return path;
}

RZPlotPaths RZLineGraphGeometry::plotPaths(const RZGraphPlot& plot) const
{
    RZPlotPaths paths;
    const QList<RZGraphPoint>& points = plot.graphPoints();
    paths.fill.reserve(points.size() * 2 + 4);
    paths.line.reserve(points.size() * 2 + 1);
    QPointF previous;
    QPointF first;
    QPointF c;
    for (qsizetype i = 0; i < points.size(); ++i) {
        c = map(points[i].point());
        if (i == 0) {
            // From the bottom edge up to the first point; the line starts there.
            first = c;
            paths.fill << RZPathElement::moveTo({c.x(), 0}) << RZPathElement::lineTo(c);
            paths.line << RZPathElement::moveTo(c);
        } else if (plot.curveLine()) {
            // Through the midpoint, leaving and reaching each point level, so
            // the curve never overshoots the points' values.
            const QPointF m((previous.x() + c.x()) / 2, (previous.y() + c.y()) / 2);
            const RZPathElement toMid = RZPathElement::quadTo({(previous.x() + m.x()) / 2, previous.y()}, m);
            const RZPathElement toEnd = RZPathElement::quadTo({(m.x() + c.x()) / 2, c.y()}, c);
            paths.fill << toMid << toEnd;
            paths.line << toMid << toEnd;
        } else {
            paths.fill << RZPathElement::lineTo(c);
            paths.line << RZPathElement::lineTo(c);
        }
        previous = c;
    }
    if (points.size() >= 2)
        paths.fill << RZPathElement::lineTo({c.x(), 0}) << RZPathElement::lineTo({first.x(), 0})
                   << RZPathElement::close();

    const double s = plot.graphPointSize();
    if (s > 0) {
        const double lw = plot.lineWidth();
        for (const RZGraphPoint& point : points) {
            const QPointF p = map(point.point());
            const QRectF r(p.x() - s / 2, p.y() - s / 2, s, s);
            if (plot.fillCircleAroundGraphPoint())
                paths.fill << RZPathElement::ellipse(r.adjusted(-lw, -lw, lw, lw)) << RZPathElement::moveTo(p);
            if (plot.strokeCircleAroundGraphPoint())
                paths.line << RZPathElement::ellipse(r.adjusted(-lw / 2, -lw / 2, lw / 2, lw / 2))
                           << RZPathElement::moveTo(p);
            paths.markers << r;
        }
    }
    return paths;
}

bool RZLineGraphGeometry::contains(const QRectF& rect, QPointF point)
{
    return point.x() >= rect.left() && point.x() < rect.right() && point.y() >= rect.top()
           && point.y() < rect.bottom();
}

int RZLineGraphGeometry::nearestPointIndex(const QList<RZGraphPoint>& points, double x) const
{
    int best = -1;
    double bestDistance = std::numeric_limits<double>::max();
    for (qsizetype i = 0; i < points.size(); ++i) {
        const double distance = std::abs(x - map(points[i].point()).x());
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<int>(i);
        }
    }
    return best;
}

QRectF RZLineGraphGeometry::dotRect(QPointF d)
{
    return {d.x() - 1, d.y() - 1, 2, 2};
}

QRectF RZLineGraphGeometry::bubbleFrame(QPointF d) const
{
    // The dot taken as a position in the graph and brought into the plot
    // area: with the screens' settings the bubble starts 30 left of the dot
    // and 10 above it, kept inside the plot width and under its top.
    const QPointF a(d.x() - m_layout->yAxisLabelWidth(), d.y() - m_layout->xAxisLabelHeight());
    const double x = std::min(std::max(0.0, a.x() + 10), plotWidth() - kBubbleWidth);
    const double y = std::min(a.y() + 40, plotHeight() - kBubbleHeight);
    return {x, y, kBubbleWidth, kBubbleHeight};
}

QRectF RZLineGraphGeometry::bubbleValueFrame()
{
    return {0, 3, kBubbleWidth, kBubbleHeight / 3};
}

QRectF RZLineGraphGeometry::bubbleTitleFrame()
{
    return {0, kBubbleHeight / 3 - 3, kBubbleWidth, 2 * kBubbleHeight / 3};
}
