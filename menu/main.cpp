#include <QApplication>
#include <cstdio>

#include "AppDelegate.h"
#include "KLDataManager.h"
#include "KLMenuBarController.h"
#include "KLMenuStoryboard.h"
#include "KLWindowSystem.h"
#include "NSApplication+Modal.h"
#include "NSBundle.h"
#include "NSRunningApplication.h"
#include "NSStoryboard.h"
#include "TerminationSignals.h"

namespace {

// As Kelvara Helper: long enough for a copy being stopped to let the name go.
constexpr int kWaitForNameMs = 5000;
// The service manager restarts this program after a failed exit only
// (Restart=on-failure), so a copy that gives way exits with 0.
constexpr int kGaveWayStatus = 0;

}  // namespace

int main(int argc, char* argv[])
{
    // Before the application object, whose set-up is slow on a busy machine.
    installTerminationSignals();
    KLWindowSystem::preferX11(argc, argv);
    QApplication application(argc, argv);
    // Hiding the popover leaves no window; the program lives on in the tray.
    application.setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals(application, NSApplicationModal::abortModalSessions);
    // Only the owner of the bus name acts.
    NSRunningApplication::registerAsSoleCopy(
        application, NSBundle::mainBundle().bundleIdentifier(), kWaitForNameMs,
        [&application] {
            NSStoryboard::setMainStoryboard(&KLMenuStoryboard::storyboard());
            KLDataManager::sharedInstance();
            auto* delegate = new AppDelegate(&application);
            delegate->applicationDidFinishLaunching();
            auto* controller = new KLMenuBarController(&application);
            controller->awakeFromNib();
            // Its popovers' widgets go while the application still runs, not after it.
            QObject::connect(&application, &QCoreApplication::aboutToQuit, controller, [controller] { delete controller; });
        },
        [&application] {
            std::fprintf(stderr, "Kelvara Menu: another copy is running; this one leaves.\n");
            application.exit(kGaveWayStatus);
        });
    return application.exec();
}
