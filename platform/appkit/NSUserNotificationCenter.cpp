#include "NSUserNotificationCenter.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUuid>
#include <cstdio>
#include <functional>

#include "NSBundle.h"
#include "OwnFile.h"
#include "SessionBus.h"

namespace {

constexpr QLatin1StringView kService("org.freedesktop.Notifications");
constexpr QLatin1StringView kPath("/org/freedesktop/Notifications");
constexpr QLatin1StringView kInterface("org.freedesktop.Notifications");
constexpr QLatin1StringView kDefaultAction("default");
constexpr QLatin1StringView kButtonAction("action-button");
// The desktop's sound for a new message, from the freedesktop sound naming list.
constexpr QLatin1StringView kDefaultSound("message-new-instant");
// A server started on demand may take a moment; after this the notice is lost.
constexpr int kNotifyTimeoutMs = 10000;
constexpr int kBusTimeoutMs = 2000;
// Older notices have long been dismissed or pushed out of the server's list.
constexpr qsizetype kRecordLimit = 50;
// Far above what kRecordLimit notices take.
constexpr std::size_t kRecordBytesLimit = 1024 * 1024;

bool g_droppedSaid = false;

void reportDroppedOnce(const QString& reason)
{
    if (g_droppedSaid)
        return;
    g_droppedSaid = true;
    std::fprintf(stderr, "Kelvara: notices cannot be shown (%s).\n", qPrintable(reason));
}

// Servers may read the body as markup; a sensor name like "A<B" must stay text.
QString escapedBody(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            escaped += QLatin1String("&amp;");
        else if (c == u'<')
            escaped += QLatin1String("&lt;");
        else if (c == u'>')
            escaped += QLatin1String("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

QString applicationName()
{
    const QString name = NSBundle::mainBundle().infoDictionary().value(QStringLiteral("CFBundleName")).toString();
    return name.isEmpty() ? QStringLiteral("Kelvara") : name;
}

// Tells one bus daemon from another, so notice numbers from an earlier login are never matched.
QString busIdentifier(const QDBusConnection& bus)
{
    const QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, kBusTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().toString();
}

class SignalReceiver : public QObject {
    Q_OBJECT
public:
    std::function<void(const QDBusMessage&)> actionInvoked;
    std::function<void(const QDBusMessage&)> notificationClosed;

public slots:
    void onActionInvoked(const QDBusMessage& message) { actionInvoked(message); }
    void onNotificationClosed(const QDBusMessage& message) { notificationClosed(message); }
};

struct Delivered {
    uint id = 0;
    // The server's unique bus name: numbers restart when another server takes over.
    QString server;
    NSUserNotification notification;
};

}  // namespace

struct NSUserNotificationCenter::Private {
    NSUserNotificationCenter* q = nullptr;
    QString recordPath;
    NSUserNotificationCenterDelegate* delegate = nullptr;
    bool setUp = false;
    QString busId;
    // Belongs to the application object, so it never outlives the bus machinery.
    QPointer<SignalReceiver> receiver;
    QList<Delivered> delivered;
    // Identifiers of notices whose server number has not come back yet.
    QSet<QString> pending;
    QSet<QString> removedWhilePending;

    void ensureSetUp()
    {
        if (setUp)
            return;
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        setUp = true;
        QDBusConnection bus = SessionBus::connection();
        if (!bus.isConnected())
            return;
        receiver = new SignalReceiver;
        receiver->actionInvoked = [this](const QDBusMessage& message) { actionInvoked(message); };
        receiver->notificationClosed = [this](const QDBusMessage& message) { notificationClosed(message); };
        receiver->moveToThread(app->thread());
        receiver->setParent(app);
        // Any sender: each signal is matched against the server that took the notice.
        bus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), receiver,
                    SLOT(onActionInvoked(QDBusMessage)));
        bus.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), receiver,
                    SLOT(onNotificationClosed(QDBusMessage)));
        // Asked after the match rules on the same connection, so once it answers they are in place.
        busId = busIdentifier(bus);
        load();
    }

    qsizetype indexOf(uint id, const QString& server) const
    {
        for (qsizetype i = 0; i < delivered.size(); ++i)
            if (delivered.at(i).id == id && delivered.at(i).server == server)
                return i;
        return -1;
    }

    void actionInvoked(const QDBusMessage& message)
    {
        if (message.signature() != QLatin1String("us"))
            return;
        const qsizetype index = indexOf(message.arguments().at(0).toUInt(), message.service());
        if (index < 0)
            return;
        NSUserNotification notification = delivered.at(index).notification;
        const QString action = message.arguments().at(1).toString();
        if (action == kDefaultAction)
            notification.activationType = NSUserNotificationActivationTypeContentsClicked;
        else if (action == kButtonAction && notification.hasActionButton)
            notification.activationType = NSUserNotificationActivationTypeActionButtonClicked;
        else
            return;
        if (delegate)
            delegate->didActivateNotification(*q, notification);
    }

    void notificationClosed(const QDBusMessage& message)
    {
        if (message.signature() != QLatin1String("uu"))
            return;
        const qsizetype index = indexOf(message.arguments().at(0).toUInt(), message.service());
        if (index < 0)
            return;
        delivered.removeAt(index);
        save();
    }

    void notified(const QDBusMessage& reply, const NSUserNotification& notification)
    {
        pending.remove(notification.identifier);
        const bool removed = removedWhilePending.remove(notification.identifier);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("u")) {
            const QString error = reply.errorName();
            const bool noServer = error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
                                  error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
            reportDroppedOnce(noServer || error.isEmpty() ? QStringLiteral("no notification server on the session bus")
                                                          : reply.errorMessage());
            return;
        }
        const Delivered shown{reply.arguments().first().toUInt(), reply.service(), notification};
        if (removed) {
            close(shown);
            return;
        }
        // Notices of a server that has gone went with it.
        delivered.removeIf([&shown](const Delivered& entry) { return entry.server != shown.server; });
        delivered.append(shown);
        while (delivered.size() > kRecordLimit)
            delivered.removeFirst();
        save();
    }

    static void close(const Delivered& entry)
    {
        // To the server that took it, never to whoever holds the name now.
        QDBusMessage call = QDBusMessage::createMethodCall(entry.server, kPath, kInterface,
                                                           QStringLiteral("CloseNotification"));
        call << entry.id;
        call.setAutoStartService(false);
        SessionBus::connection().send(call);
    }

    void load()
    {
        if (recordPath.isEmpty())
            return;
        const std::string path = QFile::encodeName(recordPath).toStdString();
        const OwnFile::Contents file = OwnFile::read(path, kRecordBytesLimit);
        if (file.outcome == OwnFile::Contents::Outcome::Refused ||
            file.outcome == OwnFile::Contents::Outcome::TooLarge)
            OwnFile::setAsideAndSay(path, "the record of delivered notices", file.reason,
                                    "notices shown before are not withdrawn");
        if (file.outcome != OwnFile::Contents::Outcome::Read)
            return;
        const QJsonObject record =
            QJsonDocument::fromJson(QByteArray::fromRawData(file.bytes.data(), qsizetype(file.bytes.size()))).object();
        const QJsonArray entries = record.value(QLatin1String("notifications")).toArray();
        if (record.value(QLatin1String("bus")).toString() != busId) {
            // Another login's bus: its server and every notice it showed are gone.
            if (!entries.isEmpty())
                save();
            return;
        }
        for (const QJsonValue& value : entries) {
            const QJsonObject entry = value.toObject();
            Delivered shown;
            shown.id = static_cast<uint>(entry.value(QLatin1String("id")).toInteger());
            shown.server = entry.value(QLatin1String("server")).toString();
            shown.notification.identifier = entry.value(QLatin1String("identifier")).toString();
            shown.notification.title = entry.value(QLatin1String("title")).toString();
            shown.notification.informativeText = entry.value(QLatin1String("informativeText")).toString();
            shown.notification.hasActionButton = entry.value(QLatin1String("hasActionButton")).toBool();
            shown.notification.actionButtonTitle = entry.value(QLatin1String("actionButtonTitle")).toString();
            shown.notification.userInfo = entry.value(QLatin1String("userInfo")).toObject().toVariantMap();
            if (shown.id != 0 && !shown.server.isEmpty() && !shown.notification.identifier.isEmpty())
                delivered.append(shown);
        }
    }

    void save() const
    {
        if (recordPath.isEmpty())
            return;
        QJsonArray entries;
        for (const Delivered& shown : delivered) {
            entries.append(QJsonObject{
                {QStringLiteral("id"), static_cast<qint64>(shown.id)},
                {QStringLiteral("server"), shown.server},
                {QStringLiteral("identifier"), shown.notification.identifier},
                {QStringLiteral("title"), shown.notification.title},
                {QStringLiteral("informativeText"), shown.notification.informativeText},
                {QStringLiteral("hasActionButton"), shown.notification.hasActionButton},
                {QStringLiteral("actionButtonTitle"), shown.notification.actionButtonTitle},
                {QStringLiteral("userInfo"), QJsonObject::fromVariantMap(shown.notification.userInfo)},
            });
        }
        const QJsonObject record{{QStringLiteral("bus"), busId}, {QStringLiteral("notifications"), entries}};
        QDir().mkpath(QFileInfo(recordPath).absolutePath());
        std::string reason;
        OwnFile::replace(QFile::encodeName(recordPath).toStdString(),
                         QJsonDocument(record).toJson(QJsonDocument::Compact).toStdString(), 0600, &reason);
    }
};

