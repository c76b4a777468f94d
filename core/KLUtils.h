#pragma once
#include <QString>

class KLUtils {
public:
    // Starts Kelvara (the main program) without waiting for it.
    static bool loadMainApp();
    // Asks the first running program with the bundle identifier to quit; nothing when none runs.
    static void terminateApp(const QString& bundleIdentifier);
    static bool isDarkMode();
    // The user's documents folder.
    static QString documentsPath();
};
