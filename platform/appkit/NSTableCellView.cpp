#include "NSTableCellView.h"

#include <QPalette>

NSTableCellView::NSTableCellView(QWidget* parent)
    : QWidget(parent)
{
}

void NSTableCellView::setBackgroundStyle(NSBackgroundStyle style)
{
    if (m_backgroundStyle == style)
        return;
    m_backgroundStyle = style;
    if (style == NSBackgroundStyleEmphasized) {
        QPalette emphasized = palette();
        const QColor text = emphasized.color(QPalette::HighlightedText);
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            emphasized.setColor(role, text);
        setPalette(emphasized);
    } else {
        // An empty palette inherits the row's again.
        setPalette(QPalette());
    }
}
