// The programs stopped by a signal on a real display, whatever they show: a
// sheet, an alert or a file chooser must not keep a logout or a service
// manager's stop waiting.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "KelvaraInHome.h"
#include "NSBundle.h"
#include "KLDataManager.h"
#include "ProgramBusName.h"
#include "TerminationSignals.h"
#include "TestAdministrator.h"
#include "NSDistributedNotificationCenter.h"
#include "NSUserDefaults.h"

namespace {

// Enough of a StatusNotifierItem host on the test's bus for a tray icon to be
// available; on a connection of its own, answered from the bus thread.
class FakeStatusNotifierWatcher : public QDBusVirtualObject {
public:
    FakeStatusNotifierWatcher()
        : m_name(QStringLiteral("fake-status-notifier-watcher-%1").arg(quintptr(this)))
        , m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_name))
    {
        registered = m_bus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), this) &&
                     m_bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    ~FakeStatusNotifierWatcher() override { QDBusConnection::disconnectFromBus(m_name); }

    // Qt reads the host's property through an interface built from this.
    QString introspect(const QString&) const override
    {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "</interface>");
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QVariantMap properties{{QStringLiteral("IsStatusNotifierHostRegistered"), true},
                                     {QStringLiteral("ProtocolVersion"), 0},
                                     {QStringLiteral("RegisteredStatusNotifierItems"), QStringList()}};
        const QString member = message.member();
        if (member == QLatin1String("RegisterStatusNotifierItem"))
            ++items;
        if (member == QLatin1String("RegisterStatusNotifierItem") ||
            member == QLatin1String("RegisterStatusNotifierHost"))
            return connection.send(message.createReply());
        if (member == QLatin1String("Get") && message.arguments().size() == 2)
            return connection.send(message.createReply(
                QVariant::fromValue(QDBusVariant(properties.value(message.arguments().at(1).toString())))));
        if (member == QLatin1String("GetAll"))
            return connection.send(message.createReply(properties));
        return false;
    }

    bool registered = false;
    // Counted on the bus thread.
    std::atomic<int> items{0};

private:
    QString m_name;
    QDBusConnection m_bus;
};

// An X server of the test's own, on a display number it picks; gone with the object.
class VirtualDisplay {
public:
    VirtualDisplay()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return;
        m_server.setStandardErrorFile(QProcess::nullDevice());
        // -displayfd: the server writes the display it took once it listens.
        // -noreset: a program connecting just as the last one left (a program
        // killed, then the next started) would meet a server resetting itself.
        m_server.start(xvfb, {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"});
        if (!m_server.waitForStarted(5000))
            return;
        QElapsedTimer clock;
        clock.start();
        while (!m_server.canReadLine() && clock.elapsed() < 10000 && m_server.state() == QProcess::Running)
            m_server.waitForReadyRead(100);
        const QByteArray number = m_server.readLine().trimmed();
        if (!number.isEmpty())
            m_display = ':' + QString::fromLatin1(number);
    }
    ~VirtualDisplay()
    {
        m_server.kill();
        m_server.waitForFinished(2000);
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    QString display() const { return m_display; }

private:
    QProcess m_server;
    QString m_display;
};

class TerminationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (display.display().isEmpty())
            GTEST_SKIP() << "no virtual display: Xvfb is not installed or did not start";
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
        kelvara.setEnvironment(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        kelvara.setEnvironment(QStringLiteral("DISPLAY"), display.display());
    }

    QStringList xdotool(const QStringList& arguments) const
    {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display.display());
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral("xdotool"), arguments);
        tool.waitForFinished(20000);
        return QString::fromLatin1(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
    QStringList visibleWindows(qint64 pid) const
    {
        return xdotool({"search", "--onlyvisible", "--pid", QString::number(pid)});
    }
    // Polls until the program shows at least that many windows; its first window's id.
    QString waitForWindows(qint64 pid, int count, int timeoutMs = 20000) const
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            const QStringList windows = visibleWindows(pid);
            if (windows.size() >= count)
                return windows.first();
            // The event loop turns meanwhile: the fake tray host answers from it.
            QEventLoop pause;
            QTimer::singleShot(100, &pause, &QEventLoop::quit);
            pause.exec();
        }
        return {};
    }
    // Polls until the program shows a folder chooser, known by the title Qt gives it.
    bool waitForFolderChooser(qint64 pid, int timeoutMs) const
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            if (!xdotool({"search", "--all", "--onlyvisible", "--pid", QString::number(pid), "--name", "^Find Directory"})
                     .isEmpty())
                return true;
            QEventLoop pause;
            QTimer::singleShot(100, &pause, &QEventLoop::quit);
            pause.exec();
        }
        return false;
    }
    void moveTo(const QString& window, int x, int y) const
    {
        xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y)});
    }
    void click(const QString& window, int x, int y) const
    {
        xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y), "click", "1"});
    }

    // SIGTERM; true when the program ended by its normal path. Not a deadline:
    // one that its own watchdog has to end dies of the signal instead.
    static bool endsByItsNormalPath(QProcess& program)
    {
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        return program.waitForFinished(10000) && program.exitStatus() == QProcess::NormalExit &&
               program.exitCode() == 0;
    }

    QString settingsFile() const
    {
        return kelvara.home.path() +
               "/Library/Group Containers/group.com.orvane.kelvara/Library/Preferences/group.com.orvane.kelvara.plist";
    }

    // Declared first so it goes last, after every program on it.
    VirtualDisplay display;
    KelvaraInHome kelvara;
};

