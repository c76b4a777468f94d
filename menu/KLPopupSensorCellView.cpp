#include "KLPopupSensorCellView.h"

#include <QLabel>

KLPopupSensorCellView::KLPopupSensorCellView(QWidget* parent)
    : KLSensorCellView(parent)
{
    awakeFromNib();
}

void KLPopupSensorCellView::awakeFromNib()
{
    KLSensorCellView::awakeFromNib();
    QFont font = titleField()->font();
    font.setPixelSize(12);
    font.setWeight(QFont::Light);
    titleField()->setFont(font);
}
