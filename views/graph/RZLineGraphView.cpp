#include "RZLineGraphView.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>

namespace {
// The dash of dashed lines, in points: 2 drawn, 1 gap.
constexpr double kDashOn = 2;
constexpr double kDashOff = 1;

// Puts a line's centre where a line of that many device pixels covers whole
// pixels, so that hairlines stay crisp.
double snap(double v, double deviceScale, double deviceWidth)
{
    const long pixels = std::lround(deviceWidth);
    if (pixels % 2 == 1)
        return (std::floor(v * deviceScale) + 0.5) / deviceScale;
    return std::round(v * deviceScale) / deviceScale;
}
bool hasShapes(const RZPath& path)
{
    for (const RZPathElement& e : path)
        if (e.type == RZPathElement::Ellipse)
            return true;
    return false;
}
}  // namespace

RZLineGraphView::RZLineGraphView(QWidget* parent)
    : QWidget(parent)
    , m_graphLayout(std::make_shared<RZGraphLayout>())
    , m_geometry(m_graphLayout.get())
{
    setMouseTracking(true);
}

RZLineGraphView::~RZLineGraphView() = default;

double RZLineGraphView::effectiveYAxisMaxValue() const
{
    return m_yAxisMaxValue == 0 ? m_derivedYAxisMaxValue : m_yAxisMaxValue;
}

void RZLineGraphView::setGraphLayout(std::shared_ptr<RZGraphLayout> layout)
{
    m_graphLayout = layout ? std::move(layout) : std::make_shared<RZGraphLayout>();
    m_geometry.setLayout(m_graphLayout.get());
}

void RZLineGraphView::layoutGraph()
{
    if (m_isMovement) {
        const bool kept = m_currentGraphPoint && !m_graphPlots.isEmpty() && m_graphPlots.first()
                          && m_graphPlots.first()->graphPoints().contains(*m_currentGraphPoint);
        if (!kept)
            m_currentGraphPoint.reset();
        handleDrawMovement();
    }
    setupContentViews();
    update();
}

void RZLineGraphView::setupContentViews()
{
    m_geometry.setupFrames(QSizeF(size()), !m_title.isNull(), !m_yAxisUnit.isNull());
    m_unitShown = !m_yAxisUnit.isNull();
    m_noDataShown = false;
}

void RZLineGraphView::drawRect()
{
    calculateGraphData();
    if (m_validGraphData) {
        m_noDataShown = false;
        m_unitShown = !m_yAxisUnit.isNull();
        drawXYAxis();
        drawPlots();
    } else {
        // Whatever was drawn last belongs to other data (often another
        // sensor): the curve goes, and so do the values on the y axis.
        m_noDataShown = true;
        m_unitShown = false;
        clearPlots();
        for (AxisLabel& label : m_yAxisLabels)
            label.text.clear();
    }
    // The dot follows its point to the new scale, or hides with the data;
    // this runs while painting, so it asks for no further repaint.
    updateMovement();
}

void RZLineGraphView::calculateGraphData()
{
    if (m_yAxisMaxValue == 0)
        m_derivedYAxisMaxValue = RZLineGraphGeometry::derivedMaximum(m_graphPlots);
    const RZGraphScaleInput input{m_xAxisStartGraphPoint, m_xAxisInterval, m_xAxisValues.size(), m_yAxisMinValue,
                                  effectiveYAxisMaxValue()};
    m_validGraphData = m_geometry.calculate(input);
    if (!m_validGraphData)
        return;
    const QList<double> values = m_geometry.yAxisValues();
    m_yAxisValues.clear();
    m_yAxisValues.reserve(values.size());
    for (qsizetype i = 0; i < values.size(); ++i) {
        std::optional<QString> answer;
        if (m_delegate)
            answer = m_delegate->lineGraphView(this, values[i], static_cast<int>(i));
        QString text = answer ? *answer : QString::number(values[i], 'g', 16);
        if (!m_yAxisSuffix.isNull())
            text += m_yAxisSuffix;
        m_yAxisValues.append({values[i], text.isNull() ? QStringLiteral("") : text});
    }
}

void RZLineGraphView::drawXYAxis()
{
    const RZGraphLayout& l = *m_graphLayout;
    drawXAxisLabels();
    if (!l.xAxisZeroHidden())
        drawXAsisZero();
    if (!l.xAxisGridHidden())
        drawXAxisGrid();
    drawYAxisLabels();
    if (!l.yAxisZeroHidden())
        drawYAsisZero();
    if (!l.yAxisGridHidden())
        drawYAxisGrid();
}

