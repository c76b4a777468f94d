#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <gtest/gtest.h>
#include <unistd.h>

#include "FakeSystemd.h"
#include "LDLaunchCtl.h"
#include "LaunchdTestSupport.h"
#include "NSBundle.h"
#include "NSString+LDVersion.h"
#include "PropertyList.h"
#include "QtApplication.h"
#include "ServiceManagement.h"
#include "SystemdUserManager.h"
#include "TestHome.h"

namespace {

constexpr auto kRWXR_XR_X = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                            QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser |
                            QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

LDLaunchJob sleepJob(const QString& label, bool runAtLoad = true)
{
    LDLaunchJob job;
    job.setLabel(label);
    job.setProgramArguments({QStringLiteral("/bin/sleep"), QStringLiteral("30")});
    job.setRunAtLoad(runAtLoad);
    return job;
}

QString jobFile(const QString& label)
{
    return QDir::homePath() + "/Library/LaunchAgents/" + label + ".plist";
}

using LDLaunchCtlErrorTest = LaunchdTest;
using LDLaunchCtlAddTest = LaunchdTest;
using LDLaunchCtlRemoveTest = LaunchdTest;
using LDLaunchCtlAuthorizationTest = LaunchdTest;
using LDLaunchCtlJobTest = LaunchdTest;

bool waitUntilGone(qint64 pid)
{
    for (int i = 0; i < 300; ++i) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z "))
            return true;
        QThread::msleep(10);
    }
    return false;
}

TEST_F(LDLaunchCtlErrorTest, FixedTableAndSecurityTexts)
{
    const QStringList messages{
        "The job label is not valid.",
        "The Submitted Job was missing some required keys",
        "Job not loaded",
        "The specified job already exists",
        "The specified job is already loaded",
        "Could not load job",
        "Unable to install the privileged helper tool",
        "Unable to remove the privileged helper tool",
        "Cannot unload The helper tool, it is not currently loaded.",
        "Unable to remove some files associated with the privileged helper tool",
        "Could not unload job",
        "There were problems reloading the job",
        "Could not find the specified launchd.plist to load the job",
        "The suggested file to remove is a directory.",
        "There were problem writing to the file",
        "More than one job matched that description",
        "You are not authorized to to perform this action",
        "Could not set the Job to run in the proper context",
        QString::fromUtf8("The path specified doesn\u2019t appear to be executable."),
    };
    for (int code = 1; code <= 19; ++code) {
        CFError error;
        EXPECT_FALSE(LDLaunchCtl::errorWithCode(code, &error));
        EXPECT_EQ(error.domain, "com.plovera.ldlaunchctl");
        EXPECT_EQ(error.code, code);
        EXPECT_EQ(error.localizedDescription(), messages.at(code - 1)) << code;
    }

    CFError cancelled;
    EXPECT_FALSE(LDLaunchCtl::errorWithCode(-60006, &cancelled));
    EXPECT_EQ(cancelled.localizedDescription(), "The authorization was canceled by the user.");
    CFError unknown;
    EXPECT_FALSE(LDLaunchCtl::errorWithCode(4242, &unknown));
    EXPECT_EQ(unknown.localizedDescription(), "An unknown problem occurred");
    CFError success;
    EXPECT_TRUE(LDLaunchCtl::errorWithCode(0, &success));
    EXPECT_EQ(success.code, 0);

    const MessageLog log;
    EXPECT_FALSE(LDLaunchCtl::errorWithCode(3, nullptr));
    EXPECT_FALSE(LDLaunchCtl::errorWithCFError(CFError::make("x", 9, "launchd said no"), 9, nullptr));
    EXPECT_EQ(MessageLog::messages(), (QStringList{"Error: Job not loaded", "Error: launchd said no"}));

    CFError passedOn;
    EXPECT_TRUE(LDLaunchCtl::errorWithCFError(CFError::make("kSMErrorDomainLaunchd", 3, "gone"), 0, &passedOn));
    EXPECT_EQ(passedOn.domain, "kSMErrorDomainLaunchd");
    EXPECT_EQ(passedOn.code, 3);
}

