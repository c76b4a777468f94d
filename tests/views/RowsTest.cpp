// The sensor and fan rows, filled from sensors of a store of their own.
#include <QApplication>
#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <cfloat>
#include <cmath>
#include <gtest/gtest.h>

#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLFanControlCellView.h"
#include "KLFanControlLogic.h"
#include "KLFanSet.h"
#include "KLFanSetDetailCellView.h"
#include "KLLevelIndicator.h"
#include "KLSensor.h"
#include "KLSensorCellView.h"
#include "NSAppearance.h"
#include "NSBundle.h"
#include "NSColor+KLExtension.h"
#include "PrivateBus.h"
#include "StoreFixture.h"
#include "TestHome.h"

namespace {

struct Told {
    int speed;
    KLSensor* sensor;
    bool viaSlider;
};

class Recorder : public KLFanSetDetailCellDelegate {
public:
    void fanSetDetailCellViewDidChangeSpeed(int speed, KLSensor* sensor, bool viaSlider) override
    {
        told.push_back({speed, sensor, viaSlider});
    }
    std::vector<Told> told;
};

class RowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The settings live in the home folder and post notices on the bus:
        // both are this process's own, made before the settings are first read.
        static PrivateBus bus;
        static TestHome home;
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
        KLDataManager::sharedInstance().setCurrentLanguage("en");
        KLDataManager::sharedInstance().setTempUnitCelsius(true);
        ASSERT_TRUE(store.opened) << store.error.toStdString();
    }

    KLSensor* sensor(int type, const QString& key, double value, double min, double max, int group = 1)
    {
        auto* category = dynamic_cast<KLCategory*>(store.insert("Category"));
        category->setType(type);
        auto* made = dynamic_cast<KLSensor*>(store.insert("Sensor"));
        made->setKey(key);
        made->setName(QStringLiteral("Sensor %1").arg(key));
        made->setValue(value);
        made->setMinValue(min);
        made->setMaxValue(max);
        made->setGroup(group);
        made->setCategory(category);
        return made;
    }
    KLSensor* fan(double min = 1200, double max = 6000) { return sensor(KLCategoryTypeFan, "0", 2000, min, max, 11); }

    QTemporaryDir dir;
    StoreConnection store{dir.filePath("rows.sqlite")};
};

TEST_F(RowsTest, SensorRowMarksByCategoryAndUnit)
{
    KLSensorCellView cell;
    KLLevelIndicator* bar = cell.indicator();
    KLDataManager::sharedInstance().setTempUnitCelsius(false);
    cell.setSensor(sensor(KLCategoryTypeTemperature, "TC0P", 50, 0, 110));
    EXPECT_DOUBLE_EQ(bar->warningValue(), 150.8);
    EXPECT_DOUBLE_EQ(bar->criticalValue(), 212);
    EXPECT_DOUBLE_EQ(bar->minValue(), 32);
    EXPECT_DOUBLE_EQ(bar->maxValue(), 230);
    EXPECT_DOUBLE_EQ(bar->doubleValue(), 122);
    cell.setSensor(sensor(KLCategoryTypeTemperature, "TG0D", 50, 0, 110));
    EXPECT_DOUBLE_EQ(bar->warningValue(), 194);
    KLDataManager::sharedInstance().setTempUnitCelsius(true);

    cell.setSensor(fan());
    EXPECT_DOUBLE_EQ(bar->warningValue(), 4800);
    EXPECT_DOUBLE_EQ(bar->criticalValue(), 5520);
    EXPECT_EQ(cell.valueField()->text(), "2000 rpm");

    // A reused row shows no marks, nor does a voltage.
    cell.prepareForReuse();
    EXPECT_EQ(bar->warningValue(), FLT_MAX);
    EXPECT_EQ(bar->criticalValue(), FLT_MAX);
    cell.setSensor(fan());
    cell.setSensor(sensor(KLCategoryTypeVoltage, "VP0R", 12.08, 0, 20, 9));
    EXPECT_EQ(bar->warningValue(), FLT_MAX);
    EXPECT_EQ(bar->criticalValue(), FLT_MAX);
    EXPECT_TRUE(bar->levelGeometry().marks.empty());
    EXPECT_EQ(cell.valueField()->text(), "12.08 V");
}

