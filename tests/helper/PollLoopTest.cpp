#include <QTimer>
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLGraphPoint.h"
#include "KLKelvara.h"
#include "KLSensor.h"
#include "NSBundle.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "TestHome.h"
#include "VirtualSMC.h"

namespace {

constexpr double kStart = 1.8e9;

// The loop in this process, over a small catalogue on the simulated Mac, with
// a clock that moves only when the test says so. As the helper's own build,
// the settings store builds nothing here.
class PollLoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApplication();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR "/Contents/Components/Kelvara Helper.app");
        smc::VirtualSMC smc;
        smc.freezeClock(kStart);
        smc.setLoad(0.5);
        smc.setKeyValue("TC0P", 41.25);
        smc.setKeyValue("VD0R", 12.0);
        temperature = addSensor(KLCategoryTypeTemperature, "TC0P");
        fan = addSensor(KLCategoryTypeFan, "0");
        voltage = addSensor(KLCategoryTypeVoltage, "VD0R");
    }
    void TearDown() override { NSBundle::setMainBundlePathForTesting({}); }

    static KLSensor* addSensor(int type, const QString& key)
    {
        KLCategory* category = KLCategory::categoryWithName(QString::number(type));
        category->setType(type);
        KLSensor* sensor = KLSensor::sensorWithKey(key);
        sensor->setCategory(category);
        category->setSensors(category->sensors() << sensor);
        return sensor;
    }
    // The frequency notice has gone round before the loop exists to hear it.
    static void setFrequency(unsigned frequency)
    {
        KLDataManager::sharedInstance().setUpdateFrequency(frequency);
        drainMainQueue();
    }
    // Made after the catalogue: the loop reads its categories once.
    KLKelvara& loop()
    {
        if (!m_loop) {
            m_loop = std::make_unique<KLKelvara>();
            m_loop->setClockForTesting([this] { return QDateTime::fromMSecsSinceEpoch(qint64(now * 1000)); });
        }
        return *m_loop;
    }
    // Ticks as the timer would, the clock moving one interval each.
    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            loop().fireTrackingTemp();
            now += loop().interval();
        }
        drainMainQueue();
    }
    static KLGraphPoint* pointAt(KLSensor* sensor, double x, int range)
    {
        KLGraphPoint* point = KLGraphPoint::newGraphPoint();
        point->setPointX(x);
        point->setPointY(50);
        point->setTimeRange(range);
        point->setSensor(sensor);
        sensor->addGraphPointsObject(point);
        return point;
    }
    static QList<int> ranges(KLSensor* sensor)
    {
        QList<int> result;
        for (KLGraphPoint* point : sensor->graphPoints())
            result << point->timeRange();
        return result;
    }

    PrivateBus bus;
    TestHome home;
    KLSensor* temperature = nullptr;
    KLSensor* fan = nullptr;
    KLSensor* voltage = nullptr;
    double now = kStart;
    std::unique_ptr<KLKelvara> m_loop;
};

TEST_F(PollLoopTest, AtTwoSecondsTheFirstHourPointComesOnTheFifthTickAndEveryKindOnTheirOwnCadence)
{
    tick(4);
    EXPECT_DOUBLE_EQ(temperature->value(), 41.25);
    EXPECT_GT(fan->value(), 0);
    EXPECT_TRUE(temperature->graphPoints().isEmpty());
    tick();
    ASSERT_EQ(ranges(temperature), QList<int>({0}));
    EXPECT_DOUBLE_EQ(temperature->graphPoints().first()->pointX(), kStart + 8);
    EXPECT_DOUBLE_EQ(temperature->graphPoints().first()->pointY(), 41.25);
    EXPECT_EQ(temperature->graphPoints().first()->sensor(), temperature);

    // Tick 119 (238 s) is due for the day series and the hour series together.
    tick(114);
    EXPECT_EQ(temperature->dayGraphPoints().size(), 0);
    tick();
    EXPECT_EQ(temperature->hourGraphPoints().size(), 24);
    ASSERT_EQ(temperature->dayGraphPoints().size(), 1);
    EXPECT_DOUBLE_EQ(temperature->dayGraphPoints().first()->pointX(), kStart + 238);

    // Tick 899 (1,798 s): the week series with the hour series, the same time.
    tick(779);
    EXPECT_TRUE(temperature->weekGraphPoints().isEmpty());
    tick();
    ASSERT_EQ(temperature->weekGraphPoints().size(), 1);
    EXPECT_EQ(ranges(temperature).mid(ranges(temperature).size() - 2), QList<int>({0, 2}));
    EXPECT_DOUBLE_EQ(temperature->hourGraphPoints().last()->pointX(), temperature->weekGraphPoints().first()->pointX());
    EXPECT_EQ(temperature->dayGraphPoints().size(), 7);

    // Tick 1799 (3,598 s): all three series, one point each.
    tick(900);
    EXPECT_EQ(ranges(temperature).mid(ranges(temperature).size() - 3), QList<int>({0, 1, 2}));
    EXPECT_EQ(temperature->weekGraphPoints().size(), 2);
}

