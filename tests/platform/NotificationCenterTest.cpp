#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include "Dispatch.h"
#include "NSDistributedNotificationCenter.h"
#include "NSNotificationCenter.h"
#include "NSUserDefaults.h"
#include "PrivateBus.h"
#include "PropertyList.h"
#include "QtApplication.h"
#include "SessionBus.h"
#include "TestHome.h"

namespace {

using Texts = QMap<QString, QString>;

// Lets what the connection sent so far come back and be delivered, so a
// duplicate would be seen: the bus answers a connection in the order it wrote,
// and the bus thread queues a signal for the main thread before it takes the answer.
void settle(QDBusConnection connection = SessionBus::connection())
{
    connection.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                   "org.freedesktop.DBus.Peer", "Ping"));
    drainMainQueue();
}

QString uniqueName(const char* base)
{
    return QStringLiteral("%1-%2").arg(QLatin1String(base)).arg(QCoreApplication::applicationPid());
}

TEST(NotificationCenterTest, DeliversAtOnceToMatchingObserversInRegistrationOrder)
{
    NSNotificationCenter center;
    QStringList calls;
    QVariant seenObject;
    QVariantMap seenInfo;
    center.addObserver(nullptr, "Saved", [&](const NSNotification& n) {
        calls << "first:" + n.name;
        seenObject = n.object;
        seenInfo = n.userInfo;
    });
    center.addObserver(nullptr, QString(), [&](const NSNotification& n) { calls << "any:" + n.name; });
    center.addObserver(nullptr, "Other", [&](const NSNotification& n) { calls << "other:" + n.name; });
    center.addObserver(nullptr, "Saved", [&](const NSNotification& n) { calls << "last:" + n.name; });

    center.postNotificationName("Saved", 7, {{"key", "value"}});
    EXPECT_EQ(calls, QStringList({"first:Saved", "any:Saved", "last:Saved"}));
    EXPECT_EQ(seenObject, QVariant(7));
    EXPECT_EQ(seenInfo, (QVariantMap{{"key", "value"}}));

    calls.clear();
    center.postNotificationName("Other");
    EXPECT_EQ(calls, QStringList({"any:Other", "other:Other"}));
}

TEST(NotificationCenterTest, ChangesDuringAPostTakeEffectSafely)
{
    NSNotificationCenter center;
    QStringList calls;
    int removedLater = 0;
    int self = 0;
    bool added = false;
    const int owner = 0;
    self = center.addObserver(&owner, "N", [&](const NSNotification&) {
        calls << "self";
        // Removes a later observer and itself mid-post, and adds a new one.
        center.removeObserverToken(removedLater);
        center.removeObserverToken(self);
        if (!added) {
            added = true;
            center.addObserver(&owner, "N", [&](const NSNotification&) { calls << "added"; });
        }
    });
    removedLater = center.addObserver(&owner, "N", [&](const NSNotification&) { calls << "removed"; });
    center.addObserver(nullptr, "N", [&](const NSNotification&) { calls << "kept"; });

    center.postNotificationName("N");
    EXPECT_EQ(calls, QStringList({"self", "kept"}));

    calls.clear();
    center.postNotificationName("N");
    EXPECT_EQ(calls, QStringList({"kept", "added"}));

    // Removing by owner drops all of that owner's observers and no others.
    calls.clear();
    center.removeObserver(&owner);
    center.removeObserver(nullptr);
    center.postNotificationName("N");
    EXPECT_EQ(calls, QStringList({"kept"}));
}

TEST(NotificationCenterTest, AnObserverRemovedByANestedPostIsNotCalledByTheOuterOne)
{
    NSNotificationCenter center;
    QStringList calls;
    int victim = 0;
    center.addObserver(nullptr, "Outer", [&](const NSNotification&) {
        calls << "outer";
        center.postNotificationName("Inner");
    });
    center.addObserver(nullptr, "Inner", [&](const NSNotification&) {
        calls << "inner";
        center.removeObserverToken(victim);
    });
    victim = center.addObserver(nullptr, "Outer", [&](const NSNotification&) { calls << "victim"; });

    center.postNotificationName("Outer");
    EXPECT_EQ(calls, QStringList({"outer", "inner"}));
}

class DistributedNotificationCenterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Of its own: the tests below own the programs' bus names.
        static PrivateBus bus;
        testApplication();
        qDBusRegisterMetaType<Texts>();
        ASSERT_TRUE(NSDistributedNotificationCenter::defaultCenter().isConnected())
            << "these tests need a session bus (run under dbus-run-session)";
    }
    // The observers capture the test's locals.
    void TearDown() override { NSDistributedNotificationCenter::defaultCenter().removeObserver(this); }
};

// Own posts come back once, later, on the main thread, behind work queued before them.
TEST_F(DistributedNotificationCenterTest, OwnPostsArriveOnceInOrderAfterEarlierQueuedWork)
{
    auto& center = NSDistributedNotificationCenter::defaultCenter();
    const QString name = uniqueName("KLTestSaved");
    QStringList events;
    QList<QVariantMap> infos;
    bool onMainThread = true;
    center.addObserver(this, name, [&](const NSNotification& n) {
        events << "notice:" + n.object.toString();
        infos << n.userInfo;
        onMainThread = onMainThread && dispatch_is_main_thread();
    });
    const int other = center.addObserver(this, uniqueName("KLTestOther"), [&](const NSNotification&) {
        events << "other";
    });

    dispatch_async(dispatch_get_main_queue(), [&] { events << "saved"; });
    center.postNotificationName(name, "1", {{"text", "Température"}});
    center.postNotificationName(name, "2");
    std::thread([&] { center.postNotificationName(name, "3", {{"a", "b"}, {"c", ""}}); }).join();
    EXPECT_TRUE(events.isEmpty()) << "delivered during the post";

    ASSERT_TRUE(waitUntil([&] { return events.size() >= 4; }, 10000));
    settle();
    EXPECT_EQ(events, QStringList({"saved", "notice:1", "notice:2", "notice:3"}));
    EXPECT_EQ(infos.value(0), (QVariantMap{{"text", "Température"}}));
    EXPECT_EQ(infos.value(1), QVariantMap());
    EXPECT_EQ(infos.value(2), (QVariantMap{{"a", "b"}, {"c", ""}}));
    EXPECT_TRUE(onMainThread);

    center.removeObserverToken(other);
    center.removeObserver(this);
    events.clear();
    center.postNotificationName(name);
    settle();
    EXPECT_TRUE(events.isEmpty());
}