TEST_F(TerminationTest, KelvaraEndsWithItsFanRulesSheetOpenAndKeepsItsWindowState)
{
    // The sheet opens once the SMC tool is in place: for anyone but root, it is
    // put there beforehand as root would, so no password is asked for.
    if (::geteuid() != 0) {
        const QString container = kelvara.home.path() + "/Library/Group Containers/group.com.orvane.kelvara";
        ASSERT_TRUE(QDir().mkpath(container));
        ASSERT_TRUE(QFile::copy(KELVARA_APP_DIR "/Contents/Resources/Kelvara SMC", container + "/Kelvara SMC"));
        ASSERT_TRUE(TestAdministrator::giveToAdministrator(container + "/Kelvara SMC"));
    }
    QProcess& program = kelvara.start({"kelvara://fan_rule/1"});
    // The window and the sheet over it.
    ASSERT_FALSE(waitForWindows(program.processId(), 2).isEmpty()) << kelvara.output(0).constData();
    QFile::remove(settingsFile());

    EXPECT_TRUE(endsByItsNormalPath(program)) << kelvara.output(0).constData();
    QFile settings(settingsFile());
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_TRUE(settings.readAll().contains("KLMainWindowGeometry"));
}

TEST_F(TerminationTest, KelvaraEndsWithAnAlertOpen)
{
    // Something in the way of the SMC tool: the privilege request fails and the
    // fan rule link shows the authorization-failed alert instead of the sheet.
    const QString container = kelvara.home.path() + "/Library/Group Containers/group.com.orvane.kelvara";
    ASSERT_TRUE(QDir().mkpath(container + "/Kelvara SMC/in the way"));
    QProcess& program = kelvara.start({"kelvara://fan_rule/1"});
    ASSERT_FALSE(waitForWindows(program.processId(), 2).isEmpty()) << kelvara.output(0).constData();

    EXPECT_TRUE(endsByItsNormalPath(program)) << kelvara.output(0).constData();
}

TEST_F(TerminationTest, KelvaraEndsWithTheFolderChooserOpen)
{
    // Logging on, so that the chooser's button is enabled.
    NSUserDefaults(QStringLiteral("group.com.orvane.kelvara")).setBool(true, QStringLiteral("KLFileLoggingEnabledKey"));
    QProcess& program = kelvara.start();
    const QString window = waitForWindows(program.processId(), 1);
    ASSERT_FALSE(window.isEmpty()) << kelvara.output(0).constData();
    // File Logging in the sidebar, then Choose Folder (places in the 1100x700
    // window). A click that comes before the screen is laid out finds no
    // button: both again, each time after the chooser had a while to show.
    // Once it shows, its modality keeps later clicks from opening another.
    QElapsedTimer clock;
    clock.start();
    bool opened = false;
    while (!opened && clock.elapsed() < 60000) {
        click(window, 93, 399);
        click(window, 438, 135);
        opened = waitForFolderChooser(program.processId(), 5000);
    }
    ASSERT_TRUE(opened) << "the folder chooser did not open";
    QFile::remove(settingsFile());

    EXPECT_TRUE(endsByItsNormalPath(program)) << kelvara.output(0).constData();
    QFile settings(settingsFile());
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_TRUE(settings.readAll().contains("KLMainWindowGeometry"));
}

