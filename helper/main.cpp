#include <QCoreApplication>
#include <cstdio>

#include "AppDelegate.h"
#include "NSBundle.h"
#include "NSRunningApplication.h"
#include "TerminationSignals.h"

namespace {

// Long enough for a copy being stopped to let the name go: past the grace period
// between the request to quit and SIGTERM.
constexpr int kWaitForNameMs = 5000;
// The service manager restarts this program after a successful exit only
// (Restart=on-success), so a copy that gives way must not exit with 0.
constexpr int kGaveWayStatus = 1;

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
        [&delegate] { delegate.applicationDidFinishLaunching(); },
        [&application] {
            std::fprintf(stderr, "Kelvara Helper: another copy is running; this one leaves.\n");
            application.exit(kGaveWayStatus);
        });
    return application.exec();
}
