#pragma once
// Property lists (XML or binary) as Qt values: dictionary -> QVariantMap,
// array -> QVariantList, string -> QString, integer -> qlonglong, real -> double,
// boolean -> bool, data -> QByteArray, date -> QDateTime, UID -> PlistUID.
#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVariant>

struct PlistUID {
    quint64 value = 0;
    bool operator==(const PlistUID&) const = default;
};
Q_DECLARE_METATYPE(PlistUID)

namespace PropertyList {

enum class Format { Xml, Binary };

// Larger inputs are refused unread: settings and job files are small.
constexpr qsizetype kMaxDataSize = 16 * 1024 * 1024;

// An invalid QVariant when the bytes are not a property list, are larger than
// kMaxDataSize, nest more than 512 levels deep or hold (counting every
// reference to a shared object) more than 250000 values; the reason goes to *error.
QVariant fromData(const QByteArray& data, QString* error = nullptr);
// An invalid QVariant when the file is missing or not a property list; the reason goes to *error.
QVariant readFile(const QString& path, QString* error = nullptr);
QByteArray toData(const QVariant& value, Format format);

// A number as property lists hold them: any integer or real type, or a boolean.
bool isNumber(const QVariant& value);
// An integer type (not a boolean, not a real).
bool isInteger(const QVariant& value);

}  // namespace PropertyList
