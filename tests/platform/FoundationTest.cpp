#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Dispatch.h"
#include "NSBundle.h"
#include "NSManagedObjectContext.h"
#include "QtApplication.h"
#include <thread>
#include "CraftedPlist.h"
#include "PropertyList.h"

namespace {

TEST(PropertyListTest, RoundTripsEveryTypeInBothFormats)
{
    const QVariantMap value{
        {"text", QStringLiteral("Température")},
        {"int", qlonglong(-42)},
        {"big", qlonglong(1) << 40},
        {"real", 2.5},
        {"yes", true},
        {"no", false},
        {"data", QByteArray("\x00\x01\xff", 3)},
        {"date", QDateTime::fromSecsSinceEpoch(1800000000, QTimeZone::utc())},
        {"uid", QVariant::fromValue(PlistUID{7})},
        {"list", QVariantList{1, "two", QVariantMap{{"three", 3.0}}}},
        {"empty", QVariantMap{}},
    };
    for (auto format : {PropertyList::Format::Binary, PropertyList::Format::Xml}) {
        if (format == PropertyList::Format::Xml) {
            // UIDs exist only in binary lists.
            QVariantMap withoutUID = value;
            withoutUID.remove("uid");
            EXPECT_EQ(PropertyList::fromData(PropertyList::toData(withoutUID, format)), QVariant(withoutUID));
            continue;
        }
        const QVariant back = PropertyList::fromData(PropertyList::toData(value, format));
        const QVariantMap map = back.toMap();
        EXPECT_EQ(map.value("text").toString(), QStringLiteral("Température"));
        EXPECT_EQ(map.value("int").toLongLong(), -42);
        EXPECT_EQ(map.value("big").toLongLong(), qlonglong(1) << 40);
        EXPECT_EQ(map.value("yes").typeId(), QMetaType::Bool);
        EXPECT_EQ(map.value("data").toByteArray(), QByteArray("\x00\x01\xff", 3));
        EXPECT_EQ(map.value("date").toDateTime().toSecsSinceEpoch(), 1800000000);
        EXPECT_EQ(map.value("uid").value<PlistUID>(), PlistUID{7});
        EXPECT_EQ(map.value("list"), value.value("list"));
        EXPECT_EQ(back, QVariant(value));
    }
    EXPECT_TRUE(PropertyList::toData(value, PropertyList::Format::Binary).startsWith("bplist00"));
}

TEST(PropertyListTest, GarbageAndMissingFilesAreInvalidNotFatal)
{
    EXPECT_FALSE(PropertyList::fromData({}).isValid());
    EXPECT_FALSE(PropertyList::fromData("not a plist at all").isValid());
    EXPECT_FALSE(PropertyList::fromData("<?xml version=\"1.0\"?><plist><dict><key>a</key>").isValid());
    QByteArray truncated = PropertyList::toData(QVariantMap{{"a", QVariantList{1, 2, 3}}}, PropertyList::Format::Binary);
    truncated.chop(10);
    EXPECT_FALSE(PropertyList::fromData(truncated).isValid());
    // libplist aborts the program when asked for a key with a NUL in it.
    EXPECT_FALSE(PropertyList::fromData(crafted::binaryList({char(0xd1) + crafted::bigEndian(1, 4) + crafted::bigEndian(2, 4),
                                                             QByteArray("\x63\0a\0\0\0b", 7), "\x09"}))
                     .isValid());

    QString error;
    EXPECT_FALSE(PropertyList::readFile("/nonexistent/file.plist", &error).isValid());
    EXPECT_FALSE(error.isEmpty());
    // A pipe in a file's place is refused, not waited on.
    const QTemporaryDir dir;
    const QString pipe = dir.path() + "/job.plist";
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_FALSE(PropertyList::readFile(pipe, &error).isValid());
    EXPECT_EQ(error, "not a regular file");
}

TEST(PropertyListTest, NestingAndSharedObjectsAreBoundedBeforeParsing)
{
    const auto refused = [](const QByteArray& bytes, const char* why) {
        QString error;
        const bool invalid = !PropertyList::fromData(bytes, &error).isValid();
        return invalid && error.contains(why) ? testing::AssertionSuccess()
                                              : testing::AssertionFailure() << error.toStdString();
    };
    // A list of our own past 64 KiB (three-byte offsets) reads back whole.
    QVariantList many;
    for (int i = 0; i < 20000; ++i)
        many << QStringLiteral("X%1").arg(i) << i;
    EXPECT_EQ(PropertyList::fromData(PropertyList::toData(QVariantMap{{"k", many}}, PropertyList::Format::Binary)),
              QVariant(QVariantMap{{"k", many}}));
    // 2^11 values from a few shared arrays is fine; 2^31 is not.
    const QVariant small = PropertyList::fromData(crafted::sharedChildren(10));
    QVariant inner = small.toMap().value("KLDropdownItemsKey");
    for (int i = 1; i < 10; ++i)
        inner = inner.toList().value(1);
    EXPECT_EQ(inner, QVariant(QVariantList{"x", "x"}));
    EXPECT_TRUE(refused(crafted::sharedChildren(30), "not a usable"));
    EXPECT_TRUE(refused(crafted::nestedArrays(200000), "512"));
    EXPECT_EQ(PropertyList::fromData(crafted::deepAndWide(10, 20000)).toMap().size(), 1);
    EXPECT_TRUE(refused(crafted::deepAndWide(400, 20000), "too deeply"));  // libplist's checks would take seconds
    EXPECT_TRUE(refused(crafted::binaryList({crafted::array({0})}), "512"));  // a cycle
    EXPECT_TRUE(refused(crafted::binaryList({crafted::array({0x7fffffff})}), "refers"));

    const auto xml = [](const QByteArray& value) { return "<?xml version=\"1.0\"?><plist>" + value + "</plist>"; };
    EXPECT_TRUE(refused(xml(QByteArray("<array>").repeated(200000) + QByteArray("</array>").repeated(200000)), "512"));
    EXPECT_TRUE(refused(xml(QByteArray("<array>").repeated(100) + QByteArray("<true/>").repeated(300000) +
                            QByteArray("</array>").repeated(100)),
                        "250000"));
    EXPECT_TRUE(refused(xml("<array><!-- </array> --></array></array>"), "closes"));
    EXPECT_TRUE(refused(xml("<array a='<array>'></array>"), "'<'"));
    EXPECT_TRUE(refused(QByteArray(PropertyList::kMaxDataSize + 1, ' '), "larger"));
    // What people put in hand-written lists still reads.
    EXPECT_EQ(PropertyList::fromData(xml("<dict><!-- <key>old</key> --><key>a</key><string><![CDATA[<b>]]></string>"
                                         "<key>c</key><true/></dict>")),
              QVariant(QVariantMap{{"a", "<b>"}, {"c", true}}));
}

class BundleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = dir.path() + "/Kelvara.app";
        QDir().mkpath(app + "/Contents/MacOS");
        QDir().mkpath(app + "/Contents/Resources");
        write(app + "/Contents/Resources/RZSMC.plist", "x");
        write(app + "/Contents/Resources/Kelvara SMC", "x");
        write(app + "/Contents/Info.plist",
              PropertyList::toData(QVariantMap{{"CFBundleIdentifier", "com.orvane.kelvara"}},
                                   PropertyList::Format::Xml));
    }
    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QTemporaryDir dir;
    QString app;
};

