#include "LDLaunchJobSchedule.h"

#include <QStringList>

LDLaunchJobSchedule::LDLaunchJobSchedule(const QVariantMap& dictionary)
{
    for (auto it = dictionary.begin(); it != dictionary.end(); ++it) {
        const QString key = it.key().toLower();
        const qint64 value = it.value().toLongLong();
        if (key == QLatin1String("minute"))
            m_minute = value;
        else if (key == QLatin1String("hour"))
            m_hour = value;
        else if (key == QLatin1String("day"))
            m_day = value;
        else if (key == QLatin1String("weekday"))
            m_weekday = value;
        else if (key == QLatin1String("month"))
            m_month = value;
    }
}

LDLaunchJobSchedule LDLaunchJobSchedule::scheduleWithMinute(qint64 minute, qint64 hour, qint64 day, qint64 weekday,
                                                            qint64 month)
{
    // Undefined stays undefined, so this is a plain assignment of all five.
    LDLaunchJobSchedule schedule;
    schedule.m_minute = minute;
    schedule.m_hour = hour;
    schedule.m_day = day;
    schedule.m_weekday = weekday;
    schedule.m_month = month;
    return schedule;
}

LDLaunchJobSchedule LDLaunchJobSchedule::dailyRunAtHour(qint64 hour, qint64 minute)
{
    return scheduleWithMinute(minute, hour, NSDateComponentUndefined, NSDateComponentUndefined, NSDateComponentUndefined);
}

LDLaunchJobSchedule LDLaunchJobSchedule::weeklyRunOnWeekday(qint64 weekday, qint64 hour)
{
    return scheduleWithMinute(0, hour, NSDateComponentUndefined, weekday, NSDateComponentUndefined);
}

LDLaunchJobSchedule LDLaunchJobSchedule::monthlyRunOnDay(qint64 day, qint64 hour)
{
    return scheduleWithMinute(0, hour, day, NSDateComponentUndefined, NSDateComponentUndefined);
}

QVariantMap LDLaunchJobSchedule::dictionary() const
{
    QVariantMap result;
    const auto add = [&result](const char* key, qint64 value) {
        if (value != NSDateComponentUndefined)
            result.insert(QLatin1String(key), qlonglong(value));
    };
    add("Minute", m_minute);
    add("Hour", m_hour);
    add("Day", m_day);
    add("Weekday", m_weekday);
    add("Month", m_month);
    return result;
}

QString LDLaunchJobSchedule::description() const
{
    const QVariantMap entries = dictionary();
    QString text = QStringLiteral("{\n");
    for (auto it = entries.begin(); it != entries.end(); ++it)
        text += QStringLiteral("    %1 = %2;\n").arg(it.key()).arg(it.value().toLongLong());
    return text + QLatin1Char('}');
}
