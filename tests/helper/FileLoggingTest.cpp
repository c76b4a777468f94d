#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <memory>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "AppDelegate.h"
#include "KLDataManager.h"
#include "KLFileLoggingManager.h"
#include "KLSensor.h"
#include "NSBundle.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "TestHome.h"
#include "VirtualSMC.h"

namespace {

// Each test is its own process: a new store, settings and manager each time.
class FileLoggingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApplication();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
        smc::VirtualSMC().freezeClock(1.8e9);
        settings().setupDatabase();
        drainMainQueue();
        sensor("TC0P")->setValue(45);
        sensor("0")->setValue(2500);
        sensor("VD0R")->setValue(12.081);
        QDir().mkpath(folder());
        settings().setFileLoggingEnabled(true);
        settings().setFileLoggingPath(folder() + "/Kelvara Log.csv");
        settings().setFileLoggingSensorKeys({"TC0P"});
        manager = newRun();
        drainMainQueue();
    }
    void TearDown() override { NSBundle::setMainBundlePathForTesting({}); }

    static KLDataManager& settings() { return KLDataManager::sharedInstance(); }
    static KLSensor* sensor(const QString& key)
    {
        const QList<KLSensor*> found = KLSensor::objectsWhere(NSPredicate::withFormat(QStringLiteral("key = %@"), key));
        return found.isEmpty() ? nullptr : found.first();
    }
    std::unique_ptr<KLFileLoggingManager> newRun()
    {
        auto made = std::make_unique<KLFileLoggingManager>();
        made->setClockForTesting([this] { return clock; });
        return made;
    }
    void tickAt(const QString& time)
    {
        clock = QDateTime::fromString(time, Qt::ISODate);
        manager->kelvaraTempDidChangeNotification();
    }
    QString folder() const { return home.path() + "/logs"; }
    QByteArray read(const QString& name) const
    {
        QFile file(folder() + "/" + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList files() const { return QDir(folder()).entryList(QDir::Files, QDir::Name); }

    PrivateBus bus;  // first: the settings' notices and the manager's observers use it
    TestHome home;
    QDateTime clock;
    std::unique_ptr<KLFileLoggingManager> manager;
};

const QByteArray kCPUHeader = "Date,Time,CPU Proximity (°C) (TC0P)";

TEST_F(FileLoggingTest, RowsFollowTheHeaderOfTheChosenSensors)
{
    settings().setFileLoggingSensorKeys({});
    tickAt("2026-03-09T21:10:00");
    EXPECT_TRUE(files().isEmpty());

    // A sensor named twice is one column.
    settings().setFileLoggingSensorKeys({"TC0P", "NOPE", "0", "TC0P", "VD0R", "0"});
    drainMainQueue();
    sensor("VD0R")->setFullName("DC In, main");
    tickAt("2026-03-09T21:10:05");
    sensor("TC0P")->setValue(70);  // above the CPU proximity threshold
    tickAt("2026-03-09T21:10:07");
    EXPECT_EQ(read("Kelvara Log.csv"), "Date,Time,CPU Proximity (°C) (TC0P),LeftSide (rpm) (0),DC In; main (V) (VD0R)\n"
                                       "2026-03-09,21:10:05,45°,2500 rpm,12.08 V\n"
                                       "2026-03-09,21:10:07,70° (High temperature),2500 rpm,12.08 V");
    EXPECT_EQ(sensor("NOPE"), nullptr);
}

TEST_F(FileLoggingTest, DailyFilesTurnAtMidnightAndModeLaunchResetsOncePerRun)
{
    tickAt("2026-03-09T23:59:58");
    settings().setFileLoggingResetMode(KLFileLoggingResetModeDaily);
    tickAt("2026-03-09T23:59:59");
    tickAt("2026-03-10T00:00:01");
    EXPECT_EQ(settings().fileLoggingPath(), folder() + "/Kelvara Log 2026-03-10.csv");
    EXPECT_EQ(read("Kelvara Log 2026-03-09.csv"), kCPUHeader + "\n2026-03-09,23:59:59,45°");
    EXPECT_EQ(read("Kelvara Log 2026-03-10.csv"), kCPUHeader + "\n2026-03-10,00:00:01,45°");

    // Chosen mid-run, mode 1 still resets the standard file once.
    settings().setFileLoggingResetMode(KLFileLoggingResetModeLaunch);
    tickAt("2026-03-10T00:00:03");
    tickAt("2026-03-10T00:00:05");
    EXPECT_EQ(read("Kelvara Log.csv"), kCPUHeader + "\n2026-03-10,00:00:03,45°\n2026-03-10,00:00:05,45°");

    // Only the name before the extension must be the standard one.
    settings().setFileLoggingPath(folder() + "/Kelvara Log.txt");
    tickAt("2026-03-10T00:00:07");
    EXPECT_EQ(settings().fileLoggingPath(), folder() + "/Kelvara Log.txt");
}

TEST_F(FileLoggingTest, AFileIsSetAsideWhenItsColumnsChange)
{
    QFile(folder() + "/Kelvara Log.csv").open(QIODevice::WriteOnly);  // empty: nothing to keep
    tickAt("2026-03-09T21:10:05");
    const QByteArray first = read("Kelvara Log.csv");
    settings().setFileLoggingSensorKeys({"0"});
    drainMainQueue();
    EXPECT_EQ(read("Kelvara Log (2026-03-09 21-10-05).csv"), first);
    tickAt("2026-03-09T21:10:05");
    EXPECT_EQ(read("Kelvara Log.csv"), "Date,Time,LeftSide (rpm) (0)\n2026-03-09,21:10:05,2500 rpm");

    // Logging off: still set aside; a taken name gets a counter.
    settings().setFileLoggingEnabled(false);
    settings().setFileLoggingSensorKeys({"TC0P"});
    drainMainQueue();
    EXPECT_EQ(read("Kelvara Log (2026-03-09 21-10-05) 2.csv"), "Date,Time,LeftSide (rpm) (0)\n2026-03-09,21:10:05,2500 rpm");
    EXPECT_FALSE(QFile::exists(folder() + "/Kelvara Log.csv"));

    // The unit changed while the helper was not running.
    settings().setFileLoggingEnabled(true);
    tickAt("2026-03-09T21:11:00");
    settings().setTempUnitCelsius(false);
    manager = newRun();
    tickAt("2026-03-09T21:12:00");
    EXPECT_EQ(read("Kelvara Log (2026-03-09 21-12-00).csv"), kCPUHeader + "\n2026-03-09,21:11:00,45°");
    EXPECT_EQ(read("Kelvara Log.csv"), "Date,Time,CPU Proximity (°F) (TC0P)\n2026-03-09,21:12:00,113°");

    // Another program rewrote the file between two ticks of this run.
    QFile other(folder() + "/Kelvara Log.csv");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly | QIODevice::Truncate));
    other.write("Date,Time,CPU Proximity (°F) (TC0Q)\n2026-03-09,21:12:00,113°");
    other.close();
    tickAt("2026-03-09T21:13:00");
    EXPECT_EQ(read("Kelvara Log.csv"), "Date,Time,CPU Proximity (°F) (TC0P)\n2026-03-09,21:13:00,113°");
    EXPECT_EQ(files().size(), 5);

    // A tick read the new list before its notice came: still one new file.
    settings().setFileLoggingSensorKeys({"0"});
    tickAt("2026-03-09T21:14:00");
    drainMainQueue();
    tickAt("2026-03-09T21:14:02");
    EXPECT_EQ(read("Kelvara Log.csv"),
              "Date,Time,LeftSide (rpm) (0)\n2026-03-09,21:14:00,2500 rpm\n2026-03-09,21:14:02,2500 rpm");
    EXPECT_EQ(files().size(), 6);
}

