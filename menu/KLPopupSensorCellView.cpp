#include "KLPopupSensorCellView.h"

#include <QLabel>
#include <QLayout>

#include "KLCategory.h"
#include "KLLevelIndicator.h"
#include "KLSensor.h"

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
    // part sits centred in it. A shorter bar and tighter gaps leave the name
    // room for the longest sensor names.
    setMinimumHeight(0);
    if (layout()) {
        layout()->setContentsMargins(10, 0, 8, 0);
        layout()->setSpacing(5);
        for (QWidget* part : {static_cast<QWidget*>(iconImageView()), static_cast<QWidget*>(titleField()),
                              static_cast<QWidget*>(indicator()), static_cast<QWidget*>(valueField())})
            layout()->setAlignment(part, Qt::AlignVCenter);
    }
    iconImageView()->setFixedSize(14, 14);
    indicator()->setFixedSize(40, 10);
    QFont value = valueField()->font();
    value.setPixelSize(12);
    valueField()->setFont(value);
    valueField()->setMinimumWidth(44);
    m_valueCategoryType = -1;
}

void KLPopupSensorCellView::updateUI()
{
    KLSensorCellView::updateUI();
    // The value keeps the room of its kind's widest reading ("000°",
    // "0000 rpm"), so the bars of a section line up and a temperature row
    // leaves its name what a voltage's value would need.
    const int type = sensor() ? sensor()->categoryType() : -1;
    if (type == m_valueCategoryType)
        return;
    m_valueCategoryType = type;
    if (type < 0) {
        valueField()->setMinimumWidth(44);
        return;
    }
    const double widest = type == KLCategoryTypeTemperature ? 199 : type == KLCategoryTypeFan ? 9999 : 99.99;
    QString reading = KLSensor::fullStringFromValue(widest, type, false);
    for (QChar& character : reading)
        if (character.isDigit())
            character = QLatin1Char('0');
    valueField()->setMinimumWidth(valueField()->fontMetrics().horizontalAdvance(reading) + 1);
}
