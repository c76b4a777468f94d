#include "NSScreen.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

namespace {

QPointer<QScreen>& lastScreen()
{
    static QPointer<QScreen> screen;
    return screen;
}

}  // namespace

namespace NSScreen {

QScreen* mainScreen()
{
    if (QScreen* screen = lastScreen())
        return screen;
    return QGuiApplication::primaryScreen();
}

QRect visibleFrame(const QScreen* screen)
{
    return screen ? screen->availableGeometry() : QRect();
}

int mainScreenVisibleHeight()
{
    return visibleFrame(mainScreen()).height();
}

QScreen* screenAt(const QPoint& point)
{
    if (QScreen* screen = QGuiApplication::screenAt(point))
        return screen;
    return QGuiApplication::primaryScreen();
}

void setMainScreen(QScreen* screen)
{
    lastScreen() = screen;
}

}  // namespace NSScreen
