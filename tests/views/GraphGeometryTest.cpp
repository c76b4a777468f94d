#include <gtest/gtest.h>

#include "RZLineGraphGeometry.h"

namespace {

// A graph whose mapping is the identity in points: no line insets, x data
// in steps of 5 that are 5 points apart, y data equal to points.
struct PixelGraph {
    RZGraphLayout layout;
    RZLineGraphGeometry geometry{&layout};
    PixelGraph(double width = 5, double height = 10)
    {
        layout.setXAxisLinesWidth(0);
        layout.setYAxisLinesWidth(0);
        layout.setXAxisLabelHeight(0);
        layout.setYAxisLabelWidth(0);
        layout.setYAxisSegmentCount(1);
        geometry.setupFrames({width, height}, false, false);
        EXPECT_TRUE(geometry.calculate({0, 5, static_cast<qsizetype>(width / 5) + 1, 0, height}));
    }
};

RZGraphPlot plotOf(std::initializer_list<QPointF> points)
{
    RZGraphPlot plot;
    QList<RZGraphPoint> list;
    for (QPointF p : points) {
        RZGraphPoint point;
        point.setPoint(p);
        list << point;
    }
    plot.setGraphPoints(list);
    return plot;
}

void expectElement(const RZPathElement& e, RZPathElement::Type type, QPointF point, QPointF control = {})
{
    EXPECT_EQ(e.type, type);
    EXPECT_DOUBLE_EQ(e.point.x(), point.x());
    EXPECT_DOUBLE_EQ(e.point.y(), point.y());
    if (type == RZPathElement::QuadTo) {
        EXPECT_DOUBLE_EQ(e.control.x(), control.x());
        EXPECT_DOUBLE_EQ(e.control.y(), control.y());
    }
}

void expectRect(const QRectF& r, double x, double y, double w, double h)
{
    EXPECT_DOUBLE_EQ(r.x(), x);
    EXPECT_DOUBLE_EQ(r.y(), y);
    EXPECT_DOUBLE_EQ(r.width(), w);
    EXPECT_DOUBLE_EQ(r.height(), h);
}

TEST(GraphGeometry, FramesFollowTitleAndUnit)
{
    RZGraphLayout layout;
    layout.setXAxisLabelHeight(30);
    layout.setXAxisMargin(20);
    RZLineGraphGeometry geometry(&layout);

    geometry.setupFrames({400, 200}, false, true);
    expectRect(geometry.frames().plot, 40, 30, 340, 145);
    expectRect(geometry.frames().unit, 40, 175, 80, 25);
    expectRect(geometry.frames().xLabels, 40, 0, 340, 30);

    geometry.setupFrames({400, 200}, false, false);
    EXPECT_DOUBLE_EQ(geometry.frames().plot.bottom(), 200);  // the top edge, y growing upwards
    geometry.setupFrames({400, 200}, true, true);
    EXPECT_DOUBLE_EQ(geometry.frames().plot.bottom(), 200 - 25 - 25);
    expectRect(geometry.frames().title, 0, 175, 400, 25);
    expectRect(geometry.frames().unit, 40, 150, 80, 25);
}

TEST(GraphGeometry, ScaleAndMapping)
{
    RZGraphLayout layout;
    layout.setXAxisLabelHeight(0);
    layout.setYAxisLabelWidth(0);
    RZLineGraphGeometry geometry(&layout);
    geometry.setupFrames({300, 150.5}, false, false);

    ASSERT_TRUE(geometry.calculate({1000, 600, 7, 0, 90}));
    EXPECT_DOUBLE_EQ(layout.xAxisIntervalInPx(), 50);
    EXPECT_DOUBLE_EQ(geometry.yAxisInterval(), 30);
    EXPECT_DOUBLE_EQ(geometry.yAxisIntervalInPx(), 50);
    EXPECT_EQ(geometry.yAxisValues(), (QList<double>{0, 30, 60, 90}));
    EXPECT_DOUBLE_EQ(geometry.map({1000, 60}).y(), 100.25);
    EXPECT_DOUBLE_EQ(geometry.map({1000, 0}).x(), 0.25);      // the start sits half a line width in
    EXPECT_DOUBLE_EQ(geometry.map({1000 + 3 * 600, 90}).x(), 150.25);
    EXPECT_DOUBLE_EQ(geometry.map({0, 90}).y(), 150.25);      // the maximum half a line width below the top

    ASSERT_TRUE(geometry.calculate({0, 1, 101, 0, 90}));
    EXPECT_DOUBLE_EQ(layout.xAxisIntervalInPx(), 5);  // not 3: the least spacing
}

TEST(GraphGeometry, DataThatCannotBeScaledAreInvalid)
{
    RZGraphLayout layout;
    RZLineGraphGeometry geometry(&layout);
    geometry.setupFrames({400, 200}, false, false);
    ASSERT_TRUE(geometry.calculate({0, 600, 7, 10, 90}));
    const double spacing = layout.xAxisIntervalInPx();

    EXPECT_FALSE(geometry.calculate({0, 600, 7, 90, 90}));   // no height
    EXPECT_FALSE(geometry.calculate({0, 600, 7, 95, 90}));   // upside down
    EXPECT_FALSE(geometry.calculate({0, 600, 1, 10, 90}));   // one x value has no spacing
    EXPECT_FALSE(geometry.calculate({0, 600, 0, 10, 90}));
    EXPECT_FALSE(geometry.calculate({0, 0, 7, 10, 90}));     // x values that do not advance
    EXPECT_FALSE(geometry.calculate({0, -600, 7, 10, 90}));
    EXPECT_FALSE(geometry.calculate({0, 600, 7, -90, -10}));  // negative-only data
    layout.setYAxisSegmentCount(0);
    EXPECT_FALSE(geometry.calculate({0, 600, 7, 10, 90}));
    layout.setYAxisSegmentCount(3);
    geometry.setupFrames({400, 40.4}, false, false);  // plot lower than the line width
    EXPECT_FALSE(geometry.calculate({0, 600, 7, 10, 90}));

    // The last valid scale stays.
    EXPECT_DOUBLE_EQ(layout.xAxisIntervalInPx(), spacing);
    EXPECT_DOUBLE_EQ(geometry.yAxisInterval(), 80.0 / 3);
}

TEST(GraphGeometry, LabelFrames)
{
    RZGraphLayout layout;
    layout.setXAxisLabelHeight(30);
    layout.setXAxisMargin(20);
    RZLineGraphGeometry geometry(&layout);
    geometry.setupFrames({400, 200}, false, true);
    ASSERT_TRUE(geometry.calculate({0, 600, 7, 0, 90}));  // 340 / 6 apart

    // A text 300 wide is boxed 150 wide while the spacing is below 150.
    std::optional<QRectF> frame = geometry.xLabelFrame(600, {300, 14});
    ASSERT_TRUE(frame);
    expectRect(*frame, 340.0 / 6 + 0.25 - 75, 15 - 7, 150, 14);
    // A short text gets the spacing, and a tall one the strip's height.
    frame = geometry.xLabelFrame(0, {20, 50});
    ASSERT_TRUE(frame);
    EXPECT_DOUBLE_EQ(frame->width(), 340.0 / 6);
    EXPECT_DOUBLE_EQ(frame->height(), 30);
    layout.setXAxisIntervalInPx(200);
    EXPECT_DOUBLE_EQ(geometry.xLabelFrame(0, {300, 14})->width(), 200);
    // Left of the strip by more than a fifth of its width: no label.
    EXPECT_TRUE(geometry.xLabelFrame(-600 * 200 / 200 * 0.1, {20, 14}));  // 19.75 left of 0.25: within 40
    EXPECT_FALSE(geometry.xLabelFrame(-600 * 0.25, {20, 14}));             // 49.75 left

    // A y label is centred on its line, in the column, ending 5 left of the plot.
    expectRect(geometry.yLabelFrame(60), 0, 30 + 0.25 + 2 * (144.5 / 3) - 12.5, 35, 25);
}

// Time labels wider than their spacing (as French ones at the window's least
// size) would touch: every n-th one is drawn, counted back from the newest.
TEST(GraphGeometry, XLabelsThatWouldTouchAreLeftOut)
{
    const auto texts = [](double spacing, double width) {
        QList<std::optional<QRectF>> list;
        for (int i = 0; i < 7; ++i)
            list << QRectF(i * spacing - width / 2, 8, width, 14);
        return list;
    };
    const double gap = RZLineGraphGeometry::kXLabelGap;
    EXPECT_EQ(RZLineGraphGeometry::shownXLabels(texts(40 + gap, 40)), QList<bool>(7, true));
    EXPECT_EQ(RZLineGraphGeometry::shownXLabels(texts(40 + gap - 0.5, 40)),
              (QList<bool>{true, false, true, false, true, false, true}));
    EXPECT_EQ(RZLineGraphGeometry::shownXLabels(texts(16, 40)),
              (QList<bool>{true, false, false, true, false, false, true}));
    // An entry without a label keeps its place in the count.
    QList<std::optional<QRectF>> list = texts(30, 40);
    list[0].reset();
    EXPECT_EQ(RZLineGraphGeometry::shownXLabels(list), (QList<bool>{false, false, true, false, true, false, true}));
    // Too narrow for any two: the newest alone.
    EXPECT_EQ(RZLineGraphGeometry::shownXLabels(texts(1, 40)), (QList<bool>{false, false, false, false, false, false, true}));
    EXPECT_TRUE(RZLineGraphGeometry::shownXLabels({}).isEmpty());
}

TEST(GraphGeometry, LinePaths)
{
    RZGraphLayout layout;
    RZLineGraphGeometry geometry(&layout);
    layout.setYAxisLabelWidth(0);
    layout.setXAxisLabelHeight(0);
    geometry.setupFrames({300, 150.5}, false, false);
    ASSERT_TRUE(geometry.calculate({0, 10, 3, 30, 90}));

    const RZPath zero = geometry.xAxisZeroPath();
    ASSERT_EQ(zero.size(), 2);
    expectElement(zero[0], RZPathElement::MoveTo, {0, 0.25});
    expectElement(zero[1], RZPathElement::LineTo, {300, 0.25});
    EXPECT_EQ(geometry.xAxisGridPath().size(), 8);  // one line per y value
    const RZPath edges = geometry.yAxisZeroPath();
    ASSERT_EQ(edges.size(), 4);
    expectElement(edges[1], RZPathElement::LineTo, {0.25, 150.5});
    expectElement(edges[2], RZPathElement::MoveTo, {299.75, 0});
    const RZPath grid = geometry.yAxisGridPath({0, 10, 20});
    ASSERT_EQ(grid.size(), 8);  // the left inset, then one per x value
    expectElement(grid[6], RZPathElement::MoveTo, {300.25, 0});
}

TEST(GraphGeometry, PlotPaths)
{
    PixelGraph graph;
    RZGraphPlot plot = plotOf({{0, 0}, {2, 2}});
    plot.setGraphPointSize(0);

    plot.setCurveLine(true);
    RZPlotPaths paths = graph.geometry.plotPaths(plot);
    ASSERT_EQ(paths.line.size(), 3);
    expectElement(paths.line[0], RZPathElement::MoveTo, {0, 0});
    expectElement(paths.line[1], RZPathElement::QuadTo, {1, 1}, {0.5, 0});
    expectElement(paths.line[2], RZPathElement::QuadTo, {2, 2}, {1.5, 2});
    // The fill rises from the bottom edge, follows the line and closes along the bottom.
    ASSERT_EQ(paths.fill.size(), 7);
    expectElement(paths.fill[0], RZPathElement::MoveTo, {0, 0});
    expectElement(paths.fill[3], RZPathElement::QuadTo, {2, 2}, {1.5, 2});
    expectElement(paths.fill[4], RZPathElement::LineTo, {2, 0});
    expectElement(paths.fill[5], RZPathElement::LineTo, {0, 0});
    EXPECT_EQ(paths.fill[6].type, RZPathElement::Close);
    EXPECT_TRUE(paths.markers.isEmpty());

    plot.setCurveLine(false);
    plot = plotOf({{1, 4}, {3, 6}});
    plot.setCurveLine(false);
    plot.setGraphPointSize(0);
    plot.setStrokeCircleAroundGraphPoint(true);  // no markers, so no circles
    paths = graph.geometry.plotPaths(plot);
    ASSERT_EQ(paths.line.size(), 2);
    expectElement(paths.line[1], RZPathElement::LineTo, {3, 6});
    expectElement(paths.fill[0], RZPathElement::MoveTo, {1, 0});  // the bottom edge even above the data's minimum

    // A single point encloses nothing.
    plot = plotOf({{1, 4}});
    plot.setGraphPointSize(0);
    paths = graph.geometry.plotPaths(plot);
    ASSERT_EQ(paths.fill.size(), 2);
    EXPECT_NE(paths.fill.last().type, RZPathElement::Close);
}

TEST(GraphGeometry, MarkerCircles)
{
    PixelGraph graph(50, 50);
    RZGraphPlot plot = plotOf({{20, 20}, {30, 25}});
    plot.setStrokeCircleAroundGraphPoint(true);  // graphPointSize 10, lineWidth 2, fill circles by default
    const RZPlotPaths paths = graph.geometry.plotPaths(plot);
    ASSERT_EQ(paths.markers.size(), 2);
    expectRect(paths.markers[0], 15, 15, 10, 10);
    // After the closed fill: per point an ellipse 14 across, then back to the point.
    ASSERT_EQ(paths.fill.size(), 6 + 4);
    EXPECT_EQ(paths.fill[6].type, RZPathElement::Ellipse);
    expectRect(paths.fill[6].rect, 13, 13, 14, 14);
    expectElement(paths.fill[7], RZPathElement::MoveTo, {20, 20});
    ASSERT_EQ(paths.line.size(), 2 + 4);
    expectRect(paths.line[2].rect, 14, 14, 12, 12);
    expectRect(paths.line[4].rect, 24, 19, 12, 12);
}

TEST(GraphGeometry, HoverSearchAndBubble)
{
    PixelGraph graph(400, 200);
    const RZGraphPlot plot = plotOf({{10, 5}, {20, 5}, {30, 5}});
    EXPECT_EQ(graph.geometry.nearestPointIndex(plot.graphPoints(), 15), 0);  // a tie goes to the earlier point
    EXPECT_EQ(graph.geometry.nearestPointIndex(plot.graphPoints(), 16), 1);
    EXPECT_EQ(graph.geometry.nearestPointIndex(plot.graphPoints(), 1000), 2);
    EXPECT_EQ(graph.geometry.nearestPointIndex({}, 15), -1);

    EXPECT_TRUE(RZLineGraphGeometry::contains({0, 0, 10, 10}, {0, 0}));
    EXPECT_FALSE(RZLineGraphGeometry::contains({0, 0, 10, 10}, {10, 5}));
    expectRect(RZLineGraphGeometry::dotRect({5, 6}), 4, 5, 2, 2);
    expectRect(RZLineGraphGeometry::bubbleValueFrame(), 0, 3, 70, 50.0 / 3);
    expectRect(RZLineGraphGeometry::bubbleTitleFrame(), 0, 50.0 / 3 - 3, 70, 100.0 / 3);

    // The screens' metrics: 30 left of the dot and 10 above it, unless clamped.
    RZGraphLayout layout;
    layout.setXAxisLabelHeight(30);
    layout.setXAxisMargin(20);
    RZLineGraphGeometry geometry(&layout);
    geometry.setupFrames({400, 200}, false, true);  // plot 340 x 145
    expectRect(geometry.bubbleFrame({100, 50}), 70, 60, 70, 50);
    EXPECT_DOUBLE_EQ(geometry.bubbleFrame({10, 50}).x(), 0);
    EXPECT_DOUBLE_EQ(geometry.bubbleFrame({335, 50}).x(), 270);  // the whole bubble inside the width
    EXPECT_DOUBLE_EQ(geometry.bubbleFrame({100, 140}).y(), 95);  // and under the top
    EXPECT_DOUBLE_EQ(geometry.bubbleFrame({100, -100}).y(), -90);  // no lower bound
}

}  // namespace
