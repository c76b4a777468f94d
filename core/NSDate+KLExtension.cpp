#include "NSDate+KLExtension.h"

namespace KLExtension {

NSDateFormatter& dateFormatter()
{
    static NSDateFormatter formatter;
    return formatter;
}

namespace {

QString formatted(const QDateTime& date, const QString& format)
{
    NSDateFormatter& formatter = dateFormatter();
    formatter.setDateFormat(format);
    return formatter.stringFromDate(date);
}

}  // namespace

QString timeOnlyFormat(const QDateTime& date)
{
    return formatted(date, QStringLiteral("HH:mm:ss"));
}

QString dateOnlyFormat(const QDateTime& date)
{
    return formatted(date, QStringLiteral("yyyy-MM-dd"));
}

QString dateTimeFormat(const QDateTime& date)
{
    return QStringLiteral("%1 %2").arg(dateOnlyFormat(date), timeOnlyFormat(date));
}

QString shortDateOnlyFormat(const QDateTime& date)
{
    return formatted(date, QStringLiteral("M/dd"));
}

QString shortTimeOnlyFormat(const QDateTime& date)
{
    return formatted(date, QStringLiteral("HH:mm"));
}

QString dateTimeFormatForGraph(const QDateTime& date)
{
    return QStringLiteral("%1\n%2").arg(formatted(date, QStringLiteral("M/dd/yyyy")), timeOnlyFormat(date));
}

}  // namespace KLExtension
