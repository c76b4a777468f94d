#include "KLCategory.h"

#include "KLCoreDataHelper.h"
#include "KLSensor.h"

NSFetchRequest KLCategory::fetchRequest()
{
    return NSFetchRequest(QStringLiteral("Category"));
}

KLCategory* KLCategory::getCategoryWithName(const QString& name)
{
    const QList<KLCategory*> found = objectsWhere(NSPredicate::withFormat(QStringLiteral("name = %@"), name));
    return found.isEmpty() ? nullptr : found.first();
}

KLCategory* KLCategory::categoryWithName(const QString& name)
{
    if (KLCategory* category = getCategoryWithName(name))
        return category;
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    auto* category = context ? dynamic_cast<KLCategory*>(context->insertNewObjectForEntityForName(QStringLiteral("Category")))
                             : nullptr;
    if (category)
        category->setName(name);
    return category;
}

QList<KLCategory*> KLCategory::objectsWhere(const NSPredicate& predicate)
{
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    if (!context)
        return {};
    NSFetchRequest request = fetchRequest();
    request.predicate = predicate;
    return objectsOfClass<KLCategory>(context->executeFetchRequest(request));
}

QList<KLCategory*> KLCategory::allObjects()
{
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    if (!context)
        return {};
    NSFetchRequest request = fetchRequest();
    request.sortDescriptors = {{QStringLiteral("type"), true}};
    return objectsOfClass<KLCategory>(context->executeFetchRequest(request));
}

QList<KLSensor*> KLCategory::sensors()
{
    return objectsOfClass<KLSensor>(objectsForRelationship(QStringLiteral("sensors")));
}

void KLCategory::setSensors(const QList<KLSensor*>& sensors)
{
    setObjectsForRelationship(managedObjects(sensors), QStringLiteral("sensors"));
}
