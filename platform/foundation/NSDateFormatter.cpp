#include "NSDateFormatter.h"

#include <QLocale>

namespace {

// The pattern letters used here mean the same in Qt's formats; only literal
// text in single quotes needs no change either.
const QLocale& posixLocale()
{
    static const QLocale locale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

}  // namespace

QString NSDateFormatter::stringFromDate(const QDateTime& date) const
{
    if (!date.isValid() || m_format.isEmpty())
        return {};
    return posixLocale().toString(date.toLocalTime(), m_format);
}

QDateTime NSDateFormatter::dateFromString(const QString& text) const
{
    QDateTime date = posixLocale().toDateTime(text, m_format);
    if (date.isValid())
        date.setTimeSpec(Qt::LocalTime);
    return date;
}
