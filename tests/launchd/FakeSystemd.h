#pragma once
// A systemd user manager answering the Manager calls and unit properties the
// launchd layer uses. Units are the unit files it finds in ~/.config/systemd/user
// at each Reload; starting one gives it a made-up PID. It lives on the test
// process's own session bus (useOwnSessionBus) while it exists.
#include <QDBusVirtualObject>
#include <QMap>
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

    // Registers org.freedesktop.systemd1 on the process's own session bus.
    bool registerOnSessionBus();
    ~FakeSystemd() override;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    // "Method argument" for every Manager call, in order.
    QStringList calls;
    QMap<QString, Unit> units;
    // The manager's UnitPath property; unanswered while empty.
    QStringList unitPath;

private:
    static QString pathOfUnit(const QString& name);
    QString unitAtPath(const QString& path) const;
    bool m_registered = false;
    uint m_nextPID = 4000;
};
