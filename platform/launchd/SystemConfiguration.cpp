#include "SystemConfiguration.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <pwd.h>
#include <unistd.h>

namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");

std::optional<QString> fixedUser;

QVariant property(const QString& path, const QString& interface, const QString& name)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kLogin, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
    message.setArguments({interface, name});
    const QDBusMessage reply = QDBusConnection::systemBus().call(message, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return qdbus_cast<QDBusVariant>(reply.arguments().first()).variant();
}

// The object path of seat0's active session; empty when the seat has none.
QString activeSeatSession()
{
    const QVariant value = property(QStringLiteral("/org/freedesktop/login1/seat/seat0"),
                                    QStringLiteral("org.freedesktop.login1.Seat"), QStringLiteral("ActiveSession"));
    if (!value.canConvert<QDBusArgument>())
        return {};
    QString id;
    QDBusObjectPath path;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginStructure();
    argument >> id >> path;
    argument.endStructure();
    return id.isEmpty() ? QString() : path.path();
}

// The session this process belongs to, when it is active (a remote login has no seat).
QString ownActiveSession()
{
    QDBusMessage message = QDBusMessage::createMethodCall(kLogin, QStringLiteral("/org/freedesktop/login1"),
                                                          QStringLiteral("org.freedesktop.login1.Manager"),
                                                          QStringLiteral("GetSessionByPID"));
    message.setArguments({static_cast<uint>(::getpid())});
    const QDBusMessage reply = QDBusConnection::systemBus().call(message, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QString path = qdbus_cast<QDBusObjectPath>(reply.arguments().first()).path();
    return property(path, kSessionInterface, QStringLiteral("Active")).toBool() ? path : QString();
}

QString userName(uid_t uid, gid_t* gid)
{
    const passwd* entry = ::getpwuid(uid);
    if (!entry)
        return QString::number(uid);
    if (gid)
        *gid = entry->pw_gid;
    return QString::fromLocal8Bit(entry->pw_name);
}

}  // namespace

QString SCDynamicStoreCopyConsoleUser(SCDynamicStoreRef, uid_t* uid, gid_t* gid)
{
    if (fixedUser)
        return *fixedUser;
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kLogin).value()) {
        const uid_t current = ::getuid();
        if (uid)
            *uid = current;
        return userName(current, gid);
    }
    QString session = activeSeatSession();
    if (session.isEmpty())
        session = ownActiveSession();
    if (session.isEmpty())
        return {};
    // A greeter holds the seat as the login window does on a Mac.
    if (property(session, kSessionInterface, QStringLiteral("Class")).toString() == QLatin1String("greeter"))
        return QStringLiteral("loginwindow");
    const QString name = property(session, kSessionInterface, QStringLiteral("Name")).toString();
    const passwd* entry = ::getpwnam(name.toLocal8Bit().constData());
    if (entry) {
        if (uid)
            *uid = entry->pw_uid;
        if (gid)
            *gid = entry->pw_gid;
    }
    return name.isEmpty() ? QString() : name;
}

void setConsoleUserForTesting(std::optional<QString> user)
{
    fixedUser = std::move(user);
}