TEST_F(PollLoopTest, AtTenSecondsEveryTickIsAnHourPoint)
{
    setFrequency(KLUpdateFrequencyLow);
    tick(3);
    EXPECT_EQ(ranges(fan), QList<int>({0, 0, 0}));
    tick(20);
    EXPECT_TRUE(fan->dayGraphPoints().isEmpty());
    tick();
    EXPECT_EQ(fan->dayGraphPoints().size(), 1);  // tick 23 (230 s)
}

TEST_F(PollLoopTest, RecordedExtremesAreWholeNumbersOverTheKeptHistory)
{
    KLDataManager::sharedInstance().setUpdateFrequency(KLUpdateFrequencyLow);
    smc::VirtualSMC smc;
    smc.setKeyValue("TC0P", 41.2);
    tick();
    smc.setKeyValue("TC0P", 57.3);
    tick();
    EXPECT_EQ(temperature->recordedMinValue(), 41);
    EXPECT_EQ(temperature->recordedMaxValue(), 58);
    // Temperatures and fans keep the range the catalogue gave them.
    EXPECT_EQ(temperature->minValue(), 0);
    EXPECT_EQ(temperature->maxValue(), 0);

    // -1.0 is a reading like any other, not "nothing yet".
    smc.setKeyValue("TC0P", -1.0);
    tick();
    EXPECT_EQ(temperature->recordedMinValue(), -1);
    EXPECT_EQ(temperature->recordedMaxValue(), 58);

    // Without history the stored extremes stay, rounded outwards.
    KLSensor* lonely = KLSensor::sensorWithKey("TB0T");
    lonely->setRecordedMinValue(20.5);
    lonely->setRecordedMaxValue(30.5);
    EXPECT_EQ(loop().recordedMinValueForSensor(lonely), 20);
    EXPECT_EQ(loop().recordedMaxValueForSensor(lonely), 31);
}

TEST_F(PollLoopTest, VoltagesTakeTheRecordedRangeWidenedWhenItIsOnePoint)
{
    KLSensor* silent = addSensor(KLCategoryTypeVoltage, "VZZZ");  // no such key: reads 0
    KLSensor* negative = addSensor(KLCategoryTypeVoltage, "VP0R");
    smc::VirtualSMC().setKeyValue("VP0R", -5.0);
    setFrequency(KLUpdateFrequencyLow);
    tick();
    EXPECT_DOUBLE_EQ(voltage->maxValue(), 12);
    EXPECT_DOUBLE_EQ(voltage->minValue(), 12 * 0.9);
    // A steady negative reading widens downwards too.
    EXPECT_DOUBLE_EQ(negative->maxValue(), -5);
    EXPECT_DOUBLE_EQ(negative->minValue(), -5.5);
    // Only zeros: nothing to widen.
    EXPECT_EQ(silent->minValue(), 0);
    EXPECT_EQ(silent->maxValue(), 0);
}

