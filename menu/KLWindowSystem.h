#pragma once
// Which of the desktop's window systems Kelvara Menu runs on. On Wayland a
// program cannot place its own windows, so its popovers would open wherever the
// compositor likes, far from the status item; where an X display is offered
// too (Xwayland), Kelvara Menu asks Qt for it, unless the user chose a platform.
#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>

namespace KLWindowSystem {

// The platform list to ask Qt for ("xcb", or "xcb;wayland" so that a dead
// Xwayland still leaves Wayland), or empty to leave Qt's own choice.
QByteArray preferredPlatform(const QProcessEnvironment& environment, const QStringList& arguments);

// Applies preferredPlatform() to the program's environment and arguments:
// argv is replaced by a copy with "-platform" added, which lives as long as
// the program (Qt keeps it). Nothing goes into the environment, so the
// programs that Kelvara Menu starts make their own choice.
void preferX11(int& argc, char**& argv);

}  // namespace KLWindowSystem
