#include "KLSensor.h"

#include <charconv>
#include <cmath>

#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLGraphPoint.h"
#include "NSString+KLExtension.h"

NSFetchRequest KLSensor::fetchRequest()
{
    return NSFetchRequest(QStringLiteral("Sensor"));
}

KLSensor* KLSensor::sensorWithKey(const QString& key)
{
    const QList<KLSensor*> found = objectsWhere(NSPredicate::withFormat(QStringLiteral("key = %@"), key));
    if (!found.isEmpty())
        return found.first();
    auto* sensor = insertObject<KLSensor>(QStringLiteral("Sensor"));
    if (sensor)
        sensor->setKey(key);
    return sensor;
}

QList<KLSensor*> KLSensor::objectsWhere(const NSPredicate& predicate)
{
    return fetchObjects<KLSensor>(fetchRequest(), predicate);
}

QList<KLSensor*> KLSensor::allObjects()
{
    return objectsWhere(NSPredicate());
}

QHash<QString, KLSensor*> KLSensor::sensorsByKey()
{
    const QList<KLSensor*> sensors = allObjects();
    QHash<QString, KLSensor*> byKey;
    byKey.reserve(sensors.size());
    for (KLSensor* sensor : sensors) {
        const QString key = sensor->key();
        if (!byKey.contains(key))
            byKey.insert(key, sensor);
    }
    return byKey;
}

namespace {

double inTempUnit(double celsius, bool inCelsius)
{
    return inCelsius ? celsius : celsius * 9.0 / 5.0 + 32.0;
}

std::optional<QList<KLSensor*>> sensorsOfFirstCategory(int type)
{
    const QList<KLCategory*> categories =
        KLCategory::objectsWhere(NSPredicate::withFormat(QStringLiteral("type = %d"), type));
    if (categories.isEmpty())
        return std::nullopt;
    return categories.first()->sensors();
}

}  // namespace

std::optional<QList<KLSensor*>> KLSensor::fanSensors()
{
    return sensorsOfFirstCategory(KLCategoryTypeFan);
}

std::optional<QList<KLSensor*>> KLSensor::tempSensors()
{
    return sensorsOfFirstCategory(KLCategoryTypeTemperature);
}

double KLSensor::convertedTemp(double celsius)
{
    return inTempUnit(celsius, KLDataManager::sharedInstance().tempUnitCelsius());
}

KLCategory* KLSensor::category()
{
    return dynamic_cast<KLCategory*>(objectForRelationship(QStringLiteral("category")));
}

void KLSensor::setCategory(KLCategory* category)
{
    setObjectForRelationship(category, QStringLiteral("category"));
}

QList<KLGraphPoint*> KLSensor::graphPoints()
{
    return objectsOfClass<KLGraphPoint>(objectsForRelationship(QStringLiteral("graphPoints")));
}

void KLSensor::setGraphPoints(const QList<KLGraphPoint*>& points)
{
    setObjectsForRelationship(managedObjects(points), QStringLiteral("graphPoints"));
}

void KLSensor::addGraphPointsObject(KLGraphPoint* point)
{
    addObjectToRelationship(point, QStringLiteral("graphPoints"));
}

QString KLSensor::stringFromValue(double value, int categoryType)
{
    // Like printf in the C locale (ties to even, as 44.5 gives "44"), whatever
    // the user's region; Qt's own formatting rounds ties away from zero.
    const int decimals = categoryType == KLCategoryTypeTemperature || categoryType == KLCategoryTypeFan ? 0 : 2;
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return QString::asprintf(decimals ? "%.2f" : "%.0f", value);
    return QString::fromLatin1(text, result.ptr - text);
}

