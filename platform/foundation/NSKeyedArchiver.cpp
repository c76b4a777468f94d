#include "NSKeyedArchiver.h"

#include "PropertyList.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QTimeZone>
#include <cmath>
#include <vector>

namespace {

// Archive dates count seconds from 2001-01-01 UTC.
constexpr double kReferenceDate = 978307200.0;
// Real archives nest a handful of levels; anything this deep is damage or an attack on the stack.
constexpr int kMaxDepth = 512;

// Objects may be shared, so the decoded tree can be far larger than the
// archive; callers walk and copy it, and so it is bounded like a property list.
constexpr qint64 kMaxValues = 250000;

const QString kNull = QStringLiteral("$null");
const QString kClass = QStringLiteral("$class");

bool isScalarNumber(const QVariant& value)
{
    return PropertyList::isNumber(value);
}

QVariant uid(qsizetype index)
{
    return QVariant::fromValue(PlistUID{static_cast<quint64>(index)});
}

class Encoder {
public:
    QVariantList objects{kNull};

    // Every value becomes its own $objects entry, referred to by UID.
    QVariant encode(const QVariant& value)
    {
        if (!value.isValid() || value.typeId() == QMetaType::Nullptr)
            return uid(0);
        if (isScalarNumber(value))
            return append(value.typeId() == QMetaType::Float ? QVariant(value.toDouble()) : value);
        if (value.metaType() == QMetaType::fromType<KeyedObject>()) {
            const KeyedObject object = value.value<KeyedObject>();
            const qsizetype slot = reserve();
            QVariantMap entry;
            for (auto it = object.fields.begin(); it != object.fields.end(); ++it) {
                if (it.key() != kClass)  // would overwrite the class reference
                    entry.insert(it.key(), field(it.value()));
            }
            entry.insert(kClass, classRef(object.className));
            objects[slot] = entry;
            return uid(slot);
        }
        switch (value.typeId()) {
        case QMetaType::QByteArray:
            return append(value.toByteArray());
        case QMetaType::QDateTime: {
            const QDateTime date = value.toDateTime();
            if (!date.isValid())
                return uid(0);
            return append(QVariantMap{
                {QStringLiteral("NS.time"), date.toMSecsSinceEpoch() / 1000.0 - kReferenceDate},
                {kClass, classRef(QStringLiteral("NSDate"))}});
        }
        case QMetaType::QVariantMap: {
            const QVariantMap map = value.toMap();
            const qsizetype slot = reserve();
            QVariantList keys, values;
            for (auto it = map.begin(); it != map.end(); ++it) {
                keys.append(encode(it.key()));
                values.append(encode(it.value()));
            }
            objects[slot] = QVariantMap{{QStringLiteral("NS.keys"), keys},
                                        {QStringLiteral("NS.objects"), values},
                                        {kClass, classRef(QStringLiteral("NSDictionary"))}};
            return uid(slot);
        }
        case QMetaType::QVariantList:
        case QMetaType::QStringList: {
            const QVariantList list = value.toList();
            const qsizetype slot = reserve();
            QVariantList values;
            for (const QVariant& item : list)
                values.append(encode(item));
            objects[slot] = QVariantMap{{QStringLiteral("NS.objects"), values},
                                        {kClass, classRef(QStringLiteral("NSArray"))}};
            return uid(slot);
        }
        default:
            return append(value.toString());
        }
    }

private:
    QHash<QString, qsizetype> m_classes;

    // Numbers and bools sit inline in an object's fields, as the real archiver writes them.
    QVariant field(const QVariant& value)
    {
        if (isScalarNumber(value))
            return value.typeId() == QMetaType::Float ? QVariant(value.toDouble()) : value;
        return encode(value);
    }

    QVariant append(const QVariant& entry)
    {
        objects.append(entry);
        return uid(objects.size() - 1);
    }

    // A container takes its index before its members so the root stays at UID 1.
    qsizetype reserve()
    {
        objects.append(QVariant());
        return objects.size() - 1;
    }