TEST_F(TerminationTest, KelvaraMenuEndsWithItsPopoverAndDetailPopoverOpen)
{
    FakeStatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.registered);
    // The catalogue the popover lists, built as Kelvara builds it.
    NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
    KLDataManager::sharedInstance().setupDatabase();
    drainMainQueue();
    NSBundle::setMainBundlePathForTesting({});
    // The open notice is Kelvara's: the test takes its name.
    ASSERT_TRUE(ownProgramBusName(QStringLiteral("com.orvane.kelvara")));
    QProcess& program = kelvara.start({}, kMenuProgram);
    const qint64 menu = program.processId();
    // Its item comes after it observes the open notice.
    ASSERT_TRUE(waitUntil([&] { return watcher.items > 0; }, 20000)) << kelvara.output(0).constData();
    NSDistributedNotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("KLMenuBarControllerShouldOpenPopupNotification"));
    const QString popover = waitForWindows(menu, 1);
    ASSERT_FALSE(popover.isEmpty()) << "the popover did not open: " << kelvara.output(0).constData();
    // The pointer over the rows of its sensor list, down from its top, until one shows its detail.
    bool detailShown = false;
    for (int y = 100; y < 700 && !detailShown; y += 25) {
        moveTo(popover, 150, y);
        detailShown = !waitForWindows(menu, 2, 150).isEmpty();
    }
    ASSERT_TRUE(detailShown) << "no detail popover opened";

    EXPECT_TRUE(endsByItsNormalPath(program)) << kelvara.output(0).constData();
}

// The main thread of a program stops turning its event loop, as one stuck in
// a blocking call would, and takes the termination signals only while it waits
// in sigsuspend, saying when it waits (word) and when a signal has been taken.
// Given a line to wait for, it holds them back until that line has come.
void stuckTakingSignals(const char* word, bool afterALine)
{
    QCoreApplication& application = testApplication();
    quitOnTerminationSignals(application);
    QTimer::singleShot(0, [word, afterALine] {
        // Held back until the program waits, so none comes before it says so.
        sigset_t termination;
        sigemptyset(&termination);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP})
            sigaddset(&termination, signal);
        sigset_t waiting;
        ::pthread_sigmask(SIG_BLOCK, &termination, &waiting);
        sigdelset(&waiting, SIGTERM);
        sigdelset(&waiting, SIGINT);
        sigdelset(&waiting, SIGHUP);
        std::puts(word);
        std::fflush(stdout);
        char line[8];
        if (afterALine && !std::fgets(line, sizeof line, stdin))
            return;
        for (;;) {
            ::sigsuspend(&waiting);
            std::puts("signalled");
            std::fflush(stdout);
        }
    });
    application.exec();
}

// Not a test of its own: the program AStuckProgramStillEndsAndASecondSignalEndsItAtOnce stops.
TEST(TerminationSignalsTest, DISABLED_StuckProgram)
{
    stuckTakingSignals("stuck", false);
}

// Not a test of its own: a program that takes two signals sent while it held them back.
TEST(TerminationSignalsTest, DISABLED_ProgramTakingTwoSignalsAtOnce)
{
    stuckTakingSignals("holding", true);
}

// Not a test of its own: a program signalled while it sets up, before its
// event loop runs, whose quit then takes longer than the watchdog once allowed.
TEST(TerminationSignalsTest, DISABLED_SlowlyQuittingProgram)
{
    installTerminationSignals();
    ::raise(SIGTERM);
    QCoreApplication& application = testApplication();
    quitOnTerminationSignals(application);
    // A save that takes its time, as Kelvara's can on a busy machine.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [] {
        QThread::msleep(2500);
        std::puts("saved");
        std::fflush(stdout);
    });
    application.exec();
}

// Not a test of its own: a test process holding a bus of its own, which the next test kills.
TEST(PrivateBusTest, DISABLED_HoldsABus)
{
    PrivateBus bus;
    std::puts("holding");
    std::fflush(stdout);
    for (;;)
        ::pause();
}

// Runs this binary's disabled test `test`; true once it has said `word`.
bool startsAndSays(QProcess& process, const QString& test, const char* word)
{
    process.start(QCoreApplication::applicationFilePath(),
                  {"--gtest_also_run_disabled_tests", QStringLiteral("--gtest_filter=") + test});
    QByteArray said;
    return waitUntil([&] {
        process.waitForReadyRead(50);
        said += process.readAllStandardOutput();
        return said.contains(word) || process.state() == QProcess::NotRunning;
    }, 10000) && said.contains(word);
}