void RZLineGraphView::drawXAxisLabels()
{
    // Labels are kept per entry, so an entry skipped at the left edge leaves
    // its slot empty instead of shifting the later entries' labels.
    if (m_xAxisLabels.size() < m_xAxisValues.size())
        m_xAxisLabels.resize(m_xAxisValues.size());
    const QFontMetricsF metrics(m_graphLayout->xAxisLabelFont());
    for (qsizetype i = 0; i < m_xAxisValues.size(); ++i) {
        const RZAxisValue& entry = m_xAxisValues[i];
        const std::optional<QRectF> frame = m_geometry.xLabelFrame(entry.value, metrics.size(0, entry.label));
        if (!frame)
            continue;
        AxisLabel& label = m_xAxisLabels[i];
        if (!label.made) {
            label.made = true;
            label.frame = *frame;
        }
        label.text = entry.label.isNull() ? QStringLiteral("") : entry.label;
    }
    // Texts wider than the marks' spacing would run into each other.
    QList<std::optional<QRectF>> texts(m_xAxisLabels.size());
    for (qsizetype i = 0; i < m_xAxisLabels.size(); ++i) {
        const AxisLabel& label = m_xAxisLabels[i];
        if (!label.made)
            continue;
        const double width = std::min(metrics.horizontalAdvance(label.text), label.frame.width());
        texts[i] = QRectF(label.frame.center().x() - width / 2, label.frame.y(), width, label.frame.height());
    }
    const QList<bool> shown = RZLineGraphGeometry::shownXLabels(texts);
    for (qsizetype i = 0; i < m_xAxisLabels.size(); ++i)
        m_xAxisLabels[i].hidden = !shown[i];
}

void RZLineGraphView::drawYAxisLabels()
{
    if (m_yAxisLabels.size() < m_yAxisValues.size())
        m_yAxisLabels.resize(m_yAxisValues.size());
    for (qsizetype i = 0; i < m_yAxisValues.size(); ++i) {
        AxisLabel& label = m_yAxisLabels[i];
        if (!label.made) {
            label.made = true;
            label.frame = m_geometry.yLabelFrame(m_yAxisValues[i].value);
        }
        label.text = m_yAxisValues[i].label;
    }
}

namespace {
RZLineGraphView::LineLayer& madeLayer(RZLineGraphView::LineLayer* layers, RZLineGraphView::LineLayerKind kind,
                                      QList<RZLineGraphView::LineLayerKind>& order)
{
    RZLineGraphView::LineLayer& layer = layers[kind];
    if (!layer.made) {
        layer.made = true;
        order.append(kind);
    }
    return layer;
}
}  // namespace

void RZLineGraphView::drawXAsisZero()
{
    LineLayer& layer = madeLayer(m_lineLayers, XAxisZero, m_lineLayerOrder);
    layer.path = m_geometry.xAxisZeroPath();
    layer.width = m_graphLayout->xAxisLinesWidth();
    layer.color = m_graphLayout->xAxisLinesStrokeColor();
    layer.dashed = m_graphLayout->xAxisZeroDashLine();
}

void RZLineGraphView::drawXAxisGrid()
{
    LineLayer& layer = madeLayer(m_lineLayers, XAxisGrid, m_lineLayerOrder);
    layer.path = m_geometry.xAxisGridPath();
    layer.width = m_graphLayout->xAxisLinesWidth();
    layer.color = m_graphLayout->xAxisLinesStrokeColor();
    layer.dashed = m_graphLayout->xAxisGridDashLine();
}

void RZLineGraphView::drawYAsisZero()
{
    LineLayer& layer = madeLayer(m_lineLayers, YAxisZero, m_lineLayerOrder);
    layer.path = m_geometry.yAxisZeroPath();
    layer.width = m_graphLayout->yAxisLinesWidth();
    layer.color = m_graphLayout->yAxisLinesStrokeColor();
    layer.dashed = m_graphLayout->yAxisZeroDashLine();
}

