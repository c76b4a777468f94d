#include "KLNotification.h"

#include "KLSensor.h"
#include "PropertyList.h"

namespace {

// Numbers may have been stored as integers, reals or booleans.
std::optional<double> numberOf(const QVariant& value)
{
    return PropertyList::isNumber(value) ? std::optional<double>(value.toDouble()) : std::nullopt;
}

std::optional<bool> flagOf(const QVariant& value)
{
    const auto number = numberOf(value);
    return number ? std::optional<bool>(*number != 0) : std::nullopt;
}

QString textOf(const QVariant& value)
{
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

}  // namespace

KLSensor* KLNotification::sensor() const
{
    if (sensorKey.isNull())
        return nullptr;
    const QList<KLSensor*> found = KLSensor::objectsWhere(NSPredicate::withFormat(QStringLiteral("key = %@"), sensorKey));
    return found.isEmpty() ? nullptr : found.first();
}

KLSensor* KLNotification::sensor(const QHash<QString, KLSensor*>& sensors) const
{
    return sensorKey.isNull() ? nullptr : sensors.value(sensorKey);
}

KeyedObject KLNotification::encode() const
{
    KeyedObject object;
    object.className = QString::fromLatin1(kClassName);
    auto put = [&object](const char* key, const QVariant& value) {
        if (value.isValid())
            object.fields.insert(QString::fromLatin1(key), value);
    };
    put("sensorKey", sensorKey.isNull() ? QVariant() : QVariant(sensorKey));
    put("sensorName", sensorName.isNull() ? QVariant() : QVariant(sensorName));
    put("threshold", threshold ? QVariant(*threshold) : QVariant());
    put("active", active ? QVariant(*active) : QVariant());
    put("repeat", repeat ? QVariant(*repeat) : QVariant());
    return object;
}

KLNotification KLNotification::decode(const KeyedObject& object)
{
    KLNotification rule;
    rule.sensorKey = textOf(object.fields.value(QStringLiteral("sensorKey")));
    rule.sensorName = textOf(object.fields.value(QStringLiteral("sensorName")));
    rule.threshold = numberOf(object.fields.value(QStringLiteral("threshold")));
    rule.active = flagOf(object.fields.value(QStringLiteral("active")));
    rule.repeat = flagOf(object.fields.value(QStringLiteral("repeat")));
    return rule;
}

KLNotification KLNotification::copy() const
{
    const QList<KLNotification> copies = unarchive(archive({*this}));
    return copies.isEmpty() ? KLNotification() : copies.first();
}

QByteArray KLNotification::archive(const QList<KLNotification>& rules)
{
    QVariantList list;
    list.reserve(rules.size());
    for (const KLNotification& rule : rules)
        list.append(QVariant::fromValue(rule.encode()));
    return NSKeyedArchiver::archivedDataWithRootObject(list);
}

QList<KLNotification> KLNotification::unarchive(const QByteArray& data)
{
    const QVariant root = NSKeyedUnarchiver::unarchiveObjectWithData(data);
    QList<KLNotification> rules;
    if (root.typeId() != QMetaType::QVariantList)
        return rules;
    for (const QVariant& item : root.toList()) {
        if (item.metaType() != QMetaType::fromType<KeyedObject>())
            continue;
        const KeyedObject object = item.value<KeyedObject>();
        if (object.className == QLatin1String(kClassName))
            rules.append(decode(object));
    }
    return rules;
}