    QVariant classRef(const QString& name)
    {
        auto it = m_classes.constFind(name);
        if (it == m_classes.constEnd()) {
            QStringList chain{name};
            if (name != QLatin1String("NSObject"))
                chain.append(QStringLiteral("NSObject"));
            objects.append(QVariantMap{{QStringLiteral("$classname"), name},
                                       {QStringLiteral("$classes"), chain}});
            it = m_classes.insert(name, objects.size() - 1);
        }
        return uid(*it);
    }
};

bool isUID(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<PlistUID>();
}

class Decoder {
public:
    explicit Decoder(const QVariantList& objects) : m_objects(objects) {}

    QString error;

    bool failed() const { return !error.isEmpty(); }

    // A field or member: UIDs are resolved, inline values are kept.
    QVariant value(const QVariant& raw)
    {
        return isUID(raw) ? object(raw.value<PlistUID>().value) : raw;
    }

    QVariant object(quint64 index)
    {
        if (failed())
            return {};
        if (index == 0)
            return {};
        if (index >= static_cast<quint64>(m_objects.size()))
            return fail(QStringLiteral("UID %1 is out of range (%2 objects)").arg(index).arg(m_objects.size()));
        if (auto it = m_done.constFind(index); it != m_done.constEnd())
            return *it;
        if (m_inProgress.contains(index))
            return fail(QStringLiteral("object %1 refers to itself").arg(index));
        if (m_inProgress.size() >= kMaxDepth)
            return fail(QStringLiteral("objects nest deeper than %1 levels").arg(kMaxDepth));
        m_inProgress.insert(index);
        const QVariant result = decode(index, m_objects.at(static_cast<qsizetype>(index)));
        m_inProgress.remove(index);
        if (failed())
            return {};
        m_done.insert(index, result);
        return result;
    }

private:
    const QVariantList m_objects;
    QHash<quint64, QVariant> m_done;
    QSet<quint64> m_inProgress;

    QVariant fail(const QString& reason)
    {
        if (error.isEmpty())
            error = reason;
        return {};
    }

    QVariant decode(quint64 index, const QVariant& entry)
    {
        if (entry.typeId() == QMetaType::QVariantList)
            return fail(QStringLiteral("object %1 is a bare array").arg(index));
        if (entry.typeId() != QMetaType::QVariantMap)
            return entry;  // string, number, bool, data written as themselves
        const QVariantMap fields = entry.toMap();
        const QString name = className(index, fields.value(kClass));
        if (failed())
            return {};
        const auto list = [&](const QString& key) {
            const QVariant members = fields.value(key);
            if (members.typeId() != QMetaType::QVariantList) {
                fail(QStringLiteral("%1 object %2 has no %3 array").arg(name).arg(index).arg(key));
                return QVariantList{};
            }
            QVariantList out;
            for (const QVariant& member : members.toList()) {
                out.append(value(member));
                if (failed())
                    break;
            }
            return out;
        };

        if (name == QLatin1String("NSDictionary") || name == QLatin1String("NSMutableDictionary")) {
            const QVariantList keys = list(QStringLiteral("NS.keys"));
            const QVariantList values = list(QStringLiteral("NS.objects"));
            if (failed())
                return {};
            if (keys.size() != values.size())
                return fail(QStringLiteral("dictionary %1 has %2 keys but %3 values").arg(index).arg(keys.size()).arg(values.size()));
            QVariantMap map;
            for (qsizetype i = 0; i < keys.size(); ++i)
                map.insert(keys.at(i).toString(), values.at(i));
            return map;
        }
        if (name == QLatin1String("NSArray") || name == QLatin1String("NSMutableArray")
            || name == QLatin1String("NSSet") || name == QLatin1String("NSMutableSet")
            || name == QLatin1String("NSOrderedSet") || name == QLatin1String("NSMutableOrderedSet")) {
            const QVariantList members = list(QStringLiteral("NS.objects"));
            return failed() ? QVariant() : QVariant(members);
        }
        if (name == QLatin1String("NSString") || name == QLatin1String("NSMutableString"))
            return value(fields.value(QStringLiteral("NS.string"))).toString();
        if (name == QLatin1String("NSData") || name == QLatin1String("NSMutableData"))
            return value(fields.value(QStringLiteral("NS.data"))).toByteArray();
        if (name == QLatin1String("NSDate")) {
            bool ok = false;
            const double seconds = fields.value(QStringLiteral("NS.time")).toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || std::abs(seconds) > 1e13)
                return fail(QStringLiteral("date %1 has no usable NS.time").arg(index));
            return QDateTime::fromMSecsSinceEpoch(std::llround((seconds + kReferenceDate) * 1000), QTimeZone::utc());
        }
        KeyedObject object{name, {}};
        for (auto it = fields.begin(); it != fields.end(); ++it) {
            if (it.key() == kClass)
                continue;
            object.fields.insert(it.key(), value(it.value()));
            if (failed())
                return {};
        }
        return QVariant::fromValue(object);
    }

