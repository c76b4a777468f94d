#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Authorization.h"
#include "JSKDevice.h"
#include "KLFanController.h"
#include "NSBundle.h"
#include "QtApplication.h"
#include "RZSMC.h"
#include "SMCServices.h"
#include "TestHome.h"
#include "VirtualSMC.h"

namespace {

// The machine's model is read once and kept: every test reads its own.
class FanWritesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApplication();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
        JSKDevice::resetForTesting();
    }
    void TearDown() override
    {
        NSBundle::setMainBundlePathForTesting({});
        JSKDevice::resetForTesting();
    }

    // A stand-in tool that notes each command line it was started with.
    void installRecordingTool()
    {
        QFile tool(RZSMC::smcToolPath());
        ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
        tool.write(QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\n").arg(log()).toUtf8());
        tool.close();
        tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString log() const { return home.path() + "/tool-runs.txt"; }
    // The command lines of the tool's runs, sorted. The runs are started
    // detached one after the other, but each notes its line only when it gets
    // to run, so under load a later run can note first: only the set of runs,
    // each line whole, is certain.
    QStringList runs(int expected)
    {
        QElapsedTimer clock;
        clock.start();
        QStringList lines;
        while (clock.elapsed() < 5000) {
            QFile file(log());
            if (file.open(QIODevice::ReadOnly))
                lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
            if (lines.size() >= expected)
                break;
            QThread::msleep(20);
        }
        QThread::msleep(100);  // nothing more may come
        QFile file(log());
        if (file.open(QIODevice::ReadOnly))
            lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        lines.sort();
        return lines;
    }
    TestHome home;
};

TEST_F(FanWritesTest, ModelsWithTargetKeysGetModeAndTarget)
{
    installRecordingTool();
    RZSMC smc;
    EXPECT_TRUE(smc.setSpeed(2000, 0, false));
    EXPECT_EQ(runs(2), QStringList({"-k F0Md -w 01", "-k F0Tg -w 0000fa44"}));
    QFile::remove(log());
    EXPECT_TRUE(smc.setSpeed(1200, 1, true));
    EXPECT_EQ(runs(2), QStringList({"-k F1Md -w 00", "-k F1Tg -w 00009644"}));
    EXPECT_FALSE(smc.setSpeed(2000, 20, false));  // no key names a 21st fan
}

TEST_F(FanWritesTest, OtherModelsGetTheMinimumSpeedKey)
{
    ASSERT_TRUE(smc::VirtualSMC().setProfile("MacBookPro11,3"));
    installRecordingTool();
    RZSMC smc;
    EXPECT_TRUE(smc.setSpeed(2000, 1, true));
    EXPECT_TRUE(smc.setSpeed(2000, 1, false));
    EXPECT_EQ(runs(2), QStringList({"-k F1Mn -w 1f40", "-k F1Mn -w 1f40"}));
}

TEST_F(FanWritesTest, NoToolNoRun)
{
    RZSMC smc;
    EXPECT_FALSE(QFile::exists(RZSMC::smcToolPath()));
    EXPECT_FALSE(smc.setExternalValue("01", "F0Md"));
    EXPECT_FALSE(smc.setSpeed(2000, 0, false));
}

TEST_F(FanWritesTest, InstalledMeansRootTheAdministratorsAndExactly6555)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "changing owners needs root";
    const QByteArray tool = QFile::encodeName(RZSMC::smcToolPath());
    KLFanController& controller = KLFanController::sharedInstance();
    EXPECT_FALSE(controller.isSMCBinaryInstalled());  // missing
    installRecordingTool();
    const gid_t admins = getgrnam(administratorsGroupName().toLatin1().constData())->gr_gid;
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);

    ASSERT_EQ(::chown(tool.constData(), nobody->pw_uid, admins), 0);
    ASSERT_EQ(::chmod(tool.constData(), 06555), 0);
    EXPECT_FALSE(controller.isSMCBinaryInstalled());  // a user's file
    // ...which the fan writes still start.
    EXPECT_TRUE(RZSMC().setExternalValue("01", "F0Md"));

    ASSERT_EQ(::chown(tool.constData(), 0, admins), 0);
    ASSERT_EQ(::chmod(tool.constData(), 0755), 0);
    EXPECT_FALSE(controller.isSMCBinaryInstalled());
    ASSERT_EQ(::chmod(tool.constData(), 06555), 0);
    EXPECT_TRUE(controller.isSMCBinaryInstalled());
    ASSERT_EQ(::chown(tool.constData(), 0, 0), 0);
    ASSERT_EQ(::chmod(tool.constData(), 06555), 0);
    EXPECT_EQ(controller.isSMCBinaryInstalled(), administratorsGroupName() == "root");
}

