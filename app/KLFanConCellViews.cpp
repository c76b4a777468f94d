#include "KLFanConCellViews.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <QToolButton>
#include <climits>
#include <cmath>

#include "KLFanCondition.h"
#include "KLFanSet.h"
#include "KLSensor.h"
#include "KLSensorPopUp.h"
#include "KLUtils.h"
#include "NSColor+KLExtension.h"
#include "NSString+KLExtension.h"
#include "ui_KLFanConBatteryStateCellView.h"
#include "ui_KLFanConDeleteCellView.h"
#include "ui_KLFanConFanSetCellView.h"
#include "ui_KLFanConSensorCellView.h"
#include "ui_KLFanConThresholdCellView.h"

namespace {

void useCellFont(QWidget* widget)
{
    QFont text = widget->font();
    text.setPixelSize(12);
    widget->setFont(text);
}

QString orDashes(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("--") : text;
}

}  // namespace

// Sensor

KLFanConSensorCellView::KLFanConSensorCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLFanConSensorCellView>())
{
    ui->setupUi(this);
    useCellFont(ui->namePopUpButton);
    m_sensors = KLSensor::tempSensors().value_or(QList<KLSensor*>());
    connect(ui->namePopUpButton, &QComboBox::activated, this, &KLFanConSensorCellView::namePopUpButtonTapped);
}

KLFanConSensorCellView::~KLFanConSensorCellView() = default;

void KLFanConSensorCellView::setFanCondition(KLFanCondition* condition)
{
    m_fanCondition = condition;
    updateUI();
}

void KLFanConSensorCellView::updateUI()
{
    KLSensorPopUp::fill(ui->namePopUpButton, m_sensors, m_fanCondition ? m_fanCondition->sensorKey() : QString(),
                        QString::fromLatin1(KLAnySensorKey), orDashes);
}

void KLFanConSensorCellView::namePopUpButtonTapped(int index)
{
    if (!m_fanCondition)
        return;
    if (index == 0)
        m_fanCondition->setSensorKey(QString::fromLatin1(KLAnySensorKey));
    else if (index >= 2 && index - 2 < m_sensors.size())
        m_fanCondition->setSensorKey(m_sensors[index - 2]->key());
}

QComboBox* KLFanConSensorCellView::namePopUpButton() const { return ui->namePopUpButton; }

// Threshold

KLFanConThresholdCellView::KLFanConThresholdCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLFanConThresholdCellView>())
{
    ui->setupUi(this);
    useCellFont(ui->thresholdTextField);
    ui->thresholdTextField->setCustomDelegate(this);
    connect(ui->thresholdTextField, &QLineEdit::editingFinished, this,
            &KLFanConThresholdCellView::controlTextDidEndEditing);
}

KLFanConThresholdCellView::~KLFanConThresholdCellView() = default;

void KLFanConThresholdCellView::setFanCondition(KLFanCondition* condition)
{
    m_fanCondition = condition;
    updateUI();
}

void KLFanConThresholdCellView::updateUI()
{
    KLExtension::setTableFieldColors(ui->thresholdTextField);
    const int threshold = m_fanCondition ? KLUtils::truncatedInt(m_fanCondition->threshold()) : 0;
    ui->thresholdTextField->setText(
        QStringLiteral("%1 %2").arg(threshold).arg(KLSensor::unitStringFromCategoryType(0, false)));
}

bool KLFanConThresholdCellView::textFieldDidBecomeFirstResponder(KLTextField*)
{
    ui->thresholdTextField->setText(QString::number(m_fanCondition ? KLUtils::truncatedInt(m_fanCondition->threshold()) : 0));
    return true;
}

