#pragma once
#include <QString>

class KLUtils {
public:
    // Brings a running Kelvara (the main program) to the front, or starts it when
    // none runs; waits for neither.
    static bool loadMainApp();
    // Asks the first running program with the bundle identifier to quit; nothing when none runs.
    static void terminateApp(const QString& bundleIdentifier);
    static bool isDarkMode();
    // The user's documents folder.
    static QString documentsPath();
};
