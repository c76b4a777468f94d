#include "NSAppearance.h"

#include <QGuiApplication>
#include <QPalette>

namespace NSAppearance {

namespace {
std::optional<bool> g_forced;
}

bool isDarkAqua()
{
    if (g_forced)
        return *g_forced;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

void forceDarkModeForTesting(std::optional<bool> dark)
{
    g_forced = dark;
}

}  // namespace NSAppearance
