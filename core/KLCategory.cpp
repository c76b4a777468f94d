#include "KLCategory.h"

#include <algorithm>

#include "KLCoreDataHelper.h"
#include "JSKDevice.h"
#include "KLDataManager.h"
#include "KLSensor.h"
#include "NSString+KLExtension.h"
#include "RZSMC.h"

NSFetchRequest KLCategory::fetchRequest()
{
    return NSFetchRequest(QStringLiteral("Category"));
}

KLCategory* KLCategory::getCategoryWithName(const QString& name)
{
    const QList<KLCategory*> found = objectsWhere(NSPredicate::withFormat(QStringLiteral("name = %@"), name));
    return found.isEmpty() ? nullptr : found.first();
}

KLCategory* KLCategory::categoryWithName(const QString& name)
{
    if (KLCategory* category = getCategoryWithName(name))
        return category;
    auto* category = insertObject<KLCategory>(QStringLiteral("Category"));
    if (category)
        category->setName(name);
    return category;
}

QList<KLCategory*> KLCategory::objectsWhere(const NSPredicate& predicate)
{
    return fetchObjects<KLCategory>(fetchRequest(), predicate);
}

QList<KLCategory*> KLCategory::allObjects()
{
    return fetchObjects<KLCategory>(fetchRequest(), {}, {{QStringLiteral("type"), true}});
}

QList<KLSensor*> KLCategory::sensors()
{
    return objectsOfClass<KLSensor>(objectsForRelationship(QStringLiteral("sensors")));
}

void KLCategory::setSensors(const QList<KLSensor*>& sensors)
{
    setObjectsForRelationship(managedObjects(sensors), QStringLiteral("sensors"));
}

namespace {

// With exactly two GPUs, GPU sensors carry the dedicated one's model name.
QString dedicatedGPUModelName()
{
    const auto gpus = JSKDevice::device().gpuInfos();
    if (gpus.size() != 2)
        return {};
    for (auto it = gpus.crbegin(); it != gpus.crend(); ++it) {
        if (it->isDedicated)
            return it->modelName;
    }
    return {};
}

}  // namespace

void KLCategory::updateSensors()
{
    if (KLDataManager::currentProgram() == KLDataManager::Program::MenuBar)
        return;
    RZSMC& smc = RZSMC::smc();
    const int kind = type();
    QStringList keys;
    switch (kind) {
    case KLCategoryTypeTemperature:
        keys = smc.workingTempKeys();
        break;
    case KLCategoryTypeFan: {
        // Fan keys can name twenty fans; a larger count from the SMC is not believed.
        const unsigned long fans = std::min(smc.numberOfFans(), RZSMC::kMaxFans);
        for (unsigned long fan = 0; fan < fans; ++fan)
            keys.append(QString::number(fan));
        break;
    }
    case KLCategoryTypeVoltage:
        keys = smc.workingVoltageKeys();
        break;
    case KLCategoryTypeCurrent:
        keys = smc.workingCurrentKeys();
        break;
    case KLCategoryTypePower:
        keys = smc.workingPowerKeys();
        break;
    default:
        break;
    }

    const QString gpuModel = kind == KLCategoryTypeFan ? QString() : dedicatedGPUModelName();
    QList<KLSensor*> list;
    for (const QString& key : keys) {
        KLSensor* sensor = KLSensor::sensorWithKey(key);
        if (!sensor)
            continue;
        if (kind == KLCategoryTypeFan) {
            const unsigned long index = key.toULong();
            sensor->setName(smc.descriptionOfFan(index));
            sensor->setFullName(sensor->name());
            sensor->setGroup(KLSensorGroupFan);
            if (sensor->minValue() <= 0)
                sensor->setMinValue(smc.safeMinimumSpeedOfFan(index));
            if (sensor->maxValue() <= 0)
                sensor->setMaxValue(smc.safeMaximumSpeedOfFan(index));
        } else {
            const QString name = smc.humanReadableNameForKey(key);
            sensor->setName(name);
            sensor->setGroup(static_cast<int>(smc.sensorGroupForKey(key)));
            sensor->setFullName(name.startsWith(QLatin1String("GPU")) && !gpuModel.isEmpty()
                                    ? QStringLiteral("%1 %2").arg(gpuModel, name)
                                    : name);
            if (kind == KLCategoryTypeTemperature) {
                sensor->setMinValue(0);
                sensor->setMaxValue(110);
            }
        }
        sensor->setCategory(this);
        if (!list.contains(sensor))
            list.append(sensor);
    }
    setSensors(list);
}

QString KLCategory::localizedName()
{
    static const char* keys[] = {"category-temperature-name", "category-fan-name", "category-voltage-name",
                                 "category-current-name", "category-power-name"};
    const int kind = type();
    if (kind < 0 || kind > 4)
        return name();
    return KLExtension::localizedStringForKey(QString::fromLatin1(keys[kind]));
}