void RZLineGraphView::drawYAxisGrid()
{
    QList<double> positions;
    positions.reserve(m_xAxisValues.size());
    for (const RZAxisValue& entry : m_xAxisValues)
        positions.append(entry.value);
    LineLayer& layer = madeLayer(m_lineLayers, YAxisGrid, m_lineLayerOrder);
    layer.path = m_geometry.yAxisGridPath(positions);
    layer.width = m_graphLayout->yAxisLinesWidth();
    layer.color = m_graphLayout->yAxisLinesStrokeColor();
    layer.dashed = m_graphLayout->yAxisGridDashLine();
}

void RZLineGraphView::clearPlots()
{
    m_plotLayers.clear();
    m_graphPointViews.clear();
}

void RZLineGraphView::drawPlots()
{
    clearPlots();
    for (const auto& plot : m_graphPlots) {
        if (!plot)
            continue;
        RZPlotPaths paths = m_geometry.plotPaths(*plot);
        m_plotLayers.append({std::move(paths.fill), plot->fillColor(), 0, true});
        m_plotLayers.append({std::move(paths.line), plot->strokeColor(), plot->lineWidth(), false});
        const QList<RZGraphPoint>& points = plot->graphPoints();
        for (qsizetype i = 0; i < paths.markers.size(); ++i) {
            // Kept hidden: the graph paints its markers itself, above the
            // plots and below the hover display.
            auto view = std::make_unique<RZGraphPointView>(paths.markers[i], points[i], plot->graphPointColor(),
                                                           plot->graphPointHighlightColor(), this);
            view->hide();
            m_graphPointViews.push_back(std::move(view));
        }
    }
}

void RZLineGraphView::handleDrawMovement()
{
    updateMovement();
    update();
}

void RZLineGraphView::updateMovement()
{
    if (!m_isMovement || !m_currentGraphPoint || !m_validGraphData) {
        m_movement.dotShown = false;
        m_movement.bubbleShown = false;
        return;
    }
    const QPointF d = m_geometry.map(m_currentGraphPoint->point());
    m_movement.dotShown = true;
    m_movement.dotRect = RZLineGraphGeometry::dotRect(d);
    if (!m_movement.bubbleMade) {
        m_movement.bubbleMade = true;
        m_movement.bubbleColor = m_graphLayout->movementLineColor();
    }
    m_movement.bubbleShown = true;
    m_movement.bubbleFrame = m_geometry.bubbleFrame(d);
    m_movement.valueText = m_currentGraphPoint->valueString();
    const QString title = m_currentGraphPoint->title();
    if (title != m_movement.titleText || m_movement.titleLines.isEmpty()) {
        const QRectF frame = RZLineGraphGeometry::bubbleTitleFrame();
        m_movement.titleLines =
            bubbleTitleLines(title, RZGraphLayout::systemFont(10), frame.width(), frame.height());
    }
    m_movement.titleText = title;
}

QStringList RZLineGraphView::bubbleTitleLines(const QString& text, const QFont& font, double width, double height)
{
    const QFontMetricsF metrics(font);
    const int room = std::min(2, static_cast<int>(std::floor(height / metrics.lineSpacing())));
    QStringList lines;
    if (room <= 0 || text.isEmpty() || width <= 0)
        return lines;
    QString flowing = text;
    flowing.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(flowing, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    bool more = false;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        if (lines.size() == room) {
            more = true;
            break;
        }
        line.setLineWidth(width);
        QString shown = flowing.mid(line.textStart(), line.textLength());
        shown.remove(QChar::LineSeparator);
        lines << shown.trimmed();
    }
    layout.endLayout();
    if (more) {
        const QString ellipsis(QChar(0x2026));
        QString& last = lines.last();
        while (!last.isEmpty() && metrics.horizontalAdvance(last + ellipsis) > width)
            last.chop(1);
        last = last.trimmed() + ellipsis;
    }
    return lines;
}

std::optional<RZGraphPoint> RZLineGraphView::graphPointFromTouchPoint(QPointF touchPoint) const
{
    if (m_graphPlots.isEmpty() || !m_graphPlots.first())
        return std::nullopt;
    const QList<RZGraphPoint>& points = m_graphPlots.first()->graphPoints();
    const int index = m_geometry.nearestPointIndex(points, touchPoint.x());
    if (index < 0)
        return std::nullopt;
    return points[index];
}

RZGraphPointView* RZLineGraphView::graphPointViewWithTouchPoint(QPointF touchPoint) const
{
    for (const auto& view : m_graphPointViews)
        if (RZLineGraphGeometry::contains(view->frame().adjusted(-5, -5, 5, 5), touchPoint))
            return view.get();
    return nullptr;
}

