#include "NSDistributedNotificationCenter.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QMutex>
#include <QObject>

#include "Dispatch.h"
#include "SessionBus.h"

namespace {

// Literals, so they hold even for callers that run during static initialisation.
constexpr QLatin1StringView kPath("/com/orvane/kelvara/DistributedNotifications");
constexpr QLatin1StringView kInterface("com.orvane.kelvara.DistributedNotifications");
constexpr QLatin1StringView kMember("Post");

// The bus names of the three programs. Only a connection that owns one of them
// speaks for a program; any other process on the bus could post our notices.
constexpr QLatin1StringView kProgramNames[] = {
    QLatin1StringView("com.orvane.kelvara"),
    QLatin1StringView("com.orvane.kelvara.helper"),
    QLatin1StringView("com.orvane.kelvara.menu"),
};

using UserInfo = QMap<QString, QString>;

QVariantMap toVariantMap(const UserInfo& userInfo)
{
    QVariantMap map;
    for (auto it = userInfo.cbegin(); it != userInfo.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

// Takes the Post signal's arguments apart; anything of another shape is refused.
bool parsePost(const QDBusMessage& message, QString& name, QString& object, UserInfo& userInfo)
{
    const QList<QVariant> args = message.arguments();
    if (message.signature() != QLatin1String("ssa{ss}") || args.size() != 3)
        return false;
    name = args.at(0).toString();
    object = args.at(1).toString();
    const QDBusArgument map = args.at(2).value<QDBusArgument>();
    if (map.currentSignature() != QLatin1String("a{ss}"))
        return false;
    map >> userInfo;
    return true;
}

class PostReceiver : public QObject {
    Q_OBJECT
public:
    explicit PostReceiver(std::function<void(const QDBusMessage&)> handler)
        : m_handler(std::move(handler))
    {
    }

public slots:
    void onPost(const QDBusMessage& message) { m_handler(message); }

private:
    std::function<void(const QDBusMessage&)> m_handler;
};

}  // namespace

struct NSDistributedNotificationCenter::Private {
    NSNotificationCenter observers;
    QMutex mutex;
    bool setUp = false;
    bool connected = false;
    QString ownName;
    // Program bus name -> the unique name that owns it now; guarded by mutex.
    QHash<QString, QString> programOwners;

    // Joins the bus once an application object exists to receive on.
    bool ensureSetUp()
    {
        const QMutexLocker lock(&mutex);
        if (setUp)
            return connected;
        auto* app = QCoreApplication::instance();
        if (!app)
            return false;
        setUp = true;
        qDBusRegisterMetaType<UserInfo>();
        QDBusConnection bus = SessionBus::connection();
        if (!bus.isConnected())
            return false;
        ownName = bus.baseService();
        auto* postReceiver = new PostReceiver([this](const QDBusMessage& message) { receive(message); });
        postReceiver->moveToThread(app->thread());
        postReceiver->setParent(app);
        // The owners are followed from here on, then asked once; changes queued
        // meanwhile arrive later and end at the same owner. Owner changes and posts
        // come in the bus's order, so a program's first post follows its name's
        // registration.
        QStringList programs;
        for (const QLatin1StringView program : kProgramNames)
            programs.append(program);
        auto* watcher = new QDBusServiceWatcher;
        watcher->setConnection(bus);
        watcher->setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
        watcher->setWatchedServices(programs);
        watcher->moveToThread(app->thread());
        watcher->setParent(app);
        QObject::connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, watcher,
                         [this](const QString& program, const QString&, const QString& owner) {
                             const QMutexLocker ownersLock(&mutex);
                             programOwners.insert(program, owner);
                         });
        for (const QString& program : std::as_const(programs)) {
            const QDBusReply<QString> owner = bus.interface()->serviceOwner(program);
            if (owner.isValid())
                programOwners.insert(program, owner.value());
        }
        // No signature given, so every Post reaches the slot and is checked there.
        connected = bus.connect(QString(), kPath, kInterface, kMember, postReceiver, SLOT(onPost(QDBusMessage)));
        return connected;
    }

    bool isProgram(const QString& sender)
    {
        const QMutexLocker lock(&mutex);
        if (sender.isEmpty())
            return false;
        for (auto it = programOwners.cbegin(); it != programOwners.cend(); ++it)
            if (it.value() == sender)
                return true;
        return false;
    }

    void receive(const QDBusMessage& message)
    {
        // Our own posts were delivered through the main queue already.
        if (message.service() == ownName)
            return;
        if (!isProgram(message.service()))
            return;
        QString name;
        QString object;
        UserInfo userInfo;
        if (!parsePost(message, name, object, userInfo))
            return;
        observers.postNotificationName(name, object, toVariantMap(userInfo));
    }
};

NSDistributedNotificationCenter& NSDistributedNotificationCenter::defaultCenter()
{
    static NSDistributedNotificationCenter center;
    return center;
}

NSDistributedNotificationCenter::NSDistributedNotificationCenter()
    : d(new Private)
{
}

// The receiver belongs to the application object and goes with it, while the
// bus machinery still exists; by static destruction it may not.
NSDistributedNotificationCenter::~NSDistributedNotificationCenter()
{
    delete d;
}

int NSDistributedNotificationCenter::addObserver(const void* owner, const QString& name,
                                                 NSNotificationObserver observer)
{
    d->ensureSetUp();
    return d->observers.addObserver(owner, name, std::move(observer));
}

void NSDistributedNotificationCenter::removeObserver(const void* owner)
{
    d->observers.removeObserver(owner);
}

void NSDistributedNotificationCenter::removeObserverToken(int token)
{
    d->observers.removeObserverToken(token);
}

void NSDistributedNotificationCenter::postNotificationName(const QString& name, const QString& object,
                                                           const QMap<QString, QString>& userInfo, bool)
{
    if (!d->ensureSetUp())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, kMember);
    signal << name << object << QVariant::fromValue(userInfo);
    if (!SessionBus::connection().send(signal))
        return;
    // Behind anything already queued on the main thread, so "save, then post" holds here too.
    Private* const p = d;
    dispatch_async(dispatch_get_main_queue(), [p, name, object, userInfo] {
        p->observers.postNotificationName(name, object, toVariantMap(userInfo));
    });
}

void NSDistributedNotificationCenter::postLocalNotificationName(const QString& name, const QString& object,
                                                                const QMap<QString, QString>& userInfo)
{
    Private* const p = d;
    dispatch_async(dispatch_get_main_queue(), [p, name, object, userInfo] {
        p->observers.postNotificationName(name, object, toVariantMap(userInfo));
    });
}

bool NSDistributedNotificationCenter::isConnected() const
{
    return d->ensureSetUp();
}

#include "NSDistributedNotificationCenter.moc"
