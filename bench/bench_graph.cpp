// One frame of the history graph as the detail screens show it: a layout
// pass and a paint at 400 x 200 of one smoothed plot of 360 points (an hour
// at the default interval), with the screens' settings.
#include <QApplication>
#include <QImage>
#include <benchmark/benchmark.h>
#include <cmath>

#include "RZLineGraphView.h"

namespace {

RZLineGraphView& hourGraph()
{
    static RZLineGraphView* view = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kelvara_graph_bench";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
        auto* graph = new RZLineGraphView;
        graph->resize(400, 200);
        RZGraphLayout& layout = graph->graphLayout();
        layout.setXAxisLabelHeight(30);
        layout.setXAxisMargin(20);
        layout.setMovementLineColor(QColor(11, 150, 246, 242));
        const double start = 1.8e9;
        RZAxisValues axis;
        for (int i = 0; i <= 6; ++i)
            axis.append({start + i * 600, QStringLiteral("12:%1").arg(i * 10, 2, 10, QLatin1Char('0'))});
        auto plot = std::make_shared<RZGraphPlot>();
        plot->setGraphPointSize(0);
        plot->setFillCircleAroundGraphPoint(false);
        plot->setCurveLine(true);
        plot->setStrokeColor(QColor(11, 130, 250, 230));
        plot->setFillColor(QColor(11, 130, 250, 128));
        QList<RZGraphPoint> points;
        for (int i = 0; i < 360; ++i) {
            RZGraphPoint point;
            // A CPU under a changing load: slow swings and a little noise.
            point.setPoint({start + i * 10.0, 55 + 12 * std::sin(i / 25.0) + 2 * std::sin(i * 1.7)});
            point.setValueString(QStringLiteral("%1 °C").arg(point.point().y()));
            points.append(point);
        }
        plot->setGraphPoints(points);
        graph->setXAxisValues(axis);
        graph->setXAxisStartGraphPoint(start);
        graph->setXAxisInterval(600);
        graph->setYAxisMinValue(30);
        graph->setYAxisMaxValue(90);
        graph->setYAxisUnit(QStringLiteral("(°C)"));
        graph->setGraphPlots({plot});
        return graph;
    }();
    return *view;
}

void BM_GraphFrame(benchmark::State& state)
{
    RZLineGraphView& graph = hourGraph();
    const int scale = static_cast<int>(state.range(0));
    QImage image(QSize(400, 200) * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    for (auto _ : state) {
        image.fill(Qt::white);
        graph.layoutGraph();
        graph.render(&image, {}, {}, QWidget::DrawChildren);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_GraphFrame)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The part of a frame that is not painting: the scale, the labels, the paths.
void BM_GraphLayoutOnly(benchmark::State& state)
{
    RZLineGraphView& graph = hourGraph();
    for (auto _ : state) {
        graph.layoutGraph();
        graph.drawRect();
        benchmark::DoNotOptimize(graph.plotLayers().constData());
    }
}
BENCHMARK(BM_GraphLayoutOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
BENCHMARK_MAIN();
