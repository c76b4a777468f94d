#include <QDateTime>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLGraphPoint.h"
#include "KLSensor.h"
#include "NSBundle.h"
#include "NSString+KLExtension.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "StoreFixture.h"
#include "TestHome.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Each test is its own process: the shared manager and store are new for each.
class SensorValuesTest : public ::testing::Test {
protected:
    PrivateBus bus;  // the unit and language setters post notices
    void SetUp() override
    {
        testApplication();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
        // Created first, so whatever it seeds is in place before the test's own rows.
        settings().setCurrentLanguage("en");
    }
    void TearDown() override { NSBundle::setMainBundlePathForTesting({}); }
    static KLDataManager& settings() { return KLDataManager::sharedInstance(); }
    static NSManagedObjectContext* context() { return KLCoreDataHelper::sharedInstance().masterContext(); }

    // A new row each time, never one found by key.
    static KLSensor* sensor(int type, const QString& key, double value, double min = 0, double max = 110,
                            const QString& name = {})
    {
        auto* category = dynamic_cast<KLCategory*>(context()->insertNewObjectForEntityForName("Category"));
        category->setType(type);
        KLSensor* made = uncategorized(key, value);
        made->setMinValue(min);
        made->setMaxValue(max);
        made->setName(name.isEmpty() ? key : name);
        made->setCategory(category);
        return made;
    }
    static KLSensor* uncategorized(const QString& key, double value)
    {
        auto* made = dynamic_cast<KLSensor*>(context()->insertNewObjectForEntityForName("Sensor"));
        made->setKey(key);
        made->setValue(value);
        return made;
    }
    static KLGraphPoint* point(KLSensor* owner, double y, int range = KLGraphTimeRangeHour)
    {
        KLGraphPoint* made = KLGraphPoint::newGraphPoint();
        made->setPointY(y);
        made->setTimeRange(range);
        if (owner)
            owner->addGraphPointsObject(made);
        return made;
    }
    TestHome home;
};

TEST_F(SensorValuesTest, ValueAndUnitTextsByCategoryType)
{
    EXPECT_EQ(KLSensor::stringFromValue(45.6, KLCategoryTypeTemperature), "46");
    EXPECT_EQ(KLSensor::stringFromValue(1234.4, KLCategoryTypeFan), "1234");
    EXPECT_EQ(KLSensor::stringFromValue(12.081, KLCategoryTypeVoltage), "12.08");
    EXPECT_EQ(KLSensor::stringFromValue(1.5, KLCategoryTypeCurrent), "1.50");
    EXPECT_EQ(KLSensor::stringFromValue(30, KLCategoryTypePower), "30.00");
    EXPECT_EQ(KLSensor::stringFromValue(7, 9), "7.00");
    // "%.0f" takes exact halves to the even neighbour, and never a decimal comma.
    EXPECT_EQ(KLSensor::stringFromValue(44.5, KLCategoryTypeTemperature), "44");
    EXPECT_EQ(KLSensor::stringFromValue(45.5, KLCategoryTypeTemperature), "46");
    EXPECT_EQ(KLSensor::stringFromValue(-3.25, KLCategoryTypeVoltage), "-3.25");

    const QStringList shortUnits{"°", "rpm", "V", "A", "W"};
    const QStringList longUnits{"°C", "rpm", "V", "A", "W"};
    for (int type = 0; type < 5; ++type) {
        EXPECT_EQ(KLSensor::unitStringFromCategoryType(type, true), shortUnits[type]) << type;
        EXPECT_EQ(KLSensor::unitStringFromCategoryType(type, false), longUnits[type]) << type;
    }
    EXPECT_TRUE(KLSensor::unitStringFromCategoryType(5, false).isNull());
    EXPECT_TRUE(KLSensor::unitStringFromCategoryType(-1, true).isNull());

    struct Case {
        double value;
        int type;
        const char* plain;
        const char* tidy;
    };
    const Case cases[] = {
        {45, KLCategoryTypeTemperature, "45°", "45°"},
        {0, KLCategoryTypeTemperature, "0°", "0°"},
        {1200, KLCategoryTypeFan, "1200 rpm", "1200rpm"},
        {12.08, KLCategoryTypeVoltage, "12.08 V", "12.08V"},
        {0.5, KLCategoryTypeCurrent, "0.50 A", "0.50A"},
        {61.234, KLCategoryTypePower, "61.23 W", "61.23W"},
        {-0.5, KLCategoryTypeVoltage, "-", "-"},
        {-1, KLCategoryTypeTemperature, "-", "-"},
        {NaN, KLCategoryTypeFan, "-", "-"},
        {3, 7, "3.00", "3.00"},  // no unit: the bare number
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KLSensor::fullStringFromValue(c.value, c.type, false), c.plain) << c.value << " type " << c.type;
        EXPECT_EQ(KLSensor::fullStringFromValue(c.value, c.type, true), c.tidy) << c.value << " type " << c.type;
    }

    // Only the long temperature unit follows the setting, read at each call.
    settings().setTempUnitCelsius(false);
    EXPECT_EQ(KLSensor::unitStringFromCategoryType(KLCategoryTypeTemperature, false), "°F");
    EXPECT_EQ(KLSensor::unitStringFromCategoryType(KLCategoryTypeTemperature, true), "°");
    EXPECT_EQ(KLSensor::fullStringFromValue(45, KLCategoryTypeTemperature, false), "45°");
    EXPECT_DOUBLE_EQ(KLSensor::convertedTemp(-40), -40);
    EXPECT_DOUBLE_EQ(KLSensor::convertedTemp(37), 98.6);
    settings().setTempUnitCelsius(true);
    EXPECT_EQ(KLSensor::unitStringFromCategoryType(KLCategoryTypeTemperature, false), "°C");
    EXPECT_DOUBLE_EQ(KLSensor::convertedTemp(37), 37);
}

