#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QMap>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <gtest/gtest.h>

#include "Dispatch.h"
#include "KLDataManager.h"
#include "KLUtils.h"
#include "NSBundle.h"
#include "NSDistributedNotificationCenter.h"
#include "NSRunningApplication.h"
#include "NSWorkspace.h"
#include "PrivateBus.h"
#include "ProcessMemory.h"
#include "QtApplication.h"
#include "SessionBus.h"
#include "SystemdUserManager.h"
#include "ProgramBusName.h"
#include "TerminationSignals.h"
#include "TestHome.h"
#include "UnreadClient.h"

namespace {

const QString kKelvaraId = QStringLiteral("com.orvane.kelvara");
const QString kHelperId = QStringLiteral("com.orvane.kelvara.helper");
const QString kMenuId = QStringLiteral("com.orvane.kelvara.menu");
const QString kHelperPath =
    QStringLiteral(KELVARA_APP_DIR) + "/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper";
const QString kMenuPath =
    QStringLiteral(KELVARA_APP_DIR) + "/Contents/Components/Kelvara Menu.app/Contents/MacOS/Kelvara Menu";
const QString kApplicationPath = QStringLiteral("/com/orvane/kelvara/Application");
const QString kApplicationInterface = QStringLiteral("com.orvane.kelvara.Application");
constexpr int kNotices = 5;
constexpr int kBurst = 500;
// Bounds for what a program does once started; a busy machine may take seconds, a passing test never waits them out.
constexpr int kStartMs = 30000;

// ---- The other program: this test binary started with KELVARA_E2E_ROLE. ----

// Answers the parent's notices with its own and reports what it heard, itself included.
int noticesRole(QCoreApplication& app)
{
    const QString tag = qEnvironmentVariable("KELVARA_E2E_TAG");
    auto& center = NSDistributedNotificationCenter::defaultCenter();
    ownProgramBusName(kHelperId);
    QStringList fromParent;
    QStringList own;
    bool intact = true;
    center.addObserver(nullptr, "KLTestFromParent-" + tag, [&](const NSNotification& n) {
        fromParent << n.userInfo.value("index").toString();
        intact = intact && n.object == QVariant(QStringLiteral("parent")) &&
                 n.userInfo.value("text") == QVariant(QStringLiteral("Température"));
        if (fromParent.size() == kNotices)
            for (int i = 0; i < kNotices; ++i)
                center.postNotificationName("KLTestFromChild-" + tag, "child",
                                            {{"index", QString::number(i)}, {"text", "Température"}});
    });
    center.addObserver(nullptr, "KLTestFromChild-" + tag,
                       [&](const NSNotification& n) { own << n.userInfo.value("index").toString(); });
    center.addObserver(nullptr, "KLTestDone-" + tag, [&](const NSNotification&) { app.quit(); });
    // Posted at once, while the program's own sending connection opens; large
    // enough that Qt's bus thread falls behind. None may overtake another.
    const QString padding(4096, QLatin1Char('x'));
    for (int i = 0; i < kBurst; ++i)
        center.postNotificationName("KLTestBurst-" + tag, "child", {{"index", QString::number(i)}, {"text", padding}});
    // Says it is ready until the parent, whose subscription may still be on its way, answers.
    QTimer ready;
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (fromParent.isEmpty())
            center.postNotificationName("KLTestReady-" + tag);
    });
    ready.start(50);
    QTimer::singleShot(kStartMs, &app, [&] { app.exit(3); });
    const int code = app.exec();
    std::printf("result: parent:%s own:%s intact:%d\n", qPrintable(fromParent.join(',')), qPrintable(own.join(',')),
                intact ? 1 : 0);
    return code;
}

int noBusRole(QCoreApplication& app)
{
    auto& center = NSDistributedNotificationCenter::defaultCenter();
    int heard = 0;
    center.addObserver(nullptr, QString(), [&](const NSNotification&) { ++heard; });
    for (int i = 0; i < 3; ++i)
        center.postNotificationName("KLTestNoBus", "x", {{"k", "v"}});
    const bool registered = NSRunningApplication::registerCurrentApplication(app, kHelperId);
    const auto running = NSWorkspace::sharedWorkspace().runningApplications().size() +
                         NSRunningApplication::runningApplicationsWithBundleIdentifier(kHelperId).size();
    // Behind whatever the posts queued for delivery here.
    dispatch_async(dispatch_get_main_queue(), [&app] { app.quit(); });
    app.exec();
    std::printf("result: heard:%d connected:%d registered:%d running:%d\n", heard, center.isConnected() ? 1 : 0,
                registered ? 1 : 0, int(running));
    return 0;
}

