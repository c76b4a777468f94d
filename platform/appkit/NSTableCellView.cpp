#include "NSTableCellView.h"

NSTableCellView::NSTableCellView(QWidget* parent)
    : QWidget(parent)
{
}

void NSTableCellView::setBackgroundStyle(NSBackgroundStyle style)
{
    m_backgroundStyle = style;
}
