#pragma once
// The line graph of the history screens. A screen sets its inputs and then
// asks for a layout pass (layoutGraph); the graph derives its scale, lays
// out its parts and paints them in one pass. Geometry comes from
// RZLineGraphGeometry in the system's coordinates (origin bottom-left) and
// is flipped once here, where Qt paints.
#include <QPainterPath>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "RZAxisValue.h"
#include "RZGraphLayout.h"
#include "RZGraphPlot.h"
#include "RZGraphPointView.h"
#include "RZLineGraphGeometry.h"
#include "RZLineGraphViewDelegate.h"

class QVariantAnimation;

class RZLineGraphView : public QWidget {
public:
    // An axis label as the graph made it: its frame (in the strip's or the
    // column's coordinates) is fixed when made; later draws set only the text.
    struct AxisLabel {
        bool made = false;
        QRectF frame;
        QString text;
        bool hidden = false;  // left out so that its neighbours do not touch
    };
    // One of the four base-line and grid strokes, made on its first draw.
    struct LineLayer {
        bool made = false;
        RZPath path;
        double width = 0;
        QColor color;
        bool dashed = false;
    };
    struct PlotLayer {
        RZPath path;
        QColor color;
        double width = 0;  // 0 for a fill
        bool isFill = false;
    };
    struct Movement {
        bool dotShown = false;
        QRectF dotRect;      // plot-area coordinates
        bool bubbleMade = false;
        bool bubbleShown = false;
        QRectF bubbleFrame;  // plot-area coordinates
        QColor bubbleColor;  // read once, when the bubble is made
        QString valueText;
        QString titleText;
        QStringList titleLines;  // the title as it fits the bubble
    };
    enum LineLayerKind { XAxisZero, XAxisGrid, YAxisZero, YAxisGrid };

    explicit RZLineGraphView(QWidget* parent = nullptr);
    ~RZLineGraphView() override;

