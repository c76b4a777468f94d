#include <QDir>
#include <QRegularExpression>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "HelperProcess.h"
#include "VirtualSMC.h"

namespace {

// The helper writes on hearing its own tick notice, which may reach it after
// this process hears it, so the tests wait for the file rather than the notice.
class HelperFileLoggingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        helper.buildCatalogue();
        ASSERT_TRUE(smc::VirtualSMC().setKeyValue("TC0P", 41.2));
        QDir().mkpath(folder());
        settings().setUpdateFrequency(2);  // 10 s: no timer tick within a test
        settings().setFileLoggingEnabled(true);
        settings().setFileLoggingPath(folder() + "/Kelvara Log.csv");
        settings().setFileLoggingSensorKeys({"TC0P", "0"});
        helper.countTicks();
    }
    void TearDown() override
    {
        EXPECT_TRUE(helper.stop());
        EXPECT_EQ(helper.process.readAllStandardError(), "");
    }

    static KLDataManager& settings() { return KLDataManager::sharedInstance(); }
    QString folder() const { return helper.home.path() + "/logs"; }
    QStringList lines(const QString& name) const
    {
        QFile file(folder() + "/" + name);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n') : QStringList();
    }
    bool waitForLines(const QString& name, int count)
    {
        return waitUntil([&] { return lines(name).size() == count; });
    }
    // A frequency change restarts the helper's loop, which ticks at once.
    void tick()
    {
        const int before = helper.ticks;
        settings().setUpdateFrequency(settings().updateFrequency() == 2 ? 1 : 2);
        ASSERT_TRUE(helper.waitForTicks(before + 1));
    }
    QStringList files() const { return QDir(folder()).entryList(QDir::Files, QDir::Name); }

    HelperProcess helper;
};

const QString kHeader = "Date,Time,CPU Proximity (°C) (TC0P),LeftSide (rpm) (0)";
const QRegularExpression kRow("^\\d{4}-\\d\\d-\\d\\d,\\d\\d:\\d\\d:\\d\\d,41°,\\d+ rpm( \\(.+\\))?$");

TEST_F(HelperFileLoggingTest, LogsEachTickAndSetsTheOldFileAsideWhenTheSensorsChange)
{
    helper.start();
    ASSERT_TRUE(waitForLines("Kelvara Log.csv", 2));
    tick();
    ASSERT_TRUE(waitForLines("Kelvara Log.csv", 3));
    const QStringList logged = lines("Kelvara Log.csv");
    EXPECT_EQ(logged[0], kHeader);
    EXPECT_TRUE(kRow.match(logged[1]).hasMatch()) << qPrintable(logged[1]);
    EXPECT_TRUE(kRow.match(logged[2]).hasMatch()) << qPrintable(logged[2]);

    settings().setFileLoggingSensorKeys({"TC0P"});
    ASSERT_TRUE(waitUntil([&] { return files().size() == 1 && files()[0] != "Kelvara Log.csv"; }));
    EXPECT_TRUE(QRegularExpression("^Kelvara Log \\(\\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d\\)\\.csv$")
                    .match(files()[0]).hasMatch()) << qPrintable(files()[0]);
    EXPECT_EQ(lines(files()[0]), logged);
    tick();
    ASSERT_TRUE(waitForLines("Kelvara Log.csv", 2));
    EXPECT_EQ(lines("Kelvara Log.csv")[0], "Date,Time,CPU Proximity (°C) (TC0P)");
}

TEST_F(HelperFileLoggingTest, ResetModeLaunchStartsAFreshFileOnEachStartOfTheHelper)
{
    settings().setFileLoggingResetMode(KLFileLoggingResetModeLaunch);
    QFile old(folder() + "/Kelvara Log.csv");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write((kHeader + "\n2000-01-01,00:00:00,41°,2000 rpm").toUtf8());
    old.close();

    helper.start();
    ASSERT_TRUE(waitUntil([&] { return !lines("Kelvara Log.csv").join('\n').contains("2000-01-01"); }));
    ASSERT_TRUE(waitForLines("Kelvara Log.csv", 2));
    tick();
    ASSERT_TRUE(waitForLines("Kelvara Log.csv", 3)) << "reset again within the same run";
    ASSERT_TRUE(helper.stop());
    helper.start();
    ASSERT_TRUE(waitForLines("Kelvara Log.csv", 2));
    EXPECT_EQ(files(), QStringList({"Kelvara Log.csv"}));
}

TEST_F(HelperFileLoggingTest, DailyFilesAndTheStandardNameAreStored)
{
    settings().setFileLoggingResetMode(KLFileLoggingResetModeDaily);
    helper.start();
    ASSERT_TRUE(waitUntil([&] { return files().size() == 1 && lines(files()[0]).size() == 2; }));
    const QString daily = files()[0];
    // Named after the day of its first row.
    EXPECT_EQ(daily, "Kelvara Log " + lines(daily)[1].section(',', 0, 0) + ".csv");
    EXPECT_EQ(settings().fileLoggingPath(), folder() + "/" + daily);

    settings().setFileLoggingResetMode(KLFileLoggingResetModeNever);
    settings().setFileLoggingPath(folder() + "/My Log.csv");
    tick();
    ASSERT_TRUE(waitForLines("Kelvara Log.csv", 2));
    EXPECT_EQ(settings().fileLoggingPath(), folder() + "/Kelvara Log.csv");
    EXPECT_EQ(files(), QStringList({daily, "Kelvara Log.csv"}));
}

// Another program holds the settings lock from before the helper starts until
// a second after it is told to quit: the day's name waits in memory, and the
// quit waits for the lock long enough to save it.
TEST_F(HelperFileLoggingTest, ANameWaitingForTheSettingsLockIsSavedWhenTheHelperQuits)
{
    settings().setFileLoggingResetMode(KLFileLoggingResetModeDaily);
    const int lock = ::open(QFile::encodeName(settings().userDefaults().path() + ".lock").constData(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    helper.start();
    ASSERT_TRUE(waitUntil([&] { return files().size() == 1 && lines(files()[0]).size() == 2; }, 20000));
    ::kill(static_cast<pid_t>(helper.process.processId()), SIGTERM);
    // Freed a second later, or as soon as the helper has ended if that comes first.
    helper.process.waitForFinished(1000);
    ::flock(lock, LOCK_UN);
    ::close(lock);
    ASSERT_TRUE(helper.process.state() == QProcess::NotRunning || helper.process.waitForFinished(10000));
    EXPECT_EQ(helper.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper.process.exitCode(), 0);
    EXPECT_FALSE(helper.process.readAllStandardError().contains("not saved"));
    EXPECT_EQ(NSUserDefaults(KLAppGroupSuiteName).stringForKey(KLFileLoggingPathKey), folder() + "/" + files()[0]);
}

// A row per tick of the helper's own: tick notices on the bus, even a program's, add none.
TEST_F(HelperFileLoggingTest, TickNoticesFromTheBusAddNoRows)
{
    helper.start();
    ASSERT_TRUE(waitForLines("Kelvara Log.csv", 2));
    const int before = helper.ticks;
    for (int i = 0; i < 50; ++i)
        NSDistributedNotificationCenter::defaultCenter().postNotificationName(KLKelvaraTempDidChangeNotification);
    ASSERT_TRUE(helper.waitForTicks(before + 50));
    // Posted after them on the same connection, so the helper has heard them all by its row.
    tick();
    ASSERT_TRUE(waitForLines("Kelvara Log.csv", 3));
}

}  // namespace
