#pragma once
// Screens. The main screen is the one the last popover was anchored on (where
// the user is working with this program), else the primary screen.
#include <QRect>

class QScreen;

namespace NSScreen {

// Null only when the application has no screen at all.
QScreen* mainScreen();
// The screen's area without panels and docks (Qt's available geometry); empty without a screen.
QRect visibleFrame(const QScreen* screen);
// The height of the main screen's visible frame in points; 0 without a screen.
int mainScreenVisibleHeight();
// The screen that holds the point, else the primary screen.
QScreen* screenAt(const QPoint& point);
void setMainScreen(QScreen* screen);

}  // namespace NSScreen
