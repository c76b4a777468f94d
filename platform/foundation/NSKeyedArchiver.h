#pragma once
// Keyed archives: binary property lists with $archiver, $version, $top and a
// flat $objects table in which objects refer to each other by UID, so an
// archive names the class of every object it holds.
// QVariantMap <-> NSDictionary, QVariantList/QStringList <-> NSArray,
// QString <-> string, QDateTime <-> NSDate, QByteArray <-> data,
// numbers and bools as themselves, an invalid QVariant <-> nil.
#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// An object of one of our own classes inside an archive: its class name and encoded fields.
struct KeyedObject {
    QString className;
    QVariantMap fields;
    bool operator==(const KeyedObject&) const = default;
};
Q_DECLARE_METATYPE(KeyedObject)

namespace NSKeyedArchiver {
QByteArray archivedDataWithRootObject(const QVariant& root);
}

namespace NSKeyedUnarchiver {
// An invalid QVariant when the data is not a readable keyed archive (reason in *error)
// or when the archive holds nil (*error left empty).
QVariant unarchiveObjectWithData(const QByteArray& data, QString* error = nullptr);
}
