#pragma once
#include <QHash>
#include <QSet>
// The settings of all three programs, in the shared defaults suite. Getters
// read the suite anew; setters write at once and, for the settings other
// programs follow, announce the change on the distributed notice centre.
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <memory>
#include <optional>

#include "KLNotification.h"
#include "NSPredicate.h"
#include "NSUserDefaults.h"
#include "RZAxisValue.h"

class KLSensor;

inline constexpr const char* KLAppGroupSuiteName = "group.com.orvane.kelvara";

// Settings keys.
inline constexpr const char* KLMenuSensorsKey = "KLMenuSensors";
inline constexpr const char* KLFanControllerManualLinkEnabledKey = "KLFanControllerManualLinkEnabledKey";
inline constexpr const char* KLFanControllerAutoBoostNotificationEnabledKey = "KLFanControllerAutoBoostNotificationEnabledKey";
inline constexpr const char* KLFanControllerModeKey = "KLFanControllerModeKey";
inline constexpr const char* KLFanControllerFanSetNameKey = "KLFanControllerFanSetNameKey";
inline constexpr const char* KLFanControllerDidAutoBoostKey = "KLFanControllerDidAutoBoostKey";
inline constexpr const char* KLFileLoggingEnabledKey = "KLFileLoggingEnabledKey";
inline constexpr const char* KLFileLoggingPathKey = "KLFileLoggingPathKey";
inline constexpr const char* KLFileLoggingSensorsKey = "KLFileLoggingSensorsKey";
inline constexpr const char* KLFileLoggingResetModeKey = "KLFileLoggingResetModeKey";
// The log's name in the documents folder until the user picks another folder.
inline constexpr const char* KLFileLoggingDefaultFileName = "Kelvara Log.csv";
inline constexpr const char* KLOpenAtLoginKey = "KLOpenAtLogin";
inline constexpr const char* KLAutoCheckUpdateKey = "KLAutoCheckUpdate";
inline constexpr const char* KLGraphTimeRangeKey = "KLGraphTimeRangeKey";
inline constexpr const char* KLUpdateFrequencyKey = "KLUpdateFrequencyKey";
inline constexpr const char* KLAppLaunchCountKey = "KLAppLaunchCountKey";
inline constexpr const char* KLTempUnitCelsiusKey = "KLTempUnitCelsius";
inline constexpr const char* KLShowTempInMenuKey = "KLShowTempInMenu";
inline constexpr const char* KLShowIconInMenuKey = "KLShowIconInMenu";
inline constexpr const char* KLDropdownItemsKey = "KLDropdownItemsKey";
inline constexpr const char* KLCurrentLanguageKey = "CURRENT_LANGUAGE_KEY";
inline constexpr const char* KLOverheatNotificationsKey = "KLOverheatNotificationsKey";

// Notices.
inline constexpr const char* KLDataManagerMenuSensorsDidChangeNotification = "KLDataManagerMenuSensorsDidChangeNotification";
inline constexpr const char* KLDataManagerSettingsDidChangeNotification = "KLDataManagerSettingsDidChangeNotification";
inline constexpr const char* KLDataManagerFileLoggingSensorKeysDidChangeNotification =
    "KLDataManagerFileLoggingSensorKeysDidChangeNotification";
inline constexpr const char* KLDataManagerUpdateFrequencyDidChangeNotification =
    "KLDataManagerUpdateFrequencyDidChangeNotification";
inline constexpr const char* KLDataManagerLanguageDidChangeNotification = "KLDataManagerLanguageDidChangeNotification";
inline constexpr const char* KLDataManagerOverheatListDidChangeNotification = "KLDataManagerOverheatListDidChangeNotification";
inline constexpr const char* KLDataManagerDidGenerateDatasetNotification = "KLDataManagerDidGenerateDatasetNotification";
// Kelvara Helper's per-tick work hears the poll loop's own tick under the same
// name on the in-process centre, never a tick notice that came over the bus.
inline constexpr const char* KLKelvaraTempDidChangeNotification = "KLKelvaraTempDidChangeNotification";
// Local, in the windowed programs: the store context dropped what it held at a
// tick; what is read from now on is what the tick saved.
inline constexpr const char* KLDataManagerReadingsDidRefreshNotification = "KLDataManagerReadingsDidRefreshNotification";

inline constexpr const char* KLMainSensorKey = "TC0P";

enum KLFanControlMode : unsigned { KLFanControlModeSystem = 0, KLFanControlModeFanSet = 1, KLFanControlModeAutoBoost = 2 };
enum KLUpdateFrequency : unsigned { KLUpdateFrequencyHigh = 0, KLUpdateFrequencyMedium = 1, KLUpdateFrequencyLow = 2 };
enum KLFileLoggingResetMode : unsigned { KLFileLoggingResetModeNever = 0, KLFileLoggingResetModeLaunch = 1, KLFileLoggingResetModeDaily = 2 };

class KLDataManager {
public:
    // Which program this is decides what creating the manager does.
    enum class Program { Main, MenuBar, Helper };
    static Program currentProgram();

    static KLDataManager& sharedInstance();
    explicit KLDataManager(Program program = currentProgram());
    ~KLDataManager();
    KLDataManager(const KLDataManager&) = delete;
    KLDataManager& operator=(const KLDataManager&) = delete;

