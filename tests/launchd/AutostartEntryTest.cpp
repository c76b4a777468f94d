#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>

#include "AutostartEntry.h"
#include "LaunchdTestSupport.h"
#include "ServiceManagement.h"
#include "UserJobTable.h"

namespace {

using AutostartEntryTest = LaunchdTest;

QVariantMap job(const QString& label, const QVariantList& arguments, bool runAtLoad)
{
    return {{"Label", label}, {"ProgramArguments", arguments}, {"RunAtLoad", runAtLoad}};
}

// The Exec value of a desktop entry: quotes around arguments with reserved
// characters, a backslash before " ` $ \ inside them, "%%" for "%", and the
// string escapes over all of it (so a literal backslash is four).
TEST_F(AutostartEntryTest, ExecQuotesEachArgumentByTheDesktopEntryRules)
{
    EXPECT_EQ(AutostartEntry::execLine({"/usr/bin/plain", "--flag"}), "/usr/bin/plain --flag");
    EXPECT_EQ(AutostartEntry::execLine({"/opt/My Apps/Kelvara Helper"}), "\"/opt/My Apps/Kelvara Helper\"");
    EXPECT_EQ(AutostartEntry::execLine({"/opt/a\"b$c\\d%e", "", "50%"}),
              "\"/opt/a\\\\\"b\\\\$c\\\\\\\\d%%e\" \"\" 50%%");
    EXPECT_EQ(AutostartEntry::execLine({"/opt/two\nlines"}), "\"/opt/two\\nlines\"");
}

// Without a service manager a job that runs at load is started now and gets a
// login entry, which goes with the job, also once the table has forgotten it.
// A user's own entry of that name is never touched.
TEST_F(AutostartEntryTest, DirectJobsThatRunAtLoadStartAgainAtLogin)
{
    qunsetenv("XDG_CONFIG_HOME");
    CFError error;
    ASSERT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.sleeper", {"/bin/sleep", "30"}, true), nullptr, &error))
        << qPrintable(error.localizedDescription());
    const QString entry = AutostartEntry::pathForLabel("com.example.sleeper");
    EXPECT_EQ(entry, QDir::homePath() + "/.config/autostart/com.example.sleeper.desktop");
    EXPECT_TRUE(readAll(entry).contains("\nExec=/bin/sleep 30\n")) << readAll(entry).constData();
    ASSERT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.later", {"/bin/true"}, false), nullptr, &error));
    EXPECT_FALSE(QFileInfo::exists(AutostartEntry::pathForLabel("com.example.later")));

    ASSERT_TRUE(SMJobRemove(kSMDomainUserLaunchd, "com.example.sleeper", nullptr, true, &error));
    EXPECT_FALSE(QFileInfo::exists(entry));

    // The table forgets direct jobs at the next boot; the entry must still go with the job.
    ASSERT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.sleeper", {"/bin/sleep", "30"}, true), nullptr, &error));
    const qint64 pid = SMJobCopyDictionary(kSMDomainUserLaunchd, "com.example.sleeper").value("PID").toLongLong();
    QFile::remove(UserJobTable::path());
    EXPECT_FALSE(SMJobRemove(kSMDomainUserLaunchd, "com.example.sleeper", nullptr, true, &error));
    EXPECT_FALSE(QFileInfo::exists(entry));
    ::kill(static_cast<pid_t>(pid), SIGKILL);

    QDir().mkpath(AutostartEntry::directory());
    QFile own(entry);
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.write("[Desktop Entry]\nType=Application\nExec=/usr/bin/users-own\n");
    own.close();
    ASSERT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.sleeper", {"/bin/sleep", "30"}, true), nullptr, &error));
    ASSERT_TRUE(SMJobRemove(kSMDomainUserLaunchd, "com.example.sleeper", nullptr, true, &error));
    EXPECT_EQ(readAll(entry), "[Desktop Entry]\nType=Application\nExec=/usr/bin/users-own\n");
}

}  // namespace
