#include "FakeSystemd.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>

#include "LaunchdTestSupport.h"
#include "SystemdUserManager.h"

bool FakeSystemd::registerOnSessionBus()
{
    useOwnSessionBus();
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_registered = bus.isConnected() && bus.registerService(SystemdUserManager::kService) &&
                   bus.registerVirtualObject(SystemdUserManager::kPath, this, QDBusConnection::SubPath);
    return m_registered;
}

FakeSystemd::~FakeSystemd()
{
    if (m_registered) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(SystemdUserManager::kPath, QDBusConnection::UnregisterTree);
        bus.unregisterService(SystemdUserManager::kService);
    }
}

QString FakeSystemd::introspect(const QString&) const
{
    return {};
}

QString FakeSystemd::pathOfUnit(const QString& name)
{
    QString escaped;
    for (const QChar c : name) {
        if (c.isLetterOrNumber() && c.unicode() < 0x80)
            escaped += c;
        else
            escaped += QStringLiteral("_%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    return SystemdUserManager::kPath + QStringLiteral("/unit/") + escaped;
}

QString FakeSystemd::unitAtPath(const QString& path) const
{
    for (auto it = units.begin(); it != units.end(); ++it) {
        if (pathOfUnit(it.key()) == path)
            return it.key();
    }
    return {};
}

bool FakeSystemd::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    const QVariantList args = message.arguments();
    const auto reply = [&](const QVariantList& values) { return connection.send(message.createReply(values)); };
    const auto noSuchUnit = [&](const QString& name) {
        return connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.systemd1.NoSuchUnit"),
                                                        QStringLiteral("Unit %1 not loaded.").arg(name)));
    };

    if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") && message.member() == QLatin1String("Get")) {
        if (message.path() == SystemdUserManager::kPath && args.value(1).toString() == QLatin1String("UnitPath") &&
            !unitPath.isEmpty())
            return reply({QVariant::fromValue(QDBusVariant(unitPath))});
        const QString name = unitAtPath(message.path());
        if (name.isEmpty())
            return noSuchUnit(message.path());
        const Unit& unit = units[name];
        const QString property = args.value(1).toString();
        QVariant value;
        if (property == QLatin1String("ActiveState"))
            value = unit.activeState;
        else if (property == QLatin1String("LoadState"))
            value = QStringLiteral("loaded");
        else if (property == QLatin1String("MainPID"))
            value = unit.mainPID;
        else if (property == QLatin1String("ExecMainCode"))
            value = unit.execMainCode;
        else if (property == QLatin1String("ExecMainStatus"))
            value = unit.execMainStatus;
        return reply({QVariant::fromValue(QDBusVariant(value))});
    }
    if (message.interface() != SystemdUserManager::kManagerInterface)
        return false;

    const QString method = message.member();
    const QString first = args.value(0).canConvert<QStringList>() && args.value(0).typeId() != QMetaType::QString
                              ? args.value(0).toStringList().join(QLatin1Char(','))
                              : args.value(0).toString();
    calls << (first.isEmpty() ? method : method + QLatin1Char(' ') + first);

    if (method == QLatin1String("Reload")) {
        const QDir folder(SystemdUserManager::unitDirectory());
        const QStringList files = folder.entryList({QStringLiteral("*.service")}, QDir::Files);
        for (const QString& file : files) {
            if (!units.contains(file))
                units.insert(file, Unit());
        }
        for (auto it = units.begin(); it != units.end();) {
            if (!files.contains(it.key()) && it->activeState != QLatin1String("active"))
                it = units.erase(it);
            else
                ++it;
        }
        return reply({});
    }
    if (method == QLatin1String("GetUnit") || method == QLatin1String("LoadUnit")) {
        if (!units.contains(first))
            return noSuchUnit(first);
        return reply({QVariant::fromValue(QDBusObjectPath(pathOfUnit(first)))});
    }
    if (method == QLatin1String("EnableUnitFiles") || method == QLatin1String("DisableUnitFiles")) {
        for (const QString& name : args.value(0).toStringList()) {
            if (units.contains(name))
                units[name].enabled = method == QLatin1String("EnableUnitFiles");
        }
        return reply({true});
    }
    if (method == QLatin1String("StartUnit") || method == QLatin1String("StopUnit")) {
        if (!units.contains(first))
            return noSuchUnit(first);
        Unit& unit = units[first];
        if (method == QLatin1String("StartUnit")) {
            unit.activeState = QStringLiteral("active");
            unit.mainPID = m_nextPID++;
        } else if (unit.activeState == QLatin1String("active")) {
            unit.activeState = QStringLiteral("inactive");
            unit.mainPID = 0;
            unit.execMainCode = 1;
            unit.execMainStatus = 0;
        }
        return reply({QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/1")))});
    }
    if (method == QLatin1String("ResetFailedUnit"))
        return reply({});
    return false;
}