// A full disk, made by a trigger that refuses every new point.
TEST_F(PollLoopTest, FailingSavesAreSaidOncePerStreakAndRetriedByTheNextTick)
{
    setFrequency(KLUpdateFrequencyLow);  // every tick adds points
    tick();
    SQLite::Database store(
        (KLCoreDataHelper::sharedInstance().applicationDocumentsDirectory() + "/Database.sqlite").toStdString(),
        SQLite::OPEN_READWRITE);
    const auto full = [&] {
        store.exec("CREATE TRIGGER full BEFORE INSERT ON GraphPoint BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    };
    const auto linesSaidDuring = [&](int ticks) {
        testing::internal::CaptureStderr();
        tick(ticks);
        const std::string said = testing::internal::GetCapturedStderr();
        return std::count(said.begin(), said.end(), '\n');
    };
    full();
    EXPECT_EQ(linesSaidDuring(3), 1);
    store.exec("DROP TRIGGER full");
    EXPECT_EQ(linesSaidDuring(1), 0);
    EXPECT_EQ(store.execAndGet("SELECT COUNT(*) FROM GraphPoint").getInt(), 3 * 5);  // nothing lost
    full();
    EXPECT_EQ(linesSaidDuring(2), 1);  // a new streak
}

TEST_F(PollLoopTest, APurgeKeepsPointsExactlyAtTheWindowStartAndDropsOlderOnes)
{
    pointAt(temperature, now - 3600, KLGraphTimeRangeHour);
    pointAt(temperature, now - 3601, KLGraphTimeRangeHour);
    pointAt(temperature, now - 86400, KLGraphTimeRangeDay);
    pointAt(temperature, now - 86401, KLGraphTimeRangeDay);
    pointAt(fan, now - 604800, KLGraphTimeRangeWeek);
    pointAt(fan, now - 604801, KLGraphTimeRangeWeek);
    pointAt(fan, now - 3601, KLGraphTimeRangeWeek);  // old for an hour point, young for a week one
    // From a clock that ran a year ahead: gone. Up to a tick ahead: kept.
    const double yearAhead = now + 365 * 86400.0;
    pointAt(temperature, now + loop().interval(), KLGraphTimeRangeHour);
    pointAt(temperature, yearAhead, KLGraphTimeRangeHour);
    pointAt(temperature, yearAhead, KLGraphTimeRangeDay);
    pointAt(fan, yearAhead, KLGraphTimeRangeWeek);
    pointAt(voltage, now + loop().interval() + 1, KLGraphTimeRangeHour);
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    drainMainQueue();

    loop().removeOutOfDateGraphPoints();
    drainMainQueue();
    EXPECT_EQ(ranges(temperature), QList<int>({0, 1, 0}));
    EXPECT_EQ(temperature->hourGraphPoints().first()->pointX(), now - 3600);
    EXPECT_EQ(temperature->hourGraphPoints().last()->pointX(), now + loop().interval());
    EXPECT_EQ(ranges(fan), QList<int>({2, 2}));
    EXPECT_TRUE(voltage->graphPoints().isEmpty());
    EXPECT_EQ(KLGraphPoint::allObjects().size(), 5);

    // And from the store, as another program sees it.
    KLCoreDataHelper::sharedInstance().masterContext()->reset();
    EXPECT_EQ(KLGraphPoint::allObjects().size(), 5);
}

TEST_F(PollLoopTest, ThePurgeRunsAtStartAndEveryFiveMinutesOfTicks)
{
    pointAt(temperature, now - 3601, KLGraphTimeRangeHour);
    loop().startMonitoring();
    drainMainQueue();
    EXPECT_TRUE(temperature->graphPoints().isEmpty()) << "purged at start";
    loop().stopTimer();
    now += loop().interval();

    // At 2 s the purge follows tick 149 (298 s after the start).
    tick(148);
    pointAt(temperature, now - 3601, KLGraphTimeRangeHour);
    const int before = temperature->hourGraphPoints().size();
    tick();
    EXPECT_EQ(temperature->hourGraphPoints().size(), before);  // the new point came, the old one went
}

TEST_F(PollLoopTest, AFrequencyChangeRestartsCountsPollsAtOnceAndReplacesTheTimer)
{
    loop().startMonitoring();
    ASSERT_NE(loop().timer(), nullptr);
    EXPECT_EQ(loop().timer()->interval(), 2000);
    tick(3);  // three ticks into the 2 s cadence
    KLDataManager::sharedInstance().setUpdateFrequency(KLUpdateFrequencyLow);
    ASSERT_TRUE(waitUntil([&] { return loop().timer() && loop().timer()->interval() == 10000; }));
    // The restart's own tick was tick 0 at 10 s: an hour point at once.
    EXPECT_EQ(temperature->hourGraphPoints().size(), 1);
    EXPECT_TRUE(loop().timer()->isActive());
}

// Starting over a store full of history (and stale points to purge) reads
// the ranges from the store: the points are never brought into memory.
TEST_F(PollLoopTest, AStartKeepsTheHistoryInTheStore)
{
    for (int i = 0; i < 200; ++i)
        pointAt(temperature, now - 10 * i, KLGraphTimeRangeHour);
    pointAt(temperature, now - 4000, KLGraphTimeRangeHour);
    pointAt(fan, now - 4000, KLGraphTimeRangeHour);
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    drainMainQueue();
    context->reset();  // as a new process finds it
    setFrequency(KLUpdateFrequencyLow);  // every tick is due for the hour series

    loop().startMonitoring();
    drainMainQueue();
    EXPECT_LT(context->registeredObjectCount(), 20);
    KLSensor* cpu = KLSensor::sensorWithKey("TC0P");
    EXPECT_EQ(cpu->recordedMaxValue(), 50);
    EXPECT_EQ(cpu->hourGraphPoints().size(), 201);  // 200 kept, the stale one gone, one new
}

}  // namespace
