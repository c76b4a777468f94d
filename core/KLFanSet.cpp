#include "KLFanSet.h"

#include "KLCoreDataHelper.h"
#include "KLFanCondition.h"
#include "NSKeyedArchiver.h"

NSFetchRequest KLFanSet::fetchRequest()
{
    return NSFetchRequest(QStringLiteral("FanSet"));
}

KLFanSet* KLFanSet::fanSetWithName(const QString& name, const std::optional<KLFanSpeeds>& value,
                                   NSManagedObjectContext* context)
{
    auto* fanSet = context ? insertObject<KLFanSet>(QStringLiteral("FanSet"), context) : nullptr;
    if (!fanSet)
        return nullptr;
    fanSet->setName(name);
    fanSet->setValue(NSKeyedArchiver::archivedDataWithRootObject(value ? QVariant(*value) : QVariant()));
    fanSet->setCreated(QDateTime::currentDateTime());
    return fanSet;
}

KLFanSet* KLFanSet::fanSetWithName(const QString& name, const std::optional<KLFanSpeeds>& value)
{
    return fanSetWithName(name, value, KLCoreDataHelper::sharedInstance().masterContext());
}

QList<KLFanSet*> KLFanSet::allObjectsInContext(NSManagedObjectContext* context)
{
    if (!context)
        return {};
    return fetchObjects<KLFanSet>(fetchRequest(), {}, {{QStringLiteral("created"), true}}, context);
}

QList<KLFanSet*> KLFanSet::allObjects()
{
    return allObjectsInContext(KLCoreDataHelper::sharedInstance().masterContext());
}

QList<KLFanSet*> KLFanSet::objectsWhere(const NSPredicate& predicate)
{
    return fetchObjects<KLFanSet>(fetchRequest(), predicate);
}

KLFanSet* KLFanSet::defaultMaxFanSet()
{
    const QList<KLFanSet*> found = objectsWhere(NSPredicate::withFormat(QStringLiteral("name = %@"), QStringLiteral("Max")));
    if (!found.isEmpty())
        return found.first();
    return fanSetWithName(QStringLiteral("Max"), std::nullopt);
}

std::optional<KLFanSpeeds> KLFanSet::valueDict()
{
    const QVariant decoded = NSKeyedUnarchiver::unarchiveObjectWithData(value());
    if (decoded.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return decoded.toMap();
}

QList<KLFanCondition*> KLFanSet::fanConditions()
{
    return objectsOfClass<KLFanCondition>(objectsForRelationship(QStringLiteral("fanConditions")));
}
