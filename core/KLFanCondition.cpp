#include "KLFanCondition.h"

#include "KLCoreDataHelper.h"
#include "KLFanSet.h"
#include "KLSensor.h"

NSFetchRequest KLFanCondition::fetchRequest()
{
    return NSFetchRequest(QStringLiteral("FanCondition"));
}

KLFanCondition* KLFanCondition::fanConditionWithFanSet(KLFanSet* fanSet, KLSensor* sensor, double threshold,
                                                       int batteryState, NSManagedObjectContext* context)
{
    if (!fanSet || !sensor || !context)
        return nullptr;
    auto* condition = insertObject<KLFanCondition>(QStringLiteral("FanCondition"), context);
    if (!condition)
        return nullptr;
    condition->setFanSet(fanSet);
    condition->setSensorKey(sensor->key());
    condition->setThreshold(threshold);
    condition->setBatteryState(batteryState);
    condition->setCreated(QDateTime::currentDateTime());
    return condition;
}

QList<KLFanCondition*> KLFanCondition::allObjectsInContext(NSManagedObjectContext* context)
{
    if (!context)
        return {};
    return fetchObjects<KLFanCondition>(fetchRequest(), {}, {{QStringLiteral("created"), true}}, context);
}

QList<KLFanCondition*> KLFanCondition::allObjects()
{
    return allObjectsInContext(KLCoreDataHelper::sharedInstance().masterContext());
}

KLFanSet* KLFanCondition::fanSet()
{
    return dynamic_cast<KLFanSet*>(objectForRelationship(QStringLiteral("fanSet")));
}

void KLFanCondition::setFanSet(KLFanSet* fanSet)
{
    setObjectForRelationship(fanSet, QStringLiteral("fanSet"));
}

KLSensor* KLFanCondition::sensor()
{
    const QString key = sensorKey();
    if (key == QLatin1String(KLAnySensorKey))
        return nullptr;
    const QList<KLSensor*> found = KLSensor::objectsWhere(NSPredicate::withFormat(QStringLiteral("key = %@"), key));
    return found.isEmpty() ? nullptr : found.first();
}

QString KLFanCondition::description()
{
    KLFanSet* set = fanSet();
    return QStringLiteral("Fan set: %1\nSensor: %2\nThreshold: %3\nBattery State: %4")
        .arg(set ? set->name() : QStringLiteral("(null)"), sensorKey().isNull() ? QStringLiteral("(null)") : sensorKey())
        .arg(static_cast<int>(threshold()))
        .arg(batteryState());
}