    double xAxisStartGraphPoint() const { return m_xAxisStartGraphPoint; }
    void setXAxisStartGraphPoint(double x) { m_xAxisStartGraphPoint = x; }
    const RZAxisValues& xAxisValues() const { return m_xAxisValues; }
    void setXAxisValues(const RZAxisValues& values) { m_xAxisValues = values; }
    double xAxisInterval() const { return m_xAxisInterval; }
    void setXAxisInterval(double interval) { m_xAxisInterval = interval; }
    // 0 means "derive the top from the plots"; the derived value is kept
    // apart (effectiveYAxisMaxValue) so that it follows the points.
    double yAxisMaxValue() const { return m_yAxisMaxValue; }
    void setYAxisMaxValue(double value) { m_yAxisMaxValue = value; }
    double effectiveYAxisMaxValue() const;
    double yAxisMinValue() const { return m_yAxisMinValue; }
    void setYAxisMinValue(double value) { m_yAxisMinValue = value; }
    const QList<std::shared_ptr<RZGraphPlot>>& graphPlots() const { return m_graphPlots; }
    void setGraphPlots(const QList<std::shared_ptr<RZGraphPlot>>& plots) { m_graphPlots = plots; }
    QString yAxisSuffix() const { return m_yAxisSuffix; }
    void setYAxisSuffix(const QString& suffix) { m_yAxisSuffix = suffix; }
    // A null string hides the unit label (and frees its strip).
    QString yAxisUnit() const { return m_yAxisUnit; }
    void setYAxisUnit(const QString& unit) { m_yAxisUnit = unit; }
    QString noDataText() const { return m_noDataText; }
    void setNoDataText(const QString& text) { m_noDataText = text; }
    // A null string hides the title (and frees its strip).
    QString title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }
    RZGraphLayout& graphLayout() { return *m_graphLayout; }
    const std::shared_ptr<RZGraphLayout>& sharedGraphLayout() const { return m_graphLayout; }
    void setGraphLayout(std::shared_ptr<RZGraphLayout> layout);
    RZLineGraphViewDelegate* delegate() const { return m_delegate; }
    // Not owned; the owner clears it before it goes away.
    void setDelegate(RZLineGraphViewDelegate* delegate) { m_delegate = delegate; }

    // NSView's layout pass. (QWidget::layout() names the widget's QLayout.)
    // Refreshes the hover display, lays out the parts, asks for a repaint.
    void layoutGraph();
    void setupContentViews();
    // What a repaint does before painting: the scale, then the axes and plots
    // or the no-data state. Public so that a test or a picture can run it.
    void drawRect();
    void calculateGraphData();
    QPointF graphPointInPxFromGraphPoint(QPointF point) const { return m_geometry.map(point); }
    void drawXYAxis();
    void drawXAxisLabels();
    void drawYAxisLabels();
    void drawXAsisZero();
    void drawXAxisGrid();
    void drawYAsisZero();
    void drawYAxisGrid();
    void drawPlots();
    void handleDrawMovement();
    std::optional<RZGraphPoint> graphPointFromTouchPoint(QPointF touchPoint) const;
    RZGraphPointView* graphPointViewWithTouchPoint(QPointF touchPoint) const;
    void animateWithDuration(double duration);
    void reDrawXYPart();

    // State, for the screens and tests.
    const RZLineGraphGeometry& geometry() const { return m_geometry; }
    bool validGraphData() const { return m_validGraphData; }
    bool isMovement() const { return m_isMovement; }
    const std::optional<RZGraphPoint>& currentGraphPoint() const { return m_currentGraphPoint; }
    const RZAxisValues& yAxisValues() const { return m_yAxisValues; }
    double yAxisInterval() const { return m_geometry.yAxisInterval(); }
    double yAxisIntervalInPx() const { return m_geometry.yAxisIntervalInPx(); }
    const QList<AxisLabel>& xAxisLabels() const { return m_xAxisLabels; }
    const QList<AxisLabel>& yAxisLabels() const { return m_yAxisLabels; }
    const LineLayer& lineLayer(LineLayerKind kind) const { return m_lineLayers[kind]; }
    const QList<PlotLayer>& plotLayers() const { return m_plotLayers; }
    const std::vector<std::unique_ptr<RZGraphPointView>>& graphPointViews() const { return m_graphPointViews; }
    const Movement& movement() const { return m_movement; }
    bool noDataLabelShown() const { return m_noDataShown; }
    bool unitLabelShown() const { return m_unitShown; }

    // Text wrapped into lines of the given width, as many as whole fit the
    // height (two at most); the last one shown ends in an ellipsis when text
    // is left over.
    static QStringList bubbleTitleLines(const QString& text, const QFont& font, double width, double height);

    // A path in plot-area coordinates as Qt paints it in this widget.
    QPainterPath qtPath(const RZPath& path) const;
    // A frame in the graph's coordinates as a Qt rectangle of this widget.
    QRectF qtRect(const QRectF& frame) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void hover(QPointF qtPosition);
    // The hover display's state for the current point, without a repaint.
    void updateMovement();
    void paintLineLayer(QPainter& painter, const LineLayer& layer, double deviceScale) const;
    void paintText(QPainter& painter, const QRectF& frame, const QString& text, const QFont& font,
                   const QColor& color, Qt::Alignment alignment) const;
    void paintFill(QPainter& painter, const PlotLayer& layer, bool covered, double deviceScale) const;
    void paintLine(QPainter& painter, const PlotLayer& layer, double deviceScale) const;
    // A path flattened into Qt polylines, fine enough for the device.
    QList<QPolygonF> qtPolylines(const RZPath& path, double deviceScale) const;
    void clearPlots();

    double m_xAxisStartGraphPoint = 0;
    RZAxisValues m_xAxisValues;
    double m_xAxisInterval = 1;
    double m_yAxisMaxValue = 0;
    double m_derivedYAxisMaxValue = 0;
    double m_yAxisMinValue = 0;
    QList<std::shared_ptr<RZGraphPlot>> m_graphPlots;
    QString m_yAxisSuffix;
    QString m_yAxisUnit;
    QString m_noDataText;
    QString m_title;
    std::shared_ptr<RZGraphLayout> m_graphLayout;
    RZLineGraphViewDelegate* m_delegate = nullptr;

    RZLineGraphGeometry m_geometry;
    bool m_validGraphData = false;
    bool m_isMovement = false;
    std::optional<RZGraphPoint> m_currentGraphPoint;
    RZAxisValues m_yAxisValues;
    QList<AxisLabel> m_xAxisLabels;  // one slot per x-axis entry
    QList<AxisLabel> m_yAxisLabels;
    LineLayer m_lineLayers[4];
    QList<LineLayerKind> m_lineLayerOrder;  // the order in which they were first drawn
    QList<PlotLayer> m_plotLayers;
    std::vector<std::unique_ptr<RZGraphPointView>> m_graphPointViews;
    Movement m_movement;
    bool m_noDataShown = false;
    bool m_unitShown = false;
    double m_strokeEnd = 1;  // drawn share of each line, for animateWithDuration
    QVariantAnimation* m_animation = nullptr;
};