// Another program is simulated by a second connection, which has its own unique
// name; it speaks for a program only while it owns one of the programs' bus names.
TEST_F(DistributedNotificationCenterTest, PostsOfOtherProgramsArriveInOrderAndForeignOrMalformedOnesAreIgnored)
{
    auto& center = NSDistributedNotificationCenter::defaultCenter();
    const QString name = uniqueName("KLTestRemote");
    QStringList objects;
    QList<QVariantMap> infos;
    center.addObserver(this, name, [&](const NSNotification& n) {
        objects << n.object.toString();
        infos << n.userInfo;
    });

    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "kelvara-test-other");
    ASSERT_TRUE(other.isConnected());
    auto send = [&](const QVariantList& args) {
        QDBusMessage signal = QDBusMessage::createSignal("/com/orvane/kelvara/DistributedNotifications",
                                                         "com.orvane.kelvara.DistributedNotifications", "Post");
        signal.setArguments(args);
        ASSERT_TRUE(other.send(signal));
    };
    send({name, "not a program", QVariant::fromValue(Texts{})});
    ASSERT_TRUE(other.registerService("com.orvane.kelvara.menu"));
    send({name, "first", QVariant::fromValue(Texts{{"index", "1"}, {"text", "Température"}})});
    send({42, "number as name", QVariant::fromValue(Texts{})});
    send({name, "missing user info"});
    send({name, "variant user info", QVariantMap{{"index", 5}}});
    send({name, "text user info", "index=6"});
    send({name, "extra argument", QVariant::fromValue(Texts{}), "more"});
    send({name, "last", QVariant::fromValue(Texts{{"index", "2"}})});
    ASSERT_TRUE(other.unregisterService("com.orvane.kelvara.menu"));
    send({name, "no longer a program", QVariant::fromValue(Texts{})});
    ASSERT_TRUE(other.registerService("com.orvane.kelvara.menu.notice"));
    send({name, "near name", QVariant::fromValue(Texts{})});
    ASSERT_TRUE(other.registerService("com.orvane.kelvara.menu.notices"));
    send({name, "notices name alone", QVariant::fromValue(Texts{})});
    // The program's name is owned in the same process: the notices name speaks for it.
    ASSERT_TRUE(SessionBus::connection().registerService("com.orvane.kelvara.menu"));
    send({name, "notices name", QVariant::fromValue(Texts{})});
    // Still heard once the program's name went, as when a program quits.
    ASSERT_TRUE(SessionBus::connection().unregisterService("com.orvane.kelvara.menu"));
    send({name, "notices name kept", QVariant::fromValue(Texts{})});
    ASSERT_TRUE(other.unregisterService("com.orvane.kelvara.menu.notices"));
    ASSERT_TRUE(other.registerService("com.orvane.kelvara.helper"));
    send({name, "again a program", QVariant::fromValue(Texts{})});
    send({name, "end", QVariant::fromValue(Texts{})});

    // Signals from one sender keep their order, so "end" comes after every one before it, duplicates too.
    ASSERT_TRUE(waitUntil([&] { return objects.contains("end"); }, 10000));
    drainMainQueue();
    EXPECT_EQ(objects, QStringList({"first", "last", "notices name", "notices name kept", "again a program", "end"}));
    EXPECT_EQ(infos.value(0), (QVariantMap{{"index", "1"}, {"text", "Température"}}));
    EXPECT_EQ(infos.value(1), (QVariantMap{{"index", "2"}}));
    QDBusConnection::disconnectFromBus("kelvara-test-other");
}

class PostSenders : public QObject {
    Q_OBJECT
public:
    QStringList services;
public slots:
    void onPost(const QDBusMessage& message) { services << message.service(); }
};

// Once a program owns its bus name it posts through a connection of its own,
// which holds the ".notices" twin of that name; its own observers still hear
// each post once, not again off the bus.
TEST_F(DistributedNotificationCenterTest, AProgramPostsThroughItsNoticesNameAndHearsItsOwnPostsOnce)
{
    auto& center = NSDistributedNotificationCenter::defaultCenter();
    const QString name = uniqueName("KLTestNotices");
    int heard = 0;
    center.addObserver(this, name, [&](const NSNotification&) { ++heard; });
    QDBusConnection listener = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "kelvara-test-listener");
    PostSenders senders;
    ASSERT_TRUE(listener.connect(QString(), "/com/orvane/kelvara/DistributedNotifications",
                                 "com.orvane.kelvara.DistributedNotifications", "Post", &senders,
                                 SLOT(onPost(QDBusMessage))));
    ASSERT_TRUE(SessionBus::connection().registerService("com.orvane.kelvara"));

    // The centre learns of the name from the bus, so the first posts may still go Qt's way.
    int posts = 0;
    QString noticesOwner;
    ASSERT_TRUE(waitUntil([&] {
        center.postNotificationName(name);
        ++posts;
        settle(listener);
        noticesOwner = listener.interface()->serviceOwner("com.orvane.kelvara.notices").value();
        return !noticesOwner.isEmpty() && senders.services.contains(noticesOwner);
    }, 10000));
    // Every post reached the listener, so the bus has sent each to this program's connection too.
    ASSERT_TRUE(waitUntil([&] { return senders.services.size() >= posts; }, 10000));
    settle();
    settle(listener);
    EXPECT_NE(noticesOwner, SessionBus::connection().baseService());
    EXPECT_EQ(senders.services.size(), posts);
    EXPECT_EQ(heard, posts);

    ASSERT_TRUE(SessionBus::connection().unregisterService("com.orvane.kelvara"));
    QDBusConnection::disconnectFromBus("kelvara-test-listener");
}

