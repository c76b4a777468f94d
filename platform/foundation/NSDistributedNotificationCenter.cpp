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
#include <QSet>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

#include "Dispatch.h"
#include "NSUserDefaults.h"
#include "NoticeSender.h"
#include "SessionBus.h"

namespace {

// Literals, so they hold even for callers that run during static initialisation.
constexpr char kPathText[] = "/com/orvane/kelvara/DistributedNotifications";
constexpr char kInterfaceText[] = "com.orvane.kelvara.DistributedNotifications";
constexpr char kMemberText[] = "Post";
constexpr QLatin1StringView kPath(kPathText);
constexpr QLatin1StringView kInterface(kInterfaceText);
constexpr QLatin1StringView kMember(kMemberText);

// The bus names of the three programs. Only a connection that owns one of them
// speaks for a program; any other process on the bus could post our notices.
constexpr QLatin1StringView kProgramNames[] = {
    QLatin1StringView("com.orvane.kelvara"),
    QLatin1StringView("com.orvane.kelvara.helper"),
    QLatin1StringView("com.orvane.kelvara.menu"),
};

// Names followed one by one; past this many, one rule takes every post.
constexpr qsizetype kMaxNamedRules = 32;

// A notices name held by another connection (a copy of the program still
// leaving) is asked for again after this long; meanwhile posts take Qt's way.
constexpr std::chrono::seconds kNoticesNameRetry(30);
// Posts made while the sending connection opens wait for it, this many at most:
// more only come when the bus has stalled, and the other programs miss them.
constexpr qsizetype kMostWaitingPosts = 1024;
// How long the opening thread waits for Qt's connection to have sent what it holds.
constexpr int kQtWayDrainedMs = 5000;
// A post the socket could not take is written again after this, doubling up to a second.
constexpr double kFirstWriteRetrySeconds = 0.05;
constexpr double kLastWriteRetrySeconds = 1.0;

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

// What reaches a program's notices connection is read and dropped as it comes,
// from the main loop; nothing arrives there otherwise, so this costs no wake-up.
void watchIncoming(const std::weak_ptr<NoticeSender>& sender, int socket)
{
    if (socket < 0)
        return;
    auto* notifier = new QSocketNotifier(socket, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, sender, socket] {
        if (const std::shared_ptr<NoticeSender> open = sender.lock(); open && open->readIncoming(socket))
            return;
        notifier->setEnabled(false);
        notifier->deleteLater();
        ::close(socket);
    });
}

class PostReceiver : public QObject {
    Q_OBJECT
public:
    explicit PostReceiver(std::function<void(const QDBusMessage&, bool)> handler)
        : m_handler(std::move(handler))
    {
    }

public slots:
    void onPost(const QDBusMessage& message) { m_handler(message, false); }
    void onAnyPost(const QDBusMessage& message) { m_handler(message, true); }

private:
    std::function<void(const QDBusMessage&, bool)> m_handler;
};

struct Post {
    QString name;
    QString object;
    UserInfo userInfo;
};

// How a program's posts leave it: Qt's way, or once it owns its program name
// through its own sending connection. Two connections keep no order between
// them, so while that one opens, posts wait here and go out on it in order once
// it is open, after what went Qt's way before has reached the bus; if it does
// not open they go Qt's way, in order too. Shared with the thread that opens the
// connection, which may outlive the centre at exit.
class Outbox : public std::enable_shared_from_this<Outbox> {
public:
    const std::shared_ptr<NoticeSender> sender = std::make_shared<NoticeSender>();

    // False when the post is dropped (no bus). ownProgram() gives the program
    // name this process owns, asked only when the connection may be opened.
    template <class OwnProgram>
    bool send(const Post& post, OwnProgram ownProgram)
    {
        const QMutexLocker lock(&m_mutex);
        if (m_way == Way::Opening) {
            keep(post);
            return true;
        }
        if (m_way == Way::Own) {
            if (sendOwn(post))
                return true;
            if (sender->isOpen())
                return false;
            // The connection closed (the bus went, or a peer sent it more than it takes).
            m_way = Way::Qt;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= m_nextOpen) {
            if (const QString program = ownProgram(); !program.isEmpty()) {
                m_nextOpen = now + kNoticesNameRetry;
                if (startOpening(program)) {
                    keep(post);
                    return true;
                }
            }
        }
        return sendQt(post);
    }

private:
    enum class Way { Qt, Opening, Own };

    // Opened on a thread of its own, as a stalled bus must not hold up the poster.
    bool startOpening(const QString& program)
    {
        try {
            std::thread([box = shared_from_this(), program, bus = SessionBus::connection()] {
                box->open(program, bus);
            }).detach();
        } catch (const std::system_error&) {
            return false;
        }
        m_way = Way::Opening;
        return true;
    }