TEST_F(LDLaunchCtlErrorTest, TranslatedMessagesComeFromTheMainBundlesTable)
{
    QTemporaryDir dir;
    const QString app = dir.path() + "/Kelvara.app";
    QDir().mkpath(app + "/Contents/Resources/en.lproj");
    QFile table(app + "/Contents/Resources/en.lproj/LDLaunchCtl.strings");
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write(PropertyList::toData(QVariantMap{{"Job not loaded", "The job is not loaded."}}, PropertyList::Format::Binary));
    table.close();
    NSBundle::setMainBundlePathForTesting(app);
    EXPECT_EQ(LDLaunchCtl::messageForCode(3), "The job is not loaded.");
    EXPECT_EQ(LDLaunchCtl::messageForCode(5), "The specified job is already loaded");
    NSBundle::setMainBundlePathForTesting({});
}

TEST_F(LDLaunchCtlAddTest, ValidationComesFirstAndWritesNothing)
{
    const TestHome home;
    LDLaunchCtl& controller = LDLaunchCtl::sharedController();

    LDLaunchJob notExecutable;
    notExecutable.setProgramArguments({home.path()});
    CFError error;
    EXPECT_FALSE(controller.add(notExecutable, 1, &error));
    EXPECT_EQ(error.code, 19);

    LDLaunchJob unnamed;
    unnamed.setProgramArguments({QStringLiteral("/bin/true")});
    EXPECT_FALSE(controller.add(unnamed, 1, &error));
    EXPECT_EQ(error.code, 2);

    for (const char* label : {"../../.bashrc", "a/b", "with space", "unit@instance"}) {
        LDLaunchJob escaping = sleepJob(QString::fromLatin1(label));
        EXPECT_FALSE(controller.add(escaping, 1, &error)) << label;
        EXPECT_EQ(error.code, 1) << label;
        EXPECT_EQ(error.localizedDescription(), "The job label is not valid.");
    }
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/Library"));
}

TEST_F(LDLaunchCtlAddTest, AddMakesTheFolderWritesTheFileAndSubmits)
{
    testApplication();
    const TestHome home;
    FakeSystemd systemd;
    ASSERT_TRUE(systemd.registerOnSessionBus()) << "needs dbus-daemon";

    LDLaunchJob job = sleepJob(QStringLiteral("com.orvane.kelvara.helper"));
    job.setKeepAlive(QVariantMap{{"SuccessfulExit", true}});
    CFError error;
    ASSERT_TRUE(LDLaunchCtl::sharedController().add(job, 1, &error)) << qPrintable(error.localizedDescription());
    EXPECT_EQ(job.domain(), 1);

    for (const QString& folder : {home.path() + "/Library", home.path() + "/Library/LaunchAgents"})
        EXPECT_EQ(QFileInfo(folder).permissions(), kRWXR_XR_X) << qPrintable(folder);
    const QString file = jobFile("com.orvane.kelvara.helper");
    EXPECT_EQ(PropertyList::readFile(file).toMap(), job.dictionary().value());
    EXPECT_TRUE(readAll(file).startsWith("<?xml"));

    EXPECT_EQ(systemd.calls, (QStringList{"GetUnit com.orvane.kelvara.helper.service", "Reload",
                                          "EnableUnitFiles com.orvane.kelvara.helper.service",
                                          "StartUnit com.orvane.kelvara.helper.service"}));
    EXPECT_TRUE(systemd.units.value("com.orvane.kelvara.helper.service").enabled);
    EXPECT_TRUE(job.isCurrentlyLoaded());
    EXPECT_EQ(job.PID(), systemd.units.value("com.orvane.kelvara.helper.service").mainPID);

    // launchd's answer for a job it already holds is passed on.
    EXPECT_FALSE(LDLaunchCtl::sharedController().add(job, 1, &error));
    EXPECT_EQ(error.domain, kSMErrorDomainLaunchd);
    EXPECT_EQ(error.code, EEXIST);

    systemd.calls.clear();
    ASSERT_TRUE(LDLaunchCtl::sharedController().remove("com.orvane.kelvara.helper", 1, &error))
        << qPrintable(error.localizedDescription());
    EXPECT_EQ(systemd.calls.mid(0, 2), (QStringList{"StopUnit com.orvane.kelvara.helper.service",
                                                    "GetUnit com.orvane.kelvara.helper.service"}));
    EXPECT_TRUE(systemd.calls.contains("DisableUnitFiles com.orvane.kelvara.helper.service"));
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_FALSE(QFileInfo::exists(SystemdUserManager::unitDirectory() + "/com.orvane.kelvara.helper.service"));
    EXPECT_FALSE(job.isCurrentlyLoaded());
}