void RZLineGraphView::animateWithDuration(double duration)
{
    if (!m_animation) {
        m_animation = new QVariantAnimation(this);
        m_animation->setStartValue(0.0);
        m_animation->setEndValue(1.0);
        connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            m_strokeEnd = value.toDouble();
            update();
        });
    }
    m_animation->stop();
    m_animation->setDuration(static_cast<int>(duration * 1000));
    m_animation->start();
}

void RZLineGraphView::reDrawXYPart()
{
    m_xAxisLabels.clear();
    m_yAxisLabels.clear();
}

void RZLineGraphView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Labels keep their frames while the data rescales, but a graph of
    // another size has its marks elsewhere: they are made anew there.
    if (event->oldSize() != event->size())
        reDrawXYPart();
    layoutGraph();
}

void RZLineGraphView::mouseMoveEvent(QMouseEvent* event)
{
    QWidget::mouseMoveEvent(event);
    if (m_graphLayout->drawMovement())
        hover(event->position());
}

void RZLineGraphView::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    if (!m_graphLayout->drawMovement() || !m_isMovement)
        return;
    m_isMovement = false;
    handleDrawMovement();
    if (m_delegate)
        m_delegate->lineGraphView(this, static_cast<const RZGraphPoint*>(nullptr));
}

void RZLineGraphView::hover(QPointF qtPosition)
{
    const QRectF plot = m_geometry.frames().plot;
    const QPointF inGraph(qtPosition.x(), height() - qtPosition.y());
    m_isMovement = RZLineGraphGeometry::contains(plot, inGraph);
    const QPointF touch(std::clamp(inGraph.x() - plot.x(), 0.0, std::max(0.0, plot.width())), inGraph.y() - plot.y());
    m_currentGraphPoint = graphPointFromTouchPoint(touch);
    handleDrawMovement();
    // Labels placed before the first usable scale would keep wrong frames.
    if (m_validGraphData)
        drawXAxisLabels();
    if (m_delegate)
        m_delegate->lineGraphView(this, m_currentGraphPoint ? &*m_currentGraphPoint : nullptr);
}

QRectF RZLineGraphView::qtRect(const QRectF& frame) const
{
    return {frame.x(), height() - frame.y() - frame.height(), frame.width(), frame.height()};
}

QPainterPath RZLineGraphView::qtPath(const RZPath& path) const
{
    const QPointF origin = m_geometry.frames().plot.topLeft();  // bottom-left in the graph's coordinates
    const double h = height();
    auto flip = [&](QPointF p) { return QPointF(origin.x() + p.x(), h - (origin.y() + p.y())); };
    QPainterPath out;
    out.setFillRule(Qt::WindingFill);
    for (const RZPathElement& e : path) {
        switch (e.type) {
        case RZPathElement::MoveTo:
            out.moveTo(flip(e.point));
            break;
        case RZPathElement::LineTo:
            out.lineTo(flip(e.point));
            break;
        case RZPathElement::QuadTo:
            out.quadTo(flip(e.control), flip(e.point));
            break;
        case RZPathElement::Ellipse:
            out.addEllipse(qtRect(e.rect.translated(origin)));
            break;
        case RZPathElement::Close:
            out.closeSubpath();
            break;
        }
    }
    return out;
}

void RZLineGraphView::paintText(QPainter& painter, const QRectF& frame, const QString& text, const QFont& font,
                                const QColor& color, Qt::Alignment alignment) const
{
    if (text.isEmpty())
        return;
    painter.setFont(font);
    painter.setPen(color);
    // A text field draws its text from the top of its frame.
    painter.drawText(qtRect(frame), static_cast<int>(alignment | Qt::AlignTop), text);
}

