#include <QApplication>
#include <QTimer>

#include "AppDelegate.h"
#include "KLDataManager.h"
#include "KLWindowController.h"
#include "NSApplication+Modal.h"
#include "TerminationSignals.h"

int main(int argc, char* argv[])
{
    // Before the application object, whose set-up is slow on a busy machine.
    installTerminationSignals();
    QApplication application(argc, argv);
    quitOnTerminationSignals(application, NSApplicationModal::abortModalSessions);
    // First of all: a second Kelvara hands its links to the first and ends.
    if (const std::optional<int> status = AppDelegate::becomeSoleCopy(application, application.arguments()))
        return *status;

    AppDelegate delegate;
    delegate.applicationWillFinishLaunching();
    // Creating the settings store builds the sensor catalogue into the shared store.
    KLDataManager::sharedInstance();
    // The delegate decides what closing the last window does.
    application.setQuitOnLastWindowClosed(false);
    QObject::connect(&application, &QGuiApplication::lastWindowClosed, &application,
                     [&delegate] { delegate.applicationShouldTerminateAfterLastWindowClosed(); });
    auto* window = new KLWindowController;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    // Once the event loop runs, as after the interface has loaded.
    QTimer::singleShot(0, &application, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return application.exec();
}