TEST_F(BundleTest, FindsTheBundleOfAnExecutable)
{
    EXPECT_EQ(NSBundle::bundlePathForExecutable(app + "/Contents/MacOS/Kelvara"), app);
    const QString helper = app + "/Contents/Components/Kelvara Helper.app";
    QDir().mkpath(helper + "/Contents/MacOS");
    EXPECT_EQ(NSBundle::bundlePathForExecutable(helper + "/Contents/MacOS/Kelvara Helper"), helper);
    // Outside a bundle the executable's folder is its bundle.
    EXPECT_EQ(NSBundle::bundlePathForExecutable("/usr/bin/tool"), "/usr/bin");
    EXPECT_EQ(NSBundle::bundlePathForExecutable("/opt/MacOS/tool"), "/opt/MacOS");
}

TEST_F(BundleTest, ResolvesResourcesInsideTheBundleOnly)
{
    const NSBundle bundle(app);
    EXPECT_EQ(bundle.pathForResource("RZSMC", "plist"), app + "/Contents/Resources/RZSMC.plist");
    EXPECT_EQ(bundle.pathForResource("Kelvara SMC", ""), app + "/Contents/Resources/Kelvara SMC");
    EXPECT_TRUE(bundle.pathForResource("RZSMC", "strings").isNull());
    EXPECT_TRUE(bundle.pathForResource("", "plist").isNull());
    EXPECT_TRUE(bundle.pathForResource("../Info", "plist").isNull());
    EXPECT_EQ(bundle.bundleIdentifier(), "com.orvane.kelvara");

    NSBundle::setMainBundlePathForTesting(app);
    EXPECT_EQ(NSBundle::mainBundle().pathForResource("RZSMC", "plist"), app + "/Contents/Resources/RZSMC.plist");
    NSBundle::setMainBundlePathForTesting({});
    EXPECT_NE(NSBundle::mainBundle().bundlePath(), app);
}