// A simulated Mac may name the account that administers it (tests run as any
// user stand in for root this way): its 6555 tool then counts as installed, and
// no other account's does.
TEST_F(FanWritesTest, ASimulatedMacTrustsTheToolOfTheAdministratorItNames)
{
    if (QFile::exists(smc::kApplesmcDevicePath))
        GTEST_SKIP() << "a real SMC driver is present";
    installRecordingTool();
    const QByteArray tool = QFile::encodeName(RZSMC::smcToolPath());
    ASSERT_EQ(::chmod(tool.constData(), 06555), 0);
    struct stat st;
    ASSERT_EQ(::stat(tool.constData(), &st), 0);
    const std::string owner = getpwuid(st.st_uid)->pw_name;
    const std::string group = getgrgid(st.st_gid)->gr_name;
    const bool ownedByAdministrators = owner == "root" && group == administratorsGroupName().toStdString();
    KLFanController& controller = KLFanController::sharedInstance();
    EXPECT_EQ(controller.isSMCBinaryInstalled(), ownedByAdministrators);

    smc::VirtualSMC simulated;
    ASSERT_TRUE(simulated.setAdministrator(std::make_pair(owner, group)));
    EXPECT_TRUE(controller.isSMCBinaryInstalled());
    ASSERT_EQ(::chmod(tool.constData(), 0755), 0);
    EXPECT_FALSE(controller.isSMCBinaryInstalled());  // the permissions still count
    ASSERT_EQ(::chmod(tool.constData(), 06555), 0);
    ASSERT_TRUE(simulated.setAdministrator(std::make_pair(owner, std::string("kelvara-no-such-group"))));
    EXPECT_EQ(controller.isSMCBinaryInstalled(), ownedByAdministrators);

    // Names a state line could not hold back are refused; clearing forgets the name.
    EXPECT_FALSE(simulated.setAdministrator(std::make_pair(std::string("two words"), group)));
    EXPECT_FALSE(simulated.setAdministrator(std::make_pair(owner, std::string())));
    EXPECT_EQ(smc::VirtualSMC().administrator(), std::make_pair(owner, std::string("kelvara-no-such-group")));
    ASSERT_TRUE(simulated.setAdministrator(std::nullopt));
    EXPECT_EQ(smc::VirtualSMC().administrator(), std::nullopt);

    // Another account's tool never counts, even when the state names that account.
    if (const passwd* nobody = getpwnam("nobody"); nobody && geteuid() == 0) {
        ASSERT_EQ(::chown(tool.constData(), nobody->pw_uid, st.st_gid), 0);
        ASSERT_EQ(::chmod(tool.constData(), 06555), 0);
        ASSERT_TRUE(simulated.setAdministrator(std::make_pair(std::string(nobody->pw_name), group)));
        EXPECT_FALSE(controller.isSMCBinaryInstalled());
        ASSERT_TRUE(simulated.setAdministrator(std::nullopt));
    }
}

// An administrator who answers as the test says, and carries out the commands.
class ScriptedAuthority : public AuthorizationAuthority {
public:
    explicit ScriptedAuthority(OSStatus answer)
        : answer(answer)
    {
    }
    OSStatus authorize(const AuthorizationRights& rights, const AuthorizationEnvironment&, AuthorizationFlags flags) override
    {
        ++prompts;
        if (rights.count == 1)
            rightName = rights.items[0].name;
        this->flags = flags;
        return answer;
    }
    OSStatus execute(const QString& tool, const QStringList& arguments, int* exitStatus, QByteArray*) override
    {
        commands << tool + " " + arguments.join(' ');
        QProcess process;
        process.start(tool, arguments);
        process.waitForFinished(5000);
        *exitStatus = process.exitCode();
        return errAuthorizationSuccess;
    }
    OSStatus answer;
    int prompts = 0;
    QString rightName;
    AuthorizationFlags flags = 0;
    QStringList commands;
};

bool requestAndWait()
{
    std::optional<bool> result;
    KLFanController::sharedInstance().requestPrivilegePermissionWithCompletionHandler(
        [&](bool granted) { result = granted; });
    QElapsedTimer clock;
    clock.start();
    while (!result && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return result.value_or(false);
}

TEST_F(FanWritesTest, InstallingAsksAnAdministratorOnce)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "the commands change owners";
    ScriptedAuthority refusing(errAuthorizationDenied);
    setAuthorizationAuthorityForTesting(&refusing);
    EXPECT_FALSE(requestAndWait());
    EXPECT_FALSE(QFile::exists(RZSMC::smcToolPath()));  // nothing without an administrator
    EXPECT_EQ(refusing.prompts, 1);
    EXPECT_TRUE(refusing.commands.isEmpty());

    ScriptedAuthority cancelling(errAuthorizationCanceled);
    setAuthorizationAuthorityForTesting(&cancelling);
    EXPECT_FALSE(requestAndWait());
    EXPECT_TRUE(cancelling.commands.isEmpty());

    ScriptedAuthority granting(errAuthorizationSuccess);
    setAuthorizationAuthorityForTesting(&granting);
    EXPECT_TRUE(requestAndWait());
    EXPECT_EQ(granting.rightName, "system.privilege.admin");
    EXPECT_EQ(granting.flags, kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights);
    const QString tool = RZSMC::smcToolPath();
    const QString bundleTool = NSBundle::mainBundle().pathForResource("Kelvara SMC", QString());
    EXPECT_EQ(granting.commands, QStringList({bundleTool + " --install " + tool + " " + administratorsGroupName()}));
    EXPECT_TRUE(KLFanController::sharedInstance().isSMCBinaryInstalled());

    // Installed already: no second prompt.
    EXPECT_TRUE(requestAndWait());
    EXPECT_EQ(granting.prompts, 1);
    setAuthorizationAuthorityForTesting(nullptr);
}

}  // namespace