TEST_F(LDLaunchCtlAddTest, AFolderThatCannotBeMadeIsAWriteError)
{
    const TestHome home;
    QDir().mkpath(home.path() + "/Library");
    QFile blocker(home.path() + "/Library/LaunchAgents");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    LDLaunchJob job = sleepJob(QStringLiteral("com.example.blocked"));
    CFError error;
    EXPECT_FALSE(LDLaunchCtl::sharedController().add(job, 1, &error));
    EXPECT_EQ(error.code, 15);
    EXPECT_EQ(error.localizedDescription(), "There were problem writing to the file");
    EXPECT_TRUE(LDLaunchCtl::allRunningJobsInDomain(1).isEmpty());
}

TEST_F(LDLaunchCtlAddTest, WithoutAConsoleUserTheFileIsWrittenButNothingSubmitted)
{
    const TestHome home;
    // A folder in the file's place is set aside to make room for it.
    ASSERT_TRUE(QDir().mkpath(jobFile("com.example.atlogin")));
    for (const QString& user : {QString(), QStringLiteral("loginwindow")}) {
        const ConsoleUser nobody(user);
        LDLaunchJob job = sleepJob(QStringLiteral("com.example.atlogin"));
        CFError error;
        EXPECT_TRUE(LDLaunchCtl::sharedController().add(job, 1, &error));
        EXPECT_EQ(job.domain(), 0);
        EXPECT_TRUE(QFileInfo(jobFile("com.example.atlogin")).isFile());
        EXPECT_TRUE(LDLaunchCtl::allRunningJobsInDomain(1).isEmpty());
        EXPECT_FALSE(LDLaunchCtl::sharedController().unload("com.example.atlogin", 1, &error));
        EXPECT_EQ(error.code, 3);
    }
}

TEST_F(LDLaunchCtlRemoveTest, AJobTheManagerDoesNotHoldLosesItsFileAnyway)
{
    const TestHome home;
    const QString file = jobFile("com.orvane.kelvara.menu");
    QDir().mkpath(QFileInfo(file).path());
    QFile stale(file);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write(PropertyList::toData(sleepJob("com.orvane.kelvara.menu").dictionary().value(), PropertyList::Format::Xml));
    stale.close();

    CFError error;
    EXPECT_FALSE(LDLaunchCtl::sharedController().remove("com.orvane.kelvara.menu", 1, &error));
    EXPECT_EQ(error.domain, kSMErrorDomainLaunchd);
    EXPECT_EQ(error.code, ESRCH);
    EXPECT_FALSE(QFileInfo::exists(file));

    // Other domains' files are never touched on that path, and bad labels reach no file.
    EXPECT_FALSE(LDLaunchCtl::sharedController().remove("../LaunchAgents/x", 1, &error));
    EXPECT_EQ(error.code, EINVAL);
}

TEST_F(LDLaunchCtlAuthorizationTest, PrivilegedDomainsAskFirstAndStopOnRefusal)
{
    const TestHome home;
    TestAuthority authority;
    LDLaunchJob job = sleepJob(QStringLiteral("com.example.daemon"));
    CFError error;

    authority.answer = TestAuthority::Answer::Cancel;
    EXPECT_FALSE(LDLaunchCtl::sharedController().add(job, 4, &error));
    EXPECT_EQ(error.code, -60006);
    EXPECT_EQ(error.localizedDescription(), "The authorization was canceled by the user.");
    EXPECT_EQ(authority.prompts.value(0), "Loading the job requires authorization.");
    EXPECT_EQ(authority.flags, 19u);

    authority.answer = TestAuthority::Answer::Refuse;
    EXPECT_FALSE(LDLaunchCtl::sharedController().remove("com.example.daemon", 2, &error));
    EXPECT_EQ(error.code, 17);
    EXPECT_EQ(authority.prompts.value(1), "Unloading the job requires authorization.");
    EXPECT_TRUE(authority.commands.isEmpty());

    // The user's own domain needs nobody's permission.
    const int asked = static_cast<int>(authority.rights.size());
    AuthorizationRef reference = nullptr;
    EXPECT_TRUE(LDLaunchCtl::sharedController().createAuthorization(&reference, 1, "x", "p", &error));
    EXPECT_EQ(reference, nullptr);
    EXPECT_EQ(authority.rights.size(), asked);
}

