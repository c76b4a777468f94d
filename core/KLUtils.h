#pragma once
#include <QString>

class KLUtils {
public:
    // Brings a running Kelvara (the main program) to the front, or starts it when
    // none runs; waits for neither.
    static bool loadMainApp();
    // Asks the first running program with the bundle identifier to quit; nothing when none runs.
    static void terminateApp(const QString& bundleIdentifier);
    // Restarts Kelvara Menu: quits a running copy, registers its login job while
    // "open at login" is on (removes it otherwise) and starts it again when that
    // setting or forceOpen asks for it.
    static void loadMenuAppComponentWithForceOpen(bool forceOpen);
    // The desktop's colour-scheme preference, else the palette's window
    // lightness; its changes post "AppleInterfaceThemeChangedNotification"
    // on the distributed centre (to this program's observers).
    static bool isDarkMode();
    // The user's documents folder.
    static QString documentsPath();
};