TEST_F(FileLoggingTest, FieldsWithQuotesOrLineBreaksAreQuoted)
{
    sensor("TC0P")->setFullName("CPU \"A\"\nDie, 2");
    tickAt("2026-03-09T21:10:05");
    tickAt("2026-03-09T21:10:07");  // the quoted header is still recognised as the file's own
    EXPECT_EQ(read("Kelvara Log.csv"), "Date,Time,\"CPU \"\"A\"\"\nDie; 2 (°C) (TC0P)\"\n"
                                       "2026-03-09,21:10:05,45°\n2026-03-09,21:10:07,45°");
}

TEST_F(FileLoggingTest, ALogThatIsALinkIsSetAsideNotWrittenThrough)
{
    const QString log = folder() + "/Kelvara Log.csv";
    const QString elsewhere = home.path() + "/elsewhere.csv";
    const QByteArray before = kCPUHeader + "\n2026-03-09,21:10:00,45°";
    QFile target(elsewhere);
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.write(before);
    target.close();
    ASSERT_TRUE(QFile::link(elsewhere, log));
    tickAt("2026-03-09T21:10:05");
    EXPECT_EQ(read("../elsewhere.csv"), before);
    EXPECT_EQ(QFileInfo(folder() + "/Kelvara Log (2026-03-09 21-10-05).csv").symLinkTarget(), elsewhere);
    EXPECT_FALSE(QFileInfo(log).isSymLink());
    EXPECT_EQ(read("Kelvara Log.csv"), kCPUHeader + "\n2026-03-09,21:10:05,45°");

    // A link to nothing is not followed to make a file there.
    ASSERT_TRUE(QFile::remove(log));
    ASSERT_TRUE(QFile::link(home.path() + "/through-a-link.csv", log));
    tickAt("2026-03-09T21:10:07");
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/through-a-link.csv"));
    EXPECT_EQ(read("Kelvara Log.csv"), kCPUHeader + "\n2026-03-09,21:10:07,45°");
}

