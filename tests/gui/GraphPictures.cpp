// The history graph as the detail screens show it: an hour of temperatures
// with hover in the middle and near both edges, no data, a week of fan speeds.
#include <QCoreApplication>
#include <QMouseEvent>
#include <cmath>

#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLGraphPoint.h"
#include "KLSensor.h"
#include "Pictures.h"
#include "RZLineGraphView.h"

namespace {

// The y labels as the detail screens give them: the sensor's value text.
class SensorLabels : public RZLineGraphViewDelegate {
public:
    using RZLineGraphViewDelegate::lineGraphView;
    int categoryType = 0;
    std::optional<QString> lineGraphView(RZLineGraphView*, double value, int) override
    {
        return KLSensor::stringFromValue(value, categoryType);
    }
};

const QColor kAppBlue(11, 130, 250);
const QColor kAppLightBlue(11, 150, 246);

// Sets the graph up as the detail screen's updateGraphUI does.
void showHistory(RZLineGraphView& graph, KLSensor* sensor, int range, const QDateTime& now)
{
    const RZAxisValues axis = KLDataManager::xAxisWithCurrentDate(now, range);
    const double start = axis.first().value;
    const double step = range == 0 ? 600 : range == 1 ? 14400 : 86400;
    const QList<KLGraphPoint*> stored = range == 0   ? sensor->hourGraphPoints()
                                        : range == 1 ? sensor->dayGraphPoints()
                                                     : sensor->weekGraphPoints();
    const bool temperature = sensor->category() && sensor->category()->type() == KLCategoryTypeTemperature;
    std::shared_ptr<RZGraphPlot> plot = graph.graphPlots().isEmpty() ? nullptr : graph.graphPlots().first();
    if (!plot) {
        plot = std::make_shared<RZGraphPlot>();
        plot->setGraphPointSize(0);
        plot->setFillCircleAroundGraphPoint(false);
        plot->setStrokeCircleAroundGraphPoint(false);
        plot->setCurveLine(true);
        plot->setStrokeColor(withAlpha(kAppBlue, 0.9));
        plot->setFillColor(withAlpha(kAppBlue, 0.5));
        plot->setGraphPointColor(Qt::white);
        plot->setGraphPointHighlightColor(plot->fillColor());
    }
    QList<RZGraphPoint> points;
    for (KLGraphPoint* point : stored) {
        if (point->pointX() < start)
            continue;
        RZGraphPoint graphPoint;
        graphPoint.setPoint({point->pointX(), temperature ? KLSensor::convertedTemp(point->pointY()) : point->pointY()});
        graphPoint.setTitle(point->title());
        graphPoint.setValueString(point->valueString());
        points.append(graphPoint);
    }
    plot->setGraphPoints(points);
    graph.setYAxisMaxValue(std::trunc(sensor->convertedMaxValue()));
    graph.setYAxisMinValue(std::trunc(sensor->convertedMinValue()));
    graph.setYAxisUnit(QStringLiteral("(%1)").arg(sensor->unitString()));
    graph.setXAxisValues(axis);
    graph.setXAxisStartGraphPoint(start);
    graph.setXAxisInterval(step);
    graph.setGraphPlots({plot});
    graph.layoutGraph();
}

// The screens' palette for the graph: the Part's greys in light, lighter
// labels and darker lines on a dark window.
void applyPalette(RZLineGraphView& graph, bool dark)
{
    RZGraphLayout& layout = graph.graphLayout();
    const RZGraphLayout defaults;
    layout.setXAxisLabelColor(dark ? QColor(170, 170, 170) : defaults.xAxisLabelColor());
    layout.setYAxisLabelColor(dark ? QColor(170, 170, 170) : defaults.yAxisLabelColor());
    layout.setYAxisUnitLabelColor(dark ? QColor(150, 150, 150) : defaults.yAxisUnitLabelColor());
    layout.setXAxisLinesStrokeColor(dark ? QColor(85, 85, 85) : defaults.xAxisLinesStrokeColor());
    layout.setYAxisLinesStrokeColor(dark ? QColor(85, 85, 85) : defaults.yAxisLinesStrokeColor());
}

void hoverAt(RZLineGraphView& graph, double xInPlot)
{
    const QRectF plot = graph.geometry().frames().plot;
    const QPointF at(plot.x() + xInPlot, graph.height() - plot.center().y());
    QMouseEvent event(QEvent::MouseMove, at, graph.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&graph, &event);
}

void leave(RZLineGraphView& graph)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(&graph, &event);
}

bool graphPictures(Pictures& pictures, const PictureScene& scene, bool dark, int scale)
{
    bool ok = true;
    // Made afresh per palette and scale, as a screen would be.
    SensorLabels labels;
    RZLineGraphView graph;
    graph.resize(480, 200);
    graph.setDelegate(&labels);
    RZGraphLayout& layout = graph.graphLayout();
    layout.setXAxisLabelHeight(30);
    layout.setXAxisMargin(20);
    layout.setMovementLineColor(withAlpha(kAppLightBlue, 0.95));
    applyPalette(graph, dark);
    graph.setNoDataText(QStringLiteral("No data"));

    labels.categoryType = KLCategoryTypeTemperature;
    showHistory(graph, scene.temperature, KLGraphTimeRangeHour, scene.now);
    ok &= pictures.save(graph, QStringLiteral("graph-hour"), dark, scale);
    const double width = graph.geometry().plotWidth();
    const struct {
        const char* name;
        double x;
    } hovers[] = {{"middle", width / 2}, {"left", 4}, {"right", width - 3}};
    for (const auto& hover : hovers) {
        hoverAt(graph, hover.x);
        ok &= pictures.save(graph, QStringLiteral("graph-hour-hover-%1").arg(QLatin1String(hover.name)), dark, scale);
    }
    // Then a sensor whose range has no height: no data, and not the last
    // sensor's curve either.
    leave(graph);
    graph.setYAxisMinValue(graph.yAxisMaxValue());
    graph.layoutGraph();
    ok &= pictures.save(graph, QStringLiteral("graph-hour-nodata"), dark, scale);

    graph.reDrawXYPart();
    labels.categoryType = KLCategoryTypeFan;
    showHistory(graph, scene.fan, KLGraphTimeRangeWeek, scene.now);
    ok &= pictures.save(graph, QStringLiteral("graph-week-fan"), dark, scale);
    hoverAt(graph, graph.geometry().plotWidth() * 0.6);
    ok &= pictures.save(graph, QStringLiteral("graph-week-fan-hover"), dark, scale);
    graph.setDelegate(nullptr);
    return ok;
}

const PictureSetRegistration registration("graph", graphPictures);

}  // namespace
