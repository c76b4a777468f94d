#include "NSTableRowView.h"

#include <QPainter>

NSTableRowView::NSTableRowView(QWidget* parent)
    : QWidget(parent)
{
}

void NSTableRowView::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void NSTableRowView::setSelectionHighlightStyle(NSTableViewSelectionHighlightStyle style)
{
    if (m_highlightStyle == style)
        return;
    m_highlightStyle = style;
    update();
}

NSBackgroundStyle NSTableRowView::interiorBackgroundStyle() const
{
    return m_selected && m_highlightStyle != NSTableViewSelectionHighlightStyleNone ? NSBackgroundStyleEmphasized
                                                                                    : NSBackgroundStyleNormal;
}

void NSTableRowView::drawSelectionInRect(QPainter& painter, const QRectF& rect)
{
    if (m_highlightStyle == NSTableViewSelectionHighlightStyleNone)
        return;
    painter.fillRect(rect, palette().color(QPalette::Active, QPalette::Highlight));
}

void NSTableRowView::paintEvent(QPaintEvent*)
{
    if (!m_selected)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawSelectionInRect(painter, QRectF(rect()));
}
