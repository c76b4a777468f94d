#include "KLDataManager.h"

#include "Dispatch.h"
#include "KLCategory.h"
#include "KLDataBuilder.h"
#include "KLFanCondition.h"
#include "NSNotificationCenter.h"
#include <QFile>
#include <QSet>
#include <cmath>
#include <cstdio>
#include "KLCoreDataHelper.h"
#include "KLSensor.h"
#include "KLUtils.h"
#include "NSBundle.h"
#include "NSDate+KLExtension.h"
#include "NSDistributedNotificationCenter.h"
#include "PropertyList.h"

KLDataManager::Program KLDataManager::currentProgram()
{
    const QString identifier = NSBundle::mainBundle().bundleIdentifier();
    if (identifier == QLatin1String("com.orvane.kelvara.helper"))
        return Program::Helper;
    if (identifier == QLatin1String("com.orvane.kelvara.menu"))
        return Program::MenuBar;
    return Program::Main;
}

KLDataManager& KLDataManager::sharedInstance()
{
    static KLDataManager manager;
    return manager;
}

KLDataManager::KLDataManager(Program program)
    : m_program(program)
    , m_userDefaults(std::make_unique<NSUserDefaults>(QString::fromLatin1(KLAppGroupSuiteName)))
    , m_allLanguages({QStringLiteral("en"), QStringLiteral("fr"), QStringLiteral("de"), QStringLiteral("es"),
                      QStringLiteral("vi")})
{
    if (m_program == Program::Main)
        setupDatabase();
    // The helper wrote what its own tick announces: hearing it would only wake it.
    if (m_program != Program::Helper)
        NSDistributedNotificationCenter::defaultCenter().addObserver(
            this, QString::fromLatin1(KLKelvaraTempDidChangeNotification),
            [this](const NSNotification&) { kelvaraTempDidChangeNotification(); });
}

KLDataManager::~KLDataManager()
{
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
}

void KLDataManager::kelvaraTempDidChangeNotification()
{
    // The windowed programs show what the helper just saved; the helper itself wrote it.
    if (m_program == Program::Helper)
        return;
    KLCoreDataHelper::sharedInstance().refreshAllObjectsInMasterContext([] {
        NSNotificationCenter::defaultCenter().postNotificationName(
            QString::fromLatin1(KLDataManagerReadingsDidRefreshNotification));
    });
}

void KLDataManager::setupDatabase()
{
    // Files of a storage format that is no longer read.
    const QString container = KLCoreDataHelper::sharedInstance().applicationDocumentsDirectory();
    const QString legacy = container + QStringLiteral("/db.realm");
    if (!container.isEmpty() && QFile::exists(legacy)) {
        QFile::remove(legacy);
        for (const char* extension : {"lock", "note", "management"})
            QFile::remove(legacy + QLatin1Char('.') + QLatin1String(extension));
    }
    KLDataBuilder::generateDataSet();
    dispatch_after_seconds(1.0, dispatch_get_main_queue(), [] {
        NSNotificationCenter::defaultCenter().postNotificationName(
            QString::fromLatin1(KLDataManagerDidGenerateDatasetNotification));
    });
}

void KLDataManager::post(const char* notice)
{
    const QString name = QString::fromLatin1(notice);
    // Queued after the write, so a receiver that reads the suite sees the new value.
    dispatch_async(dispatch_get_main_queue(),
                   [name] { NSDistributedNotificationCenter::defaultCenter().postNotificationName(name, {}, {}, true); });
}

namespace {
// Menu keys kept without a sensor, so that they still read as "--" before the catalogue is built.
constexpr qsizetype kMenuKeyFloor = 8;
// Keys naming no sensor now that a list keeps, where it keeps them at all: a
// sensor that comes back is shown (or logged) again, but a list full of
// strange keys stays small.
constexpr qsizetype kMostUnknownSensorKeys = 8;

// The fetch of the sensors of a few keys at once.
NSPredicate keyIsOneOf(const QStringList& keys)
{
    QStringList terms;
    QVariantList arguments;
    for (const QString& key : keys) {
        terms.append(QStringLiteral("key = %@"));
        arguments.append(key);
    }
    return NSPredicate::predicateWithFormat(terms.join(QLatin1String(" OR ")), arguments);
}

// The first of the fetched sensors of each key, by key.
void addFirstOfEachKey(const QList<KLSensor*>& found, QHash<QString, KLSensor*>& byKey)
{
    for (KLSensor* sensor : found) {
        const QString key = sensor->key();
        if (!byKey.contains(key))
            byKey.insert(key, sensor);
    }
}
}  // namespace