struct TempCase {
    const char* key;
    double value;
    int status;
    const char* celsiusExplanation;     // null: none
    const char* fahrenheitExplanation;  // null: none
};

// Boundaries of the temperature rules; the thresholds are stated in Celsius
// and shown in the chosen unit.
const TempCase tempCases[] = {
    {"TC0P", 65.99, 1, "Sensor Temperature < 66°", "Sensor Temperature < 151°"},
    {"TC0P", 66, 2, "Sensor Temperature >= 66°", "Sensor Temperature >= 151°"},
    {"TC0P", 99.99, 2, "Sensor Temperature >= 66°", "Sensor Temperature >= 151°"},
    {"TC0P", 100, 3, "Sensor Temperature >= 100°", "Sensor Temperature >= 212°"},
    {"TC0D", 66, 1, "Sensor Temperature < 90°", "Sensor Temperature < 194°"},
    {"TC0D", 89.99, 1, "Sensor Temperature < 90°", "Sensor Temperature < 194°"},
    {"TC0D", 90, 2, "Sensor Temperature >= 90°", "Sensor Temperature >= 194°"},
    {"TC0D", 95, 2, "Sensor Temperature >= 90°", "Sensor Temperature >= 194°"},
    {"TC0D", 100, 3, "Sensor Temperature >= 100°", "Sensor Temperature >= 212°"},
    {"TC0D", 0, 1, "Sensor Temperature < 90°", "Sensor Temperature < 194°"},
    {"TC0D", -123.5, 1, "Sensor Temperature < 90°", "Sensor Temperature < 194°"},
    {"TC0D", -124, 13, nullptr, nullptr},
    {"TC0D", -125, 12, nullptr, nullptr},
    {"TC0D", -126, 11, nullptr, nullptr},
    {"TC0D", -127, 9, nullptr, nullptr},
    {"TC0D", -128, 10, nullptr, nullptr},
    {"TC0D", -124.5, 14, nullptr, nullptr},
    {"TC0D", -129, 14, nullptr, nullptr},
    {"TC0P", -1000, 14, nullptr, nullptr},
    {"TC0D", NaN, 14, nullptr, nullptr},
};

