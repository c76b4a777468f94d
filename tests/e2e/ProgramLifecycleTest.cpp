#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <optional>

#include "KelvaraInHome.h"
#include "NSRunningApplication.h"
#include "PrivateBus.h"
#include "TestHome.h"

namespace {

struct Program {
    const char* path;
    const char* identifier;
};

void PrintTo(const Program& program, std::ostream* out)
{
    *out << program.identifier;
}

class ProgramLifecycleTest : public ::testing::TestWithParam<Program> {};

// Each program runs until it is told to stop, says nothing, and stops cleanly.
TEST_P(ProgramLifecycleTest, QuietUntilTerminatedThenExitsCleanly)
{
    testApplication();
    // A bus of its own: a copy of the program from another test would make this one wait in line.
    const PrivateBus bus;
    const TestHome home;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    // A desktop session always has a private runtime folder; CI may not.
    const QString runtime = home.path() + "/run";
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert("XDG_RUNTIME_DIR", runtime);
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KELVARA_APP_DIR) + GetParam().path, {});
    ASSERT_TRUE(program.waitForStarted(5000));
    // Ready once it owns its bus name, which it takes after its signal handling is in place.
    const QString identifier = QString::fromLatin1(GetParam().identifier);
    const auto ownsItsName = [&] {
        for (const NSRunningApplication& running : NSRunningApplication::runningApplicationsWithBundleIdentifier(identifier))
            if (running.processIdentifier() == program.processId())
                return true;
        return false;
    };
    ASSERT_TRUE(waitUntil([&] { return program.state() != QProcess::Running || ownsItsName(); }, 60000));
    ASSERT_EQ(program.state(), QProcess::Running) << "exited on its own: " << program.readAllStandardError().constData();

    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(program.readAllStandardOutput(), "");
    // The offscreen platform has no size hints to pass to a window manager
    // and says so whenever the window's least size follows its content: the
    // platform's line, not the program's.
    QByteArray errors = program.readAllStandardError();
    errors.replace("This plugin does not support propagateSizeHints()\n", "");
    EXPECT_EQ(errors, "");
    // Kelvara starts its companions, which outlive it.
    for (const qint64 pid : processesInHome(home.path()))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
}

// A session that ends without stopping the helper takes its bus along: the helper
// left behind leaves too, by the normal way out, instead of polling alone for good.
TEST(HelperLifecycleTest, LeavesWhenItsSessionBusEnds)
{
    testApplication();
    std::optional<PrivateBus> bus(std::in_place);
    const TestHome home;
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    helper.setProcessEnvironment(env);
    helper.start(QStringLiteral(KELVARA_APP_DIR "/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper"), {});
    ASSERT_TRUE(helper.waitForStarted(5000));
    const QString identifier = QStringLiteral("com.orvane.kelvara.helper");
    ASSERT_TRUE(waitUntil([&] {
        return helper.state() != QProcess::Running ||
               !NSRunningApplication::runningApplicationsWithBundleIdentifier(identifier).isEmpty();
    }, 60000));
    ASSERT_EQ(helper.state(), QProcess::Running) << helper.readAllStandardError().constData();

    bus.reset();
    ASSERT_TRUE(helper.waitForFinished(30000)) << "still polling without a bus";
    EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_TRUE(helper.readAllStandardError().contains("session bus has gone"));
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramLifecycleTest,
                         ::testing::Values(Program{"/Contents/MacOS/Kelvara", "com.orvane.kelvara"},
                                           Program{"/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper",
                                                   "com.orvane.kelvara.helper"},
                                           Program{"/Contents/Components/Kelvara Menu.app/Contents/MacOS/Kelvara Menu",
                                                   "com.orvane.kelvara.menu"}));

}  // namespace
