// The history graph as the detail screens show it: an hour of temperatures
// with hover in the middle and near both edges, no data, a week of fan speeds.
#include <QCoreApplication>
#include <QMouseEvent>

#include "KLCategory.h"
#include "KLGraphPoint.h"
#include "KLSensor.h"
#include "KLSensorHistoryGraph.h"
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
    KLSensorHistoryGraph::configure(graph, dark);
    graph.setNoDataText(QStringLiteral("No data"));

    labels.categoryType = KLCategoryTypeTemperature;
    KLSensorHistoryGraph::show(graph, *scene.temperature, KLGraphTimeRangeHour, scene.now);
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
    KLSensorHistoryGraph::show(graph, *scene.fan, KLGraphTimeRangeWeek, scene.now);
    ok &= pictures.save(graph, QStringLiteral("graph-week-fan"), dark, scale);
    hoverAt(graph, graph.geometry().plotWidth() * 0.6);
    ok &= pictures.save(graph, QStringLiteral("graph-week-fan-hover"), dark, scale);
    graph.setDelegate(nullptr);
    return ok;
}

const PictureSetRegistration registration("graph", graphPictures);

}  // namespace
