#pragma once
// The properties of each logged analytics event of a name, oldest first, read
// back from the local event log (one JSON object per line).
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include "MSAppCenter.h"

inline QList<QJsonObject> loggedEvents(const QString& name)
{
    QList<QJsonObject> found;
    QFile log(MSAppCenter::eventLogPath());
    if (!log.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value(QStringLiteral("event")).toString() == name)
            found << event.value(QStringLiteral("properties")).toObject();
    }
    return found;
}