NSUserNotificationCenter& NSUserNotificationCenter::defaultUserNotificationCenter()
{
    static NSUserNotificationCenter center(defaultRecordPath());
    return center;
}

QString NSUserNotificationCenter::defaultRecordPath()
{
    return QDir::homePath() + QStringLiteral("/.local/state/kelvara/delivered-notifications.json");
}

NSUserNotificationCenter::NSUserNotificationCenter(const QString& recordPath)
    : d(std::make_unique<Private>())
{
    d->q = this;
    d->recordPath = recordPath;
    d->ensureSetUp();
}

NSUserNotificationCenter::~NSUserNotificationCenter()
{
    // Takes its pending replies along, so none arrives at a freed centre.
    delete d->receiver.data();
}

NSUserNotificationCenterDelegate* NSUserNotificationCenter::delegate() const
{
    return d->delegate;
}

void NSUserNotificationCenter::setDelegate(NSUserNotificationCenterDelegate* delegate)
{
    d->ensureSetUp();
    d->delegate = delegate;
}

void NSUserNotificationCenter::deliverNotification(const NSUserNotification& notification)
{
    d->ensureSetUp();
    if (!d->receiver) {
        reportDroppedOnce(d->setUp ? QStringLiteral("no session D-Bus") : QStringLiteral("no application object"));
        return;
    }
    NSUserNotification notice = notification;
    notice.activationType = NSUserNotificationActivationTypeNone;
    if (notice.identifier.isEmpty())
        notice.identifier = QUuid::createUuid().toString(QUuid::WithoutBraces);

    // "default" is the click on the body.
    QStringList actions{kDefaultAction, QString()};
    if (notice.hasActionButton)
        actions << kButtonAction << notice.actionButtonTitle;
    QVariantMap hints;
    if (!notice.soundName.isEmpty())
        hints.insert(QStringLiteral("sound-name"), notice.soundName == QLatin1String(NSUserNotificationDefaultSoundName)
                                                       ? QString(kDefaultSound)
                                                       : notice.soundName);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << applicationName() << uint(0) << QString() << notice.title << escapedBody(notice.informativeText) << actions
         << hints << int(-1);

    d->pending.insert(notice.identifier);
    auto* watcher = new QDBusPendingCallWatcher(SessionBus::connection().asyncCall(call, kNotifyTimeoutMs), d->receiver);
    Private* const p = d.get();
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, d->receiver,
                     [p, notice](QDBusPendingCallWatcher* finished) {
                         p->notified(finished->reply(), notice);
                         finished->deleteLater();
                     });
}

void NSUserNotificationCenter::removeDeliveredNotification(const NSUserNotification& notification)
{
    if (notification.identifier.isEmpty())
        return;
    if (d->pending.contains(notification.identifier)) {
        d->removedWhilePending.insert(notification.identifier);
        return;
    }
    for (qsizetype i = 0; i < d->delivered.size(); ++i) {
        if (d->delivered.at(i).notification.identifier == notification.identifier) {
            Private::close(d->delivered.takeAt(i));
            d->save();
            return;
        }
    }
}

QList<NSUserNotification> NSUserNotificationCenter::deliveredNotifications() const
{
    QList<NSUserNotification> notifications;
    for (const Delivered& shown : d->delivered)
        notifications.append(shown.notification);
    return notifications;
}

#include "NSUserNotificationCenter.moc"

void NSUserNotificationCenter::resetDroppedReportForTesting()
{
    g_droppedSaid = false;
}