// Owns a name but offers no Quit, so only SIGTERM ends it.
int deafRole(QCoreApplication& app)
{
    quitOnTerminationSignals(app);
    QDBusConnection::sessionBus().interface()->registerService(qEnvironmentVariable("KELVARA_E2E_TAG"));
    return app.exec();
}

// Stands in for Kelvara: owns its name and counts the calls to come to the front,
// ending at the first one.
class FakeKelvara : public QDBusVirtualObject {
public:
    int activations = 0;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != kApplicationInterface || message.member() != QLatin1String("Activate"))
            return false;
        ++activations;
        QCoreApplication::exit(0);
        return connection.send(message.createReply());
    }
};

int kelvaraRole(QCoreApplication& app)
{
    FakeKelvara kelvara;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.registerVirtualObject(kApplicationPath, &kelvara);
    bus.registerService(kKelvaraId);
    QTimer::singleShot(kStartMs, &app, [&] { app.exit(3); });
    const int code = app.exec();
    std::printf("result: activated:%d\n", kelvara.activations);
    return code;
}

// Runs once every static is built (a role started from a static initialiser would
// find the libraries' own statics unmade) and before any test.
class RoleEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        const QByteArray role = qgetenv("KELVARA_E2E_ROLE");
        if (role.isEmpty())
            return;
        int code = 2;
        {
            int argc = 1;
            char name[] = "kelvara-e2e-role";
            char* argv[] = {name, nullptr};
            QCoreApplication app(argc, argv);
            if (role == "notices")
                code = noticesRole(app);
            else if (role == "nobus")
                code = noBusRole(app);
            else if (role == "deaf")
                code = deafRole(app);
            else if (role == "kelvara")
                code = kelvaraRole(app);
        }
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(code);
    }
};

[[maybe_unused]] auto* const g_roleEnvironment = ::testing::AddGlobalTestEnvironment(new RoleEnvironment);

// ---- The tests. ----

QString uniqueTag()
{
    static int counter = 0;
    return QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}

void startRole(QProcess& child, const char* role, const QString& tag, QProcessEnvironment env = {})
{
    if (env.isEmpty())
        env = QProcessEnvironment::systemEnvironment();
    env.insert("KELVARA_E2E_ROLE", role);
    env.insert("KELVARA_E2E_TAG", tag);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
}

// The role's report, among the test framework's own lines.
QByteArray resultLine(QProcess& child)
{
    for (const QByteArray& line : child.readAllStandardOutput().split('\n'))
        if (line.startsWith("result: "))
            return line.mid(8).trimmed();
    return {};
}

bool lists(const QString& bundleIdentifier, qint64 pid)
{
    for (const auto& app : NSRunningApplication::runningApplicationsWithBundleIdentifier(bundleIdentifier))
        if (app.processIdentifier() == pid)
            return true;
    return false;
}

NSRunningApplication find(const QString& bundleIdentifier, qint64 pid)
{
    for (const auto& app : NSRunningApplication::runningApplicationsWithBundleIdentifier(bundleIdentifier))
        if (app.processIdentifier() == pid)
            return app;
    return {};
}

bool finished(QProcess& process, int timeoutMs = kStartMs)
{
    return waitUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
}

// terminate() sends SIGTERM from this process's event loop once the grace period is
// over. Waiting without turning that loop keeps it from going out: what ends meanwhile
// quit on request.
bool quitOnRequest(QProcess& process)
{
    return process.waitForFinished(kStartMs);
}

