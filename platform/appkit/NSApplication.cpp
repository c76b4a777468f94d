#include "NSApplication.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWindow>

NSApplication& NSApplication::sharedApplication()
{
    static NSApplication application;
    return application;
}

void NSApplication::activateIgnoringOtherApps(bool)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible())
            continue;
        window->raise();
        window->requestActivate();
    }
}

void NSApplication::terminate()
{
    if (QCoreApplication* application = QCoreApplication::instance())
        QMetaObject::invokeMethod(application, &QCoreApplication::quit, Qt::QueuedConnection);
}
