#include "SessionBus.h"

#include <QDBusError>
#include <cstdio>

QDBusConnection SessionBus::connection()
{
    static const QDBusConnection bus = [] {
        QDBusConnection session = QDBusConnection::sessionBus();
        if (!session.isConnected()) {
            const QString reason = session.lastError().message();
            std::fprintf(stderr, "Kelvara: no session D-Bus (%s); the programs cannot reach each other.\n",
                         reason.isEmpty() ? "not reachable" : qPrintable(reason));
        }
        return session;
    }();
    return bus;
}
