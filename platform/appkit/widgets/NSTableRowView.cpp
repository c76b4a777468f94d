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
    updateInteriorPalette();
    update();
}

void NSTableRowView::updateInteriorPalette()
{
    // Texts of every widget in the row follow; an empty palette inherits again.
    if (interiorBackgroundStyle() != NSBackgroundStyleEmphasized) {
        setPalette(QPalette());
        return;
    }
    QPalette emphasized = palette();
    const QColor text = emphasized.color(QPalette::Active, QPalette::HighlightedText);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        emphasized.setColor(role, text);
    setPalette(emphasized);
}

void NSTableRowView::setSelectionHighlightStyle(NSTableViewSelectionHighlightStyle style)
{
    if (m_highlightStyle == style)
        return;
    m_highlightStyle = style;
    updateInteriorPalette();
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
