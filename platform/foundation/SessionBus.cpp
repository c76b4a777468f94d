#include "SessionBus.h"

#include <QDBusError>
#include <dbus/dbus.h>
#include <cstdio>

QDBusConnection SessionBus::connection()
{
    static const QDBusConnection bus = [] {
        // Not Qt's default session connection: that one holds incoming messages back
        // until the main loop first turns, and newer ones can then overtake the held
        // ones, breaking a poster's order. A connection of our own delivers at once.
        QDBusConnection session =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("kelvara-session"));
        if (!session.isConnected()) {
            const QString reason = session.lastError().message();
            std::fprintf(stderr, "Kelvara: no session D-Bus (%s); the programs cannot reach each other.\n",
                         reason.isEmpty() ? "not reachable" : qPrintable(reason));
        }
        return session;
    }();
    return bus;
}

qint64 SessionBus::unsentBytes(const QDBusConnection& connection)
{
    auto* raw = static_cast<DBusConnection*>(connection.internalPointer());
    return raw ? qint64(dbus_connection_get_outgoing_size(raw)) : 0;
}