template <class Condition>
bool holdsWithoutTheLoop(Condition condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > kStartMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

// How many poll notices each program posted, by its unique bus name as the bus tells it.
class TickPosters : public QObject {
    Q_OBJECT
public:
    explicit TickPosters(QDBusConnection bus)
    {
        bus.connect(QString(), "/com/orvane/kelvara/DistributedNotifications",
                    "com.orvane.kelvara.DistributedNotifications", "Post", this, SLOT(onPost(QDBusMessage)));
    }
    // By the process of the connection that sent them: a program posts from a
    // connection of its own, not the one that holds its bus name.
    QMap<qint64, int> ticks;

private slots:
    void onPost(const QDBusMessage& message)
    {
        if (message.arguments().value(0).toString() != QLatin1String(KLKelvaraTempDidChangeNotification))
            return;
        auto pid = m_pids.find(message.service());
        if (pid == m_pids.end()) {
            const QDBusReply<uint> reply = QDBusConnection::sessionBus().interface()->servicePid(message.service());
            if (!reply.isValid())
                return;
            pid = m_pids.insert(message.service(), reply.value());
        }
        ++ticks[*pid];
    }

private:
    QHash<QString, qint64> m_pids;
};

QString pidList(const QMap<qint64, int>& ticks)
{
    QStringList pids;
    for (const qint64 pid : ticks.keys())
        pids << QString::number(pid);
    return pids.join(' ');
}

QString ownerOf(const QString& name)
{
    return QDBusConnection::sessionBus().interface()->serviceOwner(name).value();
}

class RunningProgramsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApplication();
        ASSERT_TRUE(NSDistributedNotificationCenter::defaultCenter().isConnected())
            << "these tests need a session bus (run under dbus-run-session)";
    }

    // A helper (or another program) in the test's own home; the caller waits for it to register.
    void startHelper(QProcess& helper, const QString& path = kHelperPath)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        helper.setProcessEnvironment(env);
        helper.start(path, {});
        ASSERT_TRUE(helper.waitForStarted(5000));
    }

    PrivateBus bus;  // first: programs of tests running at the same time never meet
    TestHome home;
};

TEST_F(RunningProgramsTest, NoticesReachTheOtherProgramAndThePosterInOrderWithTheirUserInfo)
{
    auto& center = NSDistributedNotificationCenter::defaultCenter();
    ASSERT_TRUE(ownProgramBusName(kMenuId));
    const QString tag = uniqueTag();
    QStringList fromChild;
    QStringList own;
    bool intact = true;
    center.addObserver(this, "KLTestReady-" + tag, [&](const NSNotification&) {
        if (!own.isEmpty() || !fromChild.isEmpty())
            return;
        for (int i = 0; i < kNotices; ++i)
            center.postNotificationName("KLTestFromParent-" + tag, "parent",
                                        {{"index", QString::number(i)}, {"text", "Température"}});
        own << "posted";
    });
    center.addObserver(this, "KLTestFromParent-" + tag,
                       [&](const NSNotification& n) { own << n.userInfo.value("index").toString(); });
    QList<int> burst;
    center.addObserver(this, "KLTestBurst-" + tag,
                       [&](const NSNotification& n) { burst << n.userInfo.value("index").toInt(); });
    center.addObserver(this, "KLTestFromChild-" + tag, [&](const NSNotification& n) {
        fromChild << n.userInfo.value("index").toString();
        intact = intact && n.object == QVariant(QStringLiteral("child")) &&
                 n.userInfo == QVariantMap{{"index", n.userInfo.value("index")}, {"text", "Température"}};
    });

    QProcess child;
    startRole(child, "notices", tag);
    ASSERT_TRUE(waitUntil([&] { return fromChild.size() >= kNotices; }, kStartMs));
    center.postNotificationName("KLTestDone-" + tag);
    ASSERT_TRUE(finished(child));
    center.removeObserver(this);

    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_EQ(fromChild, QStringList({"0", "1", "2", "3", "4"}));
    QList<int> inOrder(kBurst);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(burst, inOrder);
    EXPECT_EQ(own, QStringList({"posted", "0", "1", "2", "3", "4"}));
    EXPECT_TRUE(intact);
    EXPECT_EQ(resultLine(child), "parent:0,1,2,3,4 own:0,1,2,3,4 intact:1");
    EXPECT_EQ(child.readAllStandardError(), "");
}

class NoBusTest : public RunningProgramsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(NoBusTest, PostsAreDroppedWithOneMessageAndNothingIsFound)
{
    const QTemporaryDir runtime;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    // Nor a bus found another way: a runtime folder's socket or an X display to start one for.
    env.remove("DISPLAY");
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    if (*GetParam())
        env.insert("DBUS_SESSION_BUS_ADDRESS", GetParam());

    QProcess child;
    startRole(child, "nobus", uniqueTag(), env);
    ASSERT_TRUE(finished(child));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_EQ(resultLine(child), "heard:0 connected:0 registered:0 running:0");
    const QList<QByteArray> lines = child.readAllStandardError().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.first().contains("session D-Bus")) << lines.first().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Unset, NoBusTest, ::testing::Values(""));
INSTANTIATE_TEST_SUITE_P(Unreachable, NoBusTest, ::testing::Values("unix:path=/nonexistent/kelvara-bus"));