// The test's bus daemon does not outlive a test process that is killed.
TEST(PrivateBusTest, TheBusEndsWithAKilledTestProcess)
{
    testApplication();
    QProcess holder;
    ASSERT_TRUE(startsAndSays(holder, QStringLiteral("PrivateBusTest.DISABLED_HoldsABus"), "holding"));
    // The daemon: the holder's child.
    const auto stateAndParent = [](const QString& pid) -> std::pair<QByteArray, qint64> {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return {};
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 1).trimmed().split(' ');
        return fields.size() > 1 ? std::make_pair(fields.at(0), fields.at(1).toLongLong()) : std::pair<QByteArray, qint64>{};
    };
    QString daemon;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (stateAndParent(entry).second == holder.processId())
            daemon = entry;
    }
    ASSERT_FALSE(daemon.isEmpty()) << "the holder started no bus";
    ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
    ASSERT_TRUE(holder.waitForFinished(10000));
    const bool ended = waitUntil([&] {
        const QByteArray state = stateAndParent(daemon).first;
        return state.isEmpty() || state == "Z";
    }, 10000);
    if (!ended)
        ::kill(daemon.toInt(), SIGKILL);
    EXPECT_TRUE(ended) << "the bus daemon outlived its test process";
}

// What ended the program tells the two ways apart: the watchdog ends it with
// the first signal, a second signal at once with its own. No deadline is
// measured, so a busy machine cannot fail it.
TEST(TerminationSignalsTest, AStuckProgramStillEndsAndASecondSignalEndsItAtOnce)
{
    testApplication();
    for (const int count : {1, 2}) {
        QProcess stuck;
        ASSERT_TRUE(startsAndSays(stuck, QStringLiteral("TerminationSignalsTest.DISABLED_StuckProgram"), "stuck"));
        ::kill(static_cast<pid_t>(stuck.processId()), SIGTERM);
        if (count == 2) {
            // Once the first has been taken, so the order is known.
            QByteArray said;
            ASSERT_TRUE(waitUntil([&] {
                stuck.waitForReadyRead(50);
                said += stuck.readAllStandardOutput();
                return said.contains("signalled");
            }, 10000));
            ::kill(static_cast<pid_t>(stuck.processId()), SIGINT);
        }
        EXPECT_TRUE(stuck.waitForFinished(10000)) << count << " signal(s)";
        EXPECT_EQ(stuck.exitStatus(), QProcess::CrashExit) << "ends as the signal ends a program";
        EXPECT_EQ(stuck.exitCode(), count == 1 ? SIGTERM : SIGINT) << count << " signal(s)";
        stuck.kill();
        stuck.waitForFinished(2000);
    }
}

// Two signals pending together on the main thread: the kernel hands out SIGINT
// first, and its handler holds SIGTERM back until it has recorded SIGINT; then
// SIGTERM ends the program at once, with its own number. Were they not held
// back, SIGTERM's handler would run inside SIGINT's and be recorded instead.
TEST(TerminationSignalsTest, TwoSignalsTakenTogetherRecordTheFirstAndEndWithTheSecond)
{
    testApplication();
    QProcess program;
    ASSERT_TRUE(startsAndSays(program, QStringLiteral("TerminationSignalsTest.DISABLED_ProgramTakingTwoSignalsAtOnce"),
                              "holding"));
    // To the main thread itself, where both wait while it holds them back.
    const auto pid = static_cast<pid_t>(program.processId());
    ASSERT_EQ(::syscall(SYS_tgkill, pid, pid, SIGTERM), 0);
    ASSERT_EQ(::syscall(SYS_tgkill, pid, pid, SIGINT), 0);
    program.write("take\n");
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(program.exitCode(), SIGTERM);
    // The first handler returned, the second never did.
    EXPECT_EQ(program.readAllStandardOutput().count("signalled"), 1);
}

// A signal taken while the program sets up quits it once its loop runs, and a
// quit that is slow but working is not cut short.
TEST(TerminationSignalsTest, AnEarlySignalQuitsByTheNormalPathAndASlowQuitFinishes)
{
    testApplication();
    QProcess program;
    ASSERT_TRUE(startsAndSays(program, QStringLiteral("TerminationSignalsTest.DISABLED_SlowlyQuittingProgram"), "saved"));
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

}  // namespace