TEST_F(RowsTest, SensorRowTitleTurnsRedOnErrorReadings)
{
    KLSensorCellView cell;
    const QColor ink = cell.palette().color(QPalette::WindowText);
    cell.setSensor(sensor(KLCategoryTypeTemperature, "TC1C", -128, 0, 110));
    ASSERT_EQ(cell.sensor()->statusEnum(), KLSensorStatusCanNotBeRead);
    EXPECT_EQ(cell.titleField()->palette().color(QPalette::WindowText), KLExtension::appRedColor());
    EXPECT_EQ(cell.valueField()->text(), "-");
    EXPECT_EQ(cell.titleField()->text(), "Sensor TC1C");

    cell.setSensor(sensor(KLCategoryTypeVoltage, "VP0R", -0.5, 0, 20));
    EXPECT_EQ(cell.titleField()->palette().color(QPalette::WindowText), KLExtension::appRedColor());
    // Skipped (9) is the last status shown in the ordinary colour.
    cell.setSensor(sensor(KLCategoryTypeTemperature, "TC2C", -127, 0, 110));
    EXPECT_EQ(cell.titleField()->palette().color(QPalette::WindowText), ink);

    cell.setSensor(nullptr);
    EXPECT_EQ(cell.titleField()->text(), "--");
    EXPECT_EQ(cell.valueField()->text(), "--");
}

TEST_F(RowsTest, FanRowShowsTheProgramWideMode)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    KLFanControlCellView cell;
    settings.setFanControlMode(KLFanControlModeSystem);
    cell.setSensor(fan());
    EXPECT_EQ(cell.modeTextField()->text(), "System Control");
    settings.setFanControlMode(KLFanControlModeAutoBoost);
    cell.updateUI();
    EXPECT_EQ(cell.modeTextField()->text(), "Auto Boost");
    settings.setFanControlMode(KLFanControlModeFanSet);
    settings.setFanSetName({});
    cell.updateUI();
    EXPECT_EQ(cell.modeTextField()->text(), "--");
    settings.setFanSetName("Quiet");
    cell.updateUI();
    EXPECT_EQ(cell.modeTextField()->text(), "Quiet");
    settings.setFanControlMode(KLFanControlModeSystem);
}

