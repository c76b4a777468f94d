#include <QApplication>

#include "TerminationSignals.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    quitOnTerminationSignals(application);
    return application.exec();
}
