#include "KLNotiSensorCellView.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <algorithm>

#include "KLDataManager.h"
#include "KLNotiRuleStore.h"
#include "KLSensor.h"
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
    QComboBox* popUp = ui->namePopUpButton;
    const QSignalBlocker quiet(popUp);
    popUp->clear();
    popUp->addItem(KLExtension::localizedStringForKey(QStringLiteral("sensor-any-title")));
    popUp->insertSeparator(1);
    for (KLSensor* sensor : m_sensors)
        popUp->addItem(QStringLiteral("%1 (%2)").arg(orDashes(sensor->name()), orDashes(sensor->key())));
    int selected = 0;
    const QString key = m_notification ? m_notification->sensorKey : QString();
    if (key != QLatin1String(KLNotiAnySensorKey)) {
        const auto found = std::find_if(m_sensors.cbegin(), m_sensors.cend(),
                                        [&key](KLSensor* sensor) { return sensor->key() == key; });
        if (found != m_sensors.cend())
            selected = 2 + int(found - m_sensors.cbegin());
    }
    popUp->setCurrentIndex(selected);
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