// The program's own connection waits for the bus's answers when it opens; a
// poster does not, even while the bus has stopped answering.
TEST_F(DistributedNotificationCenterTest, APostDoesNotWaitForAStoppedBus)
{
    QDBusConnection bus = SessionBus::connection();
    const QDBusReply<uint> daemon = bus.interface()->servicePid("org.freedesktop.DBus");
    ASSERT_TRUE(daemon.isValid());
    ASSERT_TRUE(bus.registerService("com.orvane.kelvara"));
    // The name's news was sent ahead of this answer; then the centre takes it.
    bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                            "org.freedesktop.DBus.Peer", "Ping"));
    drainMainQueue();

    const auto daemonPid = static_cast<pid_t>(daemon.value());
    ASSERT_EQ(::kill(daemonPid, SIGSTOP), 0);
    std::atomic<bool> posted{false};
    std::thread poster([&] {
        NSDistributedNotificationCenter::defaultCenter().postNotificationName(uniqueName("KLTestStopped"));
        posted = true;
    });
    const bool returned = waitUntil([&] { return posted.load(); }, 2000);
    ::kill(daemonPid, SIGCONT);
    poster.join();
    EXPECT_TRUE(returned);
    // The post did set about opening the connection, which follows once the bus answers.
    EXPECT_TRUE(waitUntil(
        [&] { return !bus.interface()->serviceOwner("com.orvane.kelvara.notices").value().isEmpty(); }, 3000));
    ASSERT_TRUE(bus.unregisterService("com.orvane.kelvara"));
}

// Beyond the names the bus is asked for one by one, every post is taken; still
// each observer hears each post once.
TEST_F(DistributedNotificationCenterTest, ObserversOfManyNamesAndOfEveryNameHearEachPostOnce)
{
    auto& center = NSDistributedNotificationCenter::defaultCenter();
    QStringList names;
    QMap<QString, int> heard;
    for (int i = 0; i < 40; ++i) {
        names << uniqueName("KLTestMany") + QString::number(i);
        center.addObserver(this, names.last(), [&heard, name = names.last()](const NSNotification&) { ++heard[name]; });
    }
    QStringList every;
    center.addObserver(this, QString(), [&](const NSNotification& n) { every << n.name; });

    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "kelvara-test-many");
    ASSERT_TRUE(other.registerService("com.orvane.kelvara.helper"));
    const QString unobserved = uniqueName("KLTestUnobserved");
    // The last one sent: once it arrives, so has every copy of the others.
    const QString end = uniqueName("KLTestEnd");
    for (const QString& name : {names.first(), names.last(), unobserved, end}) {
        QDBusMessage signal = QDBusMessage::createSignal("/com/orvane/kelvara/DistributedNotifications",
                                                         "com.orvane.kelvara.DistributedNotifications", "Post");
        signal << name << QString() << QVariant::fromValue(Texts{});
        ASSERT_TRUE(other.send(signal));
    }
    ASSERT_TRUE(waitUntil([&] { return every.contains(end); }, 10000));
    drainMainQueue();
    EXPECT_EQ(every, QStringList({names.first(), names.last(), unobserved, end}));
    EXPECT_EQ(heard, (QMap<QString, int>{{names.first(), 1}, {names.last(), 1}}));
    QDBusConnection::disconnectFromBus("kelvara-test-many");
}

