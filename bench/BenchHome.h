#pragma once
// Every benchmark of a run shares one temporary home (store, settings, the
// simulated Mac's state) and runs as Kelvara Helper would.
#include <QCoreApplication>
#include <QTemporaryDir>

#include "NSBundle.h"

inline void useBenchHome()
{
    static QTemporaryDir home;
    static bool once = [] {
        qputenv("HOME", home.path().toLocal8Bit());
        NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR "/Contents/Components/Kelvara Helper.app"));
        static int argc = 1;
        static char name[] = "kelvara_bench";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
        return true;
    }();
    (void)once;
}
