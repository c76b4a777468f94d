#pragma once
// One application object per test process, for code that queues work on the main thread.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

inline QCoreApplication& testApplication()
{
    static int argc = 1;
    static char name[] = "kelvara-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? QCoreApplication::instance()
                                                                : new QCoreApplication(argc, argv);
    return *app;
}

// Runs everything queued on the main thread so far (and what that queues in turn).
inline void drainMainQueue()
{
    testApplication();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Runs the event loop until the condition holds; false when it did not within the time.
template <class Condition>
bool waitUntil(Condition condition, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        // Sleeps until an event comes, 10 ms at most (for conditions no event tells of):
        // a spinning wait would take a core from the programs the test waits for.
        QTimer wake;
        wake.start(10);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}