// The keys of a stored list that name a sensor of the store, each once, in
// order; never more than the store has sensors, however long the list. With
// keepUnknown, also the first few keys without a sensor (the menu shows them
// as "--"), counted on their own: they never take a real sensor's place.
QStringList KLDataManager::knownSensorKeys(const QVariantList& stored, ReadList& read, bool keepUnknown,
                                           QHash<QString, KLSensor*>* sensorsRead)
{
    const QHash<QString, KLSensor*> sensors = KLSensor::sensorsByKey();
    if (sensorsRead)
        *sensorsRead = sensors;
    if (read.stored.isSharedWith(stored) && read.sensors == sensors)
        return read.keys;
    QStringList kept;
    QSet<QString> seen;
    qsizetype known = 0;
    qsizetype unknown = 0;
    const qsizetype mostUnknown = keepUnknown ? kMostUnknownSensorKeys : 0;
    for (const QVariant& entry : stored) {
        if (known >= sensors.size() && unknown >= mostUnknown)
            break;
        if (entry.typeId() != QMetaType::QString)
            continue;
        const QString key = entry.toString();
        const bool isKnown = sensors.contains(key);
        if (seen.contains(key) || (isKnown ? known >= sensors.size() : unknown >= mostUnknown))
            continue;
        seen.insert(key);
        ++(isKnown ? known : unknown);
        kept.append(key);
    }
    read.stored = stored;
    read.sensors = sensors;
    read.keys = kept;
    return kept;
}

KLSensor* KLDataManager::mainSensor()
{
    if (!m_mainSensor) {
        const QList<KLSensor*> found = KLSensor::objectsWhere(NSPredicate::withFormat(QStringLiteral("key = 'TC0P'")));
        if (!found.isEmpty())
            m_mainSensor = found.first();
    }
    return m_mainSensor;
}

std::optional<QStringList> KLDataManager::menuSensors(QHash<QString, KLSensor*>* sensorsRead)
{
    const QVariant stored = m_userDefaults->objectForKey(KLMenuSensorsKey);
    if (stored.typeId() == QMetaType::QVariantList) {
        // What the file holds is left as it is; only what can be shown is read.
        const QVariantList list = stored.toList();
        ReadMenuList& read = m_readMenuList;
        if (!read.stored.isSharedWith(list)) {
            read.stored = list;
            read.keys.clear();
            QSet<QString> seen;
            for (const QVariant& entry : list) {
                if (read.keys.size() > kMenuKeyFloor)
                    break;
                if (entry.typeId() != QMetaType::QString || seen.contains(entry.toString()))
                    continue;
                seen.insert(entry.toString());
                read.keys.append(entry.toString());
            }
            read.sensorsOfKeys = keyIsOneOf(read.keys);
        }
        if (sensorsRead)
            sensorsRead->clear();
        if (read.keys.size() > kMenuKeyFloor) {
            // Beyond the floor the catalogue's size bounds the keys of sensors and the
            // others are bounded on their own: that takes the whole catalogue.
            QHash<QString, KLSensor*> sensors;
            m_menuSensors = knownSensorKeys(list, m_readMenuSensors, true, &sensors);
            for (const QString& key : std::as_const(m_menuSensors)) {
                if (KLSensor* sensor = sensorsRead ? sensors.value(key) : nullptr)
                    sensorsRead->insert(key, sensor);
            }
            return m_menuSensors;
        }
        // Up to the floor every key is kept whatever the catalogue holds, and only
        // the chosen sensors are read, whenever they are asked for: a sensor that
        // comes or goes shows at the next read.
        m_menuSensors = read.keys;
        if (sensorsRead && !read.keys.isEmpty())
            addFirstOfEachKey(KLSensor::objectsWhere(read.sensorsOfKeys), *sensorsRead);
        return m_menuSensors;
    }
    KLSensor* sensor = mainSensor();
    if (!sensor)
        return std::nullopt;
    m_menuSensors = QStringList{sensor->key()};
    if (sensorsRead)
        *sensorsRead = {{m_menuSensors.first(), sensor}};
    return m_menuSensors;
}

