#pragma once
// The session bus that every cross-program layer shares. Without one, the first
// caller says so once on standard error and every caller gets the same
// disconnected connection, so nothing retries or complains again.
// Call it once the application object exists.
#include <QDBusConnection>

namespace SessionBus {

QDBusConnection connection();

// Bytes a connection holds for the bus. A client that never reads its answers
// makes the bus stop taking them, and libdbus queues the rest without a limit:
// past kMostUnsentBytes a connection answers nothing until they drained.
// (Answers Qt has handed its bus thread are not counted yet.)
inline constexpr qint64 kMostUnsentBytes = 4 * 1024 * 1024;
qint64 unsentBytes(const QDBusConnection& connection);
inline bool answersHeldBack(const QDBusConnection& connection)
{
    return unsentBytes(connection) > kMostUnsentBytes;
}

}  // namespace SessionBus