    QString className(quint64 index, const QVariant& ref)
    {
        if (!isUID(ref)) {
            fail(QStringLiteral("object %1 has no $class").arg(index));
            return {};
        }
        const quint64 classIndex = ref.value<PlistUID>().value;
        if (classIndex == 0 || classIndex >= static_cast<quint64>(m_objects.size())) {
            fail(QStringLiteral("object %1 has class UID %2 out of range").arg(index).arg(classIndex));
            return {};
        }
        const QString name = m_objects.at(static_cast<qsizetype>(classIndex)).toMap().value(QStringLiteral("$classname")).toString();
        if (name.isEmpty())
            fail(QStringLiteral("object %1 has a class without $classname").arg(index));
        return name;
    }
};

// Whether the tree holds at most `limit` values, each shared one counted where it is reached.
bool holdsAtMost(const QVariant& root, qint64 limit)
{
    std::vector<QVariant> pending{root};
    qint64 count = 0;
    while (!pending.empty()) {
        const QVariant value = std::move(pending.back());
        pending.pop_back();
        if (++count > limit)
            return false;
        if (value.typeId() == QMetaType::QVariantList) {
            for (const QVariant& member : *static_cast<const QVariantList*>(value.constData()))
                pending.push_back(member);
        } else if (value.typeId() == QMetaType::QVariantMap) {
            for (const QVariant& member : *static_cast<const QVariantMap*>(value.constData()))
                pending.push_back(member);
        } else if (value.metaType() == QMetaType::fromType<KeyedObject>()) {
            for (const QVariant& member : static_cast<const KeyedObject*>(value.constData())->fields)
                pending.push_back(member);
        }
    }
    return true;
}

}  // namespace

namespace NSKeyedArchiver {

QByteArray archivedDataWithRootObject(const QVariant& root)
{
    Encoder encoder;
    const QVariant rootRef = encoder.encode(root);
    const QVariantMap archive{
        {QStringLiteral("$archiver"), QStringLiteral("NSKeyedArchiver")},
        {QStringLiteral("$version"), 100000},
        {QStringLiteral("$top"), QVariantMap{{QStringLiteral("root"), rootRef}}},
        {QStringLiteral("$objects"), encoder.objects},
    };
    return PropertyList::toData(archive, PropertyList::Format::Binary);
}

}  // namespace NSKeyedArchiver

namespace NSKeyedUnarchiver {

QVariant unarchiveObjectWithData(const QByteArray& data, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = QStringLiteral("keyed archive: ") + reason;
        return QVariant();
    };
    if (error)
        error->clear();
    QString reason;
    const QVariant plist = PropertyList::fromData(data, &reason);
    if (!plist.isValid())
        return fail(reason);
    const QVariantMap archive = plist.toMap();
    if (plist.typeId() != QMetaType::QVariantMap
        || archive.value(QStringLiteral("$archiver")).toString() != QLatin1String("NSKeyedArchiver")
        || archive.value(QStringLiteral("$objects")).typeId() != QMetaType::QVariantList)
        return fail(QStringLiteral("property list is not a keyed archive"));
    const QVariant root = archive.value(QStringLiteral("$top")).toMap().value(QStringLiteral("root"));
    if (!isUID(root))
        return fail(QStringLiteral("no $top root reference"));
    Decoder decoder(archive.value(QStringLiteral("$objects")).toList());
    const QVariant result = decoder.value(root);
    if (decoder.failed())
        return fail(decoder.error);
    if (!holdsAtMost(result, kMaxValues))
        return fail(QStringLiteral("shared objects expand to more than %1 values").arg(kMaxValues));
    return result;
}

}  // namespace NSKeyedUnarchiver
