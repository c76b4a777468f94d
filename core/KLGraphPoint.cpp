#include "KLGraphPoint.h"

#include <QDateTime>
#include <cmath>

#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLSensor.h"
#include "NSDate+KLExtension.h"

NSFetchRequest KLGraphPoint::fetchRequest()
{
    return NSFetchRequest(QStringLiteral("GraphPoint"));
}

KLGraphPoint* KLGraphPoint::newGraphPoint()
{
    return insertObject<KLGraphPoint>(QStringLiteral("GraphPoint"));
}

QList<KLGraphPoint*> KLGraphPoint::allObjects()
{
    return fetchObjects<KLGraphPoint>(fetchRequest());
}

KLSensor* KLGraphPoint::sensor()
{
    return dynamic_cast<KLSensor*>(objectForRelationship(QStringLiteral("sensor")));
}

void KLGraphPoint::setSensor(KLSensor* sensor)
{
    setObjectForRelationship(sensor, QStringLiteral("sensor"));
}

QString KLGraphPoint::title()
{
    const double seconds = pointX();
    // Beyond any calendar date (or not a number): no date rather than an overflow.
    if (!(std::fabs(seconds) < 1e13))
        return KLExtension::dateTimeFormatForGraph(QDateTime());
    return KLExtension::dateTimeFormatForGraph(QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000.0)));
}

QString KLGraphPoint::valueString()
{
    // A point without a sensor reads like one without a category: a temperature.
    KLSensor* owner = sensor();
    const int type = owner ? owner->categoryType() : KLCategoryTypeTemperature;
    double value = pointY();
    if (type == KLCategoryTypeTemperature)
        value = KLSensor::convertedTemp(value);
    return KLSensor::fullStringFromValue(value, type, false);
}
