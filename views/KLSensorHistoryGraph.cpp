#include "KLSensorHistoryGraph.h"

#include <algorithm>
#include <cmath>

#include "KLAnalyticsHelper.h"
#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLGraphPoint.h"
#include "KLSensor.h"
#include "NSColor+KLExtension.h"
#include "RZLineGraphView.h"

namespace KLSensorHistoryGraph {
namespace {

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

const TimeRange kTimeRanges[] = {
    {"detail-screen-graph-1hour-label", 600, "1 Hour"},
    {"detail-screen-graph-1day-label", 14400, "1 Day"},
    {"detail-screen-graph-1week-label", 86400, "1 Week"},
};

}  // namespace

const TimeRange& timeRange(unsigned range)
{
    return kTimeRanges[std::min<unsigned>(range, 2)];
}

void storeTimeRange(int segment)
{
    const unsigned range = unsigned(std::max(segment, 0));
    KLDataManager::sharedInstance().setGraphTimeRange(range);
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventSensorChangeGraphTimeRange),
                                {{QStringLiteral("value"), QString::fromLatin1(timeRange(range).analyticsValue)}});
}

void configure(RZLineGraphView& graph, bool dark)
{
    RZGraphLayout& layout = graph.graphLayout();
    const RZGraphLayout defaults;
    layout.setXAxisLabelHeight(30);
    layout.setXAxisMargin(20);
    layout.setMovementLineColor(withAlpha(KLExtension::appLightBlueColor(), 0.95));
    layout.setXAxisLabelColor(dark ? QColor(170, 170, 170) : defaults.xAxisLabelColor());
    layout.setYAxisLabelColor(dark ? QColor(170, 170, 170) : defaults.yAxisLabelColor());
    layout.setYAxisUnitLabelColor(dark ? QColor(150, 150, 150) : defaults.yAxisUnitLabelColor());
    layout.setXAxisLinesStrokeColor(dark ? QColor(85, 85, 85) : defaults.xAxisLinesStrokeColor());
    layout.setYAxisLinesStrokeColor(dark ? QColor(85, 85, 85) : defaults.yAxisLinesStrokeColor());
}

void show(RZLineGraphView& graph, KLSensor& sensor, unsigned range, const QDateTime& now)
{
    const RZAxisValues axis = KLDataManager::xAxisWithCurrentDate(now, range);
    const double start = axis.isEmpty() ? 0 : axis.first().value;
    const QList<KLGraphPoint*> stored = range == KLGraphTimeRangeHour  ? sensor.hourGraphPoints()
                                        : range == KLGraphTimeRangeDay ? sensor.dayGraphPoints()
                                                                       : sensor.weekGraphPoints();
    // The plot is kept across refreshes so the graph's hover state stays with it.
    std::shared_ptr<RZGraphPlot> plot = graph.graphPlots().isEmpty() ? nullptr : graph.graphPlots().first();
    if (!plot) {
        plot = std::make_shared<RZGraphPlot>();
        plot->setGraphPointSize(0);
        plot->setFillCircleAroundGraphPoint(false);
        plot->setStrokeCircleAroundGraphPoint(false);
        plot->setCurveLine(true);
        plot->setStrokeColor(withAlpha(KLExtension::appBlueColor(), 0.9));
        plot->setFillColor(withAlpha(KLExtension::appBlueColor(), 0.5));
        plot->setGraphPointColor(Qt::white);
        plot->setGraphPointHighlightColor(plot->fillColor());
    }
    const bool temperature = sensor.categoryType() == KLCategoryTypeTemperature;
    QList<RZGraphPoint> points;
    points.reserve(stored.size());
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
    graph.setYAxisMaxValue(std::trunc(sensor.convertedMaxValue()));
    graph.setYAxisMinValue(std::trunc(sensor.convertedMinValue()));
    graph.setYAxisUnit(QStringLiteral("(%1)").arg(sensor.unitString()));
    graph.setXAxisValues(axis);
    graph.setXAxisStartGraphPoint(start);
    graph.setXAxisInterval(timeRange(range).step);
    graph.setGraphPlots({plot});
    graph.layoutGraph();
}

}  // namespace KLSensorHistoryGraph
