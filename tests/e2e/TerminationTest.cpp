// The programs stopped by a signal on a real display, whatever they show: a
// sheet, an alert or a file chooser must not keep a logout or a service
// manager's stop waiting.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

#include "KelvaraInHome.h"
#include "NSUserDefaults.h"

namespace {

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
        m_server.start(xvfb, {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
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
        tool.waitForFinished(5000);
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
            QThread::msleep(100);
        }
        return {};
    }
    void click(const QString& window, int x, int y) const
    {
        xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y), "click", "1"});
    }

    // SIGTERM; true when the program ended by its normal path within 2 s.
    static bool endsWithinTwoSeconds(QProcess& program)
    {
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        return program.waitForFinished(2000) && program.exitStatus() == QProcess::NormalExit &&
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
    if (::geteuid() != 0)
        GTEST_SKIP() << "the sheet opens only once the SMC tool is installed, which asks a non-root user for a password";
    QProcess& program = kelvara.start({"kelvara://fan_rule/1"});
    // The window and the sheet over it.
    ASSERT_FALSE(waitForWindows(program.processId(), 2).isEmpty()) << kelvara.output(0).constData();
    QFile::remove(settingsFile());

    EXPECT_TRUE(endsWithinTwoSeconds(program)) << kelvara.output(0).constData();
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

    EXPECT_TRUE(endsWithinTwoSeconds(program)) << kelvara.output(0).constData();
}

TEST_F(TerminationTest, KelvaraEndsWithTheFolderChooserOpen)
{
    // Logging on, so that the chooser's button is enabled.
    NSUserDefaults(QStringLiteral("group.com.orvane.kelvara")).setBool(true, QStringLiteral("KLFileLoggingEnabledKey"));
    QProcess& program = kelvara.start();
    const QString window = waitForWindows(program.processId(), 1);
    ASSERT_FALSE(window.isEmpty()) << kelvara.output(0).constData();
    // File Logging in the sidebar, then Choose Folder (places in the 1100x700
    // window), again while the screen was not there yet for the second click.
    bool opened = false;
    for (int attempt = 0; attempt < 10 && !opened; ++attempt) {
        click(window, 93, 399);
        click(window, 438, 135);
        opened = !waitForWindows(program.processId(), 2, 1000).isEmpty();
    }
    ASSERT_TRUE(opened) << "the folder chooser did not open";

    EXPECT_TRUE(endsWithinTwoSeconds(program)) << kelvara.output(0).constData();
}

}  // namespace