std::optional<double> KLFanConThresholdCellView::thresholdFromText(const QString& text)
{
    QString number = text.trimmed();
    // The shown form ("80 °C") reads as its number.
    const QString unit = KLSensor::unitStringFromCategoryType(0, false);
    if (!unit.isEmpty() && number.endsWith(unit))
        number = number.chopped(unit.size()).trimmed();
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void KLFanConThresholdCellView::controlTextDidEndEditing()
{
    if (!m_fanCondition)
        return;
    // Text that is no number is refused: the field shows the stored threshold again.
    if (const std::optional<double> typed = thresholdFromText(ui->thresholdTextField->text()))
        m_fanCondition->setThreshold(*typed);
    updateUI();
}

KLTextField* KLFanConThresholdCellView::thresholdTextField() const { return ui->thresholdTextField; }

// Power state

KLFanConBatteryStateCellView::KLFanConBatteryStateCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLFanConBatteryStateCellView>())
{
    ui->setupUi(this);
    useCellFont(ui->namePopUpButton);
    connect(ui->namePopUpButton, &QComboBox::activated, this, &KLFanConBatteryStateCellView::namePopUpButtonTapped);
}

KLFanConBatteryStateCellView::~KLFanConBatteryStateCellView() = default;

void KLFanConBatteryStateCellView::setFanCondition(KLFanCondition* condition)
{
    m_fanCondition = condition;
    updateUI();
}

void KLFanConBatteryStateCellView::updateUI()
{
    QComboBox* popUp = ui->namePopUpButton;
    const QSignalBlocker quiet(popUp);
    popUp->clear();
    for (const char* key : {"battery-state-any-title", "battery-state-charging-title",
                            "battery-state-discharging-title", "battery-state-ac-title"})
        popUp->addItem(KLExtension::localizedStringForKey(QString::fromLatin1(key)));
    popUp->setCurrentIndex(m_fanCondition ? m_fanCondition->batteryState() : 0);
}

void KLFanConBatteryStateCellView::namePopUpButtonTapped(int index)
{
    if (m_fanCondition && index >= 0 && index <= 3)
        m_fanCondition->setBatteryState(index);
}

QComboBox* KLFanConBatteryStateCellView::namePopUpButton() const { return ui->namePopUpButton; }

// Fan set

KLFanConFanSetCellView::KLFanConFanSetCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLFanConFanSetCellView>())
{
    ui->setupUi(this);
    useCellFont(ui->namePopUpButton);
    connect(ui->namePopUpButton, &QComboBox::activated, this, &KLFanConFanSetCellView::namePopUpButtonTapped);
}

KLFanConFanSetCellView::~KLFanConFanSetCellView() = default;

void KLFanConFanSetCellView::setFanCondition(KLFanCondition* condition)
{
    m_fanCondition = condition;
    updateUI();
}

void KLFanConFanSetCellView::updateUI()
{
    QComboBox* popUp = ui->namePopUpButton;
    const QSignalBlocker quiet(popUp);
    popUp->clear();
    for (KLFanSet* fanSet : m_fanSets)
        popUp->addItem(orDashes(fanSet->name()));
    const qsizetype at = m_fanCondition ? m_fanSets.indexOf(m_fanCondition->fanSet()) : -1;
    popUp->setCurrentIndex(at < 0 ? 0 : int(at));
}

void KLFanConFanSetCellView::prepareForReuse()
{
    m_fanCondition = nullptr;
    m_fanSets.clear();
}

void KLFanConFanSetCellView::namePopUpButtonTapped(int index)
{
    if (m_fanCondition && index >= 0 && index < m_fanSets.size())
        m_fanCondition->setFanSet(m_fanSets[index]);
}

QComboBox* KLFanConFanSetCellView::namePopUpButton() const { return ui->namePopUpButton; }

// Delete

KLFanConDeleteCellView::KLFanConDeleteCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLFanConDeleteCellView>())
{
    ui->setupUi(this);
    connect(ui->deleteButton, &QToolButton::clicked, this, &KLFanConDeleteCellView::deleteButtonTapped);
}

KLFanConDeleteCellView::~KLFanConDeleteCellView() = default;

void KLFanConDeleteCellView::prepareForReuse()
{
    m_fanCondition = nullptr;
    m_delegate = nullptr;
}

void KLFanConDeleteCellView::deleteButtonTapped()
{
    if (m_delegate && m_fanCondition)
        m_delegate->fanConDeleteCellViewShouldDeleteFanCondition(m_fanCondition);
}

QToolButton* KLFanConDeleteCellView::deleteButton() const { return ui->deleteButton; }
