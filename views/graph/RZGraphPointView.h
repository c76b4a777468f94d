#pragma once
// The round marker the graph places on a data point: a disc, and an inner
// disc 2 points in from every edge shown while the marker is selected.
#include <QWidget>

#include "RZGraphPoint.h"

class RZGraphPointView : public QWidget {
public:
    // frame is in the system's coordinates of the parent (origin bottom-left);
    // the widget keeps it and is placed by whoever shows it.
    RZGraphPointView(const QRectF& frame, const RZGraphPoint& graphPoint, const QColor& color,
                     const QColor& highlightColor, QWidget* parent = nullptr);

    QRectF frame() const { return m_frame; }
    bool isSelected() const { return m_isSelected; }
    void setIsSelected(bool selected);
    const RZGraphPoint& graphPoint() const { return m_graphPoint; }
    QWidget* innerView() const { return m_innerView; }
    QColor color() const { return m_color; }
    QColor highlightColor() const { return m_highlightColor; }

    // Paints the marker into rect (Qt coordinates); the graph draws its
    // markers this way so that they keep their place among its paint steps.
    void paintMarker(QPainter& painter, const QRectF& rect) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    RZGraphPoint m_graphPoint;
    QRectF m_frame;
    QColor m_color;
    QColor m_highlightColor;
    bool m_isSelected = false;
    QWidget* m_innerView = nullptr;
};