QString KLSensor::unitStringFromCategoryType(int categoryType, bool shortForm)
{
    switch (categoryType) {
    case KLCategoryTypeTemperature:
        if (shortForm)
            return QStringLiteral("°");
        return KLDataManager::sharedInstance().tempUnitCelsius() ? QStringLiteral("°C") : QStringLiteral("°F");
    case KLCategoryTypeFan:
        return QStringLiteral("rpm");
    case KLCategoryTypeVoltage:
        return QStringLiteral("V");
    case KLCategoryTypeCurrent:
        return QStringLiteral("A");
    case KLCategoryTypePower:
        return QStringLiteral("W");
    default:
        return {};
    }
}

QString KLSensor::fullStringFromValue(double value, int categoryType, bool tidyMode)
{
    if (std::isnan(value) || value < 0)
        return QStringLiteral("-");
    const QString number = stringFromValue(value, categoryType);
    const QString unit = unitStringFromCategoryType(categoryType, true);
    // A type without a unit shows the bare number rather than a dangling blank.
    if (unit.isNull())
        return number;
    if (categoryType == KLCategoryTypeTemperature || tidyMode)
        return number + unit;
    return number + QLatin1Char(' ') + unit;
}

QList<KLGraphPoint*> KLSensor::graphPointsOfTimeRange(int timeRange)
{
    QList<KLGraphPoint*> points;
    for (KLGraphPoint* point : graphPoints()) {
        if (point && point->timeRange() == timeRange)
            points.append(point);
    }
    return points;
}

QList<KLGraphPoint*> KLSensor::hourGraphPoints()
{
    return graphPointsOfTimeRange(KLGraphTimeRangeHour);
}

QList<KLGraphPoint*> KLSensor::dayGraphPoints()
{
    return graphPointsOfTimeRange(KLGraphTimeRangeDay);
}

QList<KLGraphPoint*> KLSensor::weekGraphPoints()
{
    return graphPointsOfTimeRange(KLGraphTimeRangeWeek);
}

int KLSensor::categoryType()
{
    KLCategory* owner = category();
    return owner ? owner->type() : KLCategoryTypeTemperature;
}

bool KLSensor::isCPUProximitySensor()
{
    return key() == QLatin1String(KLMainSensorKey);
}

double KLSensor::converted(double value)
{
    return categoryType() == KLCategoryTypeTemperature ? convertedTemp(value) : value;
}

double KLSensor::convertedValue()
{
    return converted(value());
}

double KLSensor::convertedValue(bool celsius)
{
    const double raw = value();
    return categoryType() == KLCategoryTypeTemperature ? inTempUnit(raw, celsius) : raw;
}

double KLSensor::convertedMinValue()
{
    return converted(minValue());
}

double KLSensor::convertedMaxValue()
{
    return converted(maxValue());
}

QString KLSensor::fullStringValue()
{
    return fullStringFromValue(convertedValue(), categoryType(), false);
}

QString KLSensor::tidyStringValue()
{
    return fullStringFromValue(convertedValue(), categoryType(), true);
}

QString KLSensor::unitString()
{
    return unitStringFromCategoryType(categoryType(), false);
}

QString KLSensor::sensorDescription()
{
    // A fan's description from the SMC doubles as its localization key.
    if (categoryType() == KLCategoryTypeFan)
        return KLExtension::localizedStringForKey(name());
    const QString sensorKey = key();
    return QStringLiteral("%1 (%2)").arg(KLExtension::localizedStringForKey(sensorKey), sensorKey);
}

double KLSensor::highTemp()
{
    return isCPUProximitySensor() ? KLCPUProximityHighTemp : KLHighTemp;
}

