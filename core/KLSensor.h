#pragma once
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

#include "NSFetchRequest.h"
#include "NSManagedObject.h"

class KLCategory;
class KLGraphPoint;

// KLSensorGroup
enum KLSensorGroup : int {
    KLSensorGroupCPU = 1,
    KLSensorGroupGPU = 2,
    KLSensorGroupMemory = 3,
    KLSensorGroupMainboard = 4,
    KLSensorGroupNetwork = 5,
    KLSensorGroupSSD = 6,
    KLSensorGroupHardDisk = 7,
    KLSensorGroupBattery = 8,
    KLSensorGroupPowerSupply = 9,
    KLSensorGroupDisplay = 10,
    KLSensorGroupFan = 11,
};

// KLSensorStatus
enum KLSensorStatus : int {
    KLSensorStatusNormalTemp = 1,
    KLSensorStatusHighTemp = 2,
    KLSensorStatusVeryHighTemp = 3,
    KLSensorStatusZeroSpeed = 4,
    KLSensorStatusNormalSpeed = 5,
    KLSensorStatusHighSpeed = 6,
    KLSensorStatusVeryHighSpeed = 7,
    KLSensorStatusOK = 8,
    KLSensorStatusSkipped = 9,
    KLSensorStatusCanNotBeRead = 10,
    KLSensorStatusFailedToInitialize = 11,
    KLSensorStatusBelowAllowedMinimum = 12,
    KLSensorStatusUnstable = 13,
    KLSensorStatusError = 14,
};

// The sensor "TC0P" has its own, lower high-temperature threshold.
inline constexpr double KLCPUProximityHighTemp = 66.0;
inline constexpr double KLHighTemp = 90.0;
inline constexpr double KLVeryHighTemp = 100.0;

class KLSensor : public NSManagedObject {
public:
    static NSFetchRequest fetchRequest();
    // The first sensor with that key, inserted (with only its key) when there is none.
    static KLSensor* sensorWithKey(const QString& key);
    static QList<KLSensor*> objectsWhere(const NSPredicate& predicate);
    static QList<KLSensor*> allObjects();
    // Every stored sensor by key (the first of a key, as objectsWhere finds it), in one
    // fetch: for code that looks up many keys at once.
    static QHash<QString, KLSensor*> sensorsByKey();
    // The sensors of the first fan (temperature) category; nothing when there is no such category.
    static std::optional<QList<KLSensor*>> fanSensors();
    static std::optional<QList<KLSensor*>> tempSensors();
    // Degrees Celsius in the unit chosen in the settings.
    static double convertedTemp(double celsius);
    // "%.0f" for temperatures and fans, "%.2f" for the other types.
    static QString stringFromValue(double value, int categoryType);
    // Null for a type outside 0-4; the long temperature form names the unit (°C, °F).
    static QString unitStringFromCategoryType(int categoryType, bool shortForm);
    // "-" below 0 or for not a number; the unit follows without a blank for
    // temperatures and in tidy mode.
    static QString fullStringFromValue(double value, int categoryType, bool tidyMode);

    QString key() { return valueForKey(QStringLiteral("key")).toString(); }
    void setKey(const QString& v) { setValueForKey(v, QStringLiteral("key")); }
    QString name() { return valueForKey(QStringLiteral("name")).toString(); }
    void setName(const QString& v) { setValueForKey(v, QStringLiteral("name")); }
    QString fullName() { return valueForKey(QStringLiteral("fullName")).toString(); }
    void setFullName(const QString& v) { setValueForKey(v, QStringLiteral("fullName")); }
    double value() { return valueForKey(QStringLiteral("value")).toDouble(); }
    void setValue(double v) { setValueForKey(v, QStringLiteral("value")); }
    double minValue() { return valueForKey(QStringLiteral("minValue")).toDouble(); }
    void setMinValue(double v) { setValueForKey(v, QStringLiteral("minValue")); }
    double maxValue() { return valueForKey(QStringLiteral("maxValue")).toDouble(); }
    void setMaxValue(double v) { setValueForKey(v, QStringLiteral("maxValue")); }
    double recordedMinValue() { return valueForKey(QStringLiteral("recordedMinValue")).toDouble(); }
    void setRecordedMinValue(double v) { setValueForKey(v, QStringLiteral("recordedMinValue")); }
    double recordedMaxValue() { return valueForKey(QStringLiteral("recordedMaxValue")).toDouble(); }
    void setRecordedMaxValue(double v) { setValueForKey(v, QStringLiteral("recordedMaxValue")); }
    int group() { return valueForKey(QStringLiteral("group")).toInt(); }
    void setGroup(int v) { setValueForKey(v, QStringLiteral("group")); }

    KLCategory* category();
    void setCategory(KLCategory* category);
    // The history, oldest first, all three ranges mixed.
    QList<KLGraphPoint*> graphPoints();
    void setGraphPoints(const QList<KLGraphPoint*>& points);
    void addGraphPointsObject(KLGraphPoint* point);

    // The history of one range, in history order.
    QList<KLGraphPoint*> hourGraphPoints();
    QList<KLGraphPoint*> dayGraphPoints();
    QList<KLGraphPoint*> weekGraphPoints();

    // The type of the category; 0 (temperature) without one.
    int categoryType();
    bool isCPUProximitySensor();
    // In the chosen temperature unit for temperatures, else as read.
    double convertedValue();
    // The same in the unit given, for callers that convert many sensors at once.
    double convertedValue(bool celsius);
    double convertedMinValue();
    double convertedMaxValue();
    QString fullStringValue();
    QString tidyStringValue();
    QString unitString();
    QString sensorDescription();
    // From the raw reading, whatever the chosen unit.
    KLSensorStatus statusEnum();
    bool isNormalCondition();
    // The localized status text; "--" for a code outside 1-14.
    QString statusDisplay();
    static QString statusDisplayForStatus(int status);
    // The status rule in (fixed English) words; null when there is none.
    QString statusExplanation();

private:
    QList<KLGraphPoint*> graphPointsOfTimeRange(int timeRange);
    double converted(double value);
    double highTemp();
};
