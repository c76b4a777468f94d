#include <QApplication>

#include "KLDataManager.h"
#include "NSBundle.h"
#include "NSRunningApplication.h"
#include "TerminationSignals.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    quitOnTerminationSignals(application);
    NSRunningApplication::registerCurrentApplication(application, NSBundle::mainBundle().bundleIdentifier());
    // Creating the settings store builds the sensor catalogue into the shared store.
    KLDataManager::sharedInstance();
    return application.exec();
}
