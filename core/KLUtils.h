#pragma once
#include <QString>

class KLUtils {
public:
    // Brings a running Kelvara (the main program) to the front, or starts it when
    // none runs; waits for neither.
    static bool loadMainApp();
    // Asks the first running program with the bundle identifier to quit; nothing when none runs.
    static void terminateApp(const QString& bundleIdentifier);
    // The desktop's colour-scheme preference, else the palette's window
    // lightness; its changes post "AppleInterfaceThemeChangedNotification"
    // on the distributed centre (to this program's observers).
    static bool isDarkMode();
    // The user's documents folder.
    static QString documentsPath();
};
