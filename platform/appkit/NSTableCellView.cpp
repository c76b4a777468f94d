#include "NSTableCellView.h"

NSTableCellView::NSTableCellView(QWidget* parent)
    : QWidget(parent)
{
}