void KLDataManager::setMenuSensors(const QStringList& keys)
{
    m_menuSensors = keys;
    m_userDefaults->setObject(QVariant(keys).toList(), KLMenuSensorsKey);
    post(KLDataManagerMenuSensorsDidChangeNotification);
}

bool KLDataManager::manualLinkEnabled()
{
    return m_userDefaults->boolForKey(KLFanControllerManualLinkEnabledKey);
}

void KLDataManager::setManualLinkEnabled(bool enabled)
{
    m_userDefaults->setBool(enabled, KLFanControllerManualLinkEnabledKey);
    post(KLDataManagerSettingsDidChangeNotification);
}

bool KLDataManager::autoBoostNotificationEnabled()
{
    return m_userDefaults->boolForKey(KLFanControllerAutoBoostNotificationEnabledKey);
}

void KLDataManager::setAutoBoostNotificationEnabled(bool enabled)
{
    m_userDefaults->setBool(enabled, KLFanControllerAutoBoostNotificationEnabledKey);
}

unsigned KLDataManager::fanControlMode()
{
    return fanControlModeMeaning(m_userDefaults->integerForKey(KLFanControllerModeKey));
}

unsigned KLDataManager::fanControlModeMeaning(long long stored)
{
    // The fan controller drives any other number as auto boost; every reader agrees with it.
    if (stored == KLFanControlModeSystem || stored == KLFanControlModeFanSet)
        return static_cast<unsigned>(stored);
    return KLFanControlModeAutoBoost;
}

void KLDataManager::setFanControlMode(unsigned mode)
{
    m_userDefaults->setInteger(mode, KLFanControllerModeKey);
}

QString KLDataManager::fanSetName()
{
    return m_userDefaults->stringForKey(KLFanControllerFanSetNameKey);
}

void KLDataManager::setFanSetName(const QString& name)
{
    m_userDefaults->setObject(name.isNull() ? QVariant() : QVariant(name), KLFanControllerFanSetNameKey);
}

bool KLDataManager::didAutoBoost()
{
    return m_userDefaults->boolForKey(KLFanControllerDidAutoBoostKey);
}

void KLDataManager::setDidAutoBoost(bool value)
{
    m_userDefaults->setBool(value, KLFanControllerDidAutoBoostKey);
}

bool KLDataManager::fileLoggingEnabled()
{
    return m_userDefaults->boolForKey(KLFileLoggingEnabledKey);
}

void KLDataManager::setFileLoggingEnabled(bool enabled)
{
    m_userDefaults->setBool(enabled, KLFileLoggingEnabledKey);
}

QString KLDataManager::fileLoggingPath()
{
    // Only text is a path: a number stored here would name a file in the working folder.
    const QVariant stored = m_userDefaults->objectForKey(KLFileLoggingPathKey);
    if (stored.typeId() == QMetaType::QString)
        return stored.toString();
    return KLUtils::documentsPath() + QLatin1Char('/') + QString::fromLatin1(KLFileLoggingDefaultFileName);
}

void KLDataManager::setFileLoggingPath(const QString& path)
{
    m_userDefaults->setObject(path.isNull() ? QVariant() : QVariant(path), KLFileLoggingPathKey);
}

