#include "KLTableRowView.h"

#include <QPainter>
#include <QPainterPath>

#include "NSColor+KLExtension.h"

KLTableRowView::KLTableRowView(QWidget* parent)
    : NSTableRowView(parent)
{
}

void KLTableRowView::setDetailMode(bool detailMode)
{
    if (m_detailMode == detailMode)
        return;
    m_detailMode = detailMode;
    update();
}

QRectF KLTableRowView::selectionRect(const QRectF& bounds, bool detailMode)
{
    return detailMode ? bounds : bounds.adjusted(10, 2.5, -10, -2.5);
}

QColor KLTableRowView::selectionColor(bool detailMode)
{
    // Black at 10 % vanishes on a dark sidebar: the dark appearance takes white.
    if (!detailMode)
        return KLExtension::colorFromLightStyleColor(QColor::fromRgbF(0, 0, 0, 0.1f), QColor::fromRgbF(1, 1, 1, 0.12f));
    return KLExtension::colorFromLightStyleColor(QColor::fromRgbF(0, 0, 0, 0.15f), QColor::fromRgbF(1, 1, 1, 0.15f));
}

void KLTableRowView::drawSelectionInRect(QPainter& painter, const QRectF&)
{
    if (selectionHighlightStyle() == NSTableViewSelectionHighlightStyleNone)
        return;
    const QRectF area = selectionRect(QRectF(rect()), m_detailMode);
    const double radius = selectionRadius(m_detailMode);
    if (radius <= 0) {
        painter.fillRect(area, selectionColor(m_detailMode));
        return;
    }
    QPainterPath path;
    path.addRoundedRect(area, radius, radius);
    painter.fillPath(path, selectionColor(m_detailMode));
}