TEST(BuiltBundleTest, ProgramsAndResourcesAreLaidOut)
{
    const QString app = KELVARA_APP_DIR;
    EXPECT_EQ(NSBundle(app).bundleIdentifier(), "com.orvane.kelvara");
    EXPECT_FALSE(NSBundle(app).pathForResource("Kelvara SMC", "").isNull());
    EXPECT_FALSE(NSBundle(app).pathForResource("RZSMC", "plist").isNull());
    const NSBundle helper(app + "/Contents/Components/Kelvara Helper.app");
    EXPECT_EQ(helper.bundleIdentifier(), "com.orvane.kelvara.helper");
    EXPECT_FALSE(helper.pathForResource("RZSMC", "plist").isNull());
    EXPECT_TRUE(QFileInfo(helper.bundlePath() + "/Contents/MacOS/Kelvara Helper").isExecutable());
    const NSBundle menu(app + "/Contents/Components/Kelvara Menu.app");
    EXPECT_EQ(menu.bundleIdentifier(), "com.orvane.kelvara.menu");
    EXPECT_TRUE(QFileInfo(menu.bundlePath() + "/Contents/MacOS/Kelvara Menu").isExecutable());
    EXPECT_EQ(NSBundle::bundlePathForExecutable(helper.bundlePath() + "/Contents/MacOS/Kelvara Helper"),
              helper.bundlePath());
}

}  // namespace

namespace {

TEST(MainQueueTest, BlocksRunInOrderAndWaitingOnTheMainThreadRunsAtOnce)
{
    testApplication();
    QStringList ran;
    dispatch_async(dispatch_get_main_queue(), [&] { ran << "first"; });
    NSManagedObjectContext context(NSMainQueueConcurrencyType);
    context.performBlock([&] {
        ran << "second";
        dispatch_async(dispatch_get_main_queue(), [&] { ran << "fourth"; });
    });
    dispatch_async(dispatch_get_main_queue(), [&] { ran << "third"; });
    context.performBlockAndWait([&] { ran << "inline"; });
    EXPECT_EQ(ran, QStringList({"inline"}));
    drainMainQueue();
    EXPECT_EQ(ran, QStringList({"inline", "first", "second", "third", "fourth"}));

    // From another thread, waiting means the main thread ran it.
    bool onMain = false;
    std::thread worker([&] { context.performBlockAndWait([&] { onMain = dispatch_is_main_thread(); }); });
    while (!onMain)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_TRUE(onMain);
}

}  // namespace