QStringList KLDataManager::fileLoggingSensorKeys(QHash<QString, KLSensor*>* sensorsRead)
{
    const QVariant stored = m_userDefaults->objectForKey(KLFileLoggingSensorsKey);
    if (stored.typeId() == QMetaType::QVariantList)
        return knownSensorKeys(stored.toList(), m_readLoggedSensors, false, sensorsRead);
    QStringList keys;
    for (KLCategory* category : KLCategory::allObjects()) {
        for (KLSensor* sensor : category->sensors())
            keys.append(sensor->key());
    }
    if (!keys.isEmpty())
        storeDefaultOnce(KLFileLoggingSensorsKey, QVariant(keys).toList());
    return keys;
}

QStringList KLDataManager::fileLoggingSensorKeysToKeep()
{
    const QVariant stored = m_userDefaults->objectForKey(KLFileLoggingSensorsKey);
    if (stored.typeId() == QMetaType::QVariantList)
        return knownSensorKeys(stored.toList(), m_readLoggedSensorsToKeep, true);
    return fileLoggingSensorKeys();
}

void KLDataManager::setFileLoggingSensorKeys(const QStringList& keys)
{
    m_userDefaults->setObject(QVariant(keys).toList(), KLFileLoggingSensorsKey);
    post(KLDataManagerFileLoggingSensorKeysDidChangeNotification);
}

unsigned KLDataManager::fileLoggingResetMode()
{
    return static_cast<unsigned>(m_userDefaults->integerForKey(KLFileLoggingResetModeKey));
}

void KLDataManager::setFileLoggingResetMode(unsigned mode)
{
    m_userDefaults->setInteger(mode, KLFileLoggingResetModeKey);
}

// A default that was always written into the file once read. Reading it is no
// change: it is stored once per process, so a file that cannot be written is
// not written again on every read.
void KLDataManager::storeDefaultOnce(const char* key, const QVariant& value)
{
    const QString name = QString::fromLatin1(key);
    if (m_storedDefaults.contains(name))
        return;
    m_storedDefaults.insert(name);
    m_userDefaults->setObject(value, name);
}

// A setting that is on unless it was switched off: absent reads as YES and
// its default is stored.
bool KLDataManager::storedFlag(const char* key, bool directly)
{
    const QVariant stored = m_userDefaults->objectForKey(key);
    if (stored.isValid())
        return m_userDefaults->boolForKey(key);
    if (directly)
        storeDefaultOnce(key, true);
    return true;
}

bool KLDataManager::openAtLogin()
{
    if (!m_userDefaults->objectForKey(KLOpenAtLoginKey).isValid())
        storeDefaultOnce(KLOpenAtLoginKey, true);
    return storedFlag(KLOpenAtLoginKey, false);
}

void KLDataManager::setOpenAtLogin(bool open)
{
    m_userDefaults->setBool(open, KLOpenAtLoginKey);
}

bool KLDataManager::autoCheckUpdate()
{
    if (!m_userDefaults->objectForKey(KLAutoCheckUpdateKey).isValid())
        storeDefaultOnce(KLAutoCheckUpdateKey, true);
    return storedFlag(KLAutoCheckUpdateKey, false);
}

void KLDataManager::setAutoCheckUpdate(bool check)
{
    m_userDefaults->setBool(check, KLAutoCheckUpdateKey);
}

unsigned KLDataManager::graphTimeRange()
{
    return static_cast<unsigned>(m_userDefaults->integerForKey(KLGraphTimeRangeKey));
}

void KLDataManager::setGraphTimeRange(unsigned range)
{
    m_userDefaults->setInteger(range, KLGraphTimeRangeKey);
}

unsigned KLDataManager::updateFrequency()
{
    return static_cast<unsigned>(m_userDefaults->integerForKey(KLUpdateFrequencyKey));
}

void KLDataManager::setUpdateFrequency(unsigned frequency)
{
    m_userDefaults->setInteger(frequency, KLUpdateFrequencyKey);
    post(KLDataManagerUpdateFrequencyDidChangeNotification);
}

long KLDataManager::appLaunchCount()
{
    return static_cast<long>(m_userDefaults->integerForKey(KLAppLaunchCountKey));
}

void KLDataManager::setAppLaunchCount(long count)
{
    m_userDefaults->setInteger(count, KLAppLaunchCountKey);
}

bool KLDataManager::tempUnitCelsius()
{
    return storedFlag(KLTempUnitCelsiusKey, true);
}

