#include "KLNotificationsManager.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "KLDataManager.h"
#include "KLFanController.h"
#include "KLSensor.h"
#include "KLUtils.h"
#include "NSDistributedNotificationCenter.h"
#include "NSString+KLExtension.h"

namespace {

// Ticks since the last overheat check, for the life of the process.
int32_t overheatTickCounter = 0;

constexpr double kOverheatCheckSpan = 10.0;

const QString kSensorKey = QStringLiteral("sensorKey");

// Whole degrees in the chosen unit against the rule's threshold; not a number never reaches it.
bool reachesThreshold(KLSensor* sensor, const std::optional<double>& threshold, bool celsius)
{
    if (!sensor || !threshold)
        return false;
    const double value = std::round(sensor->convertedValue(celsius));
    return !std::isnan(value) && !std::isnan(*threshold) && value >= *threshold;
}

}  // namespace

KLNotificationsManager& KLNotificationsManager::sharedInstance()
{
    static KLNotificationsManager manager;
    return manager;
}

KLNotificationsManager::KLNotificationsManager()
    : KLNotificationsManager(NSUserNotificationCenter::defaultUserNotificationCenter(), &KLUtils::loadMainApp)
{
}

KLNotificationsManager::KLNotificationsManager(NSUserNotificationCenter& center, std::function<bool()> loadMainApp)
    : m_center(center)
    , m_loadMainApp(std::move(loadMainApp))
{
    // The poll loop's own ticks, in this process, count towards the checks.
    NSNotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(KLKelvaraTempDidChangeNotification),
        [this](const NSNotification& notice) { kelvaraTempDidChangeNotification(notice); });
    auto& distributed = NSDistributedNotificationCenter::defaultCenter();
    distributed.addObserver(this, QString::fromLatin1(KLFanControllerAutoBoostActiveNotification),
                            [this](const NSNotification& notice) { fanControllerAutoBoostActiveNotification(notice); });
    // Now rather than at the first delivery, so a click on a notice that an
    // earlier run left on screen still switches its rule off or opens Kelvara.
    m_center.setDelegate(this);
}

KLNotificationsManager::~KLNotificationsManager()
{
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
    NSNotificationCenter::defaultCenter().removeObserver(this);
    if (m_center.delegate() == this)
        m_center.setDelegate(nullptr);
}

void KLNotificationsManager::kelvaraTempDidChangeNotification(const NSNotification&)
{
    overheatTickCounter += 1;
    // Read at every tick, so a frequency change never leaves the counter short of a target it cannot reach.
    const double target = kOverheatCheckSpan / KLDataManager::sharedInstance().updateInterval();
    if (static_cast<double>(overheatTickCounter) >= target) {
        overheatTickCounter = 0;
        checkForFireOverheatNotification();
    }
}

void KLNotificationsManager::checkForFireOverheatNotification()
{
    // The list, its sensors and the temperature sensors are each read once per
    // check, and the rules that fired once are switched off in one write: the
    // cost grows with the rules, not with their square.
    QHash<QString, KLSensor*> sensors;
    const QList<KLNotification> rules =
        KLDataManager::sharedInstance().overheatNotifications(&sensors).value_or(QList<KLNotification>());
    if (rules.isEmpty())
        return;
    // The list's own read fetched the sensors its rules name, unless it was the
    // default list just made.
    const bool namesASensor = std::any_of(rules.begin(), rules.end(), [](const KLNotification& rule) {
        return rule.active.value_or(false) && rule.sensorKey != QLatin1String(KLNotificationAnySensorKey);
    });
    if (sensors.isEmpty() && namesASensor)
        sensors = KLSensor::sensorsByKey();
    const bool celsius = KLDataManager::sharedInstance().tempUnitCelsius();
    std::optional<QList<KLSensor*>> temperatures;
    QList<KLNotification> firedOnce;
    for (const KLNotification& rule : rules) {
        if (!rule.active.value_or(false))
            continue;
        KLSensor* hot = nullptr;
        if (rule.sensorKey == QLatin1String(KLNotificationAnySensorKey)) {
            if (!temperatures)
                temperatures = KLSensor::tempSensors().value_or(QList<KLSensor*>());
            // The first hot sensor in catalogue order, not the hottest.
            for (KLSensor* sensor : std::as_const(*temperatures)) {
                if (reachesThreshold(sensor, rule.threshold, celsius)) {
                    hot = sensor;
                    break;
                }
            }
        } else if (KLSensor* sensor = rule.sensor(sensors); reachesThreshold(sensor, rule.threshold, celsius)) {
            hot = sensor;
        }
        if (!hot)
            continue;
        deliverOverheatNotification(rule, hot);
        if (!rule.repeat.value_or(false))
            firedOnce.append(rule);
    }
    switchOff(firedOnce);
}