KLSensorStatus KLSensor::statusEnum()
{
    const double v = value();
    switch (categoryType()) {
    case KLCategoryTypeTemperature:
        if (v > -124) {
            if (v >= KLVeryHighTemp)
                return KLSensorStatusVeryHighTemp;
            return v >= highTemp() ? KLSensorStatusHighTemp : KLSensorStatusNormalTemp;
        }
        // The SMC's error readings.
        if (v == -128)
            return KLSensorStatusCanNotBeRead;
        if (v == -127)
            return KLSensorStatusSkipped;
        if (v == -126)
            return KLSensorStatusFailedToInitialize;
        if (v == -125)
            return KLSensorStatusBelowAllowedMinimum;
        if (v == -124)
            return KLSensorStatusUnstable;
        return KLSensorStatusError;
    case KLCategoryTypeFan: {
        if (v == 0)
            return KLSensorStatusZeroSpeed;
        const double min = minValue();
        const double range = std::fabs(maxValue() - min);
        if (v >= min + 90 * range / 100)
            return KLSensorStatusVeryHighSpeed;
        if (v >= min + 75 * range / 100)
            return KLSensorStatusHighSpeed;
        return KLSensorStatusNormalSpeed;
    }
    default:
        return v >= 0 ? KLSensorStatusOK : KLSensorStatusError;
    }
}

bool KLSensor::isNormalCondition()
{
    const KLSensorStatus status = statusEnum();
    switch (categoryType()) {
    case KLCategoryTypeTemperature:
        return status == KLSensorStatusNormalTemp;
    case KLCategoryTypeFan:
        return status == KLSensorStatusNormalSpeed;
    default:
        return status == KLSensorStatusOK;
    }
}

QString KLSensor::statusDisplayForStatus(int status)
{
    static const char* const keys[] = {
        "sensor-status-display-normal-temp",
        "sensor-status-display-high-temp",
        "sensor-status-display-very-high-temp",
        "sensor-status-display-zero-speed",
        "sensor-status-display-normal-speed",
        "sensor-status-display-high-speed",
        "sensor-status-display-very-high-speed",
        "sensor-status-display-ok",
        "sensor-status-display-skipped",
        "sensor-status-display-temperature-can-not-be-read",
        "sensor-status-display-failed-to-initialize",
        "sensor-status-display-temperature-below-allowed-minimum",
        "sensor-status-display-unstable-temperature",
        "sensor-status-display-error",
    };
    if (status < KLSensorStatusNormalTemp || status > KLSensorStatusError)
        return QStringLiteral("--");
    return KLExtension::localizedStringForKey(QString::fromLatin1(keys[status - 1]));
}

QString KLSensor::statusDisplay()
{
    return statusDisplayForStatus(statusEnum());
}

QString KLSensor::statusExplanation()
{
    const KLSensorStatus status = statusEnum();
    switch (categoryType()) {
    case KLCategoryTypeTemperature: {
        const auto text = [](double celsius) {
            return fullStringFromValue(convertedTemp(celsius), KLCategoryTypeTemperature, false);
        };
        if (status == KLSensorStatusNormalTemp)
            return QStringLiteral("Sensor Temperature < %1").arg(text(highTemp()));
        if (status == KLSensorStatusHighTemp)
            return QStringLiteral("Sensor Temperature >= %1").arg(text(highTemp()));
        if (status == KLSensorStatusVeryHighTemp)
            return QStringLiteral("Sensor Temperature >= %1").arg(text(KLVeryHighTemp));
        return {};
    }
    case KLCategoryTypeFan: {
        const double min = minValue();
        const double range = std::fabs(maxValue() - min);
        const auto text = [](double speed) { return fullStringFromValue(speed, KLCategoryTypeFan, false); };
        switch (status) {
        case KLSensorStatusZeroSpeed:
            return QStringLiteral("Sensor Fan Speed = 0");
        case KLSensorStatusNormalSpeed:
            return QStringLiteral("Sensor Fan Speed < %1").arg(text(min + 75 * range / 100));
        case KLSensorStatusHighSpeed:
            return QStringLiteral("Sensor Fan Speed >= %1").arg(text(min + 75 * range / 100));
        case KLSensorStatusVeryHighSpeed:
            return QStringLiteral("Sensor Fan Speed >= %1").arg(text(min + 90 * range / 100));
        default:
            return {};
        }
    }
    default:
        return {};
    }
}
