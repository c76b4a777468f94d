#pragma once
// Dates as fixed-format text: "yyyy-MM-dd", "HH:mm:ss", "M/dd" ... with the
// en_US_POSIX locale and the Gregorian calendar, in the system's time zone, so
// the text never depends on the user's region settings.
#include <QDateTime>
#include <QString>

class NSDateFormatter {
public:
    void setDateFormat(const QString& format) { m_format = format; }
    QString dateFormat() const { return m_format; }
    QString stringFromDate(const QDateTime& date) const;
    // Invalid when the text does not have the format.
    QDateTime dateFromString(const QString& text) const;

private:
    QString m_format;
};
