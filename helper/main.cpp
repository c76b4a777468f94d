#include <QCoreApplication>
#include <QDBusConnection>
#include <QTimer>
#include <cstdio>

#include "AppDelegate.h"
#include "NSBundle.h"
#include "NSRunningApplication.h"
#include "SessionBus.h"
#include "TerminationSignals.h"

namespace {

// Long enough for a copy being stopped to let the name go: past the grace period
// between the request to quit and SIGTERM.
constexpr int kWaitForNameMs = 5000;
// The service manager restarts this program after a successful exit only
// (Restart=on-success), so a copy that gives way must not exit with 0.
constexpr int kGaveWayStatus = 1;
// How often a copy that polls looks whether its session bus is still there.
constexpr int kBusCheckMs = 5000;

// A session that ends without stopping this program (no service manager to do it)
// takes its bus along: the copy left behind would poll alone, unseen, for good.
void quitWhenTheBusGoes(QCoreApplication& application)
{
    // A copy that never had a bus has none to lose (its unique name stays once gone).
    if (SessionBus::connection().baseService().isEmpty())
        return;
    auto* check = new QTimer(&application);
    check->setTimerType(Qt::VeryCoarseTimer);
    QObject::connect(check, &QTimer::timeout, &application, [&application, check] {
        if (SessionBus::connection().isConnected())
            return;
        check->stop();
        std::fprintf(stderr, "Kelvara Helper: the session bus has gone; this copy quits.\n");
        application.quit();
    });
    check->start(kBusCheckMs);
}

}  // namespace

int main(int argc, char* argv[])
{
    // Before the application object, whose set-up is slow on a busy machine.
    installTerminationSignals();
    QCoreApplication application(argc, argv);
    quitOnTerminationSignals(application);
    AppDelegate delegate;
    // Only the owner of the bus name polls; a second copy waits in line and leaves.
    NSRunningApplication::registerAsSoleCopy(
        application, NSBundle::mainBundle().bundleIdentifier(), kWaitForNameMs,
        [&delegate, &application] {
            delegate.applicationDidFinishLaunching();
            quitWhenTheBusGoes(application);
        },
        [&application] {
            std::fprintf(stderr, "Kelvara Helper: another copy is running; this one leaves.\n");
            application.exit(kGaveWayStatus);
        });
    return application.exec();
}
