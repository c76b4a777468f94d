#pragma once
// A test that stands in for one of the programs owns that program's bus name on
// the connection its notices go out on, as the program would; other programs
// ignore notices from anyone else on the bus.
#include <QDBusConnectionInterface>
#include <QString>

#include "SessionBus.h"

inline bool ownProgramBusName(const QString& name)
{
    QDBusConnection bus = SessionBus::connection();
    if (!bus.isConnected())
        return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        name, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}
