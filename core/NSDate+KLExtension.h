#pragma once
// The fixed date texts of the log and the graphs.
#include <QDateTime>
#include <QString>

#include "NSDateFormatter.h"

namespace KLExtension {

// One formatter per process; each format call sets its format first.
NSDateFormatter& dateFormatter();
QString timeOnlyFormat(const QDateTime& date);        // "HH:mm:ss"
QString dateOnlyFormat(const QDateTime& date);        // "yyyy-MM-dd"
QString dateTimeFormat(const QDateTime& date);        // date, a space, time
QString shortDateOnlyFormat(const QDateTime& date);   // "M/dd"
QString shortTimeOnlyFormat(const QDateTime& date);   // "HH:mm"
QString dateTimeFormatForGraph(const QDateTime& date);  // "M/dd/yyyy", a newline, time

}  // namespace KLExtension
