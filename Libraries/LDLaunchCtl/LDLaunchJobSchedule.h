#pragma once
// One calendar entry of a job's StartCalendarInterval: minute, hour, day,
// weekday and month, each either set or NSDateComponentUndefined.
#include <QMetaType>
#include <QString>
#include <QVariantMap>
#include <limits>

inline constexpr qint64 NSDateComponentUndefined = std::numeric_limits<qint64>::max();

class LDLaunchJobSchedule {
public:
    LDLaunchJobSchedule() = default;
    // Reads "minute", "hour", "day", "weekday" and "month" in any letter case; other keys are ignored.
    explicit LDLaunchJobSchedule(const QVariantMap& dictionary);

    static LDLaunchJobSchedule scheduleWithMinute(qint64 minute, qint64 hour, qint64 day, qint64 weekday, qint64 month);
    static LDLaunchJobSchedule dailyRunAtHour(qint64 hour, qint64 minute);
    static LDLaunchJobSchedule weeklyRunOnWeekday(qint64 weekday, qint64 hour);
    static LDLaunchJobSchedule monthlyRunOnDay(qint64 day, qint64 hour);

    qint64 minute() const { return m_minute; }
    qint64 hour() const { return m_hour; }
    qint64 day() const { return m_day; }
    qint64 weekday() const { return m_weekday; }
    qint64 month() const { return m_month; }
    void setMinute(qint64 value) { m_minute = value; }
    void setHour(qint64 value) { m_hour = value; }
    void setDay(qint64 value) { m_day = value; }
    void setWeekday(qint64 value) { m_weekday = value; }
    void setMonth(qint64 value) { m_month = value; }

    // The set components under "Minute", "Hour", "Day", "Weekday" and "Month".
    QVariantMap dictionary() const;
    QString description() const;

    bool operator==(const LDLaunchJobSchedule&) const = default;

private:
    qint64 m_minute = NSDateComponentUndefined;
    qint64 m_hour = NSDateComponentUndefined;
    qint64 m_day = NSDateComponentUndefined;
    qint64 m_weekday = NSDateComponentUndefined;
    qint64 m_month = NSDateComponentUndefined;
};
Q_DECLARE_METATYPE(LDLaunchJobSchedule)
