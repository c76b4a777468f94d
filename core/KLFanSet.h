#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QVariantMap>
#include <optional>

#include "NSFetchRequest.h"
#include "NSManagedObject.h"

class KLFanCondition;
class NSManagedObjectContext;

// KLFanSpeeds: fan sensor key ("0", "1", ...) -> target speed in rpm.
using KLFanSpeeds = QVariantMap;

class KLFanSet : public NSManagedObject {
public:
    static NSFetchRequest fetchRequest();
    // Inserts a fan set made now; a missing dictionary is archived as nothing. Does not save.
    static KLFanSet* fanSetWithName(const QString& name, const std::optional<KLFanSpeeds>& value,
                                    NSManagedObjectContext* context);
    static KLFanSet* fanSetWithName(const QString& name, const std::optional<KLFanSpeeds>& value);
    // Oldest first.
    static QList<KLFanSet*> allObjectsInContext(NSManagedObjectContext* context);
    static QList<KLFanSet*> allObjects();
    static QList<KLFanSet*> objectsWhere(const NSPredicate& predicate);
    static KLFanSet* defaultMaxFanSet();

    QString name() { return valueForKey(QStringLiteral("name")).toString(); }
    void setName(const QString& v) { setValueForKey(v, QStringLiteral("name")); }
    QDateTime created() { return valueForKey(QStringLiteral("created")).toDateTime(); }
    void setCreated(const QDateTime& v) { setValueForKey(v, QStringLiteral("created")); }
    QByteArray value() { return valueForKey(QStringLiteral("value")).toByteArray(); }
    void setValue(const QByteArray& v) { setValueForKey(v, QStringLiteral("value")); }

    // Decoded anew from the archive at every call; nothing when it holds nothing or cannot be read.
    std::optional<KLFanSpeeds> valueDict();
    QList<KLFanCondition*> fanConditions();
};