TEST_F(RunningProgramsTest, HelperIsFoundByItsIdentifierAndQuitsWhenAsked)
{
    QProcess helper;
    startHelper(helper);
    const qint64 pid = helper.processId();
    ASSERT_TRUE(waitUntil([&] { return lists(kHelperId, pid); }, kStartMs));

    bool inWorkspace = false;
    for (const auto& app : NSWorkspace::sharedWorkspace().runningApplications())
        inWorkspace = inWorkspace || app.bundleIdentifier() == kHelperId;
    EXPECT_TRUE(inWorkspace);

    // A client that asks for the biggest answer and never reads one pins no memory:
    // past a few MB unsent the helper answers nothing until the bus took them.
    const qint64 peakBefore = processKilobytes(pid, "VmHWM");
    {
        UnreadClient client;
        ASSERT_TRUE(client.isValid());
        for (int i = 0; i < 49000; ++i)
            ASSERT_TRUE(client.send(kHelperId, kApplicationPath, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                    QStringLiteral("Introspect")));
    }
    // The client gone, the bus drops its answers and the helper answers again.
    QDBusMessage introspect;
    ASSERT_TRUE(waitUntil(
        [&] {
            introspect = SessionBus::connection().call(
                QDBusMessage::createMethodCall(kHelperId, kApplicationPath,
                                               QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                               QStringLiteral("Introspect")),
                QDBus::Block, 2000);
            return introspect.type() == QDBusMessage::ReplyMessage;
        },
        60000));
    EXPECT_TRUE(introspect.arguments().value(0).toString().contains(kApplicationInterface));
    EXPECT_LT(processKilobytes(pid, "VmHWM") - peakBefore, 20 * 1024);

    ASSERT_TRUE(find(kHelperId, pid).terminate());
    ASSERT_TRUE(quitOnRequest(helper));
    EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_EQ(helper.readAllStandardError(), "");
    EXPECT_FALSE(lists(kHelperId, pid));
}

TEST_F(RunningProgramsTest, ASecondCopyWaitsInLineAndOnlyTheCopyAskedQuits)
{
    QProcess first;
    QProcess second;
    startHelper(first);
    ASSERT_TRUE(waitUntil([&] { return lists(kHelperId, first.processId()); }, kStartMs));
    startHelper(second);
    ASSERT_TRUE(waitUntil([&] { return lists(kHelperId, second.processId()); }, kStartMs));

    QList<qint64> order;
    for (const auto& app : NSRunningApplication::runningApplicationsWithBundleIdentifier(kHelperId))
        order << app.processIdentifier();
    EXPECT_LT(order.indexOf(first.processId()), order.indexOf(second.processId()));

    ASSERT_TRUE(find(kHelperId, second.processId()).terminate());
    ASSERT_TRUE(quitOnRequest(second));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(lists(kHelperId, first.processId()));

    ASSERT_TRUE(find(kHelperId, first.processId()).terminate());
    ASSERT_TRUE(quitOnRequest(first));
    EXPECT_EQ(first.exitCode(), 0);
}

TEST_F(RunningProgramsTest, AProgramThatIgnoresTheRequestIsSentSIGTERMAfterTheGracePeriod)
{
    const QString name = "com.orvane.kelvara.test.deaf" + uniqueTag().replace('-', '_').prepend('_');
    QProcess child;
    startRole(child, "deaf", name);
    ASSERT_TRUE(waitUntil([&] { return lists(name, child.processId()); }, kStartMs));

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(find(name, child.processId()).terminate());
    ASSERT_TRUE(finished(child));
    EXPECT_GE(clock.elapsed(), 1500);
    // Its own SIGTERM handling ends it cleanly.
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
}

QStringList commandLine(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList args;
    for (const QByteArray& arg : file.readAll().split('\0'))
        args << QString::fromLocal8Bit(arg);
    return args;
}