TEST_F(LDLaunchCtlAuthorizationTest, SessionAuthorizationOnlyForOwnControllers)
{
    TestAuthority authority;
    const MessageLog log;
    EXPECT_FALSE(LDLaunchCtl::sharedController().authorizeWithPrompt("Please"));
    EXPECT_EQ(MessageLog::messages(), QStringList{"You cannot create session authorization for the shared controller."});
    EXPECT_TRUE(authority.rights.isEmpty());

    LDLaunchCtl controller;
    EXPECT_TRUE(controller.authorizeWithPrompt("Please"));
    EXPECT_TRUE(controller.hasSessionAuthorization());
    EXPECT_EQ(authority.prompts, QList<QByteArray>{"Performing administrative tasks requires authorization."});
    EXPECT_EQ(authority.rights, QStringList{::getuid() == 0 ? "com.apple.ServiceManagement.daemons.modify"
                                                            : "com.plovera.ldlaunchctl.controller.session.authorization"});
    // Held once, used by later operations without asking again.
    EXPECT_TRUE(controller.authorize());
    AuthorizationRef reference = nullptr;
    CFError error;
    EXPECT_TRUE(controller.createAuthorization(&reference, 4, "x", "p", &error));
    EXPECT_NE(reference, nullptr);
    EXPECT_EQ(authority.rights.size(), 1);
    controller.deauthorize();
    EXPECT_FALSE(controller.hasSessionAuthorization());
}

// No service manager answers here: programs are started and stopped directly.
TEST_F(LDLaunchCtlJobTest, LoadUnloadStartStopAndQueriesOnTheFallback)
{
    const TestHome home;
    LDLaunchCtl& controller = LDLaunchCtl::sharedController();
    LDLaunchJob job = sleepJob(QStringLiteral("com.example.sleeper"));
    CFError error;
    ASSERT_TRUE(controller.add(job, 1, &error)) << qPrintable(error.localizedDescription());

    const std::optional<LDLaunchJob> running = LDLaunchCtl::runningJobWithLabel("com.example.sleeper", 1);
    ASSERT_TRUE(running.has_value());
    const qint64 pid = running->PID();
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(running->isCurrentlyLoaded());
    EXPECT_EQ(LDLaunchCtl::runningJobsMatching("SLEEPER", 1).size(), 1);
    EXPECT_TRUE(LDLaunchCtl::runningJobsMatching("nothing", 1).isEmpty());
    EXPECT_EQ(LDLaunchCtl::allJobsFromFilesInDomain(1).size(), 1);
    ASSERT_TRUE(LDLaunchCtl::jobFromFileNamed("com.example.sleeper.plist", 1).has_value());

    EXPECT_FALSE(controller.start("com.example.sleeper", 1, &error));
    EXPECT_EQ(error.code, 5);

    ASSERT_TRUE(controller.stop("com.example.sleeper", 1, &error)) << qPrintable(error.localizedDescription());
    EXPECT_TRUE(waitUntilGone(pid));
    EXPECT_TRUE(QFileInfo::exists(jobFile("com.example.sleeper")));
    EXPECT_FALSE(controller.restart("com.example.sleeper", 1, &error));
    EXPECT_EQ(error.code, 3);

    ASSERT_TRUE(controller.start("com.example.sleeper", 1, &error)) << qPrintable(error.localizedDescription());
    const qint64 restarted = LDLaunchCtl::runningJobWithLabel("com.example.sleeper", 1)->PID();
    EXPECT_GT(restarted, 0);
    EXPECT_NE(restarted, pid);
    EXPECT_FALSE(controller.start("com.example.missing", 1, &error));
    EXPECT_EQ(error.code, 13);

    LDLaunchJob changed = sleepJob(QStringLiteral("com.example.sleeper"));
    ASSERT_TRUE(controller.reload(changed, 1, &error)) << qPrintable(error.localizedDescription());
    EXPECT_TRUE(waitUntilGone(restarted));
    const qint64 reloaded = changed.PID();
    EXPECT_GT(reloaded, 0);
    EXPECT_NE(reloaded, restarted);

    ASSERT_TRUE(controller.remove("com.example.sleeper", 1, &error)) << qPrintable(error.localizedDescription());
    EXPECT_TRUE(waitUntilGone(reloaded));
    EXPECT_FALSE(QFileInfo::exists(jobFile("com.example.sleeper")));
    EXPECT_TRUE(LDLaunchCtl::allRunningJobsInDomain(1).isEmpty());
}

