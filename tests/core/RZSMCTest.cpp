#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

#include "FakeSMC.h"
#include "NSBundle.h"
#include "PropertyList.h"
#include "RZSMC.h"
#include "TestHome.h"
#include "VirtualSMC.h"

namespace {

RZSMCValue valueOf(const char* type, std::vector<uint8_t> bytes)
{
    RZSMCValue value{};
    std::memcpy(value.dataType, type, 5);
    value.dataSize = static_cast<uint32_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), value.bytes);
    return value;
}

// A bundle of the test's own whose key table is given as a property list value.
class TableBundle {
public:
    explicit TableBundle(const QVariantMap& table)
    {
        QDir().mkpath(m_dir.path() + "/Test.app/Contents/Resources");
        QFile file(m_dir.path() + "/Test.app/Contents/Resources/RZSMC.plist");
        file.open(QIODevice::WriteOnly);
        file.write(PropertyList::toData(table, PropertyList::Format::Xml));
        NSBundle::setMainBundlePathForTesting(m_dir.path() + "/Test.app");
    }
    ~TableBundle() { NSBundle::setMainBundlePathForTesting({}); }

private:
    QTemporaryDir m_dir;
};

QVariantMap entry(const QString& key, const QString& name, int group, double index)
{
    return {{"key", key}, {"name", name}, {"group", group}, {"index", index}};
}

using RZSMCFakeTest = FakeSMCTest;

TEST_F(RZSMCFakeTest, DecodingTable)
{
    const RZSMC smc;
    struct Case {
        const char* type;
        std::vector<uint8_t> bytes;
        float expected;
    } cases[] = {
        {"sp78", {0x2A, 0x80}, 42.5f},
        {"sp78", {0xFF, 0x00}, -1.0f},
        {"fpe2", {0x1F, 0x40}, 2000.0f},
        {"spf0", {0xFF, 0xFE}, 65534.0f},  // no sign extension
        {"si8 ", {0xFF}, 255.0f},
        {"si16", {0xFF, 0xFE}, 65534.0f},
        {"{pwm", {0x80, 0x00}, 50.0f},
        {"flt ", {0x00, 0x00, 0xFA, 0x44}, 2000.0f},
        {"fp88", {0x00, 0x00, 0x01, 0x00}, 0.0f},  // right type, wrong size
        {"ui8 ", {0x07}, 7.0f},
        {"ui16", {0x01, 0x02}, 258.0f},
        {"ui32", {0x00, 0x01, 0x00, 0x00}, 65536.0f},
        {"fp1f", {0x80, 0x00}, 1.0f},
        {"fp4c", {0x10, 0x00}, 1.0f},
        {"fp5b", {0x08, 0x00}, 1.0f},
        {"fp6a", {0x04, 0x00}, 1.0f},
        {"fp79", {0x02, 0x00}, 1.0f},
        {"fpa6", {0x00, 0x40}, 1.0f},
        {"fpc4", {0x00, 0x10}, 1.0f},
        {"sp1e", {0xC0, 0x00}, -1.0f},
        {"sp3c", {0xF0, 0x00}, -1.0f},
        {"sp4b", {0xF8, 0x00}, -1.0f},
        {"sp5a", {0xFC, 0x00}, -1.0f},
        {"sp69", {0xFE, 0x00}, -1.0f},
        {"sp87", {0xFF, 0x80}, -1.0f},
        {"sp96", {0xFF, 0xC0}, -1.0f},
        {"spb4", {0xFF, 0xF0}, -1.0f},
        {"ch8*", {0x41, 0x42}, 0.0f},  // unknown type
        {"sp78", {}, 0.0f},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(smc.convertToNumber(valueOf(c.type, c.bytes)), c.expected) << c.type;
}

TEST_F(RZSMCFakeTest, KeyListsFollowTheIndexAndWorkingListsDropZeroReadings)
{
    const TableBundle bundle({
        {"Temperature",
         QVariantMap{{"TC0P", entry("TC0P", "CPU Proximity", 1, 3)},
                     {"TG0P", entry("TG0P", "GPU Proximity", 2, 1)},
                     {"TM0P", entry("TM0P", "Memory Proximity", 3, 2)},
                     {"TN0P", entry("TN0P", "Nowhere", 4, 4)}}},
        {"Power", QVariantMap{{"PSTR", entry("PSTR", "System Total", 4, 0)}}},
    });
    fake->set("TC0P", "sp78", {0x2A, 0x80});
    fake->set("TG0P", "sp78", {0x00, 0x00});  // reads 0
    fake->set("TM0P", "sp78", {0x81, 0x00});  // -127 is a reading
    fake->set("PSTR", "flt ", {0x00, 0x00, 0xC0, 0x7F});  // NaN is not 0

    RZSMC smc;
    EXPECT_EQ(smc.allTempKeys(), QStringList({"TG0P", "TM0P", "TC0P", "TN0P"}));
    EXPECT_EQ(smc.workingTempKeys(), QStringList({"TM0P", "TC0P"}));
    EXPECT_EQ(smc.workingPowerKeys(), QStringList({"PSTR"}));
    EXPECT_TRUE(smc.allVoltageKeys().isEmpty());
    EXPECT_TRUE(smc.workingCurrentKeys().isEmpty());

    EXPECT_EQ(smc.humanReadableNameForKey("TM0P"), "Memory Proximity");
    EXPECT_EQ(smc.humanReadableNameForKey("PSTR"), "System Total");
    EXPECT_TRUE(smc.humanReadableNameForKey("F0Ac").isNull());
    EXPECT_EQ(smc.sensorGroupForKey("TG0P"), 2);
    EXPECT_EQ(smc.sensorGroupForKey("F0Ac"), 0);

    EXPECT_DOUBLE_EQ(smc.temperatureInCelsiusForKey("TC0P"), 42.5);
    EXPECT_DOUBLE_EQ(smc.temperatureInFahrenheitForKey("TC0P"), 108.5);
}

TEST_F(RZSMCFakeTest, MissingTableGivesEmptyListsAndNoNames)
{
    QTemporaryDir empty;
    NSBundle::setMainBundlePathForTesting(empty.path());
    RZSMC smc;
    NSBundle::setMainBundlePathForTesting({});
    EXPECT_TRUE(smc.allSensorsDict().isEmpty());
    EXPECT_TRUE(smc.allTempKeys().isEmpty());
    EXPECT_TRUE(smc.workingTempKeys().isEmpty());
    EXPECT_TRUE(smc.humanReadableNameForKey("TC0P").isNull());
}

TEST_F(RZSMCFakeTest, FansAndTheirDescriptions)
{
    fake->set("FNum", "ui8 ", {3});
    fake->set("F0Ac", "fpe2", {0x1F, 0x40});
    fake->set("F0Mn", "flt ", {0x00, 0x00, 0xFA, 0x44});
    fake->set("F0Mx", "fpe2", {0x5D, 0xC0});
    // Control bytes and spaces are dropped; bytes above 0x7F are kept.
    fake->set("F0ID", "{fds", {0x00, 0x12, 0x00, 0x00, 'L', 'e', 'f', 't', ' ', 'S', 'i', 'd', 'e', ' ', ' ', ' '});
    fake->set("F2ID", "{fds", {0x20, 0x20, 0x09, 0x00});

    RZSMC smc;
    EXPECT_EQ(smc.numberOfFans(), 3u);
    EXPECT_DOUBLE_EQ(smc.speedOfFan(0), 2000.0);
    EXPECT_DOUBLE_EQ(smc.safeMinimumSpeedOfFan(0), 2000.0);
    EXPECT_DOUBLE_EQ(smc.safeMaximumSpeedOfFan(0), 6000.0);
    EXPECT_EQ(smc.descriptionOfFan(0), "LeftSide");
    EXPECT_EQ(smc.descriptionOfFan(1), "Fan 2");  // unreadable
    EXPECT_EQ(smc.descriptionOfFan(2), "");       // readable, but nothing printable
    // Keys can name twenty fans; a larger index reads nothing instead of past the names.
    EXPECT_EQ(smc.speedOfFan(25), 0.0);
    EXPECT_EQ(smc.descriptionOfFan(25), "Fan 26");
}

TEST_F(RZSMCFakeTest, ChecksumIsTheFilesMD5)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("tool"));
    file.open(QIODevice::WriteOnly);
    file.write("abc");
    file.close();
    const RZSMC smc;
    EXPECT_EQ(smc.createCheckSum(file.fileName()), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_TRUE(smc.createCheckSum(dir.filePath("missing")).isNull());
    file.open(QIODevice::WriteOnly);  // an empty file has a checksum of its own
    file.close();
    EXPECT_EQ(smc.createCheckSum(file.fileName()), "d41d8cd98f00b204e9800998ecf8427e");
}

