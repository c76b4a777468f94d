#pragma once
#include <QString>

class KLUtils {
public:
    // Brings a running Kelvara (the main program) to the front, or starts it when
    // none runs; waits for neither.
    static bool loadMainApp();
    // Asks the first running program with the bundle identifier to quit; nothing when none runs.
    static void terminateApp(const QString& bundleIdentifier);
    // (Re)registers Kelvara Helper as the user's launch agent and starts it
    // by path when it is not running a second later. Kelvara's own: defined in
    // its program library, so the companions link no job control.
    static void loadHelperAppComponent();
    // (Re)registers Kelvara Menu while it should open at login (else removes its
    // job) and, when it should open or forceOpen, starts it by path when it is
    // not running half a second later, then brings Kelvara to the front.
    static void loadMenuAppComponentWithForceOpen(bool forceOpen);
    // The desktop's colour-scheme preference, else the palette's window
    // lightness; its changes post "AppleInterfaceThemeChangedNotification"
    // on the distributed centre (to this program's observers).
    static bool isDarkMode();
    // The user's documents folder.
    static QString documentsPath();
    // A stored number as a whole number for a field or slider: truncated toward
    // zero, held within int (plain conversion beyond it is undefined), 0 for NaN.
    static int truncatedInt(double value);
};