TEST_F(LDLaunchCtlJobTest, LoginItemsAndScheduledJobsRunTheirProgram)
{
    const TestHome home;
    const QString app = home.path() + "/Tool.app";
    QDir().mkpath(app + "/Contents/MacOS");
    QFile info(app + "/Contents/Info.plist");
    ASSERT_TRUE(info.open(QIODevice::WriteOnly));
    info.write(PropertyList::toData(QVariantMap{{"CFBundleIdentifier", "com.example.tool"}, {"CFBundleExecutable", "Tool"}},
                                    PropertyList::Format::Xml));
    info.close();
    ASSERT_TRUE(QFile::copy("/bin/sleep", app + "/Contents/MacOS/Tool"));

    // Nobody at the console: the job file is written and nothing runs.
    const ConsoleUser nobody{QString()};
    CFError error;
    ASSERT_TRUE(LDLaunchCtl::launchAtLogin(app, true, false, true, &error)) << qPrintable(error.localizedDescription());
    const QVariantMap loginItem = PropertyList::readFile(jobFile("com.example.tool.launcher")).toMap();
    EXPECT_EQ(loginItem, (QVariantMap{{"Label", "com.example.tool.launcher"},
                                      {"Program", app + "/Contents/MacOS/Tool"},
                                      {"RunAtLoad", true},
                                      {"KeepAlive", QVariantMap{{"SuccessfulExit", true}}}}));

    bool replied = false;
    LDLaunchCtl::scheduleJob("com.example.every-hour", "/bin/true", 3600, 1, [&](const CFError* failure) {
        replied = true;
        EXPECT_EQ(failure, nullptr);
    });
    EXPECT_TRUE(replied);
    const QVariantMap scheduled = PropertyList::readFile(jobFile("com.example.every-hour")).toMap();
    EXPECT_EQ(scheduled.value("StartInterval").toLongLong(), 3600);
    EXPECT_EQ(scheduled.value("Program"), QVariant("/bin/true"));
    EXPECT_FALSE(scheduled.contains("ProgramArguments"));

    qint64 code = 0;
    LDLaunchCtl::scheduleJob("com.example.nowhere", "/bin/true", {"true"}, 60, 0,
                             [&](const CFError* failure) { code = failure ? failure->code : -1; });
    EXPECT_EQ(code, 15);
}

TEST_F(LDLaunchCtlJobTest, HelpersCannotBeBlessedHere)
{
    const TestHome home;
    TestAuthority authority;
    CFError error;
    EXPECT_FALSE(LDLaunchCtl::installHelper("com.example.helper", "Install", &error));
    EXPECT_EQ(error.code, 7);
    EXPECT_EQ(authority.rights, QStringList{"com.apple.ServiceManagement.blesshelper"});
    EXPECT_EQ(authority.prompts, QList<QByteArray>{"Install"});

    authority.answer = TestAuthority::Answer::Cancel;
    EXPECT_FALSE(LDLaunchCtl::installHelper("com.example.helper", "Install", &error));
    EXPECT_EQ(error.code, -60006);
    authority.answer = TestAuthority::Answer::Refuse;
    EXPECT_FALSE(LDLaunchCtl::installHelper("com.example.helper", "Install", &error));
    EXPECT_EQ(error.code, 17);

    EXPECT_FALSE(LDLaunchCtl::uninstallHelper("com.example.helper", &error));
    EXPECT_EQ(error.code, 9);
    EXPECT_TRUE(LDLaunchCtl::removeFilesForHelperWithLabel("com.example.helper"));
}

TEST(LDVersionTest, DottedVersionsCompareByNumber)
{
    using namespace LDVersion;
    EXPECT_EQ(ld_compareToVersion("1.2", "1.2.0"), NSOrderedSame);
    EXPECT_EQ(ld_compareToVersion("1.10", "1.9"), NSOrderedDescending);
    EXPECT_EQ(ld_compareToVersion("2", "10"), NSOrderedAscending);
    EXPECT_EQ(ld_compareToVersion("1.2b3", "1.2b10"), NSOrderedAscending);
    EXPECT_TRUE(ld_version_isLessThanOrEqualTo("1.0", "1.0.0"));
    EXPECT_TRUE(ld_version_isLessThanOrEqualTo("1.0", "1.0.1"));
    EXPECT_FALSE(ld_version_isLessThanOrEqualTo("1.0.2", "1.0.1"));
    EXPECT_TRUE(ld_version_isGreaterThan("3", "2.99"));
    EXPECT_TRUE(ld_version_isEqualTo("01.2", "1.2"));
}

}  // namespace
