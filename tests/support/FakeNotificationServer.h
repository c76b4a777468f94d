#pragma once
// A desktop notification server on the test's session bus, on a connection of
// its own so calls from this process travel through the bus like anyone
// else's. It keeps what it is sent and sends clicks when the test says so.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>

class FakeNotificationServer : public QDBusVirtualObject {
public:
    struct Notice {
        uint id = 0;
        QString appName, summary, body;
        QStringList actions;
        QVariantMap hints;
        int timeout = 0;
        // The button is the pair after the body's "default".
        QString buttonKey() const { return actions.value(2); }
        QString buttonTitle() const { return actions.value(3); }
    };

    explicit FakeNotificationServer(uint firstId = 1)
        : m_name(QStringLiteral("fake-notification-server-%1").arg(quintptr(this)))
        , m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_name))
        , m_nextId(firstId)
    {
        registered = m_bus.registerVirtualObject(kPath, this) && m_bus.registerService(kInterface);
    }
    ~FakeNotificationServer() override { QDBusConnection::disconnectFromBus(m_name); }

    // "default" for the body, or a button's key.
    void invokeAction(uint id, const QString& key) { emitSignal("ActionInvoked", {id, key}); }
    void dismiss(uint id) { emitSignal("NotificationClosed", {id, 2u}); }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QList<QVariant> args = message.arguments();
        if (message.member() == "Notify" && message.signature() == "susssasa{sv}i") {
            notices.append({m_nextId++, args.at(0).toString(), args.at(3).toString(), args.at(4).toString(),
                            args.at(5).toStringList(), qdbus_cast<QVariantMap>(args.at(6)), args.at(7).toInt()});
            return connection.send(message.createReply(QVariant::fromValue(notices.last().id)));
        }
        if (message.member() == "CloseNotification" && message.signature() == "u") {
            closed.append(args.at(0).toUInt());
            return connection.send(message.createReply());
        }
        return false;
    }

    bool registered = false;
    QList<Notice> notices;
    QList<uint> closed;  // ids CloseNotification was called with

private:
    static constexpr QLatin1StringView kPath{"/org/freedesktop/Notifications"};
    static constexpr QLatin1StringView kInterface{"org.freedesktop.Notifications"};
    void emitSignal(const char* name, const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QLatin1String(name));
        signal.setArguments(arguments);
        m_bus.send(signal);
    }

    QString m_name;
    QDBusConnection m_bus;
    uint m_nextId;
};
