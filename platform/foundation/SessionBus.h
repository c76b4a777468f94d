#pragma once
// The session bus that every cross-program layer shares. Without one, the first
// caller says so once on standard error and every caller gets the same
// disconnected connection, so nothing retries or complains again.
// Call it once the application object exists.
#include <QDBusConnection>

namespace SessionBus {

QDBusConnection connection();

}  // namespace SessionBus