TEST_F(RowsTest, FanSetRowTextsAndTypedSpeeds)
{
    KLSensor* theFan = fan();
    Recorder recorder;
    KLFanSetDetailCellView cell;
    cell.setDelegate(&recorder);
    cell.setFanSet(KLFanSet::fanSetWithName("Empty", KLFanSpeeds{}, store.context.get()));
    cell.setSensor(theFan);
    EXPECT_EQ(cell.speedTextField()->text(), "1200 (0%)");
    EXPECT_EQ(cell.speedSlider()->minimum(), 1200);
    EXPECT_EQ(cell.speedSlider()->maximum(), 6000);

    cell.setFanSet(KLFanSet::fanSetWithName("Half", KLFanSpeeds{{"0", 3600}}, store.context.get()));
    cell.setSensor(theFan);
    EXPECT_EQ(cell.speedTextField()->text(), "3600 (50%)");
    EXPECT_EQ(cell.speedSlider()->value(), 3600);
    // Filling the row is not a choice of the user's.
    EXPECT_TRUE(recorder.told.empty());

    cell.textFieldDidBecomeFirstResponder(cell.speedTextField());
    EXPECT_EQ(cell.speedTextField()->text(), "3600");
    for (const char* typed : {"9000", "abc", " 2500.9rpm", "-5"}) {
        cell.speedTextField()->setText(QString::fromLatin1(typed));
        emit cell.speedTextField()->editingFinished();
    }
    ASSERT_EQ(recorder.told.size(), 4u);
    EXPECT_EQ(recorder.told[0].speed, 6000);
    EXPECT_FALSE(recorder.told[0].viaSlider);
    EXPECT_EQ(recorder.told[0].sensor, theFan);
    EXPECT_EQ(recorder.told[1].speed, 1200);
    EXPECT_EQ(recorder.told[2].speed, 2500);
    EXPECT_EQ(recorder.told[3].speed, 1200);
    // The row keeps its value until the delegate fills it again.
    EXPECT_EQ(cell.forcedValue(), 3600);

    // A speed a button set shows the button's share, though its rpm were truncated.
    KLSensor* left = fan(2160, 5927);
    for (const int share : {25, 50, 75, 100}) {
        const long long speed = KLFanControlLogic::speedForFraction(share / 100.0, 2160, 5927);
        cell.setFanSet(KLFanSet::fanSetWithName(QStringLiteral("At %1").arg(share), KLFanSpeeds{{"0", speed}},
                                                store.context.get()));
        cell.setSensor(left);
        EXPECT_EQ(cell.speedTextField()->text(), QStringLiteral("%1 (%2%)").arg(speed).arg(share));
    }
    // Other speeds still show their share truncated, and the minimum 0 %.
    EXPECT_EQ(KLFanSetDetailCellView::percentage(3100, 2160, 5927), 24);
    EXPECT_EQ(KLFanSetDetailCellView::percentage(5926, 2160, 5927), 99);
    EXPECT_EQ(KLFanSetDetailCellView::percentage(1010, 1000, 1050), 20);
    EXPECT_EQ(KLFanSetDetailCellView::percentage(1000, 1000, 1050), 0);

    // A fan with no range is at 100 % once at its maximum, 0 % below it.
    cell.setFanSet(nullptr);
    cell.setSensor(fan(2000, 2000));
    EXPECT_EQ(cell.speedTextField()->text(), "2000 (100%)");

    // In the dark appearance the field stands out from the table it sits on.
    NSAppearance::forceDarkModeForTesting(true);
    cell.setSensor(theFan);
    EXPECT_NE(cell.speedTextField()->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
    NSAppearance::forceDarkModeForTesting(std::nullopt);
    EXPECT_EQ(KLFanSetDetailCellView::percentage(1500, 2000, 2000), 0);
    EXPECT_EQ(KLFanSetDetailCellView::percentage(1999, 1200, 6000), 16);
}

TEST_F(RowsTest, SliderIsToldAtReleaseAndOnEachKeyStep)
{
    KLSensor* theFan = fan();
    Recorder recorder;
    KLFanSetDetailCellView cell;
    cell.setDelegate(&recorder);
    cell.setFanSet(KLFanSet::fanSetWithName("Low", KLFanSpeeds{{"0", 2000}}, store.context.get()));
    cell.setSensor(theFan);
    QSlider* slider = cell.speedSlider();

    slider->setSliderDown(true);
    for (const int step : {2500, 3000, 3600, 4000}) {
        slider->setSliderPosition(step);
        EXPECT_EQ(cell.speedTextField()->text(),
                  QStringLiteral("%1 (%2%)").arg(step).arg(KLFanSetDetailCellView::percentage(step, 1200, 6000)));
    }
    EXPECT_TRUE(recorder.told.empty());
    slider->setSliderDown(false);
    ASSERT_EQ(recorder.told.size(), 1u);
    EXPECT_EQ(recorder.told[0].speed, 4000);
    EXPECT_TRUE(recorder.told[0].viaSlider);

    QTest::keyClick(slider, Qt::Key_Right);
    ASSERT_EQ(recorder.told.size(), 2u);
    EXPECT_EQ(recorder.told[1].speed, 4000 + slider->singleStep());
    EXPECT_EQ(cell.forcedValue(), 4000 + slider->singleStep());
}

TEST(LevelIndicatorGeometry, EdgesOfTheRange)
{
    using G = KLLevelIndicatorGeometry;
    // A range with no width: full at its value, empty below; never a mark.
    EXPECT_EQ(G::fraction(50, 50, 50), 1);
    EXPECT_EQ(G::fraction(49, 50, 50), 0);
    EXPECT_LT(G::markFraction(50, 50, 50), 0);
    EXPECT_EQ(G::fraction(std::nan(""), 0, 100), 0);
    EXPECT_EQ(G::fraction(150, 0, 100), 1);
    EXPECT_EQ(G::fraction(-5, 0, 100), 0);
    EXPECT_LT(G::markFraction(FLT_MAX, 0, FLT_MAX), 0);
    EXPECT_LT(G::markFraction(101, 0, 100), 0);

    const G bar = G::make(QSizeF(100, 14), 1, 0, 100, 50, 75, FLT_MAX);
    EXPECT_EQ(bar.track, QRectF(1, 4, 98, 6));
    EXPECT_EQ(bar.fill, QRectF(1, 4, 49, 6));
    ASSERT_EQ(bar.marks.size(), 1u);
    EXPECT_DOUBLE_EQ(bar.marks[0], 75);  // 73.5 rounds to a whole pixel
    // Marks at both ends stay on the bar.
    const G ends = G::make(QSizeF(100, 14), 2, 0, 100, 0, 0, 100);
    EXPECT_EQ(ends.marks, (std::vector<double>{1, 99}));
    EXPECT_TRUE(ends.fill.isEmpty());
    EXPECT_TRUE(G::make(QSizeF(100, 14), 1, 20, 20, 20, 20, 20).marks.empty());

    // Higher is worse unless warning lies above critical.
    EXPECT_EQ(G::levelOf(80, 75, 90), KLLevel::Warning);
    EXPECT_EQ(G::levelOf(90, 75, 90), KLLevel::Critical);
    EXPECT_EQ(G::levelOf(74, 75, 90), KLLevel::Normal);
    EXPECT_EQ(G::levelOf(1e30, FLT_MAX, FLT_MAX), KLLevel::Normal);
    EXPECT_EQ(G::levelOf(15, 20, 10), KLLevel::Warning);
    EXPECT_EQ(G::levelOf(10, 20, 10), KLLevel::Critical);
}

}  // namespace
