#include "KLKelvara.h"

#include <QTimer>
#include <cmath>
#include <cstdio>

#include "Dispatch.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLGraphPoint.h"
#include "KLSensor.h"
#include "NSDistributedNotificationCenter.h"
#include "NSNotificationCenter.h"
#include "RZSMC.h"

namespace {

// Seconds between points of the hour, day and week series, and between purges.
constexpr double kHourSpan = 10.0;
constexpr double kDaySpan = 240.0;
constexpr double kWeekSpan = 1800.0;
constexpr double kPurgeSpan = 300.0;

double secondsSince1970(const QDateTime& date)
{
    return static_cast<double>(date.toMSecsSinceEpoch()) / 1000.0;
}

// One tick of a counter over its span; true when it just came back to 0. A
// counter that stands past its span (the interval grew without a restart)
// starts again too, instead of never coming due.
bool advance(int& counter, double span, double interval)
{
    counter += 1;
    if (static_cast<double>(counter) >= span / interval) {
        counter = 0;
        return true;
    }
    return false;
}

// The range of a sensor's kept history; the store answers from its index, so
// the points themselves are never loaded.
std::optional<std::pair<double, double>> historyRange(KLSensor* sensor)
{
    NSManagedObjectContext* context = sensor->managedObjectContext();
    return context ? context->rangeOfRelationship(sensor, QStringLiteral("graphPoints"), QStringLiteral("pointY"))
                   : std::nullopt;
}

}  // namespace

KLKelvara& KLKelvara::sharedInstance()
{
    static KLKelvara kelvara;
    return kelvara;
}

KLKelvara::KLKelvara()
    : m_categories(KLCategory::allObjects())
{
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(KLDataManagerUpdateFrequencyDidChangeNotification),
        [this](const NSNotification&) { dataManagerUpdateFrequencyDidChangeNotification(); });
}

KLKelvara::~KLKelvara()
{
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
    stopTimer();
}

double KLKelvara::interval() const
{
    return KLDataManager::sharedInstance().updateInterval();
}

void KLKelvara::startMonitoring()
{
    m_hourTickCounter = 0;
    m_dayTickCounter = 0;
    m_weekTickCounter = 0;
    m_purgeTickCounter = 0;
    removeOutOfDateGraphPoints();
    // The purge's deletes are written before the first tick, so that tick's
    // history ranges come from the store's index rather than from loading
    // every point. Both saves still come before the tick's notice.
    if (NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext())
        saveNow(context);
    fireTrackingTemp();
    startTimer();
}

void KLKelvara::dataManagerUpdateFrequencyDidChangeNotification()
{
    startMonitoring();
}

void KLKelvara::startTimer()
{
    stopTimer();
    m_timer = std::make_unique<QTimer>();
    // Precise, so the ticks keep their cadence; the timer sleeps in between.
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(static_cast<int>(std::lround(interval() * 1000.0)));
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] { fireTrackingTemp(); });
    m_timer->start();
}

void KLKelvara::stopTimer()
{
    if (m_timer)
        m_timer->stop();
    m_timer.reset();
}

