#include "PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>
#include <plist/plist.h>

namespace PropertyList {

namespace {

// Property list dates count from 2001-01-01 UTC.
constexpr qint64 kReferenceDate = 978307200;
// Deeper nesting is taken as damage: every level is a stack frame here and
// again when the values are destroyed.
constexpr int kMaxDepth = 512;

QVariant toVariant(plist_t node, int depth, bool* tooDeep)
{
    if (depth > kMaxDepth) {
        *tooDeep = true;
        return {};
    }
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        while (!*tooDeep) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                free(key);
                break;
            }
            map.insert(QString::fromUtf8(key), toVariant(value, depth + 1, tooDeep));
            free(key);
        }
        free(it);
        return map;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t size = plist_array_get_size(node);
        list.reserve(static_cast<qsizetype>(size));
        // Walked with an iterator: a lookup by index starts from the front each time.
        plist_array_iter it = nullptr;
        plist_array_new_iter(node, &it);
        for (uint32_t i = 0; i < size && !*tooDeep; ++i) {
            plist_t item = nullptr;
            plist_array_next_item(node, it, &item);
            if (!item)
                break;
            list.append(toVariant(item, depth + 1, tooDeep));
        }
        free(it);
        return list;
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return QString::fromUtf8(text, static_cast<qsizetype>(length));
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return bool(value);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        // Negative integers come back as their two's complement.
        return static_cast<qlonglong>(value);
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return QByteArray(bytes, static_cast<qsizetype>(length));
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return QDateTime::fromMSecsSinceEpoch((kReferenceDate + sec) * 1000 + usec / 1000, QTimeZone::utc());
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return QVariant::fromValue(PlistUID{value});
    }
    default:
        return {};
    }
}

plist_t toNode(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<PlistUID>())
        return plist_new_uid(value.value<PlistUID>().value);
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            plist_dict_set_item(dict, it.key().toUtf8().constData(), toNode(it.value()));
        return dict;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        for (const QVariant& item : value.toList())
            plist_array_append_item(array, toNode(item));
        return array;
    }
    case QMetaType::Bool:
        return plist_new_bool(value.toBool());
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return plist_new_uint(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kReferenceDate * 1000;
        const qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        return plist_new_date(static_cast<int32_t>(sec), static_cast<int32_t>((ms - sec * 1000) * 1000));
    }
    default:
        return plist_new_string(value.toString().toUtf8().constData());
    }
}

}  // namespace

QVariant fromData(const QByteArray& data)
{
    if (data.isEmpty())
        return {};
    plist_t root = nullptr;
    plist_from_memory(data.constData(), static_cast<uint32_t>(data.size()), &root);
    if (!root)
        return {};
    bool tooDeep = false;
    QVariant value = toVariant(root, 0, &tooDeep);
    plist_free(root);
    return tooDeep ? QVariant() : value;
}

QVariant readFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    QVariant value = fromData(file.readAll());
    if (!value.isValid() && error)
        *error = QStringLiteral("not a property list");
    return value;
}

QByteArray toData(const QVariant& value, Format format)
{
    plist_t root = toNode(value);
    char* bytes = nullptr;
    uint32_t length = 0;
    if (format == Format::Binary)
        plist_to_bin(root, &bytes, &length);
    else
        plist_to_xml(root, &bytes, &length);
    QByteArray data(bytes, static_cast<qsizetype>(length));
    if (format == Format::Binary)
        plist_to_bin_free(bytes);
    else
        plist_to_xml_free(bytes);
    plist_free(root);
    return data;
}

bool isInteger(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool isNumber(const QVariant& value)
{
    const int type = value.typeId();
    return type == QMetaType::Bool || type == QMetaType::Double || type == QMetaType::Float || isInteger(value);
}

}  // namespace PropertyList