TEST_F(RunningProgramsTest, LaunchByIdentifierStartsTheHelperFromTheBundle)
{
    NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR));
    // Tells this launch from helpers that other tests may be running.
    const QString tag = "--kelvara-test=" + uniqueTag();
    // Whatever happens below, nothing launched here is left running: it shares
    // our output, and a test runner waits for that to close.
    const auto stopAll = qScopeGuard([tag] {
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            bool numeric = false;
            const qint64 candidate = entry.toLongLong(&numeric);
            if (numeric && commandLine(candidate).contains(tag))
                ::kill(static_cast<pid_t>(candidate), SIGKILL);
        }
    });
    ASSERT_TRUE(NSWorkspace::sharedWorkspace().launchApplicationWithBundleIdentifier(kHelperId, {tag, "two words"}));

    NSRunningApplication launched;
    const bool found = waitUntil([&] {
        for (const auto& app : NSRunningApplication::runningApplicationsWithBundleIdentifier(kHelperId))
            if (commandLine(app.processIdentifier()).contains(tag))
                launched = app;
        return launched.processIdentifier() > 0;
    }, kStartMs);
    NSBundle::setMainBundlePathForTesting({});
    ASSERT_TRUE(found);
    const qint64 pid = launched.processIdentifier();

    const QStringList args = commandLine(pid);
    EXPECT_EQ(args.mid(1, 2), QStringList({tag, "two words"}));
    const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    EXPECT_EQ(exe, QFileInfo(kHelperPath).canonicalFilePath());

    ASSERT_TRUE(launched.terminate());
    EXPECT_TRUE(holdsWithoutTheLoop([&] { return !lists(kHelperId, pid); }));
}

// What the service manager does with an exit status under the Restart= rule of
// the unit made from the job Kelvara submits for the program.
bool restartedAfter(const QVariantMap& keepAlive, int status)
{
    const QVariantMap job{{"Label", "com.orvane.kelvara.test"},
                          {"ProgramArguments", QStringList{kHelperPath}},
                          {"RunAtLoad", true},
                          {"KeepAlive", keepAlive}};
    const QString unit = SystemdUserManager::unitFile(job);
    if (unit.contains("\nRestart=on-success\n"))
        return status == 0;
    if (unit.contains("\nRestart=on-failure\n"))
        return status != 0;
    ADD_FAILURE() << "unexpected restart rule in:\n" << unit.toStdString();
    return true;
}

struct Companion {
    const char* name;
    QString path;
    QString identifier;
    bool successfulExitKeepsAlive;
};

void PrintTo(const Companion& companion, std::ostream* out)
{
    *out << companion.name;
}

class SoleCopyTest : public RunningProgramsTest, public ::testing::WithParamInterface<Companion> {};

// Two copies started at once: one acts, the other leaves the line without ever
// acting, with a status that its service's restart rule does not restart.
TEST_P(SoleCopyTest, OfTwoCopiesStartedAtOnceOneActsAndTheOtherLeavesForGood)
{
    TickPosters posters(QDBusConnection::sessionBus());
    QProcess copies[2];
    startHelper(copies[0], GetParam().path);
    startHelper(copies[1], GetParam().path);
    const auto stopped = [&] { return copies[0].state() == QProcess::NotRunning || copies[1].state() == QProcess::NotRunning; };
    ASSERT_TRUE(waitUntil(stopped, kStartMs));
    QProcess& left = copies[0].state() == QProcess::NotRunning ? copies[0] : copies[1];
    QProcess& acting = &left == &copies[0] ? copies[1] : copies[0];
    EXPECT_EQ(left.exitStatus(), QProcess::NormalExit);
    EXPECT_FALSE(restartedAfter({{"SuccessfulExit", GetParam().successfulExitKeepsAlive}}, left.exitCode()))
        << "status " << left.exitCode();
    EXPECT_TRUE(left.readAllStandardError().contains("another copy is running"));

    const auto running = NSRunningApplication::runningApplicationsWithBundleIdentifier(GetParam().identifier);
    ASSERT_EQ(running.size(), 1);
    EXPECT_EQ(running.first().processIdentifier(), acting.processId());
    if (GetParam().identifier == kHelperId) {
        ASSERT_TRUE(waitUntil([&] { return posters.ticks.contains(acting.processId()); }, kStartMs));
        EXPECT_EQ(pidList(posters.ticks).toStdString(), std::to_string(acting.processId()));
    }
    ASSERT_TRUE(running.first().terminate());
    ASSERT_TRUE(quitOnRequest(acting));
    EXPECT_EQ(acting.exitCode(), 0);
    // The acting menu starts the helper when none runs: that one goes too.
    for (const NSRunningApplication& helper : NSRunningApplication::runningApplicationsWithBundleIdentifier(kHelperId))
        helper.terminate();
}

