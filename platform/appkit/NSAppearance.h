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
#include <QPalette>
#include <QString>
#include <optional>

namespace NSAppearance {

bool isDarkAqua();
void forceDarkModeForTesting(std::optional<bool> dark);

QString themeChangedNotification();  // "AppleInterfaceThemeChangedNotification"

// Qt does not restyle standard controls from the desktop's preference, so the
// windowed programs set a palette of their own while it is dark.
QPalette darkPalette();
// The application palette for the preference in force (a forced answer, else
// the desktop's): the dark one while it asks for dark, else the desktop's own.
// The programs and the pictures of the screens go through this one function.
void applyApplicationPalette();
// Applies it now and again at every change of the desktop's preference,
// before that change's notice goes out.
void followDesktopAppearance();

// Forgets what the portal said and stops watching; the next question reads it anew.
void resetPortalForTesting();

}  // namespace NSAppearance