class TemperatureStatusTest : public SensorValuesTest {
protected:
    void expectStatuses(bool celsius)
    {
        for (const TempCase& c : tempCases) {
            KLSensor* s = sensor(KLCategoryTypeTemperature, c.key, c.value);
            const char* expected = celsius ? c.celsiusExplanation : c.fahrenheitExplanation;
            SCOPED_TRACE(::testing::Message() << c.key << " at " << c.value << (celsius ? " C" : " F"));
            EXPECT_EQ(s->statusEnum(), c.status);
            EXPECT_EQ(s->isNormalCondition(), c.status == 1);
            if (expected)
                EXPECT_EQ(s->statusExplanation(), expected);
            else
                EXPECT_TRUE(s->statusExplanation().isNull());
        }
    }
};

TEST_F(TemperatureStatusTest, AtEachBoundaryInCelsius)
{
    expectStatuses(true);
}

TEST_F(TemperatureStatusTest, AtEachBoundaryInFahrenheitFromTheRawReading)
{
    settings().setTempUnitCelsius(false);
    expectStatuses(false);
}

TEST_F(SensorValuesTest, TemperatureValuesFollowTheChosenUnit)
{
    KLSensor* cpu = sensor(KLCategoryTypeTemperature, "TC0P", 100, 0, 110);
    EXPECT_TRUE(cpu->isCPUProximitySensor());
    EXPECT_FALSE(sensor(KLCategoryTypeTemperature, "TC0D", 40)->isCPUProximitySensor());
    EXPECT_EQ(cpu->fullStringValue(), "100°");
    EXPECT_EQ(cpu->tidyStringValue(), "100°");
    EXPECT_EQ(cpu->unitString(), "°C");
    EXPECT_DOUBLE_EQ(cpu->convertedValue(), 100);

    settings().setTempUnitCelsius(false);
    EXPECT_DOUBLE_EQ(cpu->convertedValue(), 212);
    EXPECT_DOUBLE_EQ(cpu->convertedMinValue(), 32);
    EXPECT_DOUBLE_EQ(cpu->convertedMaxValue(), 230);
    EXPECT_EQ(cpu->fullStringValue(), "212°");
    EXPECT_EQ(cpu->tidyStringValue(), "212°");
    EXPECT_EQ(cpu->unitString(), "°F");
    EXPECT_EQ(cpu->statusEnum(), KLSensorStatusVeryHighTemp);
    EXPECT_EQ(cpu->statusExplanation(), "Sensor Temperature >= 212°");
    EXPECT_DOUBLE_EQ(cpu->value(), 100);  // the store keeps Celsius

    // An error reading converts below zero and so reads "-" in either unit.
    KLSensor* skipped = sensor(KLCategoryTypeTemperature, "TC0D", -127);
    EXPECT_EQ(skipped->fullStringValue(), "-");
    settings().setTempUnitCelsius(true);
    EXPECT_EQ(skipped->fullStringValue(), "-");
    EXPECT_EQ(skipped->statusDisplay(), "Reading skipped");

    // A sensor without a category counts as a temperature.
    KLSensor* loose = uncategorized("TXXX", 50);
    EXPECT_EQ(loose->categoryType(), KLCategoryTypeTemperature);
    EXPECT_EQ(loose->statusEnum(), KLSensorStatusNormalTemp);
    EXPECT_EQ(loose->unitString(), "°C");
    settings().setTempUnitCelsius(false);
    EXPECT_DOUBLE_EQ(loose->convertedValue(), 122);
    EXPECT_EQ(loose->fullStringValue(), "122°");
}