void RZLineGraphView::paintLineLayer(QPainter& painter, const LineLayer& layer, double deviceScale) const
{
    // At least one device pixel, centred on whole pixels.
    const double width = std::max(layer.width, 1.0 / deviceScale);
    const double deviceWidth = width * deviceScale;
    const QPointF origin = m_geometry.frames().plot.topLeft();
    const double h = height();
    QPainterPath path;
    for (qsizetype i = 0; i + 1 < layer.path.size(); i += 2) {
        QPointF a(origin.x() + layer.path[i].point.x(), h - (origin.y() + layer.path[i].point.y()));
        QPointF b(origin.x() + layer.path[i + 1].point.x(), h - (origin.y() + layer.path[i + 1].point.y()));
        if (a.y() == b.y()) {
            a.setY(snap(a.y(), deviceScale, deviceWidth));
            b.setY(a.y());
        } else if (a.x() == b.x()) {
            a.setX(snap(a.x(), deviceScale, deviceWidth));
            b.setX(a.x());
        }
        path.moveTo(a);
        path.lineTo(b);
    }
    QPen pen(layer.color, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    if (layer.dashed)
        pen.setDashPattern({kDashOn / width, kDashOff / width});  // Qt counts dashes in pen widths
    painter.strokePath(path, pen);
}

QList<QPolygonF> RZLineGraphView::qtPolylines(const RZPath& path, double deviceScale) const
{
    const QPointF origin = m_geometry.frames().plot.topLeft();
    const double h = height();
    auto flip = [&](QPointF p) { return QPointF(origin.x() + p.x(), h - (origin.y() + p.y())); };
    QList<QPolygonF> lines;
    for (const RZPathElement& e : path) {
        if (e.type == RZPathElement::MoveTo || lines.isEmpty()) {
            lines.append(QPolygonF());
            lines.last().reserve(path.size() + 16);
        }
        QPolygonF& line = lines.last();
        switch (e.type) {
        case RZPathElement::MoveTo:
        case RZPathElement::LineTo:
            line.append(flip(e.point));
            break;
        case RZPathElement::QuadTo: {
            const QPointF p0 = line.isEmpty() ? flip(e.point) : line.last();
            const QPointF c = flip(e.control);
            const QPointF p2 = flip(e.point);
            // Few enough pieces that none strays a fifth of a device pixel from the curve.
            const QPointF bow = (c - (p0 + p2) / 2) / 2;
            const double deviation = std::sqrt(bow.x() * bow.x() + bow.y() * bow.y()) * deviceScale;
            const int pieces = std::clamp(static_cast<int>(std::ceil(std::sqrt(deviation / 0.2))), 1, 32);
            for (int k = 1; k <= pieces; ++k) {
                const double t = static_cast<double>(k) / pieces;
                const double u = 1 - t;
                line.append(u * u * p0 + 2 * u * t * c + t * t * p2);
            }
            break;
        }
        case RZPathElement::Close:
            if (!line.isEmpty())
                line.append(line.first());
            break;
        case RZPathElement::Ellipse:
            break;
        }
    }
    return lines;
}

void RZLineGraphView::paintFill(QPainter& painter, const PlotLayer& layer, bool covered, double deviceScale) const
{
    if (layer.color.alpha() == 0)
        return;
    if (!covered || hasShapes(layer.path)) {
        painter.fillPath(qtPath(layer.path), layer.color);
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(layer.color);
    for (const QPolygonF& polygon : qtPolylines(layer.path, deviceScale))
        painter.drawPolygon(polygon, Qt::WindingFill);
    painter.restore();
}

void RZLineGraphView::paintLine(QPainter& painter, const PlotLayer& layer, double deviceScale) const
{
    QPen pen(layer.color, layer.width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    if (m_strokeEnd < 1 || hasShapes(layer.path)) {
        const QPainterPath path = qtPath(layer.path);
        if (m_strokeEnd < 1) {
            const double length = path.length();
            pen.setDashPattern({std::max(1e-6, length * m_strokeEnd / layer.width), length / layer.width + 1});
        }
        painter.strokePath(path, pen);
        return;
    }
    // Joined segments through the general stroker cost milliseconds for a
    // day's points; single segments take the rasterizer's fast line path.
    // Each is lengthened by half the width where it meets the next, which
    // closes the joins.
    QList<QLineF> segments;
    const double reach = layer.width / 2;
    for (const QPolygonF& line : qtPolylines(layer.path, deviceScale)) {
        for (qsizetype k = 0; k + 1 < line.size(); ++k) {
            QPointF a = line[k];
            QPointF b = line[k + 1];
            const QPointF d = b - a;
            const double length = std::sqrt(d.x() * d.x() + d.y() * d.y());
            if (length <= 0)
                continue;
            const QPointF step = d / length * reach;
            if (k > 0)
                a -= step;
            if (k + 2 < line.size())
                b += step;
            segments.append(QLineF(a, b));
        }
    }
    painter.setPen(pen);
    painter.drawLines(segments);
}

void RZLineGraphView::paintEvent(QPaintEvent*)
{
    drawRect();
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    const double deviceScale = std::max(1e-6, std::abs(painter.deviceTransform().m11()));
    const RZGraphLayout& l = *m_graphLayout;
    const RZGraphFrames& frames = m_geometry.frames();

    // The y-label column lies beneath everything else.
    for (const AxisLabel& label : m_yAxisLabels)
        if (label.made)
            paintText(painter, label.frame.translated(frames.yLabels.topLeft()), label.text, l.yAxisLabelFont(),
                      l.yAxisLabelColor(), Qt::AlignRight);
    if (!m_title.isNull())
        paintText(painter, frames.title, m_title, l.titleLabelFont(), l.titleLabelColor(), Qt::AlignHCenter);
    if (m_unitShown)
        paintText(painter, frames.unit, m_yAxisUnit, l.yAxisUnitLabelFont(), l.yAxisUnitLabelColor(), Qt::AlignLeft);

    // The plot area: base lines and grids, then each plot's fill and line,
    // then the markers.
    for (LineLayerKind kind : m_lineLayerOrder)
        paintLineLayer(painter, m_lineLayers[kind], deviceScale);
    for (qsizetype i = 0; i < m_plotLayers.size(); ++i) {
        const PlotLayer& layer = m_plotLayers[i];
        if (layer.isFill) {
            // The fill's top edge runs along the middle of its line; when
            // that line is drawn over it, the edge need not be smoothed.
            const PlotLayer* line = i + 1 < m_plotLayers.size() ? &m_plotLayers[i + 1] : nullptr;
            const bool covered = line && !line->isFill && line->color.alpha() > 0 && line->width * deviceScale >= 1
                                 && m_strokeEnd >= 1;
            paintFill(painter, layer, covered, deviceScale);
            continue;
        }
        if (layer.width <= 0 || layer.color.alpha() == 0)
            continue;
        paintLine(painter, layer, deviceScale);
    }
    for (const auto& view : m_graphPointViews)
        view->paintMarker(painter, qtRect(view->frame().translated(frames.plot.topLeft())));

    // The hover display.
    if (m_movement.dotShown) {
        QPainterPath dot;
        dot.addEllipse(qtRect(m_movement.dotRect.translated(frames.plot.topLeft())));
        painter.setPen(QPen(l.movementDotColor(), l.movementLineWidth()));
        painter.setBrush(l.movementDotColor());
        painter.drawPath(dot);
    }
    if (m_movement.bubbleShown) {
        const QRectF bubble = m_movement.bubbleFrame.translated(frames.plot.topLeft());
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_movement.bubbleColor);
        painter.drawRoundedRect(qtRect(bubble), 5, 5);
        paintText(painter, RZLineGraphGeometry::bubbleValueFrame().translated(bubble.topLeft()), m_movement.valueText,
                  RZGraphLayout::systemFont(12, QFont::Medium), Qt::white, Qt::AlignHCenter);
        const QFont titleFont = RZGraphLayout::systemFont(10);
        const double lineSpacing = QFontMetricsF(titleFont).lineSpacing();
        const QRectF titleFrame = qtRect(RZLineGraphGeometry::bubbleTitleFrame().translated(bubble.topLeft()));
        painter.setFont(titleFont);
        painter.setPen(Qt::white);
        for (qsizetype i = 0; i < m_movement.titleLines.size(); ++i)
            painter.drawText(QRectF(titleFrame.x(), titleFrame.y() + double(i) * lineSpacing, titleFrame.width(),
                                    lineSpacing),
                             Qt::AlignHCenter | Qt::AlignTop, m_movement.titleLines[i]);
    }

    if (m_noDataShown)
        paintText(painter, frames.noData, m_noDataText, l.yAxisUnitLabelFont(), l.yAxisUnitLabelColor(),
                  Qt::AlignHCenter);
    // The x labels last, hanging half outside the plot area at both ends.
    for (const AxisLabel& label : m_xAxisLabels)
        if (label.made && !label.hidden)
            paintText(painter, label.frame.translated(frames.xLabels.topLeft()), label.text, l.xAxisLabelFont(),
                      l.xAxisLabelColor(), Qt::AlignHCenter);
}
