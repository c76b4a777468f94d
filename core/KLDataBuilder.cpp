#include "KLDataBuilder.h"

#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLFanSet.h"
#include "KLSensor.h"

void KLDataBuilder::generateDataSet()
{
    generateCategories();
    generateFanSets();
    KLCoreDataHelper::sharedInstance().saveMasterContext();
}

void KLDataBuilder::generateCategories()
{
    const char* names[] = {"Temperature", "Fan", "Voltage", "Current", "Power"};
    for (int i = 0; i < 5; ++i) {
        KLCategory* category = KLCategory::categoryWithName(QString::fromLatin1(names[i]));
        if (!category)
            continue;
        category->setType(i);
        category->updateSensors();
    }
}

void KLDataBuilder::generateFanSets()
{
    if (!KLFanSet::allObjects().isEmpty())
        return;
    const auto fans = KLSensor::fanSensors();
    if (!fans || fans->isEmpty())
        return;
    KLFanSpeeds speeds;
    for (KLSensor* fan : *fans)
        speeds.insert(fan->key(), fan->minValue());
    KLFanSet::fanSetWithName(QStringLiteral("Manual"), speeds);
}