TEST_F(SensorValuesTest, FanStatusAtEachBoundary)
{
    struct Case {
        double value;
        int status;
        const char* explanation;
    };
    // Range 5000: 75 % is 4950 rpm, 90 % is 5700 rpm.
    const Case cases[] = {
        {0, 4, "Sensor Fan Speed = 0"},
        {1, 5, "Sensor Fan Speed < 4950 rpm"},
        {1200, 5, "Sensor Fan Speed < 4950 rpm"},
        {4949, 5, "Sensor Fan Speed < 4950 rpm"},
        {4950, 6, "Sensor Fan Speed >= 4950 rpm"},
        {5699.9, 6, "Sensor Fan Speed >= 4950 rpm"},
        {5700, 7, "Sensor Fan Speed >= 5700 rpm"},
        {6500, 7, "Sensor Fan Speed >= 5700 rpm"},
    };
    settings().setTempUnitCelsius(false);  // fans never convert
    for (const Case& c : cases) {
        KLSensor* fan = sensor(KLCategoryTypeFan, "0", c.value, 1200, 6200, "LeftSide");
        SCOPED_TRACE(c.value);
        EXPECT_EQ(fan->statusEnum(), c.status);
        EXPECT_EQ(fan->isNormalCondition(), c.status == 5);
        EXPECT_EQ(fan->statusExplanation(), c.explanation);
        EXPECT_DOUBLE_EQ(fan->convertedValue(), c.value);
    }
    KLSensor* fan = sensor(KLCategoryTypeFan, "1", 1200, 1200, 6200, "RightSide");
    EXPECT_EQ(fan->fullStringValue(), "1200 rpm");
    EXPECT_EQ(fan->tidyStringValue(), "1200rpm");
    EXPECT_EQ(fan->unitString(), "rpm");
    EXPECT_DOUBLE_EQ(fan->convertedMinValue(), 1200);
    EXPECT_DOUBLE_EQ(fan->convertedMaxValue(), 6200);
    EXPECT_FALSE(fan->isCPUProximitySensor());

    // The range counts whichever way round the limits were stored.
    KLSensor* reversed = sensor(KLCategoryTypeFan, "2", 2900, 2000, 1000);
    EXPECT_EQ(reversed->statusEnum(), KLSensorStatusVeryHighSpeed);
    EXPECT_EQ(reversed->statusExplanation(), "Sensor Fan Speed >= 2900 rpm");
    reversed->setValue(2899);
    EXPECT_EQ(reversed->statusEnum(), KLSensorStatusHighSpeed);
    EXPECT_EQ(reversed->statusExplanation(), "Sensor Fan Speed >= 2750 rpm");
}

TEST_F(SensorValuesTest, VoltageCurrentAndPowerAreOkFromZeroUp)
{
    settings().setTempUnitCelsius(false);  // only temperatures convert
    KLSensor* volts = sensor(KLCategoryTypeVoltage, "VP0R", 12.08, 10, 13);
    EXPECT_EQ(volts->statusEnum(), KLSensorStatusOK);
    EXPECT_TRUE(volts->isNormalCondition());
    EXPECT_EQ(volts->fullStringValue(), "12.08 V");
    EXPECT_EQ(volts->tidyStringValue(), "12.08V");
    EXPECT_EQ(volts->unitString(), "V");
    EXPECT_DOUBLE_EQ(volts->convertedValue(), 12.08);
    EXPECT_DOUBLE_EQ(volts->convertedMinValue(), 10);
    EXPECT_DOUBLE_EQ(volts->convertedMaxValue(), 13);
    EXPECT_TRUE(volts->statusExplanation().isNull());
    EXPECT_EQ(volts->statusDisplay(), "OK");

    volts->setValue(-0.5);
    EXPECT_EQ(volts->statusEnum(), KLSensorStatusError);
    EXPECT_FALSE(volts->isNormalCondition());
    EXPECT_EQ(volts->fullStringValue(), "-");
    EXPECT_EQ(volts->statusDisplay(), "Sensor error");
    EXPECT_TRUE(volts->statusExplanation().isNull());

    KLSensor* amps = sensor(KLCategoryTypeCurrent, "IC0C", 0);
    EXPECT_EQ(amps->statusEnum(), KLSensorStatusOK);
    EXPECT_EQ(amps->fullStringValue(), "0.00 A");
    amps->setValue(NaN);
    EXPECT_EQ(amps->statusEnum(), KLSensorStatusError);

    KLSensor* watts = sensor(KLCategoryTypePower, "PCPC", 150);
    EXPECT_EQ(watts->statusEnum(), KLSensorStatusOK);
    EXPECT_EQ(watts->fullStringValue(), "150.00 W");
    EXPECT_EQ(watts->tidyStringValue(), "150.00W");
    EXPECT_EQ(watts->unitString(), "W");
    watts->setValue(-100);  // even far below, no temperature error codes
    EXPECT_EQ(watts->statusEnum(), KLSensorStatusError);
}

