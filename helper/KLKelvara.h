#pragma once
// Kelvara Helper's poll loop: reads every sensor on the chosen interval, keeps
// the hour, day and week history and the recorded extremes, purges old points,
// saves and announces each tick to every program.
#include <QDateTime>
#include <QHash>
#include <QList>
#include <functional>
#include <memory>

class KLCategory;
class NSManagedObject;
class NSManagedObjectContext;
class KLSensor;
class QTimer;

class KLKelvara {
public:
    static KLKelvara& sharedInstance();
    // Reads the catalogue's categories once and follows update-frequency changes.
    KLKelvara();
    ~KLKelvara();
    KLKelvara(const KLKelvara&) = delete;
    KLKelvara& operator=(const KLKelvara&) = delete;

    const QList<KLCategory*>& categories() const { return m_categories; }
    // Seconds between ticks, from the settings at every call.
    double interval() const;
    // Kept for callers that set it; the loop always reads the settings.
    void setInterval(double interval) { m_interval = interval; }
    QTimer* timer() const { return m_timer.get(); }

    // Counters to 0, purge, one tick at once, then the repeating timer.
    void startMonitoring();
    void startTimer();
    void stopTimer();
    void fireTrackingTemp();
    // Whole numbers over the kept history; the stored value when there is none.
    double recordedMaxValueForSensor(KLSensor* sensor);
    double recordedMinValueForSensor(KLSensor* sensor);
    void removeOutOfDateGraphPoints();

    // The clock that stamps points and dates purges.
    void setClockForTesting(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

private:
    void dataManagerUpdateFrequencyDidChangeNotification();
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTimeUtc(); }
    // The master context's save, queued or at once; failures are said once per streak.
    void saveQueued();
    void saveNow(NSManagedObjectContext* context);

    QList<KLCategory*> m_categories;
    double m_interval = 0;
    std::unique_ptr<QTimer> m_timer;
    std::function<QDateTime()> m_clock;
    // The range of each sensor's kept history since the last purge that removed points.
    QHash<KLSensor*, std::pair<double, double>> m_historyRanges;
    // Points made by ticks and not yet let go by the store context.
    QList<NSManagedObject*> m_unreleasedPoints;
    // Ticks since the series (or the purge) last came due; see the cpp for the spans.
    int m_hourTickCounter = 0;
    int m_dayTickCounter = 0;
    int m_weekTickCounter = 0;
    int m_purgeTickCounter = 0;
    bool m_saveFailing = false;
};
