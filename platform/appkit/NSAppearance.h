#pragma once
// Light or dark. The desktop's colour-scheme preference, as its settings
// portal tells it, decides when there is one; otherwise the application
// palette does (a dark window colour means a dark appearance). Tests force
// either answer.
//
// The first question starts watching: the portal's changes of the preference
// and the application's palette changes each post the theme notice to this
// program's observers of the distributed centre (every program on the desktop
// sees the change for itself, so it does not travel between programs).
#include <QString>
#include <optional>

namespace NSAppearance {

bool isDarkAqua();
void forceDarkModeForTesting(std::optional<bool> dark);

QString themeChangedNotification();  // "AppleInterfaceThemeChangedNotification"

// Forgets what the portal said and stops watching; the next question reads it anew.
void resetPortalForTesting();

}  // namespace NSAppearance
