#include "PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <plist/plist.h>

#include "OwnFile.h"

namespace PropertyList {

namespace {

// Property list dates count from 2001-01-01 UTC.
constexpr qint64 kReferenceDate = 978307200;
// Deeper nesting is taken as damage: every level is a stack frame here and
// again when the values are destroyed.
constexpr int kMaxDepth = 512;
// libplist recurses while it parses and frees, and expands every shared object
// of a binary list again at each reference, so depth and size are checked
// before it sees the bytes.
constexpr qint64 kMaxNodes = 250000;
constexpr quint64 kMaxExpandedBytes = 32 * 1024 * 1024;
// libplist checks each binary object against all of its ancestors: the sum of
// the objects' depths is its work.
constexpr qint64 kMaxBinaryWork = 4000000;

QString tooDeep()
{
    return QStringLiteral("nests deeper than %1 levels").arg(kMaxDepth);
}

QString tooMany()
{
    return QStringLiteral("holds more than %1 values").arg(kMaxNodes);
}

quint64 bigEndian(const uchar* bytes, int size)
{
    quint64 value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// Walks the object graph of a binary list as libplist expands it, counting an
// object each time it is reached, so shared objects cannot multiply unseen.
class BinaryScan {
public:
    BinaryScan(const uchar* data, quint64 size) : m_data(data), m_size(size) {}

    QString check()
    {
        if (m_size < 8 + 32)
            return QStringLiteral("too short");
        const uchar* trailer = m_data + m_size - 32;
        m_offsetSize = trailer[6];
        m_refSize = trailer[7];
        m_count = bigEndian(trailer + 8, 8);
        const quint64 top = bigEndian(trailer + 16, 8);
        m_table = bigEndian(trailer + 24, 8);
        m_end = m_size - 32;
        // Any width up to eight bytes: libplist writes three-byte offsets past 64 KiB.
        const auto validSize = [](int n) { return n >= 1 && n <= 8; };
        if (!validSize(m_offsetSize) || !validSize(m_refSize) || m_count == 0 || top >= m_count || m_table < 8 ||
            m_table > m_end || m_count > (m_end - m_table) / static_cast<quint64>(m_offsetSize))
            return QStringLiteral("damaged trailer");

        QList<Span> stack;
        quint64 next = top;
        for (;;) {
            Span children;
            if (QString problem = visit(next, &children); !problem.isEmpty())
                return problem;
            m_work += stack.size() + 1;
            if (m_work > kMaxBinaryWork)
                return QStringLiteral("nests too many values too deeply");
            if (children.left > 0) {
                if (stack.size() >= kMaxDepth)
                    return tooDeep();
                stack.append(children);
            }
            while (!stack.isEmpty() && stack.last().left == 0)
                stack.removeLast();
            if (stack.isEmpty())
                return {};
            Span& span = stack.last();
            next = bigEndian(m_data + span.at, m_refSize);
            span.at += static_cast<quint64>(m_refSize);
            --span.left;
        }
    }

private:
    struct Span {
        quint64 at = 0;    // the next child reference
        quint64 left = 0;  // references still to follow
    };

    const uchar* m_data;
    quint64 m_size;
    quint64 m_end = 0;  // where the trailer starts
    quint64 m_table = 0;
    quint64 m_count = 0;
    int m_offsetSize = 0;
    int m_refSize = 0;
    qint64 m_nodes = 0;
    qint64 m_work = 0;
    quint64 m_bytes = 0;

    // Checks one object; a container hands back the span of its references.
    QString visit(quint64 index, Span* children)
    {
        if (++m_nodes > kMaxNodes)
            return tooMany();
        if (index >= m_count)
            return QStringLiteral("refers to object %1 of %2").arg(index).arg(m_count);
        const quint64 offset = bigEndian(m_data + m_table + index * static_cast<quint64>(m_offsetSize), m_offsetSize);
        if (offset < 8 || offset >= m_end)
            return QStringLiteral("object %1 lies outside the list").arg(index);
        quint64 at = offset + 1;
        const int type = m_data[offset] >> 4;
        const int info = m_data[offset] & 0x0f;
        // Fixed-size objects and counted ones; a count of 15 is followed by an integer object.
        quint64 length = static_cast<quint64>(info);
        const bool counted = type == 0x4 || type == 0x5 || type == 0x6 || type == 0xa || type == 0xc || type == 0xd;
        if (counted && info == 0x0f) {
            if (at >= m_end || (m_data[at] >> 4) != 0x1 || (m_data[at] & 0x0f) > 3)
                return QStringLiteral("object %1 has a damaged length").arg(index);
            const int size = 1 << (m_data[at] & 0x0f);
            if (m_end - at - 1 < static_cast<quint64>(size))
                return QStringLiteral("object %1 has a damaged length").arg(index);
            length = bigEndian(m_data + at + 1, size);
            at += 1 + static_cast<quint64>(size);
        }
        quint64 payload = 0;  // bytes after the marker (and length) that the object takes
        switch (type) {
        case 0x0:
            break;
        case 0x1:
        case 0x2:
            if (info > 4)
                return QStringLiteral("object %1 is a number of unknown size").arg(index);
            payload = quint64(1) << info;
            break;
        case 0x3:
            payload = 8;
            break;
        case 0x4:
        case 0x5:
            payload = length;
            break;
        case 0x6:
            if (length > m_size)
                return QStringLiteral("object %1 is longer than the list").arg(index);
            payload = length * 2;
            break;
        case 0x8:
            payload = static_cast<quint64>(info) + 1;
            break;
        case 0xa:
        case 0xc:
        case 0xd: {
            const quint64 refs = type == 0xd ? 2 : 1;
            if (length > m_size || length * refs > (m_end - at) / static_cast<quint64>(m_refSize))
                return QStringLiteral("object %1 is longer than the list").arg(index);
            children->at = at;
            children->left = length * refs;
            return {};
        }
        default:
            return QStringLiteral("object %1 has unknown type %2").arg(index).arg(type);
        }
        if (payload > m_end - at)
            return QStringLiteral("object %1 is longer than the list").arg(index);
        // libplist aborts on a dictionary key with a NUL in it; no text of ours holds one.
        if (type == 0x5 && std::memchr(m_data + at, '\0', payload))
            return QStringLiteral("text %1 holds a NUL").arg(index);
        for (quint64 i = 0; type == 0x6 && i < payload; i += 2) {
            if (m_data[at + i] == 0 && m_data[at + i + 1] == 0)
                return QStringLiteral("text %1 holds a NUL").arg(index);
        }
        m_bytes += payload;
        if (m_bytes > kMaxExpandedBytes)
            return QStringLiteral("expands to more than %1 bytes").arg(kMaxExpandedBytes);
        return {};
    }
};

bool startsWith(const char* at, const char* end, const char* text)
{
    const size_t size = std::strlen(text);
    return static_cast<size_t>(end - at) >= size && std::memcmp(at, text, size) == 0;
}

// Where text first occurs at or after `at`, or null.
const char* find(const char* at, const char* end, const char* text)
{
    const size_t size = std::strlen(text);
    for (; static_cast<size_t>(end - at) >= size; ++at) {
        const void* hit = std::memchr(at, text[0], static_cast<size_t>(end - at) - size + 1);
        if (!hit)
            return nullptr;
        at = static_cast<const char*>(hit);
        if (std::memcmp(at, text, size) == 0)
            return at;
    }
    return nullptr;
}

// Counts the elements and their nesting as an XML reader sees them. Whatever
// could be read two ways (a '<' inside a declaration, a tag closed by another
// name, quotes left open) is refused, so libplist cannot find more than this.
QString checkXml(const char* at, const char* end)
{
    if (std::memchr(at, '\0', static_cast<size_t>(end - at)))
        return QStringLiteral("not text");
    // Names of the open elements; the plist element and the root sit above the value levels.
    QList<QByteArrayView> open;
    qint64 elements = 0;
    for (;;) {
        at = static_cast<const char*>(std::memchr(at, '<', static_cast<size_t>(end - at)));
        if (!at)
            break;
        const char* close = nullptr;
        if (startsWith(at, end, "<!--")) {
            close = find(at + 4, end, "-->");
            if (!close)
                return QStringLiteral("unclosed comment");
            at = close + 3;
            continue;
        }
        if (startsWith(at, end, "<![CDATA[")) {
            close = find(at + 9, end, "]]>");
            if (!close)
                return QStringLiteral("unclosed character data");
            at = close + 3;
            continue;
        }
        const bool declaration = startsWith(at, end, "<?") || startsWith(at, end, "<!");
        // A tag ends at the first '>' outside quotes.
        char quote = 0;
        for (close = at + 1; close < end; ++close) {
            if (quote) {
                if (*close == quote)
                    quote = 0;
            } else if (*close == '"' || *close == '\'') {
                quote = *close;
            } else if (*close == '>') {
                break;
            }
            if (*close == '<' || (declaration && *close == '['))
                return QStringLiteral("a tag holds '%1'").arg(QLatin1Char(*close));
        }
        if (close >= end)
            return QStringLiteral("unclosed tag");
        if (declaration) {
            if (startsWith(at, end, "<?") ? close[-1] != '?' : !startsWith(at, end, "<!DOCTYPE"))
                return QStringLiteral("unknown declaration");
            at = close + 1;
            continue;
        }
        const bool closing = at[1] == '/';
        const char* name = at + (closing ? 2 : 1);
        const char* nameEnd = name;
        while (nameEnd < close && (std::isalnum(static_cast<uchar>(*nameEnd)) || *nameEnd == '_' || *nameEnd == '-' ||
                                   *nameEnd == ':' || *nameEnd == '.'))
            ++nameEnd;
        if (nameEnd == name)
            return QStringLiteral("a tag without a name");
        const QByteArrayView tag(name, nameEnd - name);
        if (closing) {
            if (open.isEmpty() || open.last() != tag)
                return QStringLiteral("</%1> closes another element").arg(QString::fromLatin1(tag));
            open.removeLast();
        } else {
            if (++elements > kMaxNodes)
                return tooMany();
            if (close[-1] != '/') {
                if (open.size() >= kMaxDepth + 2)
                    return tooDeep();
                open.append(tag);
            }
        }
        at = close + 1;
    }
    if (!open.isEmpty())
        return QStringLiteral("<%1> is not closed").arg(QString::fromLatin1(open.last()));
    return {};
}

// Nothing, with the reason where the caller asked for one.
QVariant failed(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return {};
}

QVariant toVariant(plist_t node, int depth, bool* deep)
{
    if (depth > kMaxDepth) {
        *deep = true;
        return {};
    }
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        while (!*deep) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                free(key);
                break;
            }
            map.insert(QString::fromUtf8(key), toVariant(value, depth + 1, deep));
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
        for (uint32_t i = 0; i < size && !*deep; ++i) {
            plist_t item = nullptr;
            plist_array_next_item(node, it, &item);
            if (!item)
                break;
            list.append(toVariant(item, depth + 1, deep));
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

QVariant fromData(const QByteArray& data, QString* error)
{
    if (data.size() < 8)
        return failed(error, QStringLiteral("not a property list"));
    if (data.size() > kMaxDataSize)
        return failed(error, QStringLiteral("larger than %1 bytes").arg(kMaxDataSize));
    const char* begin = data.constData();
    const auto size = static_cast<uint32_t>(data.size());
    // The format is chosen here, not by libplist, so the bytes it parses are the ones checked.
    const bool binary = data.startsWith("bplist00");
    if (!binary && data.startsWith("bplist"))
        return failed(error, QStringLiteral("an unknown binary property list version"));
    const QString problem = binary ? BinaryScan(reinterpret_cast<const uchar*>(begin), size).check()
                                   : checkXml(begin, begin + size);
    if (!problem.isEmpty())
        return failed(error, QStringLiteral("not a usable property list: ") + problem);
    plist_t root = nullptr;
    if (binary)
        plist_from_bin(begin, size, &root);
    else
        plist_from_xml(begin, size, &root);
    if (!root)
        return failed(error, QStringLiteral("not a property list"));
    bool deep = false;
    QVariant value = toVariant(root, 0, &deep);
    plist_free(root);
    return deep ? failed(error, tooDeep()) : value;
}

QVariant readFile(const QString& path, QString* error)
{
    const OwnFile::Contents file =
        OwnFile::read(QFile::encodeName(path).toStdString(), kMaxDataSize, OwnFile::Links::Follow);
    switch (file.outcome) {
    case OwnFile::Contents::Outcome::Read:
        return fromData(QByteArray::fromRawData(file.bytes.data(), qsizetype(file.bytes.size())), error);
    case OwnFile::Contents::Outcome::Refused:
        return failed(error, QStringLiteral("not a regular file"));
    case OwnFile::Contents::Outcome::TooLarge:
        return failed(error, QStringLiteral("larger than %1 bytes").arg(kMaxDataSize));
    default:
        return failed(error, QString::fromLocal8Bit(std::strerror(file.error)));
    }
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
