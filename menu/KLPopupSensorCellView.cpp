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
    // A 20-point row: the shared row's 34-point floor would push the texts
    // below the row's bottom, so the cell takes the row's height and every
    // part sits centred in it. A shorter bar leaves the name more.
    setMinimumHeight(0);
    if (layout()) {
        layout()->setContentsMargins(10, 0, 10, 0);
        layout()->setSpacing(6);
        for (QWidget* part : {static_cast<QWidget*>(iconImageView()), static_cast<QWidget*>(titleField()),
                              static_cast<QWidget*>(indicator()), static_cast<QWidget*>(valueField())})
            layout()->setAlignment(part, Qt::AlignVCenter);
    }
    iconImageView()->setFixedSize(14, 14);
    indicator()->setFixedSize(56, 10);
    QFont value = valueField()->font();
    value.setPixelSize(12);
    valueField()->setFont(value);
    valueField()->setMinimumWidth(44);
}