INSTANTIATE_TEST_SUITE_P(Companions, SoleCopyTest,
                         ::testing::Values(Companion{"Helper", kHelperPath, kHelperId, true},
                                           Companion{"Menu", kMenuPath, kMenuId, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Who holds a bus name and who waits in line for it, the holder first.
QStringList queuedOwners(const QString& name)
{
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                       "org.freedesktop.DBus", "ListQueuedOwners");
    call << name;
    return QDBusConnection::sessionBus().call(call).arguments().value(0).toStringList();
}

// Kelvara's restart of its helper: the service manager starts a new copy while
// the running one still holds the name, and then the running one is asked to quit.
// The owner is asked as soon as the new copy is in line, well inside the time a
// waiting copy gives the owner.
TEST_F(RunningProgramsTest, AHelperWaitingInLineNeverPollsAndTakesOverWhenTheOwnerQuits)
{
    TickPosters posters(QDBusConnection::sessionBus());
    QProcess old;
    startHelper(old);
    ASSERT_TRUE(waitUntil([&] { return lists(kHelperId, old.processId()); }, kStartMs));
    const QString oldName = ownerOf(kHelperId);
    ASSERT_TRUE(waitUntil([&] { return posters.ticks.contains(old.processId()); }, kStartMs));

    QProcess restarted;
    startHelper(restarted);
    QStringList line;
    ASSERT_TRUE(waitUntil([&] { return (line = queuedOwners(kHelperId)).size() == 2; }, kStartMs));
    ASSERT_EQ(line.first(), oldName);
    const QString waitingName = line.last();
    // Calls answered by the waiting copy's event loop, one after another: by the last
    // answer it has run whatever it queued on deciding, and a notice it posted meanwhile
    // reached this program ahead of that answer.
    for (int i = 0; i < 4; ++i) {
        const QDBusMessage reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            waitingName, "/com/orvane/kelvara/Application", "com.orvane.kelvara.Application", "Activate"));
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }
    drainMainQueue();
    EXPECT_EQ(pidList(posters.ticks).toStdString(), std::to_string(old.processId()));

    ASSERT_TRUE(find(kHelperId, old.processId()).terminate());
    ASSERT_TRUE(quitOnRequest(old));
    EXPECT_EQ(old.exitCode(), 0);
    ASSERT_TRUE(waitUntil([&] { return posters.ticks.contains(restarted.processId()); }, kStartMs));
    EXPECT_EQ(ownerOf(kHelperId), waitingName);
    const auto running = NSRunningApplication::runningApplicationsWithBundleIdentifier(kHelperId);
    ASSERT_EQ(running.size(), 1);
    EXPECT_EQ(running.first().processIdentifier(), restarted.processId());

    ASSERT_TRUE(running.first().terminate());
    ASSERT_TRUE(quitOnRequest(restarted));
    EXPECT_EQ(restarted.exitCode(), 0);
    EXPECT_EQ(restarted.readAllStandardError(), "");
}

// Processes started by this test, known by a variable in their environment.
QList<qint64> processesWith(const QByteArray& variable)
{
    QList<qint64> found;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
        if (numeric && pid != QCoreApplication::applicationPid() && environ.open(QIODevice::ReadOnly) &&
            environ.readAll().split('\0').contains(variable))
            found << pid;
    }
    return found;
}

TEST_F(RunningProgramsTest, ANoticeClickBringsARunningKelvaraForwardAndStartsItOnlyWhenItDoesNotRun)
{
    NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR));
    QProcess fake;
    startRole(fake, "kelvara", uniqueTag());
    ASSERT_TRUE(waitUntil([&] { return lists(kKelvaraId, fake.processId()); }, kStartMs));

    const QByteArray mark = "KELVARA_E2E_LAUNCH=" + uniqueTag().toUtf8();
    qputenv("KELVARA_E2E_LAUNCH", mark.mid(mark.indexOf('=') + 1));
    const auto stopLaunched = qScopeGuard([mark] {
        for (const qint64 pid : processesWith(mark))
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        NSBundle::setMainBundlePathForTesting({});
    });
    EXPECT_TRUE(KLUtils::loadMainApp());
    // A detached start has its process running before the call returns.
    EXPECT_EQ(processesWith(mark), QList<qint64>{});
    ASSERT_TRUE(finished(fake));
    EXPECT_EQ(resultLine(fake), "activated:1");

    EXPECT_TRUE(KLUtils::loadMainApp());
    const QList<qint64> started = processesWith(mark);
    ASSERT_EQ(started.size(), 1);
    ASSERT_TRUE(waitUntil([&] { return lists(kKelvaraId, started.first()); }, kStartMs));
    // The real Kelvara takes the call.
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(ownerOf(kKelvaraId), kApplicationPath, kApplicationInterface, "Activate"));
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
}

}  // namespace

#include "RunningProgramsTest.moc"
