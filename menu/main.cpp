#include <QApplication>

#include "NSBundle.h"
#include "NSRunningApplication.h"
#include "TerminationSignals.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    quitOnTerminationSignals(application);
    NSRunningApplication::registerCurrentApplication(application, NSBundle::mainBundle().bundleIdentifier());
    return application.exec();
}
