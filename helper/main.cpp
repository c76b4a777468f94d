#include <QCoreApplication>

#include "TerminationSignals.h"

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    quitOnTerminationSignals(application);
    return application.exec();
}