// Kelvara Helper's poll loop never waits for the settings lock: a tick whose
// change finds it held keeps the change and goes on; it is saved once free.
TEST_F(FileLoggingTest, AHeldSettingsLockDoesNotHoldUpTheHelpersTick)
{
    const AppDelegate helper;
    settings().setFileLoggingResetMode(KLFileLoggingResetModeDaily);
    const int lock = ::open(QFile::encodeName(settings().userDefaults().path() + ".lock").constData(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    QElapsedTimer clock;
    clock.start();
    tickAt("2026-03-09T21:10:00");
    EXPECT_LT(clock.elapsed(), 1500);  // what a windowed program's setter waits
    const QString daily = folder() + "/Kelvara Log 2026-03-09.csv";
    EXPECT_EQ(settings().fileLoggingPath(), daily);
    EXPECT_EQ(read("Kelvara Log 2026-03-09.csv"), kCPUHeader + "\n2026-03-09,21:10:00,45°");
    ::flock(lock, LOCK_UN);
    ::close(lock);
    EXPECT_TRUE(waitUntil([&] { return NSUserDefaults(KLAppGroupSuiteName).stringForKey(KLFileLoggingPathKey) == daily; }));
}

// An append-only file takes rows but cannot be deleted, even by root.
bool setAppendOnly(const QString& path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

TEST_F(FileLoggingTest, AModeLaunchDeleteThatFailsIsSaidOnceAndTheOldFileKeepsItsRows)
{
    tickAt("2026-03-09T21:10:00");
    const QString path = folder() + "/Kelvara Log.csv";
    if (!setAppendOnly(path, true))
        GTEST_SKIP() << "append-only files need CAP_LINUX_IMMUTABLE and a file system that has them";
    settings().setFileLoggingResetMode(KLFileLoggingResetModeLaunch);
    manager = newRun();
    testing::internal::CaptureStderr();
    tickAt("2026-03-09T21:10:02");
    tickAt("2026-03-09T21:10:04");
    const std::string said = testing::internal::GetCapturedStderr();
    setAppendOnly(path, false);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(read("Kelvara Log.csv"),
              kCPUHeader + "\n2026-03-09,21:10:00,45°\n2026-03-09,21:10:02,45°\n2026-03-09,21:10:04,45°");
}

TEST_F(FileLoggingTest, FailedWritesAreSaidOncePerStreakAndOnlyDocumentsIsMade)
{
    const QString gone = home.path() + "/gone";
    settings().setFileLoggingPath(gone + "/Kelvara Log.csv");
    testing::internal::CaptureStderr();
    tickAt("2026-03-09T21:10:05");
    tickAt("2026-03-09T21:10:07");
    QDir().mkpath(gone);
    tickAt("2026-03-09T21:10:09");
    QDir(gone).removeRecursively();
    tickAt("2026-03-09T21:10:11");
    const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
    EXPECT_FALSE(QFile::exists(gone));
    const QStringList lines = said.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << qPrintable(said);
    for (const QString& line : lines) {
        EXPECT_TRUE(line.startsWith("Kelvara Helper: ")) << qPrintable(line);
        EXPECT_TRUE(line.contains(gone + "/Kelvara Log.csv")) << qPrintable(line);
    }

    settings().setFileLoggingPath({});  // the default, in a Documents folder not made yet
    ASSERT_FALSE(QFile::exists(home.path() + "/Documents"));
    tickAt("2026-03-09T21:10:13");
    EXPECT_TRUE(QFile::exists(home.path() + "/Documents/Kelvara Log.csv"));
}

}  // namespace