TEST_F(SensorValuesTest, StatusTextsAreLocalizedInEveryLanguage)
{
    const char* english[] = {"Normal temperature", "High temperature", "Very high temperature", "Not spinning",
                             "Normal speed", "High speed", "Very high speed", "OK", "Reading skipped",
                             "Temperature cannot be read", "Sensor failed to initialize",
                             "Temperature below allowed minimum", "Unstable temperature", "Sensor error"};
    for (int code = 1; code <= 14; ++code)
        EXPECT_EQ(KLSensor::statusDisplayForStatus(code), english[code - 1]) << code;
    for (int code : {0, 15, -1})
        EXPECT_EQ(KLSensor::statusDisplayForStatus(code), "--") << code;

    // Every table has a text of its own for every status.
    for (const QString& language : settings().allLanguages()) {
        settings().setCurrentLanguage(language);
        QStringList texts;
        for (int code = 1; code <= 14; ++code) {
            const QString text = KLSensor::statusDisplayForStatus(code);
            EXPECT_FALSE(text.startsWith("sensor-status-display")) << language.toStdString() << " " << code;
            EXPECT_FALSE(texts.contains(text)) << language.toStdString() << " " << code;
            texts << text;
        }
    }

    settings().setCurrentLanguage("fr");
    EXPECT_EQ(sensor(KLCategoryTypeTemperature, "TC0D", 45)->statusDisplay(), "Température normale");
    EXPECT_EQ(sensor(KLCategoryTypeFan, "0", 0, 1200, 6200)->statusDisplay(), "À l’arrêt");
    // The explanations stay English.
    EXPECT_EQ(sensor(KLCategoryTypeTemperature, "TC0D", 45)->statusExplanation(), "Sensor Temperature < 90°");
}

TEST_F(SensorValuesTest, DescriptionsAreLookedUpByFanNameOrSensorKey)
{
    EXPECT_EQ(sensor(KLCategoryTypeFan, "0", 1200, 1200, 6200, "LeftSide")->sensorDescription(), "Left-side fan");
    EXPECT_EQ(sensor(KLCategoryTypeFan, "1", 1200, 1200, 6200, "Exhaust 7")->sensorDescription(), "Exhaust 7");
    EXPECT_EQ(sensor(KLCategoryTypeTemperature, "TC0P", 45, 0, 110, "CPU Proximity")->sensorDescription(),
              "Temperature near the CPU (TC0P)");
    EXPECT_EQ(sensor(KLCategoryTypeVoltage, "VP0R", 12)->sensorDescription(), "12 V rail voltage (VP0R)");
    EXPECT_EQ(sensor(KLCategoryTypeTemperature, "TZZZ", 45)->sensorDescription(), "TZZZ (TZZZ)");

    settings().setCurrentLanguage("de");
    EXPECT_EQ(sensor(KLCategoryTypeFan, "0", 1200, 1200, 6200, "LeftSide")->sensorDescription(),
              KLExtension::localizedStringForKey("LeftSide", "de"));
    EXPECT_NE(sensor(KLCategoryTypeFan, "0", 1200, 1200, 6200, "LeftSide")->sensorDescription(), "Left-side fan");
    const QString cpu = sensor(KLCategoryTypeTemperature, "TC0P", 45)->sensorDescription();
    EXPECT_TRUE(cpu.endsWith(" (TC0P)"));
    EXPECT_NE(cpu, "Temperature near the CPU (TC0P)");
}

