#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <tuple>

#include "KLDataManager.h"
#include "KelvaraInHome.h"
#include "NSRunningApplication.h"
#include "NSUserDefaults.h"
#include "PropertyList.h"

namespace {

const QString kHelperId = QStringLiteral("com.orvane.kelvara.helper");
const QString kMenuId = QStringLiteral("com.orvane.kelvara.menu");

NSUserDefaults settings()
{
    return NSUserDefaults(QString::fromLatin1(KLAppGroupSuiteName));
}

QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A start registers both companions, starts them and counts itself; closing
// Kelvara leaves them running. Without open-at-login the menu's job goes, yet
// the menu is still started.
TEST(KelvaraStartupTest, RegistersAndStartsBothCompanionsAndCountsTheLaunch)
{
    KelvaraInHome kelvara;
    kelvara.start();
    ASSERT_TRUE(kelvara.waitForCompanionChecks(0)) << kelvara.output(0).constData();
    EXPECT_TRUE(kelvara.waitForExactlyOne(kHelperProgram, kHelperId));
    EXPECT_TRUE(kelvara.waitForExactlyOne(kMenuProgram, kMenuId));
    EXPECT_EQ(NSRunningApplication::runningApplicationsWithBundleIdentifier(kHelperId).size(), 1);
    EXPECT_EQ(NSRunningApplication::runningApplicationsWithBundleIdentifier(kMenuId).size(), 1);
    // The job files as Kelvara wrote them: started at load, and kept alive so that
    // the helper comes back after a clean exit and the menu after a crash.
    for (const auto& [label, program, afterSuccess] :
         {std::tuple(kHelperId, QStringLiteral("Kelvara Helper"), true), std::tuple(kMenuId, QStringLiteral("Kelvara Menu"), false)}) {
        const QVariantMap job = PropertyList::readFile(kelvara.agentFile(label)).toMap();
        EXPECT_EQ(job.value("Label").toString(), label);
        EXPECT_EQ(job.value("ProgramArguments").toStringList(),
                  QStringList(KELVARA_APP_DIR "/Contents/Components/" + program + ".app/Contents/MacOS/" + program));
        EXPECT_EQ(job.value("RunAtLoad"), QVariant(true)) << label.toStdString();
        EXPECT_EQ(job.value("KeepAlive").toMap(), QVariantMap({{"SuccessfulExit", afterSuccess}})) << label.toStdString();
    }
    for (const QString& label : {kHelperId, kMenuId}) {
        EXPECT_TRUE(QFileInfo(kelvara.agentFile(label)).isFile()) << label.toStdString();
        // No service manager on this bus: the login entry starts the job next time, the path quoted for its spaces.
        EXPECT_TRUE(fileText(kelvara.autostartFile(label)).contains("\nExec=\"" KELVARA_APP_DIR "/Contents/Components/"))
            << label.toStdString();
    }
    EXPECT_EQ(settings().integerForKey(KLAppLaunchCountKey), 1);
    EXPECT_TRUE(settings().boolForKey(KLOpenAtLoginKey));

    const QList<qint64> companions = processesInHome(kelvara.home.path(), kHelperProgram) +
                                     processesInHome(kelvara.home.path(), kMenuProgram);
    ASSERT_TRUE(kelvara.stop(0));
    EXPECT_EQ(processesInHome(kelvara.home.path(), kHelperProgram) + processesInHome(kelvara.home.path(), kMenuProgram),
              companions);

    settings().setBool(false, KLOpenAtLoginKey);
    kelvara.start();
    ASSERT_TRUE(kelvara.waitForCompanionChecks(1)) << kelvara.output(1).constData();
    EXPECT_FALSE(QFileInfo::exists(kelvara.agentFile(kMenuId)));
    EXPECT_FALSE(QFileInfo::exists(kelvara.autostartFile(kMenuId)));
    EXPECT_TRUE(QFileInfo(kelvara.agentFile(kHelperId)).isFile());
    EXPECT_TRUE(kelvara.waitForExactlyOne(kMenuProgram));
    EXPECT_TRUE(kelvara.waitForExactlyOne(kHelperProgram));
    EXPECT_EQ(settings().integerForKey(KLAppLaunchCountKey), 2);
}

// Kelvara restarts its companions at every start; five starts in a row end with
// one helper and one menu, none waiting in line.
TEST(KelvaraStartupTest, FiveStartsInARowLeaveOneHelperAndOneMenu)
{
    KelvaraInHome kelvara;
    for (size_t i = 0; i < 5; ++i) {
        kelvara.start();
        ASSERT_TRUE(kelvara.waitForCompanionChecks(i)) << "start " << i << ": " << kelvara.output(i).constData();
        ASSERT_TRUE(kelvara.stop(i));
    }
    EXPECT_TRUE(kelvara.waitForExactlyOne(kHelperProgram, kHelperId));
    EXPECT_TRUE(kelvara.waitForExactlyOne(kMenuProgram, kMenuId));
    EXPECT_EQ(NSRunningApplication::runningApplicationsWithBundleIdentifier(kHelperId).size(), 1);
    EXPECT_EQ(NSRunningApplication::runningApplicationsWithBundleIdentifier(kMenuId).size(), 1);
    EXPECT_EQ(settings().integerForKey(KLAppLaunchCountKey), 5);
}

// A helper that is slow to quit (it ends only at the SIGTERM that follows the
// request, after the first check) is waited for and then started again.
TEST(KelvaraStartupTest, CompanionStillQuittingAtTheCheckIsStartedOnceItHasGone)
{
    KelvaraInHome kelvara;
    // The first start leaves the helper's job held, so the next start's submission starts nothing.
    kelvara.start();
    ASSERT_TRUE(kelvara.waitForCompanionChecks(0));
    ASSERT_TRUE(kelvara.stop(0));
    // The menu too: it starts a helper when none runs, which would take the name from the stand-in below.
    kelvara.killAll();
    ASSERT_TRUE(waitUntil([] { return NSRunningApplication::runningApplicationsWithBundleIdentifier(kHelperId).isEmpty(); },
                          30000));

    // This test program, owning the helper's name and deaf to the request to quit.
    QProcess deaf;
    QProcessEnvironment env = kelvara.environment();
    env.insert("KELVARA_E2E_ROLE", "deaf");
    env.insert("KELVARA_E2E_TAG", kHelperId);
    deaf.setProcessEnvironment(env);
    deaf.start(QCoreApplication::applicationFilePath(), {});
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto running = NSRunningApplication::runningApplicationsWithBundleIdentifier(kHelperId);
            return !running.isEmpty() && running.first().processIdentifier() == deaf.processId();
        },
        30000));

    kelvara.start();
    ASSERT_TRUE(kelvara.waitForCompanionChecks(1)) << kelvara.output(1).constData();
    EXPECT_TRUE(kelvara.output(1).contains("com.orvane.kelvara.helper: launched by path")) << kelvara.output(1).constData();
    EXPECT_TRUE(deaf.state() == QProcess::NotRunning || deaf.waitForFinished(30000));
    EXPECT_TRUE(kelvara.waitForExactlyOne(kHelperProgram));
}

// A link as the start argument, as the desktop hands it over, and a link to the
// running Kelvara from a second start, which ends at once with status 0.
TEST(KelvaraStartupTest, LinksReachTheOneRunningKelvara)
{
    KelvaraInHome kelvara;
    kelvara.start({QStringLiteral("kelvara://fan_rule/2")});
    ASSERT_TRUE(kelvara.waitForLines(0, {"kelvara.deeplink: /fan_rule/2\n"})) << kelvara.output(0).constData();

    QProcess second;
    second.setProcessEnvironment(kelvara.environment());
    second.start(kKelvaraProgram, {QStringLiteral("kelvara://request_privilege_permission")});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(kelvara.waitForLines(0, {"kelvara.deeplink: /request_privilege_permission\n"}))
        << kelvara.output(0).constData();
    EXPECT_FALSE(second.readAllStandardError().contains("kelvara.deeplink"));
    EXPECT_EQ(processesInHome(kelvara.home.path(), kKelvaraProgram).size(), 1);
    EXPECT_EQ(settings().integerForKey(KLAppLaunchCountKey), 1);
}

}  // namespace