void KLDataManager::setTempUnitCelsius(bool celsius)
{
    const bool wasCelsius = tempUnitCelsius();
    m_userDefaults->setBool(celsius, KLTempUnitCelsiusKey);
    if (celsius != wasCelsius)
        convertThresholds(celsius);
    post(KLDataManagerSettingsDidChangeNotification);
}

namespace {
// A threshold entered in one unit, in the other, in whole degrees as they are
// entered; what is no finite number stays as it is.
double thresholdInUnit(double threshold, bool toCelsius)
{
    const double converted = std::round(toCelsius ? (threshold - 32.0) * 5.0 / 9.0 : threshold * 9.0 / 5.0 + 32.0);
    return std::isfinite(converted) ? converted : threshold;
}
}  // namespace

// Thresholds are numbers in the unit in force: each keeps the temperature it
// meant. Every stored rule is converted, also those of sensors not in the
// store now, and the rest of the stored list is left as it is.
void KLDataManager::convertThresholds(bool toCelsius)
{
    const QVariant stored = m_userDefaults->objectForKey(KLOverheatNotificationsKey);
    const QVariant root = stored.typeId() == QMetaType::QByteArray
                              ? NSKeyedUnarchiver::unarchiveObjectWithData(stored.toByteArray())
                              : QVariant();
    if (root.typeId() == QMetaType::QVariantList) {
        QVariantList items = root.toList();
        bool converted = false;
        for (QVariant& item : items) {
            if (item.metaType() != QMetaType::fromType<KeyedObject>())
                continue;
            KeyedObject object = item.value<KeyedObject>();
            const QString key = QStringLiteral("threshold");
            if (object.className != QLatin1String(KLNotification::kClassName) ||
                !PropertyList::isNumber(object.fields.value(key)))
                continue;
            object.fields.insert(key, thresholdInUnit(object.fields.value(key).toDouble(), toCelsius));
            item = QVariant::fromValue(object);
            converted = true;
        }
        if (converted) {
            m_userDefaults->setObject(NSKeyedArchiver::archivedDataWithRootObject(items), KLOverheatNotificationsKey);
            post(KLDataManagerOverheatListDidChangeNotification);
        }
    }

    bool changed = false;
    for (KLFanCondition* condition : KLFanCondition::allObjects()) {
        if (!condition->valueForKey(QStringLiteral("threshold")).isValid())
            continue;
        condition->setThreshold(thresholdInUnit(condition->threshold(), toCelsius));
        changed = true;
    }
    if (changed)
        KLCoreDataHelper::sharedInstance().saveMasterContext();
}

bool KLDataManager::showTempInMenu()
{
    return storedFlag(KLShowTempInMenuKey, true);
}

void KLDataManager::setShowTempInMenu(bool show)
{
    m_userDefaults->setBool(show, KLShowTempInMenuKey);
    post(KLDataManagerSettingsDidChangeNotification);
}

bool KLDataManager::showIconInMenu()
{
    return storedFlag(KLShowIconInMenuKey, true);
}

void KLDataManager::setShowIconInMenu(bool show)
{
    m_userDefaults->setBool(show, KLShowIconInMenuKey);
    post(KLDataManagerSettingsDidChangeNotification);
}

