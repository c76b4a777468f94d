#pragma once
// A systemd user manager answering the Manager calls and unit properties the
// launchd layer uses. Units are the unit files it finds in ~/.config/systemd/user
// at each Reload; starting one gives it a made-up PID. It lives on a session bus
// of its own, so tests that run at the same time never see it.
#include <QDBusVirtualObject>
#include <QMap>
#include <QProcess>
#include <QStringList>

class FakeSystemd : public QDBusVirtualObject {
public:
    struct Unit {
        QString activeState = QStringLiteral("inactive");
        uint mainPID = 0;
        int execMainCode = 0;
        int execMainStatus = 0;
        bool enabled = false;
    };

    // Starts a private session bus for this process (before anything else used
    // the session bus) and registers org.freedesktop.systemd1 on it.
    bool registerOnSessionBus();
    ~FakeSystemd() override;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    // "Method argument" for every Manager call, in order.
    QStringList calls;
    QMap<QString, Unit> units;

private:
    static QString pathOfUnit(const QString& name);
    QString unitAtPath(const QString& path) const;
    QProcess m_bus;
    bool m_registered = false;
    uint m_nextPID = 4000;
};
