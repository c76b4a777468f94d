#include <QCoreApplication>
#include <QTimer>

#include "AppDelegate.h"
#include "NSBundle.h"
#include "NSRunningApplication.h"
#include "TerminationSignals.h"

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    quitOnTerminationSignals(application);
    NSRunningApplication::registerCurrentApplication(application, NSBundle::mainBundle().bundleIdentifier());
    AppDelegate delegate;
    QTimer::singleShot(0, &application, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return application.exec();
}
