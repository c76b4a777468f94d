#pragma once
// An overheat rule: tell the user when this sensor (or any temperature sensor)
// reaches this temperature. Stored as a keyed-archive object of class
// "KLNotification" in the settings suite.
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>
#include <optional>

#include "NSKeyedArchiver.h"

class KLSensor;

class KLNotification {
public:
    static constexpr const char* kClassName = "KLNotification";

    QString sensorKey;   // null when unset; "any-sensor" for every temperature sensor
    QString sensorName;
    std::optional<double> threshold;
    std::optional<bool> active;
    std::optional<bool> repeat;

    // The watched sensor in the store; null for "any-sensor" or a vanished sensor.
    KLSensor* sensor() const;
    // The same, from sensors fetched once for many rules (KLSensor::sensorsByKey).
    KLSensor* sensor(const QHash<QString, KLSensor*>& sensors) const;

    KeyedObject encode() const;
    // Every key that is missing, null or not of its property's kind stays unset.
    static KLNotification decode(const KeyedObject& object);
    // A deep copy, through the archive.
    KLNotification copy() const;

    // Rules are the same rule when they watch the same sensor key.
    bool operator==(const KLNotification& other) const { return sensorKey == other.sensorKey; }

    static QByteArray archive(const QList<KLNotification>& rules);
    // Data that decodes to nothing (or to something else than a list) gives an empty list.
    static QList<KLNotification> unarchive(const QByteArray& data);
};
