#pragma once
// SIGTERM, SIGINT and SIGHUP end the program through its normal path: `beforeQuit`
// runs on the event loop (a windowed program takes down its menus, alerts and
// sheets there), then the event loop quits. Whatever still holds the program a
// moment later (a window refusing to close, a nested loop) is overruled. A
// program whose event loop stops turning for a few seconds after the signal,
// or that has not ended 10 s after it, or that gets a second signal, dies of
// that signal at once; a quit that is merely slow is left to finish.
#include <functional>

class QCoreApplication;

// Takes the signals from here on; call it first thing in main, before the
// application object. A signal taken before the event loop runs quits the
// program once it does.
void installTerminationSignals();
// Installs them too when that has not been done.
void quitOnTerminationSignals(QCoreApplication& application, std::function<void()> beforeQuit = {});
