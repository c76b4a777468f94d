#include <QDateTime>
#include <QTimeZone>
#include <gtest/gtest.h>

#include "CraftedPlist.h"
#include "NSKeyedArchiver.h"
#include "PropertyList.h"

namespace {

QVariant uid(quint64 index) { return QVariant::fromValue(PlistUID{index}); }

QByteArray archive(const QVariantList& objects, const QVariant& top = QVariantMap{{"root", uid(1)}})
{
    return PropertyList::toData(QVariantMap{{"$archiver", "NSKeyedArchiver"}, {"$version", 100000},
                                            {"$top", top}, {"$objects", objects}},
                                PropertyList::Format::Binary);
}

QVariant unarchive(const QByteArray& data, QString* error = nullptr)
{
    return NSKeyedUnarchiver::unarchiveObjectWithData(data, error);
}

TEST(KeyedArchiveTest, RoundTripsValuesAndNil)
{
    const QVariantMap fanSpeeds{{"0", 2000}, {"1", 2200}};
    const QVariant back = unarchive(NSKeyedArchiver::archivedDataWithRootObject(fanSpeeds));
    EXPECT_EQ(back, QVariant(fanSpeeds));
    EXPECT_EQ(back.toMap().value("1").toInt(), 2200);

    const QVariantList mixed{"text", QByteArray("\0\xff", 2), true, 2.5, QVariant(), QStringList{"a", "b"},
                             QDateTime::fromMSecsSinceEpoch(1700000000123, QTimeZone::utc())};
    const QVariantList mixedBack = unarchive(NSKeyedArchiver::archivedDataWithRootObject(mixed)).toList();
    ASSERT_EQ(mixedBack.size(), mixed.size());
    EXPECT_EQ(mixedBack.at(2).typeId(), QMetaType::Bool);
    EXPECT_EQ(mixedBack.at(5), QVariant(QVariantList{"a", "b"}));
    EXPECT_EQ(mixedBack.at(6).toDateTime(), mixed.at(6).toDateTime());
    EXPECT_EQ(mixedBack.mid(0, 5), mixed.mid(0, 5));

    QString error = "stale";
    const QByteArray nothing = NSKeyedArchiver::archivedDataWithRootObject(QVariant());
    EXPECT_EQ(PropertyList::fromData(nothing).toMap()["$top"].toMap()["root"], uid(0));
    EXPECT_FALSE(unarchive(nothing, &error).isValid());
    EXPECT_TRUE(error.isEmpty());
}

TEST(KeyedArchiveTest, WritesTheKeyedArchiveLayoutWithClassNames)
{
    const QDateTime fire = QDateTime::fromSecsSinceEpoch(1800000000, QTimeZone::utc());
    const KeyedObject note{"KLNotification",
                           {{"sensorKey", "TC0P"}, {"threshold", 72.5}, {"repeat", true}, {"active", false},
                            {"lastFireDate", fire}}};
    const QByteArray bytes = NSKeyedArchiver::archivedDataWithRootObject(QVariant::fromValue(note));
    EXPECT_TRUE(bytes.startsWith("bplist00"));
    EXPECT_EQ(unarchive(bytes).value<KeyedObject>(), note);

    const QVariantMap plist = PropertyList::fromData(bytes).toMap();
    EXPECT_EQ(plist["$archiver"], "NSKeyedArchiver");
    EXPECT_EQ(plist["$version"], QVariant(qlonglong(100000)));
    const QVariantList objects = plist["$objects"].toList();
    ASSERT_GE(objects.size(), 2);
    EXPECT_EQ(objects[0], "$null");
    const QVariant root = plist["$top"].toMap()["root"];
    ASSERT_TRUE(root.canConvert<PlistUID>());
    const QVariantMap object = objects.value(root.value<PlistUID>().value).toMap();
    // Numbers and bools inline, everything else by reference.
    EXPECT_EQ(object["threshold"].typeId(), QMetaType::Double);
    EXPECT_EQ(object["repeat"].typeId(), QMetaType::Bool);
    ASSERT_TRUE(object["sensorKey"].canConvert<PlistUID>());
    EXPECT_EQ(objects.value(object["sensorKey"].value<PlistUID>().value), "TC0P");
    const QVariantMap date = objects.value(object["lastFireDate"].value<PlistUID>().value).toMap();
    EXPECT_DOUBLE_EQ(date["NS.time"].toDouble(), 1800000000.0 - 978307200.0);
    const QVariantMap klass = objects.value(object["$class"].value<PlistUID>().value).toMap();
    EXPECT_EQ(klass["$classname"], "KLNotification");
    EXPECT_EQ(klass["$classes"], QVariant(QVariantList{"KLNotification", "NSObject"}));

    // One class description per class name; dictionary members by reference.
    const QVariantMap two{{"a", QVariant::fromValue(note)}, {"b", QVariant::fromValue(note)}};
    const QVariantList twoObjects =
        PropertyList::fromData(NSKeyedArchiver::archivedDataWithRootObject(two)).toMap()["$objects"].toList();
    int descriptions = 0;
    for (const QVariant& entry : twoObjects)
        descriptions += entry.toMap().value("$classname") == "KLNotification";
    EXPECT_EQ(descriptions, 1);
    const QVariantMap dict = twoObjects.value(1).toMap();
    EXPECT_TRUE(dict["NS.keys"].toList().value(0).canConvert<PlistUID>());
    EXPECT_EQ(twoObjects.value(dict["$class"].value<PlistUID>().value).toMap()["$classes"],
              QVariant(QVariantList{"NSDictionary", "NSObject"}));
}

TEST(KeyedArchiveTest, DecodesWhatTheRealArchiverWrites)
{
    const QVariantMap dictClass{{"$classname", "NSMutableDictionary"},
                                {"$classes", QVariantList{"NSMutableDictionary", "NSDictionary", "NSObject"}}};
    const QVariantMap stringClass{{"$classname", "NSMutableString"},
                                  {"$classes", QVariantList{"NSMutableString", "NSString", "NSObject"}}};
    const QVariantList objects{
        "$null",
        QVariantMap{{"NS.keys", QVariantList{uid(2), uid(3), uid(4), uid(9)}},
                    {"NS.objects", QVariantList{uid(5), uid(6), uid(5), uid(10)}}, {"$class", uid(7)}},
        "name", "limit", "copy",
        QVariantMap{{"NS.string", "Fan 1"}, {"$class", uid(8)}},
        qlonglong(-3), dictClass, stringClass, "ratio", 0.25};
    QString error;
    const QVariant back = unarchive(archive(objects), &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    // A shared reference is not a cycle.
    EXPECT_EQ(back, QVariant(QVariantMap{{"name", "Fan 1"}, {"limit", -3}, {"copy", "Fan 1"}, {"ratio", 0.25}}));
}

TEST(KeyedArchiveTest, DamagedArchivesAreInvalidWithAReason)
{
    const QVariantMap arrayClass{{"$classname", "NSArray"}, {"$classes", QVariantList{"NSArray", "NSObject"}}};
    QVariantList deep{"$null", arrayClass};
    // Deeper than any real archive; libplist reads long tables slowly, so no deeper.
    for (int i = 0; i < 2000; ++i)
        deep.append(QVariantMap{{"NS.objects", QVariantList{uid(deep.size() + 1)}}, {"$class", uid(1)}});
    deep.append("bottom");
    // Each array holds the next one twice: small here, 2^40 values for whoever walks the result.
    QVariantList shared{"$null", arrayClass};
    for (int i = 0; i < 40; ++i)
        shared.append(QVariantMap{{"NS.objects", QVariantList{uid(shared.size() + 1), uid(shared.size() + 1)}}, {"$class", uid(1)}});
    shared.append("bottom");

    const std::pair<const char*, QByteArray> cases[] = {
        {"garbage", "definitely not a property list"},
        {"plain plist", PropertyList::toData(QVariantMap{{"root", 1}}, PropertyList::Format::Binary)},
        {"no root", archive({"$null", "x"}, QVariantMap{{"other", uid(1)}})},
        {"no $top", archive({"$null", "x"}, QVariant())},
        {"uid out of range", archive({"$null", QVariantMap{{"NS.objects", QVariantList{uid(9)}}, {"$class", uid(2)}}, arrayClass})},
        {"class out of range", archive({"$null", QVariantMap{{"$class", uid(5)}}})},
        {"cycle", archive({"$null", QVariantMap{{"NS.objects", QVariantList{uid(1)}}, {"$class", uid(2)}}, arrayClass})},
        {"absurd nesting", archive(deep, QVariantMap{{"root", uid(2)}})},
        {"shared objects", archive(shared, QVariantMap{{"root", uid(2)}})},
        {"shared plist objects", crafted::sharedChildren(30)},
    };
    for (const auto& [name, bytes] : cases) {
        QString error;
        EXPECT_FALSE(unarchive(bytes, &error).isValid()) << name;
        EXPECT_FALSE(error.isEmpty()) << name;
        EXPECT_FALSE(error.contains('\n')) << name;
    }
}

}  // namespace
