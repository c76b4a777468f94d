#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "HeldAdministrator.h"
#include "KLFanController.h"
#include "NSBundle.h"
#include "QtApplication.h"
#include "RZSMC.h"
#include "TestAdministrator.h"
#include "TestHome.h"

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ToolInstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "installing gives files to root";
        testApplication();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
        tool = RZSMC::smcToolPath();
        bundleTool = contents(NSBundle::mainBundle().pathForResource("Kelvara SMC", QString()));
        ASSERT_FALSE(bundleTool.isEmpty());
        admins = getgrnam(administratorsGroupName().toLatin1().constData())->gr_gid;
        nobody = getpwnam("nobody")->pw_uid;
    }
    void TearDown() override { NSBundle::setMainBundlePathForTesting({}); }

    bool requestAndWait()
    {
        std::optional<bool> result;
        KLFanController::sharedInstance().requestPrivilegePermissionWithCompletionHandler(
            [&](bool granted) { result = granted; });
        QElapsedTimer clock;
        clock.start();
        while (!result && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_TRUE(result.has_value());
        return result.value_or(false);
    }
    // A file of the user's own, as a user would leave it.
    void writeUsersFile(const QString& path, mode_t mode)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nexec /bin/sh\n");
        file.close();
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), nobody, nobody), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
    }
    void expectUntouchedUsersFile(const QString& path, mode_t mode)
    {
        struct stat st;
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, nobody);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(contents(path), "#!/bin/sh\nexec /bin/sh\n");
    }
    void expectInstalledBundleTool()
    {
        struct stat st;
        ASSERT_EQ(::lstat(QFile::encodeName(tool).constData(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(st.st_gid, admins);
        EXPECT_EQ(st.st_mode & 07777, 06555u);
        EXPECT_TRUE(contents(tool) == bundleTool);
    }

    TestHome home;
    QString tool;
    QByteArray bundleTool;
    gid_t admins = 0;
    uid_t nobody = 0;
};

TEST_F(ToolInstallTest, ALinkAtTheToolPathIsReplacedAndItsTargetLeftAlone)
{
    const QString target = home.path() + "/mine";
    writeUsersFile(target, 0755);
    ASSERT_TRUE(QFile::link(target, tool));
    TestAdministrator administrator(TestAdministrator::Run);
    EXPECT_TRUE(requestAndWait());
    expectUntouchedUsersFile(target, 0755);
    expectInstalledBundleTool();
}

TEST_F(ToolInstallTest, AUsersFileAtTheToolPathIsReplacedByTheBundleTool)
{
    writeUsersFile(tool, 0755);
    {
        TestAdministrator refusing(TestAdministrator::Refuse);
        EXPECT_FALSE(requestAndWait());
        expectUntouchedUsersFile(tool, 0755);
    }
    TestAdministrator administrator(TestAdministrator::Run);
    EXPECT_TRUE(requestAndWait());
    expectInstalledBundleTool();
    EXPECT_EQ(administrator.prompts, 1);
}

TEST_F(ToolInstallTest, InstalledButNotTheBundleToolIsNotInPlace)
{
    // Root's own file, owned and moded as installed, but not the bundle's tool.
    QFile file(tool);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("something else");
    file.close();
    ASSERT_EQ(::chown(QFile::encodeName(tool).constData(), 0, admins), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(tool).constData(), 06555), 0);
    ASSERT_TRUE(KLFanController::sharedInstance().isSMCBinaryInstalled());
    {
        TestAdministrator idle(TestAdministrator::Ignore);  // says yes, installs nothing
        EXPECT_FALSE(requestAndWait());
        EXPECT_EQ(idle.prompts, 1);
    }
    TestAdministrator administrator(TestAdministrator::Run);
    EXPECT_TRUE(requestAndWait());
    expectInstalledBundleTool();
}

TEST_F(ToolInstallTest, ToolsThatCannotBeReadDoNotMatch)
{
    // Neither the bundle's tool nor the one at the tool path can be read (both
    // are folders), though the latter is owned and moded as installed.
    const QString bundle = home.path() + "/bundle";
    ASSERT_TRUE(QDir().mkpath(bundle + "/Kelvara SMC"));
    NSBundle::setMainBundlePathForTesting(bundle);
    ASSERT_TRUE(QDir().mkpath(tool));
    ASSERT_EQ(::chown(QFile::encodeName(tool).constData(), 0, admins), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(tool).constData(), 06555), 0);
    ASSERT_TRUE(KLFanController::sharedInstance().isSMCBinaryInstalled());
    TestAdministrator idle(TestAdministrator::Ignore);
    EXPECT_FALSE(requestAndWait());
}

// Requests that overlap share one question and its answer; the next one asks again.
TEST(PrivilegeRequestTest, OverlappingRequestsAskOnceAndAllHearTheAnswer)
{
    testApplication();
    const TestHome home;
    NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
    HeldAdministrator administrator(TestAdministrator::Refuse);
    QList<bool> answers;
    for (int i = 0; i < 3; ++i)
        KLFanController::sharedInstance().requestPrivilegePermissionWithCompletionHandler(
            [&](bool granted) { answers << granted; });
    ASSERT_TRUE(waitUntil([&] { return administrator.asked == 1; }));
    drainMainQueue();
    administrator.release();
    ASSERT_TRUE(waitUntil([&] { return answers.size() == 3; }));
    EXPECT_EQ(answers, QList<bool>({false, false, false}));
    EXPECT_EQ(administrator.asked, 1);

    KLFanController::sharedInstance().requestPrivilegePermissionWithCompletionHandler(
        [&](bool granted) { answers << granted; });
    EXPECT_TRUE(waitUntil([&] { return answers.size() == 4; }));
    EXPECT_EQ(administrator.asked, 2);
    NSBundle::setMainBundlePathForTesting({});
}

}  // namespace
