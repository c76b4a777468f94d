#pragma once
// SIGTERM, SIGINT and SIGHUP end the event loop, so a program stopped by its
// service manager or by another program quits through its normal path.
class QCoreApplication;

void quitOnTerminationSignals(QCoreApplication& application);
