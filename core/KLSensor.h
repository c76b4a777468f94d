#pragma once
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

class KLSensor : public NSManagedObject {
public:
    static NSFetchRequest fetchRequest();
    // The first sensor with that key, inserted (with only its key) when there is none.
    static KLSensor* sensorWithKey(const QString& key);
    static QList<KLSensor*> objectsWhere(const NSPredicate& predicate);
    static QList<KLSensor*> allObjects();
    // The sensors of the first fan (temperature) category; nothing when there is no such category.
    static std::optional<QList<KLSensor*>> fanSensors();
    static std::optional<QList<KLSensor*>> tempSensors();
    // Degrees Celsius in the unit chosen in the settings.
    static double convertedTemp(double celsius);

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
};
