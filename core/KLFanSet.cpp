#include "KLFanSet.h"

#include "KLCoreDataHelper.h"
#include "KLFanCondition.h"
#include "NSKeyedArchiver.h"

#include <QSet>
#include <cstdio>

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
    const QByteArray archive = value();
    QString error;
    const QVariant decoded = NSKeyedUnarchiver::unarchiveObjectWithData(archive, &error);
    if (decoded.typeId() == QMetaType::QVariantMap)
        return decoded.toMap();
    // An archive of nothing is a set without speeds; anything else is said once
    // per archive, not at every poll that reads it.
    if (decoded.isValid() || !error.isEmpty()) {
        static QSet<size_t> said;
        if (said.size() > 1000)
            said.clear();
        const size_t archiveHash = qHash(archive);
        if (!said.contains(archiveHash)) {
            said.insert(archiveHash);
            std::fprintf(stderr, "Kelvara: the fan speeds of the fan set \"%s\" cannot be read (%s); they are ignored.\n",
                         name().toUtf8().constData(),
                         error.isEmpty() ? "not a dictionary of speeds" : error.toUtf8().constData());
        }
    }
    return std::nullopt;
}

QList<KLFanCondition*> KLFanSet::fanConditions()
{
    return objectsOfClass<KLFanCondition>(objectsForRelationship(QStringLiteral("fanConditions")));
}