QVariantList KLDataManager::dropdownItems()
{
    const QVariant stored = m_userDefaults->objectForKey(KLDropdownItemsKey);
    const QList<KLCategory*> categories = KLCategory::allObjects();
    QStringList categoryNames;
    for (KLCategory* category : categories)
        categoryNames.append(category->name());
    const QVariantList storedList = stored.typeId() == QMetaType::QVariantList ? stored.toList() : QVariantList();
    if (stored.typeId() == QMetaType::QVariantList && m_readDropdownItems.stored.isSharedWith(storedList) &&
        m_readDropdownItems.categories == categoryNames) {
        m_dropdownItems = m_readDropdownItems.kept;
        return m_dropdownItems;
    }
    QVariantList read;
    if (stored.typeId() == QMetaType::QVariantList) {
        // The first two entries are the tile and the fan box, read by position; after
        // them only the store's categories, each once, however long the stored list.
        const QSet<QString> names(categoryNames.cbegin(), categoryNames.cend());
        QSet<QString> seen;
        const QVariantList& entries = storedList;
        for (qsizetype i = 0; i < entries.size() && read.size() < categories.size() + 2; ++i) {
            if (i < 2) {
                read.append(entries.at(i));
                continue;
            }
            const QVariantMap map = entries.at(i).toMap();
            if (map.size() != 1 || !names.contains(map.firstKey()) || seen.contains(map.firstKey()))
                continue;
            seen.insert(map.firstKey());
            read.append(entries.at(i));
        }
    } else {
        read = {QVariantMap{{QStringLiteral("main_sensor"), true}}, QVariantMap{{QStringLiteral("fan_control"), true}}};
    }
    QVariantList items = read;
    for (const QString& name : std::as_const(categoryNames)) {
        const bool listed = std::any_of(read.begin(), read.end(), [&name](const QVariant& entry) {
            const QVariantMap map = entry.toMap();
            return !map.isEmpty() && map.firstKey() == name;
        });
        if (!listed)
            items.append(QVariantMap{{name, true}});
    }
    if (stored.typeId() == QMetaType::QVariantList)
        m_readDropdownItems = {storedList, {}, categoryNames, {}, items};
    m_dropdownItems = items;
    return items;
}

void KLDataManager::setDropdownItems(const QVariantList& items)
{
    m_dropdownItems = items;
    m_userDefaults->setObject(items, KLDropdownItemsKey);
    post(KLDataManagerSettingsDidChangeNotification);
}

QString KLDataManager::currentLanguage()
{
    const QVariant stored = m_userDefaults->objectForKey(KLCurrentLanguageKey);
    if (stored.isValid()) {
        m_currentLanguage = m_userDefaults->stringForKey(KLCurrentLanguageKey);
        return m_currentLanguage;
    }
    const QStringList preferred = NSBundle::mainBundle().preferredLocalizations();
    const QString first = preferred.isEmpty() ? QString() : preferred.first();
    m_currentLanguage = m_allLanguages.contains(first) ? first : m_allLanguages.first();
    storeDefaultOnce(KLCurrentLanguageKey, m_currentLanguage);
    return m_currentLanguage;
}

void KLDataManager::setCurrentLanguage(const QString& language)
{
    if (language == m_currentLanguage)
        return;
    m_currentLanguage = language;
    m_userDefaults->setObject(language, KLCurrentLanguageKey);
    post(KLDataManagerLanguageDidChangeNotification);
}

namespace {
int g_overheatListDecodes = 0;

// Above this many named sensors one fetch of them all is the cheaper query.
constexpr qsizetype kMostSensorsFetchedByName = 8;

// The store's sensors with the keys the rules name, by key, in one fetch:
// only those, as the rules look up no others. No rule naming a sensor, no fetch.
QHash<QString, KLSensor*> sensorsNamedByRules(const QList<KLNotification>& rules)
{
    QStringList keys;
    for (const KLNotification& rule : rules) {
        if (!rule.sensorKey.isNull() && rule.sensorKey != QLatin1String("any-sensor") && !keys.contains(rule.sensorKey))
            keys.append(rule.sensorKey);
        if (keys.size() > kMostSensorsFetchedByName)
            return KLSensor::sensorsByKey();
    }
    QHash<QString, KLSensor*> byKey;
    if (!keys.isEmpty())
        addFirstOfEachKey(KLSensor::objectsWhere(keyIsOneOf(keys)), byKey);
    return byKey;
}
}

int KLDataManager::overheatListDecodesForTesting()
{
    return g_overheatListDecodes;
}