// Programs read settings once per turn of their loop. Another program writes,
// then posts: a read after its notice, or in a later turn, sees the new value.
TEST_F(DistributedNotificationCenterTest, ASettingWrittenByAnotherProgramIsReadAfterItsNoticeOrInTheNextTurn)
{
    const TestHome home;
    NSUserDefaults defaults("group.com.orvane.kelvara");
    // Texts of different lengths, so that each file differs in size from the last.
    const auto writeAsAnotherProgram = [&](const QString& value) {
        const QString temp = defaults.path() + ".other";
        QFile out(temp);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(PropertyList::toData(QVariantMap{{"KLTestKey", value}}, PropertyList::Format::Binary));
        out.close();
        ASSERT_EQ(std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(defaults.path()).constData()), 0);
    };
    writeAsAnotherProgram("a");
    EXPECT_EQ(defaults.stringForKey("KLTestKey"), "a");
    writeAsAnotherProgram("bb");
    QCoreApplication::processEvents();
    EXPECT_EQ(defaults.stringForKey("KLTestKey"), "bb");

    auto& center = NSDistributedNotificationCenter::defaultCenter();
    const QString name = uniqueName("KLTestSettingChanged");
    QString heard;
    center.addObserver(this, name, [&](const NSNotification&) { heard = defaults.stringForKey("KLTestKey"); });
    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "kelvara-test-writer");
    ASSERT_TRUE(other.registerService("com.orvane.kelvara"));
    // Read in the turn that then delivers the notice, before the write.
    QString before;
    dispatch_async(dispatch_get_main_queue(), [&] {
        before = defaults.stringForKey("KLTestKey");
        writeAsAnotherProgram("ccc");
    });
    QDBusMessage signal = QDBusMessage::createSignal("/com/orvane/kelvara/DistributedNotifications",
                                                     "com.orvane.kelvara.DistributedNotifications", "Post");
    signal << name << QString() << QVariant::fromValue(Texts{});
    ASSERT_TRUE(other.send(signal));
    // Answered by our bus thread after it queued the notice for the main thread.
    const QDBusMessage ping = QDBusMessage::createMethodCall(SessionBus::connection().baseService(), "/",
                                                             "org.freedesktop.DBus.Peer", "Ping");
    ASSERT_EQ(other.call(ping).type(), QDBusMessage::ReplyMessage);
    QCoreApplication::processEvents();
    EXPECT_EQ(before, "bb");
    EXPECT_EQ(heard, "ccc");
    QDBusConnection::disconnectFromBus("kelvara-test-writer");
}

class SignalCounter : public QObject {
    Q_OBJECT
public:
    QSemaphore received;

public slots:
    void onSignal() { received.release(); }
};

// Qt holds back what arrives on its default session connection until the main
// loop first turns, then lets newer messages overtake the held ones. The
// shared connection must deliver from the start, so a poster's order holds.
TEST_F(DistributedNotificationCenterTest, TheSharedBusDeliversBeforeTheMainLoopFirstTurns)
{
    QThread worker;
    worker.start();
    SignalCounter counter;
    counter.moveToThread(&worker);
    const QString path = "/com/orvane/kelvara/Probe";
    ASSERT_TRUE(SessionBus::connection().connect(QString(), path, "com.orvane.kelvara.Probe", "Ping", &counter,
                                                 SLOT(onSignal())));

    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "kelvara-test-probe");
    ASSERT_TRUE(other.send(QDBusMessage::createSignal(path, "com.orvane.kelvara.Probe", "Ping")));
    // The main thread runs no events here; only the bus thread and the worker do.
    EXPECT_TRUE(counter.received.tryAcquire(1, 5000));

    worker.quit();
    worker.wait();
    QDBusConnection::disconnectFromBus("kelvara-test-probe");
}

}  // namespace

#include "NotificationCenterTest.moc"
