#pragma once
// SIGTERM, SIGINT and SIGHUP end the program through its normal path: `beforeQuit`
// runs on the event loop (a windowed program takes down its menus, alerts and
// sheets there), then the event loop quits. Whatever still holds the program a
// moment later (a window refusing to close, a nested loop) is overruled, and a
// program that has not ended 1.5 s after the signal, or gets a second one, dies
// of that signal at once.
#include <functional>

class QCoreApplication;

void quitOnTerminationSignals(QCoreApplication& application, std::function<void()> beforeQuit = {});
