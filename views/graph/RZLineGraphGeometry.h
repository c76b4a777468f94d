#pragma once
// The line graph's geometry as plain numbers, in the system's coordinates:
// origin at the bottom-left, y up, lengths in points. The frames of the
// graph's parts, the scale, the data-to-plot mapping, the label frames, the
// line and fill paths, the hover search and the bubble placement. Needs no
// widget; RZLineGraphView flips the results once where it paints.
#include <QList>
#include <QPointF>
#include <QRectF>
#include <memory>
#include <optional>

#include "RZGraphLayout.h"
#include "RZGraphPlot.h"

// One element of a path, kept as data so that it can be checked exactly.
struct RZPathElement {
    enum Type { MoveTo, LineTo, QuadTo, Ellipse, Close };
    Type type = MoveTo;
    QPointF point;    // end of a move, line or curve
    QPointF control;  // control point of a quadratic curve
    QRectF rect;      // bounds of an ellipse

    static RZPathElement moveTo(QPointF p) { return {MoveTo, p, {}, {}}; }
    static RZPathElement lineTo(QPointF p) { return {LineTo, p, {}, {}}; }
    static RZPathElement quadTo(QPointF control, QPointF p) { return {QuadTo, p, control, {}}; }
    static RZPathElement ellipse(const QRectF& r) { return {Ellipse, {}, {}, r}; }
    static RZPathElement close() { return {Close, {}, {}, {}}; }
};
using RZPath = QList<RZPathElement>;

// Frames in the graph view's coordinates.
struct RZGraphFrames {
    QRectF title;
    QRectF unit;
    QRectF plot;  // the plot area; the hover dot and bubble share it
    QRectF noData;
    QRectF xLabels;
    QRectF yLabels;
};

// What the scale is computed from; the view passes its properties.
struct RZGraphScaleInput {
    double xAxisStartGraphPoint = 0;
    double xAxisInterval = 1;
    qsizetype xAxisValueCount = 0;
    double yAxisMinValue = 0;
    double yAxisMaxValue = 0;
};

struct RZPlotPaths {
    RZPath fill;
    RZPath line;
    QList<QRectF> markers;  // one marker frame per point when markers are on
};

class RZLineGraphGeometry {
public:
    static constexpr double kBubbleWidth = 70;
    static constexpr double kBubbleHeight = 50;

    explicit RZLineGraphGeometry(RZGraphLayout* layout);
    void setLayout(RZGraphLayout* layout) { m_layout = layout; }
    const RZGraphLayout& layout() const { return *m_layout; }

    // setupContentViews: the frames for a view of the given size.
    void setupFrames(QSizeF viewSize, bool hasTitle, bool hasUnit);
    const RZGraphFrames& frames() const { return m_frames; }
    double plotWidth() const { return m_frames.plot.width(); }
    double plotHeight() const { return m_frames.plot.height(); }

    // The largest y of all points of all plots; below every value when there are none.
    static double derivedMaximum(const QList<std::shared_ptr<RZGraphPlot>>& plots);

    // calculateGraphData: false (and the last valid scale kept) when the data
    // cannot be drawn. A valid scale writes the layout's xAxisIntervalInPx.
    bool calculate(const RZGraphScaleInput& input);
    bool isValid() const { return m_valid; }
    double yAxisInterval() const { return m_yAxisInterval; }
    double yAxisIntervalInPx() const { return m_yAxisIntervalInPx; }
    // The y grid values, bottom to top.
    QList<double> yAxisValues() const;

    // graphPointInPxFromGraphPoint: data units to plot-area coordinates.
    QPointF map(QPointF data) const;

    // Frame of an x label in the x-label strip, for the entry's position and
    // its measured text; nullopt when the entry lies too far left to get one.
    std::optional<QRectF> xLabelFrame(double position, QSizeF textSize) const;
    // Which x labels are drawn, given the extents of their texts (none for an
    // entry without a label): every n-th one counted back from the newest,
    // with n the least that leaves kXLabelGap points between neighbours.
    static constexpr double kXLabelGap = 6;
    static QList<bool> shownXLabels(const QList<std::optional<QRectF>>& texts);
    // Frame of a y label in the y-label column.
    QRectF yLabelFrame(double value) const;

    RZPath xAxisZeroPath() const;
    RZPath xAxisGridPath() const;
    RZPath yAxisZeroPath() const;
    RZPath yAxisGridPath(const QList<double>& xPositions) const;
    RZPlotPaths plotPaths(const RZGraphPlot& plot) const;

    // The platform's point-in-rectangle test: left and bottom edges inside,
    // right and top edges outside.
    static bool contains(const QRectF& rect, QPointF point);
    // Index of the point whose mapped x lies nearest to x; the earliest wins
    // a tie; -1 for no points.
    int nearestPointIndex(const QList<RZGraphPoint>& points, double x) const;
    // Hover dot and bubble for a point d in plot-area coordinates.
    static QRectF dotRect(QPointF d);
    QRectF bubbleFrame(QPointF d) const;
    // The bubble's two text frames, in the bubble's coordinates.
    static QRectF bubbleValueFrame();
    static QRectF bubbleTitleFrame();

private:
    RZGraphLayout* m_layout;
    RZGraphFrames m_frames;
    RZGraphScaleInput m_input;
    bool m_valid = false;
    double m_yAxisInterval = 0;
    double m_yAxisIntervalInPx = 0;
};