    void open(const QString& program, QDBusConnection bus)
    {
        const bool opened = sender->open(program);
        bool drain = false;
        {
            const QMutexLocker lock(&m_mutex);
            drain = opened && std::exchange(m_sentQtWay, false);
        }
        // Qt's bus thread sends what it was handed in order, this call behind
        // the posts made before the opening began: once the bus answers, they
        // reach every receiver ahead of the first post on the new connection.
        if (drain)
            bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
                     QDBus::Block, kQtWayDrainedMs);
        const QMutexLocker lock(&m_mutex);
        m_way = opened ? Way::Own : Way::Qt;
        for (const Post& post : std::as_const(m_waiting)) {
            if (m_way == Way::Own && !sendOwn(post) && !sender->isOpen())
                m_way = Way::Qt;
            if (m_way == Way::Qt)
                sendQt(post);
        }
        m_waiting = {};
        if (opened)
            dispatch_async(dispatch_get_main_queue(), [open = std::weak_ptr<NoticeSender>(sender),
                                                       socket = sender->incomingSocket()] { watchIncoming(open, socket); });
    }

    void keep(const Post& post)
    {
        if (m_waiting.size() < kMostWaitingPosts)
            m_waiting.append(post);
    }

    bool sendOwn(const Post& post)
    {
        bool waiting = false;
        if (!sender->send(kPathText, kInterfaceText, kMemberText, post.name, post.object, post.userInfo, &waiting))
            return false;
        if (waiting && !m_writeScheduled.exchange(true))
            dispatch_async(dispatch_get_main_queue(), [box = shared_from_this()] { box->writeLater(kFirstWriteRetrySeconds); });
        return true;
    }

    bool sendQt(const Post& post)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, kMember);
        signal << post.name << post.object << QVariant::fromValue(post.userInfo);
        m_sentQtWay = true;
        return SessionBus::connection().send(signal);
    }

    // Never blocks the poster: a bus that reads slowly is written to from the main loop.
    void writeLater(double seconds)
    {
        dispatch_after_seconds(seconds, dispatch_get_main_queue(), [box = shared_from_this(), seconds] {
            if (box->sender->writeWaiting()) {
                box->writeLater(std::min(seconds * 2, kLastWriteRetrySeconds));
                return;
            }
            box->m_writeScheduled = false;
            // A post queued after the last write but before the flag dropped is written here.
            if (box->sender->writeWaiting() && !box->m_writeScheduled.exchange(true))
                box->writeLater(kFirstWriteRetrySeconds);
        });
    }

    QMutex m_mutex;
    Way m_way = Way::Qt;
    QList<Post> m_waiting;
    bool m_sentQtWay = false;
    std::chrono::steady_clock::time_point m_nextOpen;
    std::atomic<bool> m_writeScheduled{false};
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
    // Owner -> its process, for the owners of the names above; guarded by mutex.
    QHash<QString, uint> ownerPids;
    // ".notices" name -> its owner, once that owner's process owned the program's
    // name too: anyone can take a free ".notices" name, even while the program runs.
    // Kept until the owner lets the name go, which follows its posts, so posts made
    // just before a program quits are heard though its program name may go first.
    QHash<QString, QString> trustedNotices;
    // The bus sends only the posts of names observed here. Names are never
    // dropped, and none are added once every post is taken, so the two kinds of
    // rule never both deliver one post. Guarded by rulesMutex.
    QMutex rulesMutex;
    PostReceiver* postReceiver = nullptr;
    QSet<QString> namedRules;
    bool everyPost = false;
    QStringList wanted;  // observed before the bus was joined
    // This program's posts on their way out, through its own sending connection
    // once its bus name is owned here.
    const std::shared_ptr<Outbox> outbox = std::make_shared<Outbox>();

    bool ensureSetUp()
    {
        bool joinedNow = false;
        const bool joined = joinBus(&joinedNow);
        if (joinedNow)
            applyRules();
        return joined;
    }

    // Joins the bus once an application object exists to receive on.
    bool joinBus(bool* joinedNow)
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
        postReceiver = new PostReceiver([this](const QDBusMessage& message, bool any) { receive(message, any); });
        postReceiver->moveToThread(app->thread());
        postReceiver->setParent(app);
        // The owners are followed from here on, then asked once; changes queued
        // meanwhile arrive later and end at the same owner. Owner changes and posts
        // come in the bus's order, so a program's first post follows its name's
        // registration.
        QStringList programs;
        for (const QLatin1StringView program : kProgramNames)
            programs << program << NoticeSender::noticesName(program);
        auto* watcher = new QDBusServiceWatcher;
        watcher->setConnection(bus);
        watcher->setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
        watcher->setWatchedServices(programs);
        watcher->moveToThread(app->thread());
        watcher->setParent(app);
        QObject::connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, watcher,
                         [this](const QString& program, const QString&, const QString& owner) {
                             // Asked before the posts queued behind this change are taken.
                             const uint pid = processOf(owner);
                             const QMutexLocker ownersLock(&mutex);
                             programOwners.insert(program, owner);
                             setOwnerPid(owner, pid);
                             trustNotices();
                         });
        for (const QString& program : std::as_const(programs)) {
            const QDBusReply<QString> owner = bus.interface()->serviceOwner(program);
            if (owner.isValid()) {
                programOwners.insert(program, owner.value());
                setOwnerPid(owner.value(), processOf(owner.value()));
            }
        }
        trustNotices();
        connected = true;
        *joinedNow = true;
        return connected;
    }

    // The bus is asked for the posts of one more name (of every name for an empty one).
    void follow(const QString& name)
    {
        {
            const QMutexLocker lock(&rulesMutex);
            if (everyPost || namedRules.contains(name) || wanted.contains(name))
                return;
            // Past the bound every post is taken anyway.
            if (wanted.size() <= kMaxNamedRules)
                wanted.append(name);
        }
        if (ensureSetUp())
            applyRules();
    }

    void applyRules()
    {
        QDBusConnection bus = SessionBus::connection();
        const QMutexLocker lock(&rulesMutex);
        bool added = false;
        for (const QString& name : std::as_const(wanted)) {
            if (everyPost)
                break;
            if (namedRules.contains(name))
                continue;
            // No signature given, so every matching Post reaches the slot and is checked there.
            if (name.isEmpty() || namedRules.size() >= kMaxNamedRules) {
                everyPost = true;
                added |= bus.connect(QString(), kPath, kInterface, kMember, postReceiver, SLOT(onAnyPost(QDBusMessage)));
            } else {
                namedRules.insert(name);
                added |= bus.connect(QString(), kPath, kInterface, kMember, {name}, QString(), postReceiver,
                                     SLOT(onPost(QDBusMessage)));
            }
        }
        wanted.clear();
        // The rules were sent ahead of this call, so once the bus answers they
        // hold: a post made after the observer was added is heard.
        if (added)
            bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")));
    }

    static uint processOf(const QString& owner)
    {
        if (owner.isEmpty())
            return 0;
        const QDBusReply<uint> pid = SessionBus::connection().interface()->servicePid(owner);
        return pid.isValid() ? pid.value() : 0;
    }

    // Keeps the processes of current owners only; called with mutex held.
    void setOwnerPid(const QString& owner, uint pid)
    {
        if (!owner.isEmpty() && pid != 0)
            ownerPids.insert(owner, pid);
        for (auto it = ownerPids.begin(); it != ownerPids.end();) {
            bool owns = false;
            for (const QString& current : std::as_const(programOwners))
                owns |= current == it.key();
            it = owns ? std::next(it) : ownerPids.erase(it);
        }
    }

    // Called with mutex held.
    void trustNotices()
    {
        for (const QLatin1StringView program : kProgramNames) {
            const QString notices = NoticeSender::noticesName(program);
            const QString owner = programOwners.value(notices);
            if (!owner.isEmpty() && trustedNotices.value(notices) == owner)
                continue;
            const uint pid = ownerPids.value(owner);
            if (pid != 0 && pid == ownerPids.value(programOwners.value(program)))
                trustedNotices.insert(notices, owner);
            else
                trustedNotices.remove(notices);
        }
    }

    bool isOwnSender(const QString& service)
    {
        const QString own = outbox->sender->uniqueName();
        return !own.isEmpty() && service == own;
    }

    bool isProgram(const QString& sender)
    {
        const QMutexLocker lock(&mutex);
        if (sender.isEmpty())
            return false;
        for (auto it = programOwners.cbegin(); it != programOwners.cend(); ++it)
            if (it.value() == sender && !it.key().endsWith(QLatin1StringView(".notices")))
                return true;
        for (const QString& owner : std::as_const(trustedNotices))
            if (owner == sender)
                return true;
        return false;
    }

    // The program name this process's Qt connection owns now, if any.
    QString ownProgram()
    {
        const QMutexLocker lock(&mutex);
        for (const QLatin1StringView program : kProgramNames)
            if (programOwners.value(program) == ownName)
                return program;
        return {};
    }

    void receive(const QDBusMessage& message, bool any)
    {
        // Our own posts were delivered through the main queue already.
        if (message.service() == ownName || isOwnSender(message.service()))
            return;
        if (!isProgram(message.service()))
            return;
        QString name;
        QString object;
        UserInfo userInfo;
        if (!parsePost(message, name, object, userInfo))
            return;
        if (any) {
            // The named rules deliver these already.
            const QMutexLocker lock(&rulesMutex);
            if (namedRules.contains(name))
                return;
        }
        // A program writes a setting, then posts: reads from here on see the new value.
        NSUserDefaults::checkAgain();
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
    const int token = d->observers.addObserver(owner, name, std::move(observer));
    d->follow(name);
    return token;
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
    Private* const p = d;
    if (!d->outbox->send({name, object, userInfo}, [p] { return p->ownProgram(); }))
        return;
    // Behind anything already queued on the main thread, so "save, then post" holds here too.
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
