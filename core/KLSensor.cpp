#include "KLSensor.h"

#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLGraphPoint.h"

NSFetchRequest KLSensor::fetchRequest()
{
    return NSFetchRequest(QStringLiteral("Sensor"));
}

KLSensor* KLSensor::sensorWithKey(const QString& key)
{
    const QList<KLSensor*> found = objectsWhere(NSPredicate::withFormat(QStringLiteral("key = %@"), key));
    if (!found.isEmpty())
        return found.first();
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    auto* sensor = context ? dynamic_cast<KLSensor*>(context->insertNewObjectForEntityForName(QStringLiteral("Sensor")))
                           : nullptr;
    if (sensor)
        sensor->setKey(key);
    return sensor;
}

QList<KLSensor*> KLSensor::objectsWhere(const NSPredicate& predicate)
{
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    if (!context)
        return {};
    NSFetchRequest request = fetchRequest();
    request.predicate = predicate;
    return objectsOfClass<KLSensor>(context->executeFetchRequest(request));
}

QList<KLSensor*> KLSensor::allObjects()
{
    return objectsWhere(NSPredicate());
}

namespace {

std::optional<QList<KLSensor*>> sensorsOfFirstCategory(int type)
{
    const QList<KLCategory*> categories =
        KLCategory::objectsWhere(NSPredicate::withFormat(QStringLiteral("type = %d"), type));
    if (categories.isEmpty())
        return std::nullopt;
    return categories.first()->sensors();
}

}  // namespace

std::optional<QList<KLSensor*>> KLSensor::fanSensors()
{
    return sensorsOfFirstCategory(KLCategoryTypeFan);
}

std::optional<QList<KLSensor*>> KLSensor::tempSensors()
{
    return sensorsOfFirstCategory(KLCategoryTypeTemperature);
}

double KLSensor::convertedTemp(double celsius)
{
    return KLDataManager::sharedInstance().tempUnitCelsius() ? celsius : celsius * 9.0 / 5.0 + 32.0;
}

KLCategory* KLSensor::category()
{
    return dynamic_cast<KLCategory*>(objectForRelationship(QStringLiteral("category")));
}

void KLSensor::setCategory(KLCategory* category)
{
    setObjectForRelationship(category, QStringLiteral("category"));
}

QList<KLGraphPoint*> KLSensor::graphPoints()
{
    return objectsOfClass<KLGraphPoint>(objectsForRelationship(QStringLiteral("graphPoints")));
}

void KLSensor::setGraphPoints(const QList<KLGraphPoint*>& points)
{
    setObjectsForRelationship(managedObjects(points), QStringLiteral("graphPoints"));
}

void KLSensor::addGraphPointsObject(KLGraphPoint* point)
{
    addObjectToRelationship(point, QStringLiteral("graphPoints"));
}
