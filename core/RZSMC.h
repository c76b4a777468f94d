#pragma once
// The process-wide SMC facade: the key table, the keys that give a reading on
// this machine, key decoding, names and groups, and the fans.
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "smc.h"

class RZSMC {
public:
    static RZSMC& smc();

    // Opens the connection (its result is not needed: a failed open reads as 0)
    // and loads the key table from the main bundle's "RZSMC.plist".
    RZSMC();
    ~RZSMC();
    RZSMC(const RZSMC&) = delete;
    RZSMC& operator=(const RZSMC&) = delete;

    QVariantMap allSensorsDict() const { return m_allSensorsDict; }
    QStringList allTempKeys() const { return m_allTempKeys; }
    QStringList allVoltageKeys() const { return m_allVoltageKeys; }
    QStringList allCurrentKeys() const { return m_allCurrentKeys; }
    QStringList allPowerKeys() const { return m_allPowerKeys; }

    // Keys of each list whose reading is not 0, read anew on every call.
    QStringList workingTempKeys();
    QStringList workingVoltageKeys();
    QStringList workingCurrentKeys();
    QStringList workingPowerKeys();

    unsigned long numberOfFans();
    double speedOfFan(unsigned long fan);
    double safeMinimumSpeedOfFan(unsigned long fan);
    double safeMaximumSpeedOfFan(unsigned long fan);
    QString descriptionOfFan(unsigned long fan);

    double temperatureInCelsiusForKey(const QString& key);
    double temperatureInFahrenheitForKey(const QString& key);
    QString humanReadableNameForKey(const QString& key) const;
    long sensorGroupForKey(const QString& key) const;

    double rawValueForKey(const QString& key);
    float convertToNumber(const RZSMCValue& value) const;
    // The file's MD5 in hex; null when the file cannot be opened.
    QString createCheckSum(const QString& path) const;

    // Fan speed writes, each a run of the privileged tool. The models listed are
    // driven through a mode and a target key, every other one through the fan's
    // minimum-speed key. The result is that of the last tool start.
    bool setSpeed(unsigned long speed, unsigned long fan, bool autoMode);
    // Starts "Kelvara SMC" -k key -w value without waiting; false when the tool is missing.
    bool setExternalValue(const QString& value, const QString& key);
    static QString smcToolPath();
    static const QStringList& targetSpeedModels();

    // "F%cAc" style key of a fan; fans are named by "0123456789ABCDEFGHIJ".
    static QString fanKey(const char* pattern, unsigned long fan);
    static constexpr unsigned long kMaxFans = 20;

private:
    QStringList workingKeys(const QStringList& keys);
    // A read by the key's four bytes, or by a fan pattern and a fan below kMaxFans.
    double rawValueForBytes(const char* key);
    double rawValueForFanKey(const char* pattern, unsigned long fan);
    QVariantMap entryForKey(const QString& key) const;

    QVariantMap m_allSensorsDict;
    QStringList m_allTempKeys;
    QStringList m_allVoltageKeys;
    QStringList m_allCurrentKeys;
    QStringList m_allPowerKeys;
};
