#include "KLGraphPoint.h"

#include "KLCoreDataHelper.h"
#include "KLSensor.h"

NSFetchRequest KLGraphPoint::fetchRequest()
{
    return NSFetchRequest(QStringLiteral("GraphPoint"));
}

KLGraphPoint* KLGraphPoint::newGraphPoint()
{
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    return context ? dynamic_cast<KLGraphPoint*>(context->insertNewObjectForEntityForName(QStringLiteral("GraphPoint")))
                   : nullptr;
}

QList<KLGraphPoint*> KLGraphPoint::allObjects()
{
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    return context ? objectsOfClass<KLGraphPoint>(context->executeFetchRequest(fetchRequest())) : QList<KLGraphPoint*>();
}

KLSensor* KLGraphPoint::sensor()
{
    return dynamic_cast<KLSensor*>(objectForRelationship(QStringLiteral("sensor")));
}

void KLGraphPoint::setSensor(KLSensor* sensor)
{
    setObjectForRelationship(sensor, QStringLiteral("sensor"));
}
