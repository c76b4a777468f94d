#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CraftedPlist.h"
#include "NSUserDefaults.h"
#include "PropertyList.h"
#include "QtApplication.h"
#include "TestHome.h"

namespace {

const QString kSuite = "group.com.orvane.kelvara";

// While one lives, only `spare` more files can be opened (as when a program runs out of descriptors).
class DescriptorLimit {
public:
    explicit DescriptorLimit(int spare)
    {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        const int lowestFree = ::dup(0);
        ::close(lowestFree);
        rlimit tight = m_saved;
        tight.rlim_cur = static_cast<rlim_t>(lowestFree + spare);
        EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &m_saved); }

private:
    rlimit m_saved{};
};

// The suite's lock held as another program holds it (its own open file). A
// watchdog frees it after a while, so code that waits for it without limit
// fails the test instead of hanging it.
class HeldLock {
public:
    explicit HeldLock(const QString& suitePath)
        : m_fd(::open(QFile::encodeName(suitePath + ".lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        EXPECT_EQ(::flock(m_fd, LOCK_EX | LOCK_NB), 0);
        m_watchdog = std::async(std::launch::async, [this, freed = m_freed.get_future()] {
            if (freed.wait_for(std::chrono::seconds(20)) == std::future_status::timeout)
                ::flock(m_fd, LOCK_UN);
        });
    }
    ~HeldLock() { release(); }
    void release()
    {
        if (m_released)
            return;
        m_released = true;
        ::flock(m_fd, LOCK_UN);
        m_freed.set_value();
        m_watchdog.wait();
        ::close(m_fd);
    }

private:
    int m_fd;
    bool m_released = false;
    std::promise<void> m_freed;
    std::future<void> m_watchdog;
};

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList setAside(const NSUserDefaults& defaults)
{
    return QFileInfo(defaults.path()).dir().entryList({"group.com.orvane.kelvara.plist.damaged-*"}, QDir::Files);
}

void writeAtomically(const QString& path, const QByteArray& bytes)
{
    QFile out(path + ".new");
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes);
    out.close();
    ASSERT_EQ(::rename(QFile::encodeName(out.fileName()).constData(), QFile::encodeName(path).constData()), 0);
}

// The concurrency test below starts this binary again as a writer of its own
// keys: with KELVARA_TEST_WRITER set it writes them and exits before any test.
class DefaultsWriterRole : public ::testing::Environment {
public:
    void SetUp() override
    {
        const QString prefix = qEnvironmentVariable("KELVARA_TEST_WRITER");
        if (prefix.isEmpty())
            return;
        NSUserDefaults defaults(kSuite);
        int code = 0;
        for (int i = 0; i < 40 && code == 0; ++i)
            code = defaults.setInteger(i, prefix + QString::number(i)) ? 0 : 1;
        std::fflush(stdout);
        std::_Exit(code);
    }
};

[[maybe_unused]] auto* const g_writerRole = ::testing::AddGlobalTestEnvironment(new DefaultsWriterRole);

TEST(DefaultsTest, SeveralProgramsWritingAtOnceLoseNothing)
{
    const TestHome home;
    QList<QProcess*> writers;
    for (const char* prefix : {"a", "b", "c"}) {
        auto* writer = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("KELVARA_TEST_WRITER", prefix);
        writer->setProcessEnvironment(env);
        writers.append(writer);
    }
    // The test binary is this process's own executable.
    const QString self = QFile::symLinkTarget("/proc/self/exe");
    for (QProcess* writer : writers) {
        writer->start(self, {});
        ASSERT_TRUE(writer->waitForStarted(5000));
    }
    NSUserDefaults mine(kSuite);
    for (int i = 0; i < 40; ++i)
        mine.setInteger(i, "main" + QString::number(i));
    for (QProcess* writer : writers) {
        ASSERT_TRUE(writer->waitForFinished(30000));
        EXPECT_EQ(writer->exitCode(), 0) << writer->readAllStandardOutput().toStdString();
        delete writer;
    }
    const QVariantMap all = NSUserDefaults(kSuite).dictionaryRepresentation();
    EXPECT_EQ(all.size(), 160);
    for (const char* prefix : {"a", "b", "c", "main"}) {
        for (int i = 0; i < 40; ++i)
            EXPECT_EQ(all.value(prefix + QString::number(i)).toInt(), i) << prefix << i;
    }
}

TEST(DefaultsTest, ReadsFollowOtherWritersWithoutReparsingUnchangedFiles)
{
    const TestHome home;
    NSUserDefaults reader(kSuite);
    NSUserDefaults writer(kSuite);
    EXPECT_TRUE(reader.path().endsWith("/Library/Group Containers/group.com.orvane.kelvara/Library/Preferences/"
                                       "group.com.orvane.kelvara.plist"));
    EXPECT_FALSE(reader.objectForKey("KLUpdateFrequencyKey").isValid());
    writer.setInteger(2, "KLUpdateFrequencyKey");
    EXPECT_EQ(reader.integerForKey("KLUpdateFrequencyKey"), 2);
    const int parses = NSUserDefaults::parseCountForTesting();
    for (int i = 0; i < 20; ++i)
        reader.integerForKey("KLUpdateFrequencyKey");
    EXPECT_EQ(NSUserDefaults::parseCountForTesting(), parses);
    writer.setInteger(1, "KLUpdateFrequencyKey");
    EXPECT_EQ(reader.integerForKey("KLUpdateFrequencyKey"), 1);

    // The file is a binary property list.
    QFile file(reader.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("bplist00"));
}

TEST(DefaultsTest, AbsenceIsKeptApartAndTypesCoerceAsDefaultsDo)
{
    const TestHome home;
    NSUserDefaults defaults(kSuite);
    EXPECT_FALSE(defaults.objectForKey("flag").isValid());
    defaults.setBool(false, "flag");
    EXPECT_TRUE(defaults.objectForKey("flag").isValid());
    EXPECT_FALSE(defaults.boolForKey("flag"));

    defaults.setObject(QString("YES"), "yes");
    defaults.setObject(QString("42abc"), "text");
    defaults.setDouble(3.9, "real");
    defaults.setBool(true, "bool");
    defaults.setObject(QVariantList{1, 2}, "list");
    EXPECT_TRUE(defaults.boolForKey("yes"));
    EXPECT_EQ(defaults.integerForKey("text"), 42);
    EXPECT_TRUE(defaults.boolForKey("text"));
    EXPECT_EQ(defaults.integerForKey("real"), 3);
    EXPECT_EQ(defaults.integerForKey("bool"), 1);
    EXPECT_EQ(defaults.stringForKey("bool"), "1");
    EXPECT_EQ(defaults.stringForKey("real"), "3.9");
    EXPECT_TRUE(defaults.stringForKey("list").isNull());
    EXPECT_TRUE(defaults.arrayForKey("text").isEmpty());
    EXPECT_EQ(defaults.arrayForKey("list").size(), 2);
    EXPECT_EQ(defaults.integerForKey("missing"), 0);

    defaults.removeObjectForKey("flag");
    EXPECT_FALSE(NSUserDefaults(kSuite).objectForKey("flag").isValid());
}

TEST(DefaultsTest, ADamagedSuiteIsKeptAsideAndDefaultsApply)
{
    const TestHome home;
    NSUserDefaults defaults(kSuite);
    QFile file(defaults.path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("bplist00 but then nothing sensible");
    file.close();

    testing::internal::CaptureStderr();
    EXPECT_FALSE(defaults.objectForKey("KLTempUnitCelsius").isValid());
    EXPECT_FALSE(defaults.objectForKey("KLShowIconInMenu").isValid());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;

    const QStringList aside =
        QFileInfo(defaults.path()).dir().entryList({"group.com.orvane.kelvara.plist.damaged-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(QFileInfo(defaults.path()).dir().filePath(aside.first()));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "bplist00 but then nothing sensible");

    EXPECT_TRUE(defaults.setBool(true, "KLTempUnitCelsius"));
    EXPECT_TRUE(NSUserDefaults(kSuite).boolForKey("KLTempUnitCelsius"));

    // One that cannot be moved aside (its kept name would be too long) is not written over.
    NSUserDefaults longName(QString(230, 'k'));
    writeAtomically(longName.path(), "bplist00 damaged");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(longName.setBool(true, "KLTempUnitCelsius"));
    const std::string refused = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(refused.begin(), refused.end(), '\n'), 1) << refused;
    EXPECT_EQ(contents(longName.path()), "bplist00 damaged");
}

TEST(DefaultsTest, ASuiteThatCannotBeReadIsKeptAndNeverOverwritten)
{
    const TestHome home;
    NSUserDefaults reader(kSuite);
    NSUserDefaults writer(kSuite);
    writer.setInteger(7, "KLAppLaunchCountKey");
    writer.setObject(QString("de"), "CURRENT_LANGUAGE_KEY");
    EXPECT_EQ(reader.integerForKey("KLAppLaunchCountKey"), 7);
    writer.setBool(false, "KLTempUnitCelsius");  // so the reader must open the file again
    const QByteArray before = contents(reader.path());

    testing::internal::CaptureStderr();
    {
        const DescriptorLimit none(0);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(reader.integerForKey("KLAppLaunchCountKey"), 7);
            EXPECT_EQ(reader.stringForKey("CURRENT_LANGUAGE_KEY"), "de");
        }
    }
    {
        const DescriptorLimit lockOnly(1);
        EXPECT_FALSE(writer.setInteger(2, "KLUpdateFrequencyKey"));
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;  // once for the reads, once for the write

    EXPECT_TRUE(setAside(reader).isEmpty());
    EXPECT_EQ(contents(reader.path()), before);
    EXPECT_FALSE(reader.boolForKey("KLTempUnitCelsius"));
    EXPECT_TRUE(writer.setInteger(2, "KLUpdateFrequencyKey"));
    EXPECT_EQ(NSUserDefaults(kSuite).dictionaryRepresentation().size(), 4);
}

TEST(DefaultsTest, APipeInTheSuitesPlaceIsNotWaitedOn)
{
    const TestHome home;
    NSUserDefaults defaults(kSuite);
    ASSERT_EQ(::mkfifo(QFile::encodeName(defaults.path()).constData(), 0600), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(defaults.objectForKey("KLTempUnitCelsius").isValid());
    EXPECT_FALSE(defaults.setBool(true, "KLTempUnitCelsius"));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
    EXPECT_NE(said.find("not a regular file"), std::string::npos) << said;
    EXPECT_TRUE(QFileInfo(defaults.path()).exists());  // left in place
    EXPECT_TRUE(setAside(defaults).isEmpty());
}

TEST(DefaultsTest, ASuiteReplacedWhileTheReaderWaitsForTheLockIsNotSetAside)
{
    const TestHome home;
    NSUserDefaults reader(kSuite);
    writeAtomically(reader.path(), "bplist00 but then nothing sensible");
    NSUserDefaults::setBeforeSetAsideHookForTesting([&reader] {
        writeAtomically(reader.path(), PropertyList::toData(QVariantMap{{"KLUpdateFrequencyKey", 2}},
                                                            PropertyList::Format::Binary));
    });
    EXPECT_EQ(reader.integerForKey("KLUpdateFrequencyKey"), 2);
    NSUserDefaults::setBeforeSetAsideHookForTesting({});
    EXPECT_TRUE(setAside(reader).isEmpty());
    EXPECT_EQ(NSUserDefaults(kSuite).integerForKey("KLUpdateFrequencyKey"), 2);
}

TEST(DefaultsTest, ASuiteNestedTooDeeplyIsDamagedNotFatal)
{
    const auto nested = [](int depth) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>KLDropdownItemsKey</key>" +
               QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth) + "</dict></plist>";
    };
    EXPECT_EQ(PropertyList::fromData(nested(100)).toMap().size(), 1);
    EXPECT_EQ(PropertyList::fromData(nested(500)).toMap().size(), 1);
    EXPECT_FALSE(PropertyList::fromData(nested(600)).isValid());

    const TestHome home;
    NSUserDefaults defaults(kSuite);
    writeAtomically(defaults.path(), nested(50000));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(defaults.objectForKey("KLDropdownItemsKey").isValid());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(setAside(defaults).size(), 1);

    // Deep enough to overflow any recursive reader, or tiny but huge once shared objects are expanded.
    const QByteArray hostile[] = {nested(200000), crafted::nestedArrays(200000), crafted::sharedChildren(30)};
    for (const QByteArray& bytes : hostile) {
        const QStringList before = setAside(defaults);
        writeAtomically(defaults.path(), bytes);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(defaults.objectForKey("KLDropdownItemsKey").isValid());
        EXPECT_TRUE(defaults.setInteger(2, "KLUpdateFrequencyKey"));
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        // A new one, and only the newest few are kept.
        const QStringList after = setAside(defaults);
        EXPECT_EQ(after.size(), std::min<qsizetype>(before.size() + 1, OwnFile::kSetAsideKept));
        EXPECT_TRUE(std::any_of(after.begin(), after.end(), [&](const QString& name) { return !before.contains(name); }));
        EXPECT_EQ(NSUserDefaults(kSuite).dictionaryRepresentation(), QVariantMap({{"KLUpdateFrequencyKey", 2}}));
    }
}

// Another program holds the lock (stopped or hung): a change waits a bounded
// time, then lives in memory and is written, merged per key, once the lock is
// free; later changes and reads do not wait at all.
TEST(DefaultsTest, AHeldLockDelaysNobodyAndChangesAreSavedOnceItIsFree)
{
    const TestHome home;
    testApplication();
    NSUserDefaults mine(kSuite);
    ASSERT_TRUE(mine.setInteger(7, "KLAppLaunchCountKey"));
    HeldLock held(mine.path());

    testing::internal::CaptureStderr();
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(mine.setBool(true, "KLTempUnitCelsius"));
    const qint64 first = clock.restart();
    EXPECT_FALSE(mine.setInteger(2, "KLUpdateFrequencyKey"));
    EXPECT_FALSE(mine.removeObjectForKey("KLCurrentLanguageKey"));
    const qint64 later = clock.restart();
    EXPECT_GE(first, 1000);  // it did try for a while
    EXPECT_LT(first, 10000);
    EXPECT_LT(later, first);
    EXPECT_TRUE(mine.boolForKey("KLTempUnitCelsius"));
    EXPECT_EQ(mine.integerForKey("KLUpdateFrequencyKey"), 2);
    EXPECT_EQ(NSUserDefaults(kSuite).dictionaryRepresentation(), QVariantMap({{"KLAppLaunchCountKey", 7}}));

    // The holder leaves a damaged file: the read goes on from memory without waiting.
    writeAtomically(mine.path(), "bplist00 damaged");
    NSUserDefaults::checkAgain();
    clock.restart();
    EXPECT_EQ(mine.integerForKey("KLAppLaunchCountKey"), 7);
    EXPECT_LT(clock.elapsed(), first);
    EXPECT_TRUE(setAside(mine).isEmpty());

    // Then writes a key of its own and lets go.
    writeAtomically(mine.path(), PropertyList::toData(QVariantMap{{"KLAppLaunchCountKey", 7}, {"KLShowTempInMenu", true}},
                                                      PropertyList::Format::Binary));
    held.release();
    const QVariantMap expected{{"KLAppLaunchCountKey", 7}, {"KLShowTempInMenu", true}, {"KLTempUnitCelsius", true},
                               {"KLUpdateFrequencyKey", 2}};
    EXPECT_TRUE(waitUntil([&] { return NSUserDefaults(kSuite).dictionaryRepresentation() == expected; }, 10000));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;  // the kept change, the read from memory
    EXPECT_NE(said.find("KLTempUnitCelsius is kept"), std::string::npos) << said;

    // At the program's end the suite waits longer than a setter for what it
    // keeps, and when the lock stays held says once which keys were lost.
    HeldLock again(mine.path());
    testing::internal::CaptureStderr();
    {
        NSUserDefaults quitting(kSuite);
        EXPECT_FALSE(quitting.setInteger(3, "KLAppLaunchCountKey"));
        EXPECT_FALSE(quitting.setBool(false, "KLShowTempInMenu"));
        clock.restart();
    }
    const qint64 quit = clock.elapsed();
    const std::string lost = testing::internal::GetCapturedStderr();
    EXPECT_GT(quit, first);
    EXPECT_EQ(std::count(lost.begin(), lost.end(), '\n'), 2) << lost;  // kept, then lost
    EXPECT_NE(lost.find("KLAppLaunchCountKey, KLShowTempInMenu was not saved"), std::string::npos) << lost;
}

// The lock is ours: a link planted at its name is set aside, never followed
// to make a file where it points.
TEST(DefaultsTest, ALinkInTheLocksPlaceIsNotFollowed)
{
    const TestHome home;
    NSUserDefaults defaults(kSuite);
    const QString elsewhere = home.path() + "/somewhere";
    ASSERT_TRUE(QFile::link(elsewhere, defaults.path() + ".lock"));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(defaults.setInteger(7, "KLAppLaunchCountKey"));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_FALSE(QFileInfo::exists(elsewhere));
    EXPECT_FALSE(QFileInfo(defaults.path() + ".lock").isSymLink());
    EXPECT_EQ(NSUserDefaults(kSuite).integerForKey("KLAppLaunchCountKey"), 7);
}

}  // namespace
