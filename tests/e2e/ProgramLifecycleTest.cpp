#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

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

INSTANTIATE_TEST_SUITE_P(Programs, ProgramLifecycleTest,
                         ::testing::Values(Program{"/Contents/MacOS/Kelvara", "com.orvane.kelvara"},
                                           Program{"/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper",
                                                   "com.orvane.kelvara.helper"},
                                           Program{"/Contents/Components/Kelvara Menu.app/Contents/MacOS/Kelvara Menu",
                                                   "com.orvane.kelvara.menu"}));

}  // namespace
