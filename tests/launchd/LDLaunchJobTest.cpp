#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "LDLaunchJob.h"
#include "LaunchdTestSupport.h"
#include "PropertyList.h"
#include "TestHome.h"

namespace {

const QString kHelperPath =
    QStringLiteral("/Applications/Kelvara.app/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper");

LDLaunchJob companionJob(const QString& label, const QString& path, bool successfulExit)
{
    LDLaunchJob job;
    job.setLabel(label);
    job.setProgramArguments({path});
    job.setRunAtLoad(true);
    job.setKeepAlive(QVariantMap{{QStringLiteral("SuccessfulExit"), successfulExit}});
    return job;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

TEST(LDLaunchJobTest, KelvarasCompanionJobsBecomeTheseJobFiles)
{
    const LDLaunchJob helper = companionJob(QStringLiteral("com.orvane.kelvara.helper"), kHelperPath, true);
    const QVariantMap dictionary = helper.dictionary().value();
    EXPECT_EQ(dictionary.keys(), (QStringList{"KeepAlive", "Label", "ProgramArguments", "RunAtLoad"}));
    EXPECT_EQ(dictionary.value("RunAtLoad").typeId(), QMetaType::Bool);
    EXPECT_EQ(dictionary.value("KeepAlive").toMap(), (QVariantMap{{"SuccessfulExit", true}}));

    EXPECT_EQ(PropertyList::toData(dictionary, PropertyList::Format::Xml),
              QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                         "<plist version=\"1.0\">\n"
                         "<dict>\n"
                         "\t<key>KeepAlive</key>\n"
                         "\t<dict>\n"
                         "\t\t<key>SuccessfulExit</key>\n"
                         "\t\t<true/>\n"
                         "\t</dict>\n"
                         "\t<key>Label</key>\n"
                         "\t<string>com.orvane.kelvara.helper</string>\n"
                         "\t<key>ProgramArguments</key>\n"
                         "\t<array>\n"
                         "\t\t<string>/Applications/Kelvara.app/Contents/Components/Kelvara Helper.app/Contents/MacOS/"
                         "Kelvara Helper</string>\n"
                         "\t</array>\n"
                         "\t<key>RunAtLoad</key>\n"
                         "\t<true/>\n"
                         "</dict>\n"
                         "</plist>\n"));

    const LDLaunchJob menu = companionJob(QStringLiteral("com.orvane.kelvara.menu"), QStringLiteral("/x/Kelvara Menu"), false);
    const QByteArray menuXml = PropertyList::toData(menu.dictionary().value(), PropertyList::Format::Xml);
    EXPECT_TRUE(menuXml.contains("\t\t<key>SuccessfulExit</key>\n\t\t<false/>\n")) << menuXml.constData();
    EXPECT_EQ(PropertyList::fromData(menuXml).toMap().value("KeepAlive").toMap().value("SuccessfulExit"), QVariant(false));
}

TEST(LDLaunchJobTest, MirrorKeepsFalseAndZeroButDropsEmptyValues)
{
    LDLaunchJob job;
    job.setRunAtLoad(true);
    job.setRunAtLoad(false);
    job.setStartInterval(0);
    job.setLabel(QStringLiteral("a"));
    job.setLabel(QString(""));
    job.setProgramArguments({QStringLiteral("/bin/true")});
    job.setProgramArguments({});
    job.setEnvironmentVariables({{"A", "1"}});
    job.setEnvironmentVariables({});
    job.setKeepAlive(true);
    job.setKeepAlive(QVariant());
    job.setUmask(18);

    const QVariantMap dictionary = job.dictionary().value();
    EXPECT_EQ(dictionary, (QVariantMap{{"RunAtLoad", false}, {"StartInterval", 0}, {"Umask", 18}}));
    EXPECT_EQ(dictionary.value("RunAtLoad").typeId(), QMetaType::Bool);
    EXPECT_FALSE(job.RunAtLoad());
    EXPECT_EQ(job.Umask(), 18);
}

TEST(LDLaunchJobTest, EmptyAndUnobservedJobs)
{
    const LDLaunchJob empty;
    EXPECT_FALSE(empty.dictionary().has_value());
    EXPECT_EQ(empty.description(), "No Job Set");
    EXPECT_EQ(empty.propertyCount(), 68u);

    LDLaunchJob quiet{LDLaunchJob::WithoutObservers{}};
    EXPECT_EQ(quiet.propertyCount(), 33u);
    quiet.setLabel(QStringLiteral("x"));
    EXPECT_EQ(quiet.Label(), "x");
    EXPECT_EQ(quiet.dictionary(), std::optional<QVariantMap>(QVariantMap()));
    EXPECT_EQ(quiet.description(), "No Job Set");
}

TEST(LDLaunchJobTest, JobFromDictionaryTakesPropertiesOnlyAndThenMirrors)
{
    const QVariantMap launchd{
        {"Label", "com.example.job"},
        {"ProgramArguments", QVariantList{"/bin/sleep", "5"}},
        {"PID", 321},
        {"LastExitStatus", 256},
        {"OnDemand", true},
        {"Nice", "not a number"},
        {"LimitLoadToSessionType", "Aqua"},
        {"MachServices", QVariantMap{{"a", true}}},
        {"UnknownKey", "dropped"},
        {"internalDictionary", QVariantMap{{"x", 1}}},
    };
    LDLaunchJob job = LDLaunchJob::jobFromDictionary(launchd, 2);
    EXPECT_EQ(job.domain(), 2);
    EXPECT_EQ(job.PID(), 321);
    EXPECT_EQ(job.LastExitStatus(), 256);
    EXPECT_EQ(job.ProgramArguments(), (QStringList{"/bin/sleep", "5"}));
    EXPECT_TRUE(job.OnDemand());
    // Refused by the property, kept in the mirror.
    EXPECT_EQ(job.Nice(), 0);

    QVariantMap expected = launchd;
    expected.remove("UnknownKey");
    expected.remove("internalDictionary");
    EXPECT_EQ(job.dictionary().value(), expected);

    job.setWorkingDirectory(QStringLiteral("/tmp"));
    job.setOnDemand(false);
    EXPECT_EQ(job.dictionary()->value("WorkingDirectory"), QVariant("/tmp"));
    EXPECT_EQ(job.dictionary()->value("OnDemand"), QVariant(false));
}

TEST(LDLaunchJobTest, JobFromFileNeedsLabelAndProgramArguments)
{
    const TestHome home;
    const QVariantMap job{{"Label", "com.example.job"}, {"ProgramArguments", QVariantList{"/bin/true"}}};
    const QString inHome = home.path() + "/Library/LaunchAgents/com.example.job.plist";
    writeFile(inHome, PropertyList::toData(job, PropertyList::Format::Xml));
    const std::optional<LDLaunchJob> fromHome = LDLaunchJob::jobFromFile(inHome);
    ASSERT_TRUE(fromHome.has_value());
    EXPECT_EQ(fromHome->domain(), 1);
    EXPECT_EQ(fromHome->Label(), "com.example.job");

    QTemporaryDir elsewhere;
    const QString outside = elsewhere.path() + "/job.plist";
    writeFile(outside, PropertyList::toData(job, PropertyList::Format::Binary));
    ASSERT_TRUE(LDLaunchJob::jobFromFile(outside).has_value());
    EXPECT_EQ(LDLaunchJob::jobFromFile(outside)->domain(), 0);

    const QString programOnly = elsewhere.path() + "/program.plist";
    writeFile(programOnly, PropertyList::toData(QVariantMap{{"Label", "x"}, {"Program", "/bin/true"}},
                                                PropertyList::Format::Xml));
    EXPECT_FALSE(LDLaunchJob::jobFromFile(programOnly).has_value());

    const QString garbage = elsewhere.path() + "/garbage.plist";
    writeFile(garbage, "<?xml version=\"1.0\"?><plist><dict><key>Label</key>");
    EXPECT_FALSE(LDLaunchJob::jobFromFile(garbage).has_value());
    const QString notADictionary = elsewhere.path() + "/list.plist";
    writeFile(notADictionary, PropertyList::toData(QVariantList{"Label", "ProgramArguments"}, PropertyList::Format::Xml));
    EXPECT_FALSE(LDLaunchJob::jobFromFile(notADictionary).has_value());
    EXPECT_FALSE(LDLaunchJob::jobFromFile(elsewhere.path() + "/missing.plist").has_value());
}

TEST(LDLaunchJobTest, DomainZeroNeverAsksLaunchd)
{
    LDLaunchJob job;
    job.setLabel(QStringLiteral("com.example.job"));
    EXPECT_FALSE(job.isCurrentlyLoaded());
    EXPECT_EQ(job.PID(), -1);
    EXPECT_EQ(job.LastExitStatus(), -1);
    EXPECT_FALSE(job.serviceManagementValueForKey("Label").isValid());
    EXPECT_EQ(job.description(), "Is Loaded:NO\tLastExit:--\tPID:--\tLabel:com.example.job");
    job.setPID(77);
    job.setLastExitStatus(1);
    EXPECT_EQ(job.description(), "Is Loaded:NO\tLastExit:1\tPID:77\tLabel:com.example.job");
}

TEST(LDLaunchJobTest, CalendarSchedules)
{
    const LDLaunchJobSchedule weekly = LDLaunchJobSchedule::weeklyRunOnWeekday(2, 3);
    EXPECT_EQ(weekly.dictionary(), (QVariantMap{{"Minute", 0}, {"Hour", 3}, {"Weekday", 2}}));
    EXPECT_EQ(LDLaunchJobSchedule::dailyRunAtHour(6, 30).dictionary(), (QVariantMap{{"Minute", 30}, {"Hour", 6}}));
    EXPECT_EQ(LDLaunchJobSchedule::monthlyRunOnDay(1, 4).dictionary(), (QVariantMap{{"Minute", 0}, {"Hour", 4}, {"Day", 1}}));
    EXPECT_TRUE(LDLaunchJobSchedule().dictionary().isEmpty());
    EXPECT_EQ(LDLaunchJobSchedule().description(), "{\n}");

    const LDLaunchJobSchedule read(QVariantMap{{"day", 5}, {"MONTH", 1}, {"Year", 2030}});
    EXPECT_EQ(read.day(), 5);
    EXPECT_EQ(read.month(), 1);
    EXPECT_EQ(read.hour(), NSDateComponentUndefined);
    EXPECT_EQ(read.description(), "{\n    Day = 5;\n    Month = 1;\n}");

    LDLaunchJob job;
    job.setStartCalendarInterval(weekly);
    EXPECT_EQ(job.dictionary()->value("StartCalendarInterval").toMap(), weekly.dictionary());
    job.setStartCalendarInterval(QVariantList{QVariant::fromValue(weekly), QVariantMap{{"hour", 9}}, QString("junk")});
    EXPECT_EQ(job.dictionary()->value("StartCalendarInterval").toList(),
              (QVariantList{weekly.dictionary(), QVariantMap{{"Hour", 9}}}));
    EXPECT_EQ(job.StartCalendarIntervalArray().size(), 2);
    job.setStartCalendarInterval(QString("neither"));
    EXPECT_EQ(job.dictionary()->value("StartCalendarInterval").toList().size(), 2);
    job.setStartCalendarIntervalArray({LDLaunchJobSchedule::dailyRunAtHour(1, 2)});
    EXPECT_EQ(job.dictionary()->value("StartCalendarInterval").toList(), (QVariantList{QVariantMap{{"Minute", 2}, {"Hour", 1}}}));
    // Schedule objects cannot go into a job file.
    EXPECT_FALSE(job.dictionary()->contains("StartCalendarIntervalArray"));

    const LDLaunchJob fromFile = LDLaunchJob::jobFromDictionary(
        {{"Label", "x"}, {"StartCalendarInterval", QVariantMap{{"Minute", 15}}}}, 1);
    const QVariant schedule = fromFile.StartCalendarInterval();
    ASSERT_EQ(schedule.metaType(), QMetaType::fromType<LDLaunchJobSchedule>());
    EXPECT_EQ(schedule.value<LDLaunchJobSchedule>().minute(), 15);
}

TEST(LDLaunchJobTest, CodingKeepsTheMirrorButStopsMirroring)
{
    LDLaunchJob job = companionJob(QStringLiteral("com.orvane.kelvara.menu"), QStringLiteral("/bin/true"), false);
    job.setProgram(QStringLiteral("/bin/true"));
    QVariantMap coder;
    job.encodeWithCoder(coder);
    EXPECT_EQ(coder.keys(), (QStringList{"Label", "Program", "ProgramArguments", "dictionary"}));

    LDLaunchJob decoded = LDLaunchJob::initWithCoder(coder);
    EXPECT_EQ(decoded.dictionary(), job.dictionary());
    EXPECT_EQ(decoded.Label(), "com.orvane.kelvara.menu");
    EXPECT_EQ(decoded.ProgramArguments(), QStringList{"/bin/true"});
    decoded.setRunAtLoad(false);
    EXPECT_EQ(decoded.dictionary()->value("RunAtLoad"), QVariant(true));

    const LDLaunchJob broken = LDLaunchJob::initWithCoder({{"dictionary", "text"}, {"Label", 5}, {"ProgramArguments", 3}});
    EXPECT_FALSE(broken.dictionary().has_value());
    EXPECT_TRUE(broken.Label().isNull());
}

TEST(LDLaunchJobTest, ExecutableVersionComesFromTheProgramsBundle)
{
    QTemporaryDir dir;
    const QString app = dir.path() + "/Tool.app";
    writeFile(app + "/Contents/Info.plist",
              PropertyList::toData(QVariantMap{{"CFBundleVersion", "2.10.1"}}, PropertyList::Format::Xml));
    writeFile(app + "/Contents/MacOS/Tool", "x");

    LDLaunchJob job;
    EXPECT_TRUE(job.executableVersion().isNull());
    job.setProgramArguments({app + "/Contents/MacOS/Tool", "--flag"});
    EXPECT_EQ(job.executableVersion(), "2.10.1");
    job.setProgramArguments({app});
    EXPECT_EQ(job.executableVersion(), "2.10.1");
    job.setProgramArguments({dir.path() + "/loose-tool"});
    EXPECT_TRUE(job.executableVersion().isNull());
}

}  // namespace