// The real key table against the virtual SMC's default profile.
TEST(RZSMCVirtualTest, DefaultProfileReadsThroughTheShippedTable)
{
    const TestHome home;
    smc::VirtualSMC virtualSMC;
    virtualSMC.freezeClock(1800000000);
    virtualSMC.setLoad(0.5);
    smcResetForTesting();
    NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
    RZSMC smc;
    NSBundle::setMainBundlePathForTesting({});

    const QStringList temps = smc.workingTempKeys();
    EXPECT_GT(smc.allTempKeys().size(), temps.size());
    EXPECT_GE(temps.size(), 15);
    EXPECT_TRUE(temps.contains("TC0P"));
    EXPECT_TRUE(temps.contains("TCXC"));  // an "flt " temperature
    EXPECT_FALSE(temps.contains("TL0P"));  // fitted but reading 0
    EXPECT_FALSE(temps.contains("TC0D"));  // not on this machine
    for (const QString& key : temps) {
        const double celsius = smc.rawValueForKey(key);
        EXPECT_GT(celsius, 20) << key.toStdString();
        EXPECT_LT(celsius, 110) << key.toStdString();
        EXPECT_FALSE(smc.humanReadableNameForKey(key).isEmpty());
        EXPECT_GT(smc.sensorGroupForKey(key), 0);
    }
    EXPECT_FALSE(smc.workingVoltageKeys().isEmpty());
    EXPECT_FALSE(smc.workingCurrentKeys().contains("IB0R"));
    EXPECT_TRUE(smc.workingPowerKeys().contains("PSTR"));

    ASSERT_EQ(smc.numberOfFans(), 2u);
    EXPECT_EQ(smc.descriptionOfFan(0), "LeftSide");
    EXPECT_EQ(smc.descriptionOfFan(1), "RightSide");
    for (unsigned long fan = 0; fan < 2; ++fan) {
        EXPECT_GE(smc.speedOfFan(fan), smc.safeMinimumSpeedOfFan(fan));
        EXPECT_LE(smc.speedOfFan(fan), smc.safeMaximumSpeedOfFan(fan));
    }
    smcResetForTesting();
}

}  // namespace
