#include <QCoreApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <cmath>
#include <gtest/gtest.h>

#include "RZLineGraphView.h"

namespace {

class Recorder : public RZLineGraphViewDelegate {
public:
    using RZLineGraphViewDelegate::lineGraphView;
    std::optional<QString> lineGraphView(RZLineGraphView*, double value, int index) override
    {
        return QStringLiteral("%1#%2").arg(value).arg(index);
    }
    void lineGraphView(RZLineGraphView*, const RZGraphPoint* point) override
    {
        reports.append(point ? std::optional<QPointF>(point->point()) : std::nullopt);
    }
    QList<std::optional<QPointF>> reports;
};

// A 400 x 200 graph with the screens' settings: an hour axis of 7 marks 600
// apart, y from 0 to 90 and one smoothed plot of six points.
struct Graph {
    RZLineGraphView view;
    std::shared_ptr<RZGraphPlot> plot = std::make_shared<RZGraphPlot>();

    Graph()
    {
        view.resize(400, 200);
        RZGraphLayout& layout = view.graphLayout();
        layout.setXAxisLabelHeight(30);
        layout.setXAxisMargin(20);
        RZAxisValues axis;
        for (int i = 0; i <= 6; ++i)
            axis.append({i * 600.0, QStringLiteral("L%1").arg(i)});
        view.setXAxisValues(axis);
        view.setXAxisInterval(600);
        view.setYAxisMaxValue(90);
        view.setYAxisUnit(QStringLiteral("(C)"));
        view.setNoDataText(QStringLiteral("No data"));
        plot->setGraphPointSize(0);
        plot->setFillCircleAroundGraphPoint(false);
        plot->setCurveLine(true);
        QList<QPointF> points;
        for (int i = 0; i < 6; ++i)
            points.append({(i + 0.5) * 600, i % 2 ? 60.0 : 30.0});
        setPoints(points);
        view.setGraphPlots({plot});
        view.layoutGraph();
    }
    void setPoints(const QList<QPointF>& points)
    {
        QList<RZGraphPoint> list;
        for (QPointF p : points) {
            RZGraphPoint point;
            point.setPoint(p);
            point.setValueString(QString::number(p.y()));
            list.append(point);
        }
        plot->setGraphPoints(list);
    }
    // A data point as Qt sees it in the widget (y down).
    QPointF qtPointOf(QPointF data) const
    {
        const QPointF p = view.graphPointInPxFromGraphPoint(data) + view.geometry().frames().plot.topLeft();
        return {p.x(), view.height() - p.y()};
    }
    void moveTo(QPointF qtPosition)
    {
        QMouseEvent event(QEvent::MouseMove, qtPosition, view.mapToGlobal(qtPosition), Qt::NoButton, Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
    }
    void leave()
    {
        QEvent event(QEvent::Leave);
        QCoreApplication::sendEvent(&view, &event);
    }
    QImage render(double scale)
    {
        QImage image(QSize(400, 200) * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::white);
        view.render(&image, {}, {}, QWidget::DrawChildren);
        return image;
    }
};

TEST(LineGraphView, DerivedMaximumFollowsThePoints)
{
    Graph graph;
    graph.view.setYAxisMaxValue(0);
    graph.setPoints({{0, 5}, {600, 20}});
    graph.view.drawRect();
    EXPECT_DOUBLE_EQ(graph.view.effectiveYAxisMaxValue(), 20);
    EXPECT_EQ(graph.view.yAxisMaxValue(), 0);  // still "derive it"

    graph.setPoints({{0, 5}, {600, 35}});
    graph.view.drawRect();
    EXPECT_DOUBLE_EQ(graph.view.effectiveYAxisMaxValue(), 35);
    EXPECT_EQ(graph.view.yAxisValues().last().label, QStringLiteral("35"));

    graph.view.setGraphPlots({});  // nothing to derive from: no data
    graph.view.drawRect();
    EXPECT_FALSE(graph.view.validGraphData());
}

TEST(LineGraphView, InvalidDataClearTheLastPicture)
{
    Graph graph;
    graph.plot->setStrokeColor(QColor(0, 160, 0));
    graph.view.drawRect();
    ASSERT_TRUE(graph.view.validGraphData());
    ASSERT_EQ(graph.view.plotLayers().size(), 2);
    EXPECT_TRUE(graph.view.unitLabelShown());
    EXPECT_FALSE(graph.view.noDataLabelShown());

    // Another sensor whose range has no height.
    graph.view.setYAxisMinValue(50);
    graph.view.setYAxisMaxValue(50);
    graph.view.drawRect();
    EXPECT_FALSE(graph.view.validGraphData());
    EXPECT_TRUE(graph.view.noDataLabelShown());
    EXPECT_FALSE(graph.view.unitLabelShown());
    EXPECT_TRUE(graph.view.plotLayers().isEmpty());
    for (const auto& label : graph.view.yAxisLabels())
        EXPECT_TRUE(label.text.isEmpty());
    const QImage image = graph.render(1);
    int curve = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            curve += image.pixelColor(x, y) == QColor(0, 160, 0);
    EXPECT_EQ(curve, 0);

    // A single x value, or one that does not advance, is no data either.
    graph.view.setYAxisMinValue(0);
    graph.view.setYAxisMaxValue(90);
    graph.view.setXAxisValues({{0, QStringLiteral("now")}});
    graph.view.drawRect();
    EXPECT_FALSE(graph.view.validGraphData());
    graph.view.setXAxisValues({{0, QStringLiteral("a")}, {0, QStringLiteral("b")}});
    graph.view.setXAxisInterval(0);
    graph.view.drawRect();
    EXPECT_FALSE(graph.view.validGraphData());
}

TEST(LineGraphView, HoverFollowsTheFirstPlotAndHides)
{
    Graph graph;
    Recorder recorder;
    graph.view.setDelegate(&recorder);
    auto other = std::make_shared<RZGraphPlot>();
    RZGraphPoint elsewhere;
    elsewhere.setPoint({2.6 * 600, 10});
    other->setGraphPoints({elsewhere});
    graph.view.setGraphPlots({graph.plot, other});
    graph.view.drawRect();

    // Halfway between the second and third points: the earlier one.
    const QPointF between = (graph.qtPointOf({1.5 * 600, 0}) + graph.qtPointOf({2.5 * 600, 0})) / 2;
    graph.moveTo({between.x(), 100});
    ASSERT_TRUE(graph.view.currentGraphPoint());
    EXPECT_EQ(graph.view.currentGraphPoint()->point(), QPointF(1.5 * 600, 60));
    EXPECT_TRUE(graph.view.movement().dotShown);
    EXPECT_TRUE(graph.view.movement().bubbleShown);
    EXPECT_EQ(graph.view.movement().valueText, QStringLiteral("60"));
    ASSERT_EQ(recorder.reports.size(), 1);
    EXPECT_EQ(recorder.reports.last(), QPointF(1.5 * 600, 60));

    // Onto the x labels below the plot area, and back.
    graph.moveTo({between.x(), 190});
    EXPECT_FALSE(graph.view.movement().dotShown);
    graph.moveTo({between.x(), 100});
    EXPECT_TRUE(graph.view.movement().dotShown);

    // Out of the view.
    graph.leave();
    EXPECT_FALSE(graph.view.movement().dotShown);
    EXPECT_FALSE(graph.view.movement().bubbleShown);
    EXPECT_EQ(recorder.reports.last(), std::nullopt);

    // While the data are invalid.
    graph.moveTo({between.x(), 100});
    graph.view.setYAxisMinValue(95);
    graph.view.drawRect();
    EXPECT_FALSE(graph.view.movement().dotShown);
    graph.moveTo({between.x() + 1, 100});
    EXPECT_FALSE(graph.view.movement().bubbleShown);

    // Hover tracking off: nothing changes and nobody hears of it.
    graph.view.setYAxisMinValue(0);
    graph.view.drawRect();
    graph.view.graphLayout().setDrawMovement(false);
    graph.leave();
    const qsizetype heard = recorder.reports.size();
    graph.moveTo({between.x(), 100});
    EXPECT_EQ(recorder.reports.size(), heard);
    graph.view.setDelegate(nullptr);
}

// The bubble has room for two title lines: a third never shows, not even in
// part; what is left over ends the second line in an ellipsis.
TEST(LineGraphView, TheBubbleShowsOnlyTheTitleLinesItHasRoomFor)
{
    const auto hovered = [](const QString& title) {
        auto graph = std::make_unique<Graph>();
        QList<RZGraphPoint> points = graph->plot->graphPoints();
        points[2].setTitle(title);
        graph->plot->setGraphPoints(points);
        graph->view.drawRect();
        graph->moveTo(graph->qtPointOf(points[2].point()));
        return graph;
    };
    const auto threeLines = hovered(QStringLiteral("12/06/2026\n08:20:53\n+0100"));
    EXPECT_EQ(threeLines->view.movement().titleLines, QStringList({"12/06/2026", QString::fromUtf8("08:20:53\u2026")}));
    EXPECT_EQ(threeLines->render(2), hovered(QString::fromUtf8("12/06/2026\n08:20:53\u2026"))->render(2));

    // Words wrap within the bubble's width.
    const auto wrapped = hovered(QStringLiteral("Wednesday 9 December"));
    const QStringList lines = wrapped->view.movement().titleLines;
    EXPECT_EQ(lines.size(), 2);
    for (const QString& line : lines)
        EXPECT_LE(QFontMetricsF(RZGraphLayout::systemFont(10)).horizontalAdvance(line),
                  RZLineGraphGeometry::bubbleTitleFrame().width())
            << line.toStdString();
}

TEST(LineGraphView, AxisLabelsKeepTheirEntriesAndFrames)
{
    Graph graph;
    Recorder recorder;
    graph.view.setDelegate(&recorder);
    graph.view.setYAxisSuffix(QStringLiteral("u"));
    // The first mark lies so far left of the plot area that it gets no label.
    graph.view.setXAxisStartGraphPoint(300);
    graph.view.drawRect();
    graph.view.drawRect();
    const auto& labels = graph.view.xAxisLabels();
    ASSERT_EQ(labels.size(), 7);
    EXPECT_FALSE(labels[0].made);
    for (int i = 1; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(labels[i].text, graph.view.xAxisValues()[i].label);
        EXPECT_NEAR(labels[i].frame.center().x(), graph.view.graphPointInPxFromGraphPoint({i * 600.0, 0}).x(), 1e-9);
    }
    // Made once: a later scale changes texts only, until the axis is dropped.
    const QRectF frame = graph.view.yAxisLabels()[2].frame;
    graph.view.setYAxisMaxValue(120);
    graph.view.setYAxisUnit({});  // a taller plot area
    graph.view.layoutGraph();
    graph.view.drawRect();
    EXPECT_EQ(graph.view.yAxisLabels()[2].frame, frame);
    EXPECT_EQ(graph.view.yAxisLabels()[2].text, QStringLiteral("80#2u"));
    graph.view.reDrawXYPart();
    graph.view.drawRect();
    EXPECT_NE(graph.view.yAxisLabels()[2].frame, frame);
    // A narrower graph has its marks elsewhere, and the labels follow them.
    graph.view.resize(300, 200);
    QCoreApplication::sendPostedEvents();
    QResizeEvent narrower(QSize(300, 200), QSize(400, 200));
    QCoreApplication::sendEvent(&graph.view, &narrower);
    graph.view.drawRect();
    EXPECT_NEAR(graph.view.xAxisLabels()[6].frame.center().x(),
                graph.view.graphPointInPxFromGraphPoint({6 * 600.0, 0}).x(), 1e-9);
    // A grid hidden after a draw keeps its last path.
    graph.view.graphLayout().setXAxisGridHidden(true);
    graph.view.drawRect();
    EXPECT_TRUE(graph.view.lineLayer(RZLineGraphView::XAxisGrid).made);
    graph.view.setDelegate(nullptr);
}

// A shown graph under the pointer paints once per change, not on and on.
TEST(LineGraphView, HoverDoesNotRepaintForever)
{
    struct Counting : RZLineGraphView {
        int paints = 0;
        void paintEvent(QPaintEvent* event) override
        {
            ++paints;
            RZLineGraphView::paintEvent(event);
        }
    };
    Graph graph;
    Counting view;
    view.resize(400, 200);
    view.graphLayout().setXAxisLabelHeight(30);
    view.setXAxisValues(graph.view.xAxisValues());
    view.setXAxisInterval(600);
    view.setYAxisMaxValue(90);
    view.setGraphPlots({graph.plot});
    view.show();
    view.layoutGraph();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QMouseEvent move(QEvent::MouseMove, QPointF(200, 100), view.mapToGlobal(QPointF(200, 100)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &move);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    ASSERT_TRUE(view.movement().dotShown);
    const int settled = view.paints;
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(view.paints, settled);
    EXPECT_GT(settled, 0);
}

bool near(const QColor& a, const QColor& b, int tolerance = 10)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

// Painting: pixels on the grid, in and out of the fill and on the curve.
// Colours are chosen so that no font or antialiasing decides a sample.
class LineGraphPainting : public ::testing::TestWithParam<int> {};

TEST_P(LineGraphPainting, GridFillAndCurve)
{
    const int scale = GetParam();
    Graph graph;
    RZGraphLayout& layout = graph.view.graphLayout();
    layout.setXAxisLinesStrokeColor(QColor(255, 0, 0));
    layout.setYAxisLinesStrokeColor(QColor(0, 0, 255));
    const QColor stroke(0, 160, 0);
    graph.plot->setStrokeColor(stroke);
    graph.plot->setFillColor(QColor(255, 0, 255, 128));
    const QImage image = graph.render(scale);
    auto at = [&](double x, double y) { return image.pixelColor(int(std::floor(x * scale)), int(std::floor(y * scale))); };
    const QColor white(Qt::white);

    // The curve passes through every point (between its ends).
    for (int i = 1; i + 1 < graph.plot->graphPoints().size(); ++i) {
        const QPointF p = graph.qtPointOf(graph.plot->graphPoints()[i].point());
        EXPECT_TRUE(near(at(p.x(), p.y()), stroke)) << p.x() << "," << p.y();
    }
    // Filled below the curve from the first point on, not left of it nor above.
    EXPECT_TRUE(near(at(125, 150), QColor(255, 127, 255)));
    EXPECT_EQ(at(55, 150), white);
    EXPECT_EQ(at(125, 50), white);

    // The top grid line (y 90): one device pixel high, dashed 2 points on, 1 off.
    const int row = int(std::floor(graph.qtPointOf({0, 90}).y() * scale));
    const int left = 40 * scale;
    for (int x = left + 18 * scale; x < left + 36 * scale; ++x) {
        const bool on = (x - left) % (3 * scale) < 2 * scale;
        EXPECT_EQ(image.pixelColor(x, row), on ? QColor(255, 0, 0) : white) << "x " << x;
    }
    const int onColumn = left + 18 * scale;
    EXPECT_EQ(image.pixelColor(onColumn, row - 1), white);
    EXPECT_EQ(image.pixelColor(onColumn, row + 1), white);

    // A vertical grid line at the second mark: one device pixel wide.
    const int column = int(std::floor(graph.qtPointOf({600, 0}).x() * scale));
    int drawn = 0;
    for (int y = 30 * scale; y < 60 * scale; ++y) {
        drawn += image.pixelColor(column, y) == QColor(0, 0, 255);
        EXPECT_EQ(image.pixelColor(column + 1, y), white);
        EXPECT_EQ(image.pixelColor(column - 1, y), white);
    }
    EXPECT_NEAR(drawn, 20 * scale, 2 * scale);
}

INSTANTIATE_TEST_SUITE_P(Scales, LineGraphPainting, ::testing::Values(1, 2));

TEST(LineGraphPainting, HangingLabelsAndMarkers)
{
    Graph graph;
    RZAxisValues axis = graph.view.xAxisValues();
    axis.first().label = QStringLiteral("WWWWWW");
    graph.view.setXAxisValues(axis);
    graph.view.graphLayout().setXAxisLabelColor(Qt::black);
    graph.plot->setGraphPointSize(10);
    graph.plot->setGraphPointColor(QColor(0, 200, 200));
    const QImage image = graph.render(1);
    // The first label hangs out left of the plot area and is painted there.
    int dark = 0;
    for (int x = 0; x < 38; ++x)
        for (int y = 172; y < 200; ++y)
            dark += qGray(image.pixel(x, y)) < 128;
    EXPECT_GT(dark, 0);
    // Markers lie above the line.
    const QPointF p = graph.qtPointOf(graph.plot->graphPoints()[2].point());
    EXPECT_EQ(image.pixelColor(p.toPoint()), QColor(0, 200, 200));
    ASSERT_EQ(graph.view.graphPointViews().size(), 6u);
    RZGraphPointView& marker = *graph.view.graphPointViews()[2];
    EXPECT_EQ(marker.innerView()->geometry(), QRect(2, 2, 6, 6));
    EXPECT_TRUE(marker.innerView()->isHidden());
    marker.setIsSelected(true);
    EXPECT_FALSE(marker.innerView()->isHidden());
    EXPECT_EQ(graph.view.graphPointViewWithTouchPoint(graph.view.graphPointInPxFromGraphPoint({1500, 30}) + QPointF(7, 0)),
              graph.view.graphPointViews()[2].get());
}

}  // namespace