TEST_F(SensorValuesTest, HistoryIsSplitByRangeInOrder)
{
    KLSensor* cpu = sensor(KLCategoryTypeTemperature, "TC0P", 45);
    KLGraphPoint* h1 = point(cpu, 40, KLGraphTimeRangeHour);
    KLGraphPoint* w1 = point(cpu, 41, KLGraphTimeRangeWeek);
    KLGraphPoint* d1 = point(cpu, 42, KLGraphTimeRangeDay);
    KLGraphPoint* h2 = point(cpu, 43, KLGraphTimeRangeHour);
    KLGraphPoint* w2 = point(cpu, 44, KLGraphTimeRangeWeek);
    KLGraphPoint* h3 = point(cpu, 45, KLGraphTimeRangeHour);
    point(sensor(KLCategoryTypeTemperature, "TC0D", 50), 50, KLGraphTimeRangeHour);  // another sensor's

    EXPECT_EQ(cpu->hourGraphPoints(), QList<KLGraphPoint*>({h1, h2, h3}));
    EXPECT_EQ(cpu->dayGraphPoints(), QList<KLGraphPoint*>({d1}));
    EXPECT_EQ(cpu->weekGraphPoints(), QList<KLGraphPoint*>({w1, w2}));
    EXPECT_TRUE(sensor(KLCategoryTypeFan, "0", 0)->hourGraphPoints().isEmpty());
}

TEST_F(SensorValuesTest, GraphPointTitleAndValueText)
{
    KLGraphPoint* p = point(sensor(KLCategoryTypeTemperature, "TC0P", 45), 50);
    p->setPointX(QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9)).toSecsSinceEpoch());
    EXPECT_EQ(p->title(), "3/05/2024\n07:08:09");
    p->setPointX(QDateTime(QDate(2023, 12, 31), QTime(23, 59, 59)).toSecsSinceEpoch() + 0.4);
    EXPECT_EQ(p->title(), "12/31/2023\n23:59:59");

    EXPECT_EQ(p->valueString(), "50°");
    KLGraphPoint* fan = point(sensor(KLCategoryTypeFan, "0", 1200, 1200, 6200), 2400);
    KLGraphPoint* volts = point(sensor(KLCategoryTypeVoltage, "VP0R", 12), 12.08);
    KLGraphPoint* loose = point(nullptr, 50);  // no sensor: read as a temperature
    KLGraphPoint* broken = point(sensor(KLCategoryTypeTemperature, "TC0D", 0), -128);
    EXPECT_EQ(fan->valueString(), "2400 rpm");
    EXPECT_EQ(volts->valueString(), "12.08 V");
    EXPECT_EQ(loose->valueString(), "50°");
    EXPECT_EQ(broken->valueString(), "-");

    settings().setTempUnitCelsius(false);
    EXPECT_EQ(p->valueString(), "122°");
    EXPECT_EQ(loose->valueString(), "122°");
    EXPECT_EQ(fan->valueString(), "2400 rpm");
    EXPECT_EQ(volts->valueString(), "12.08 V");
    EXPECT_DOUBLE_EQ(p->pointY(), 50);  // the stored point stays raw
}

// Another program reads a reading that is not a number as one: an error, not 0° and normal.
TEST_F(SensorValuesTest, ANaNReadingIsAnErrorInAnotherProgram)
{
    sensor(KLCategoryTypeTemperature, "TX9Z", NaN);
    ASSERT_TRUE(context()->save());
    StoreConnection other(KLCoreDataHelper::sharedInstance().applicationDocumentsDirectory() + "/Database.sqlite");
    const auto found = other.fetch("Sensor", NSPredicate::withFormat("key = 'TX9Z'"));
    ASSERT_EQ(found.size(), 1);
    auto* seen = dynamic_cast<KLSensor*>(found.first());
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->statusEnum(), 14);
    EXPECT_EQ(seen->fullStringValue(), "-");
}

}  // namespace
