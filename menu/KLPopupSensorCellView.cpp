#include "KLPopupSensorCellView.h"

#include <QLabel>
#include <QLayout>

#include "KLLevelIndicator.h"

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
    // A 20-point row: no room above or below, and a shorter bar leaves the name more.
    if (layout())
        layout()->setContentsMargins(10, 0, 10, 0);
    indicator()->setFixedWidth(64);
}