    NSUserDefaults& userDefaults() { return *m_userDefaults; }
    const QStringList& allLanguages() const { return m_allLanguages; }

    KLSensor* mainSensor();
    void setMainSensor(KLSensor* sensor) { m_mainSensor = sensor; }

    // Nothing when the key is absent and there is no main sensor. sensorsRead,
    // when given, receives the stored sensors of the keys given back, read in
    // one fetch (keys without a sensor have no entry).
    std::optional<QStringList> menuSensors(QHash<QString, KLSensor*>* sensorsRead = nullptr);
    void setMenuSensors(const QStringList& keys);
    bool manualLinkEnabled();
    void setManualLinkEnabled(bool enabled);
    bool autoBoostNotificationEnabled();
    void setAutoBoostNotificationEnabled(bool enabled);
    // 0 or 1 as stored; any other stored number is auto boost (2).
    unsigned fanControlMode();
    static unsigned fanControlModeMeaning(long long stored);
    void setFanControlMode(unsigned mode);
    QString fanSetName();
    void setFanSetName(const QString& name);
    bool didAutoBoost();
    void setDidAutoBoost(bool value);
    bool fileLoggingEnabled();
    void setFileLoggingEnabled(bool enabled);
    QString fileLoggingPath();
    void setFileLoggingPath(const QString& path);
    // sensorsRead, when given, receives the sensors a stored list was checked
    // against (left as it is when no list was stored).
    QStringList fileLoggingSensorKeys(QHash<QString, KLSensor*>* sensorsRead = nullptr);
    // The stored list as a writer keeps it: the keys above, with the first few
    // keys that name no sensor now where they stand, so a change of one sensor
    // loses none of them.
    QStringList fileLoggingSensorKeysToKeep();
    void setFileLoggingSensorKeys(const QStringList& keys);
    unsigned fileLoggingResetMode();
    void setFileLoggingResetMode(unsigned mode);
    bool openAtLogin();
    void setOpenAtLogin(bool open);
    bool autoCheckUpdate();
    void setAutoCheckUpdate(bool check);
    unsigned graphTimeRange();
    void setGraphTimeRange(unsigned range);
    unsigned updateFrequency();
    void setUpdateFrequency(unsigned frequency);
    long appLaunchCount();
    void setAppLaunchCount(long count);
    bool tempUnitCelsius();
    void setTempUnitCelsius(bool celsius);
    bool showTempInMenu();
    void setShowTempInMenu(bool show);
    bool showIconInMenu();
    void setShowIconInMenu(bool show);
    // One-entry maps {section name: shown}, in display order.
    QVariantList dropdownItems();
    void setDropdownItems(const QVariantList& items);
    QString currentLanguage();
    void setCurrentLanguage(const QString& language);

    // Nothing when no list was ever stored and the main program has started more than once.
    // sensorsRead, when given, receives the sensors the stored list was checked
    // against (left as it is when no stored list was read).
    std::optional<QList<KLNotification>> overheatNotifications(QHash<QString, KLSensor*>* sensorsRead = nullptr);
    // How often the stored list was decoded in this process.
    static int overheatListDecodesForTesting();
    void setOverheatNotifications(const QList<KLNotification>& rules);
    QList<KLNotification> defaultOverheatNotifications();

    // Seconds between polls: 10 for frequency 2, 5 for 1, else 2.
    double updateInterval();

    static RZAxisValues xAxisWithCurrentDate(const QDateTime& date, unsigned timeRange);

    // Builds the catalogue in the store (main program only).
    void setupDatabase();

private:
    void post(const char* notice);
    bool storedFlag(const char* key, bool directly);
    void storeDefaultOnce(const char* key, const QVariant& value);
    void convertThresholds(bool toCelsius);
    void kelvaraTempDidChangeNotification();

    Program m_program;
    std::unique_ptr<NSUserDefaults> m_userDefaults;
    QStringList m_allLanguages;
    // Keys whose default this process has stored, or tried to.
    QSet<QString> m_storedDefaults;
    KLSensor* m_mainSensor = nullptr;
    QStringList m_menuSensors;
    QVariantList m_dropdownItems;
    // A stored list as last read (shared with the suite's copy until the file
    // changes), the catalogue it was read against, and what was kept of it: the
    // same list against the same catalogue is not walked again.
    struct ReadList {
        QVariantList stored;
        QHash<QString, KLSensor*> sensors;
        QStringList categories;
        QStringList keys;  // what was kept of a list of sensor keys
        QVariantList kept;  // what was kept of the dropdown items
    };
    ReadList m_readMenuSensors;
    ReadList m_readLoggedSensors;
    ReadList m_readLoggedSensorsToKeep;
    ReadList m_readDropdownItems;
    QStringList knownSensorKeys(const QVariantList& stored, ReadList& read, bool keepUnknown,
                                QHash<QString, KLSensor*>* sensorsRead = nullptr);
    // The menu's list as last read: its first keys, each once, up to one more
    // than the floor, and the fetch that finds their sensors.
    struct ReadMenuList {
        QVariantList stored;
        QStringList keys;
        NSPredicate sensorsOfKeys;
    };
    ReadMenuList m_readMenuList;
    QString m_currentLanguage;
    bool m_overheatArchiveFailing = false;  // said once until a stored list decodes again
    // The stored list last decoded, and its rules before the sensor filter.
    QByteArray m_overheatArchive;
    QList<KLNotification> m_overheatRules;
};