void KLKelvara::fireTrackingTemp()
{
    RZSMC& smc = RZSMC::smc();
    // The counters do not move during the sensor loop, so every sensor of a
    // tick has the same due series.
    const double tickInterval = interval();
    const bool due[3] = {
        static_cast<double>(m_hourTickCounter) == kHourSpan / tickInterval - 1,
        static_cast<double>(m_dayTickCounter) == kDaySpan / tickInterval - 1,
        static_cast<double>(m_weekTickCounter) == kWeekSpan / tickInterval - 1,
    };
    const bool anyDue = due[0] || due[1] || due[2];

    for (KLCategory* category : std::as_const(m_categories)) {
        const int type = category->type();
        for (KLSensor* sensor : category->sensors()) {
            double value = 0;
            switch (type) {
            case KLCategoryTypeTemperature:
                value = smc.temperatureInCelsiusForKey(sensor->key());
                break;
            case KLCategoryTypeFan:
                value = smc.speedOfFan(static_cast<unsigned long>(sensor->key().toInt()));
                break;
            default:
                value = smc.rawValueForKey(sensor->key());
                break;
            }
            sensor->setValue(value);
            if (!anyDue)
                continue;

            const double pointX = secondsSince1970(now());
            for (int range = KLGraphTimeRangeHour; range <= KLGraphTimeRangeWeek; ++range) {
                if (!due[range])
                    continue;
                KLGraphPoint* point = KLGraphPoint::newGraphPoint();
                if (!point)
                    continue;
                point->setPointX(pointX);
                point->setPointY(value);
                point->setTimeRange(range);
                point->setSensor(sensor);
                sensor->addGraphPointsObject(point);
                m_unreleasedPoints.append(point);
            }
            // Only this loop adds or removes points, so the range of the kept
            // history only widens between purges.
            auto known = m_historyRanges.find(sensor);
            if (known != m_historyRanges.end()) {
                known->first = std::min(known->first, value);
                known->second = std::max(known->second, value);
            } else if (const auto range = historyRange(sensor)) {
                known = m_historyRanges.insert(sensor, *range);
            }
            if (known != m_historyRanges.end()) {
                sensor->setRecordedMinValue(std::floor(known->first));
                sensor->setRecordedMaxValue(std::ceil(known->second));
            } else {
                // No history at all: the stored extremes stay, as whole numbers.
                sensor->setRecordedMinValue(std::floor(sensor->recordedMinValue()));
                sensor->setRecordedMaxValue(std::ceil(sensor->recordedMaxValue()));
            }
            if (type != KLCategoryTypeTemperature && type != KLCategoryTypeFan) {
                sensor->setMinValue(sensor->recordedMinValue());
                sensor->setMaxValue(sensor->recordedMaxValue());
                // A steady reading gets a range a tenth of its size below it;
                // a negative one too (0.9 times it would lie above it). Zero stays.
                const double steady = sensor->minValue();
                if (steady == sensor->maxValue())
                    sensor->setMinValue(steady < 0 ? steady * 1.1 : steady * 0.9);
            }
        }
    }

    // Save first, then announce: a reader in any program that refreshes on
    // the notice finds this tick's values in the store.
    saveQueued();
    dispatch_async(dispatch_get_main_queue(), [] {
        static const QString tick = QString::fromLatin1(KLKelvaraTempDidChangeNotification);
        NSDistributedNotificationCenter::defaultCenter().postNotificationName(tick, QString(), {}, true);
        NSNotificationCenter::defaultCenter().postNotificationName(tick);
    });
    // Once saved, the new points need not stay in memory: nothing here reads
    // them again, and a week of them would otherwise pile up.
    if (!m_unreleasedPoints.isEmpty()) {
        dispatch_async(dispatch_get_main_queue(), [this] {
            if (NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext())
                m_unreleasedPoints = context->releaseObjects(m_unreleasedPoints);
        });
    }

    // One settings read a tick: the interval read above counts for the whole tick.
    advance(m_hourTickCounter, kHourSpan, tickInterval);
    advance(m_dayTickCounter, kDaySpan, tickInterval);
    advance(m_weekTickCounter, kWeekSpan, tickInterval);
    if (advance(m_purgeTickCounter, kPurgeSpan, tickInterval))
        removeOutOfDateGraphPoints();
}


// Whole numbers in the raw unit over the kept history, or the stored value
// without history. A reading of -1.0 counts like any other.
double KLKelvara::recordedMaxValueForSensor(KLSensor* sensor)
{
    const auto range = historyRange(sensor);
    return std::ceil(range ? range->second : sensor->recordedMaxValue());
}

double KLKelvara::recordedMinValueForSensor(KLSensor* sensor)
{
    const auto range = historyRange(sensor);
    return std::floor(range ? range->first : sensor->recordedMinValue());
}

void KLKelvara::removeOutOfDateGraphPoints()
{
    const QDateTime date = now();
    double windowStart[3];
    for (unsigned range = 0; range < 3; ++range)
        windowStart[range] = KLDataManager::xAxisWithCurrentDate(date, range).first().value;

    // The stale points come from the index on (timeRange, pointX), so the kept
    // history is never read.
    const QString kinds = QStringLiteral("(timeRange == 0 AND pointX %1 %@) OR (timeRange == 1 AND pointX %1 %@) OR "
                                         "((timeRange < 0 OR timeRange > 1) AND pointX %1 %@)");
    QList<KLGraphPoint*> stale = fetchObjects<KLGraphPoint>(
        KLGraphPoint::fetchRequest(),
        NSPredicate::withFormat(kinds.arg(QLatin1Char('<')), windowStart[0], windowStart[1], windowStart[2]));
    // Points dated after the next tick came from a clock that ran ahead; kept,
    // they would widen the graphs' spans and extremes until that date. A query
    // of its own: SQLite walks the whole table for one condition of six terms.
    const double ahead = secondsSince1970(date) + interval();
    stale += fetchObjects<KLGraphPoint>(KLGraphPoint::fetchRequest(),
                                        NSPredicate::withFormat(kinds.arg(QLatin1Char('>')), ahead, ahead, ahead));
    if (stale.isEmpty())
        return;
    m_historyRanges.clear();
    // Deleting a point also takes it out of its sensor's list, keeping the
    // order of the rest.
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    for (KLGraphPoint* point : stale)
        context->performBlockAndWait([context, point] { context->deleteObject(point); });
    saveQueued();
}

void KLKelvara::saveQueued()
{
    NSManagedObjectContext* context = KLCoreDataHelper::sharedInstance().masterContext();
    if (!context || !context->hasChanges())
        return;
    context->performBlock([this, context] { saveNow(context); });
}

// A failed save (a full disk) keeps its changes, so the next tick's save
// writes them too. The failure is said once until a save succeeds again.
void KLKelvara::saveNow(NSManagedObjectContext* context)
{
    if (!context->hasChanges())
        return;
    QString error;
    if (context->save(&error)) {
        m_saveFailing = false;
        return;
    }
    if (m_saveFailing)
        return;
    m_saveFailing = true;
    std::fprintf(stderr, "Kelvara Helper: the readings cannot be saved (%s); each tick tries again.\n",
                 qPrintable(error));
    std::fflush(stderr);
}
