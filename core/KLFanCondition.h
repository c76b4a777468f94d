#pragma once
#include <QDateTime>
#include <QList>
#include <QString>

#include "NSFetchRequest.h"
#include "NSManagedObject.h"

class KLFanSet;
class KLSensor;
class NSManagedObjectContext;

inline constexpr const char* KLAnySensorKey = "any-sensor";

class KLFanCondition : public NSManagedObject {
public:
    static NSFetchRequest fetchRequest();
    // Null unless both the fan set and the sensor are given; does not save.
    static KLFanCondition* fanConditionWithFanSet(KLFanSet* fanSet, KLSensor* sensor, double threshold,
                                                  int batteryState, NSManagedObjectContext* context);
    // Oldest first.
    static QList<KLFanCondition*> allObjectsInContext(NSManagedObjectContext* context);
    static QList<KLFanCondition*> allObjects();

    int batteryState() { return valueForKey(QStringLiteral("batteryState")).toInt(); }
    void setBatteryState(int v) { setValueForKey(v, QStringLiteral("batteryState")); }
    QDateTime created() { return valueForKey(QStringLiteral("created")).toDateTime(); }
    void setCreated(const QDateTime& v) { setValueForKey(v, QStringLiteral("created")); }
    QString sensorKey() { return valueForKey(QStringLiteral("sensorKey")).toString(); }
    void setSensorKey(const QString& v) { setValueForKey(v, QStringLiteral("sensorKey")); }
    double threshold() { return valueForKey(QStringLiteral("threshold")).toDouble(); }
    void setThreshold(double v) { setValueForKey(v, QStringLiteral("threshold")); }
    bool active() { return valueForKey(QStringLiteral("active")).toBool(); }
    void setActive(bool v) { setValueForKey(v, QStringLiteral("active")); }

    KLFanSet* fanSet();
    void setFanSet(KLFanSet* fanSet);
    // The watched sensor in the master context; null for "any-sensor" or an unknown key.
    KLSensor* sensor();
    QString description();
};