void KLNotificationsManager::fireOverheatNotification(KLNotification rule, KLSensor* sensor)
{
    deliverOverheatNotification(rule, sensor);
    if (!rule.repeat.value_or(false))
        switchOff({rule});
}

void KLNotificationsManager::switchOff(const QList<KLNotification>& fired)
{
    if (fired.isEmpty())
        return;
    // Read anew: the list may have changed since the check read it.
    KLDataManager& settings = KLDataManager::sharedInstance();
    std::optional<QList<KLNotification>> rules = settings.overheatNotifications();
    if (!rules)
        return;
    QHash<QString, qsizetype> firstOfKey;
    for (qsizetype i = rules->size() - 1; i >= 0; --i)
        firstOfKey.insert(rules->at(i).sensorKey, i);
    for (KLNotification rule : fired) {
        rule.active = false;
        const qsizetype index = firstOfKey.value(rule.sensorKey, -1);
        if (index >= 0)
            rules->replace(index, rule);
    }
    settings.setOverheatNotifications(*rules);
}

void KLNotificationsManager::deliverOverheatNotification(const KLNotification& rule, KLSensor* sensor)
{
    const bool repeats = rule.repeat.value_or(false);
    NSUserNotification notification;
    notification.title = KLExtension::localizedStringForKey(QStringLiteral("overheat-notification-title"));
    notification.informativeText =
        stringWithFormat(KLExtension::localizedStringForKey(QStringLiteral("overheat-notification-informative-text")),
                         {sensor ? sensor->name() : QString(), sensor ? sensor->fullStringValue() : QString()});
    notification.soundName = QString::fromLatin1(NSUserNotificationDefaultSoundName);
    notification.hasActionButton = repeats;
    notification.actionButtonTitle = KLExtension::localizedStringForKey(QStringLiteral("overheat-notification-action-button"));
    // The rule's key, "any-sensor" included: the button switches off the rule, not a sensor.
    notification.userInfo.insert(kSensorKey, rule.sensorKey);
    deliver(notification);
}

void KLNotificationsManager::fanControllerAutoBoostActiveNotification(const NSNotification& notification)
{
    if (KLDataManager::sharedInstance().autoBoostNotificationEnabled())
        fireAutoBoostNotification(notification);
}

void KLNotificationsManager::fireAutoBoostNotification(const NSNotification& notification)
{
    const QVariantMap& info = notification.userInfo;
    NSUserNotification notice;
    notice.title = KLExtension::localizedStringForKey(QStringLiteral("fan-control-auto-boost-notification-title"));
    notice.informativeText = stringWithFormat(
        KLExtension::localizedStringForKey(QStringLiteral("fan-control-auto-boost-notification-informative-text")),
        {info.value(QStringLiteral("sensorName")).toString(), info.value(QStringLiteral("sensorValue")).toString(),
         info.value(QStringLiteral("fanSetName")).toString()});
    deliver(notice);
}

void KLNotificationsManager::deliver(const NSUserNotification& notification)
{
    m_center.setDelegate(this);
    m_center.deliverNotification(notification);
}

void KLNotificationsManager::didActivateNotification(NSUserNotificationCenter& center,
                                                     const NSUserNotification& notification)
{
    center.removeDeliveredNotification(notification);
    if (notification.activationType != NSUserNotificationActivationTypeActionButtonClicked) {
        m_loadMainApp();
        return;
    }
    const QString key = notification.userInfo.value(kSensorKey).toString();
    KLDataManager& settings = KLDataManager::sharedInstance();
    std::optional<QList<KLNotification>> rules = settings.overheatNotifications();
    if (!rules)
        return;
    for (KLNotification& rule : *rules)
        if (rule.sensorKey == key)
            rule.active = false;
    settings.setOverheatNotifications(*rules);
}

QString KLNotificationsManager::stringWithFormat(const QString& format, const QStringList& arguments)
{
    QString text;
    text.reserve(format.size());
    qsizetype next = 0;
    const auto argument = [&arguments](qsizetype index) {
        return index >= 0 && index < arguments.size() ? arguments.at(index) : QString();
    };
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != u'%' || i + 1 >= format.size()) {
            text += c;
            continue;
        }
        if (format.at(i + 1) == u'%') {
            text += u'%';
            ++i;
            continue;
        }
        if (format.at(i + 1) == u'@') {
            text += argument(next++);
            ++i;
            continue;
        }
        qsizetype end = i + 1;
        while (end < format.size() && format.at(end).isDigit())
            ++end;
        if (end > i + 1 && end + 1 < format.size() && format.at(end) == u'$' && format.at(end + 1) == u'@') {
            text += argument(QStringView(format).mid(i + 1, end - i - 1).toInt() - 1);
            i = end + 1;
            continue;
        }
        text += c;
    }
    return text;
}
