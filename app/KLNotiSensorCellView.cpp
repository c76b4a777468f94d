#include "KLNotiSensorCellView.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <algorithm>

#include "KLDataManager.h"
#include "KLNotiRuleStore.h"
#include "KLSensor.h"
#include "KLSensorPopUp.h"
#include "NSAlert.h"
#include "NSString+KLExtension.h"
#include "ui_KLNotiSensorCellView.h"

namespace {

QString orDashes(const QString& text) { return text.isNull() ? QStringLiteral("--") : text; }

}  // namespace

KLNotiSensorCellView::KLNotiSensorCellView(QWidget* parent)
    : NSTableCellView(parent)
    , ui(std::make_unique<Ui::KLNotiSensorCellView>())
    , m_sensors(KLSensor::tempSensors().value_or(QList<KLSensor*>()))
{
    ui->setupUi(this);
    connect(ui->namePopUpButton, &QComboBox::activated, this, &KLNotiSensorCellView::namePopUpButtonTapped);
}

KLNotiSensorCellView::~KLNotiSensorCellView() = default;

void KLNotiSensorCellView::setNotification(const KLNotification& notification)
{
    m_notification = notification;
    updateUI();
}

void KLNotiSensorCellView::updateUI()
{
    KLSensorPopUp::fill(ui->namePopUpButton, m_sensors, m_notification ? m_notification->sensorKey : QString(),
                        QString::fromLatin1(KLNotiAnySensorKey), orDashes);
}

void KLNotiSensorCellView::namePopUpButtonTapped(int index)
{
    if (!m_notification || index == 1)
        return;
    QList<KLNotification> list = KLNotiRuleStore::rules();
    const qsizetype i = list.indexOf(*m_notification);
    if (i < 0)
        return;
    const auto watched = [&list](const QString& key) {
        return std::any_of(list.cbegin(), list.cend(), [&key](const KLNotification& rule) { return rule.sensorKey == key; });
    };
    if (index == 0) {
        if (watched(QLatin1String(KLNotiAnySensorKey)))
            return showDuplicateAlert();
        list[i].sensorKey = QLatin1String(KLNotiAnySensorKey);
    } else {
        if (index - 2 >= m_sensors.size())
            return;
        KLSensor* sensor = m_sensors.at(index - 2);
        if (watched(sensor->key()))
            return showDuplicateAlert();
        list[i].sensorKey = sensor->key();
        list[i].sensorName = sensor->name();
    }
    m_notification = list[i];
    KLDataManager::sharedInstance().setOverheatNotifications(list);
}

void KLNotiSensorCellView::showDuplicateAlert()
{
    NSAlert alert;
    alert.setMessageText(QString::fromLatin1(kDuplicateAlertMessage));
    alert.addButtonWithTitle(QStringLiteral("OK"));
    alert.setAlertStyle(NSAlertStyleInformational);
    alert.runModal(window());
    updateUI();
}

QComboBox* KLNotiSensorCellView::namePopUpButton() const { return ui->namePopUpButton; }