std::optional<QList<KLNotification>> KLDataManager::overheatNotifications(QHash<QString, KLSensor*>* sensorsRead)
{
    const QVariant stored = m_userDefaults->objectForKey(KLOverheatNotificationsKey);
    if (stored.isValid()) {
        const QByteArray data = stored.typeId() == QMetaType::QByteArray ? stored.toByteArray() : QByteArray();
        // The same bytes decode to the same rules: only a changed list is decoded again.
        if (data.isEmpty() || data != m_overheatArchive) {
            QString error;
            ++g_overheatListDecodes;
            const QVariant root = data.isNull() ? QVariant() : NSKeyedUnarchiver::unarchiveObjectWithData(data, &error);
            if (root.typeId() != QMetaType::QVariantList) {
                // Every warning is off while this lasts: say so, but once, not at every check.
                if (!m_overheatArchiveFailing)
                    std::fprintf(stderr, "Kelvara: the overheat rules stored in the settings cannot be decoded (%s); no overheat warnings are given.\n",
                                 error.isEmpty() ? "not a list of rules" : error.toUtf8().constData());
                m_overheatArchiveFailing = true;
                m_overheatArchive.clear();
                m_overheatRules.clear();
                return QList<KLNotification>();
            }
            m_overheatArchiveFailing = false;
            const QVariantList items = root.toList();
            m_overheatRules.clear();
            m_overheatRules.reserve(items.size());
            for (const QVariant& item : items) {
                if (item.metaType() != QMetaType::fromType<KeyedObject>())
                    continue;
                const KeyedObject object = item.value<KeyedObject>();
                if (object.className == QLatin1String(KLNotification::kClassName))
                    m_overheatRules.append(KLNotification::decode(object));
            }
            m_overheatArchive = data;
        }
        // Sensors come and go with the store, so they are looked up at every read,
        // in one fetch for the whole list however many rules it holds.
        const QHash<QString, KLSensor*> sensors = sensorsNamedByRules(m_overheatRules);
        if (sensorsRead)
            *sensorsRead = sensors;
        QList<KLNotification> kept;
        kept.reserve(m_overheatRules.size());
        for (const KLNotification& rule : std::as_const(m_overheatRules)) {
            if (rule.sensorKey == QLatin1String("any-sensor") || rule.sensor(sensors))
                kept.append(rule);
        }
        return kept;
    }
    if (appLaunchCount() > 1)
        return std::nullopt;
    // Without the main sensor the default rule cannot name it; storing a list
    // now would keep the default from ever being made.
    if (!mainSensor())
        return QList<KLNotification>();
    const QList<KLNotification> defaults = defaultOverheatNotifications();
    setOverheatNotifications(defaults);
    return defaults;
}

void KLDataManager::setOverheatNotifications(const QList<KLNotification>& rules)
{
    m_userDefaults->setObject(KLNotification::archive(rules), KLOverheatNotificationsKey);
    post(KLDataManagerOverheatListDidChangeNotification);
}

QList<KLNotification> KLDataManager::defaultOverheatNotifications()
{
    KLNotification rule;
    KLSensor* sensor = mainSensor();
    rule.sensorKey = sensor ? sensor->key() : QString();
    rule.sensorName = sensor ? sensor->name() : QString();
    rule.threshold = KLSensor::convertedTemp(70.0);
    rule.active = true;
    rule.repeat = true;
    return {rule};
}

double KLDataManager::updateInterval()
{
    switch (updateFrequency()) {
    case 2:
        return 10.0;
    case 1:
        return 5.0;
    default:
        return 2.0;
    }
}

RZAxisValues KLDataManager::xAxisWithCurrentDate(const QDateTime& date, unsigned timeRange)
{
    int steps = 7;
    double stepSize = 86400;
    if (timeRange == 0) {
        steps = 6;
        stepSize = 600;
    } else if (timeRange == 1) {
        steps = 6;
        stepSize = 14400;
    }
    const double now = static_cast<double>(date.toMSecsSinceEpoch()) / 1000.0;
    RZAxisValues values;
    for (int d = steps; d >= 0; --d) {
        const double t = now - d * stepSize;
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(t * 1000.0));
        QString label = timeRange == 2 ? KLExtension::shortDateOnlyFormat(at) : KLExtension::shortTimeOnlyFormat(at);
        if (label.isEmpty())
            label = QStringLiteral("--");
        values.append({t, label});
    }
    return values;
}
