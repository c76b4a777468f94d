#pragma once
#include <QList>
#include <QString>

#include "NSFetchRequest.h"
#include "NSManagedObject.h"

class KLSensor;

// KLGraphTimeRange
enum KLGraphTimeRange : int {
    KLGraphTimeRangeHour = 0,
    KLGraphTimeRangeDay = 1,
    KLGraphTimeRangeWeek = 2,
};

class KLGraphPoint : public NSManagedObject {
public:
    static NSFetchRequest fetchRequest();
    // A new point in the master context; the caller fills it.
    static KLGraphPoint* newGraphPoint();
    static QList<KLGraphPoint*> allObjects();

    double pointX() { return valueForKey(QStringLiteral("pointX")).toDouble(); }
    void setPointX(double v) { setValueForKey(v, QStringLiteral("pointX")); }
    double pointY() { return valueForKey(QStringLiteral("pointY")).toDouble(); }
    void setPointY(double v) { setValueForKey(v, QStringLiteral("pointY")); }
    int timeRange() { return valueForKey(QStringLiteral("timeRange")).toInt(); }
    void setTimeRange(int v) { setValueForKey(v, QStringLiteral("timeRange")); }

    KLSensor* sensor();
    void setSensor(KLSensor* sensor);

    // The date of pointX: "M/dd/yyyy", a newline, "HH:mm:ss".
    QString title();
    // pointY as its sensor shows a value, in the chosen temperature unit.
    QString valueString();
};
