#include "KLFanControlLogic.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Dispatch.h"
#include "KLAnalyticsHelper.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanController.h"
#include "KLSensor.h"
#include "NSDistributedNotificationCenter.h"
#include "NSKeyedArchiver.h"
#include "NSString+KLExtension.h"

namespace KLFanControlLogic {

QList<PopUpItem> popUpItems(const QStringList& fanSetNames)
{
    QList<PopUpItem> items;
    items.reserve(fanSetNames.size() + 4);
    items.append(PopUpItem{PopUpItem::System, KLExtension::localizedStringForKey(QStringLiteral("detail-screen-fan-control-system-title"))});
    items.append(PopUpItem{PopUpItem::Separator, QString()});
    for (const QString& name : fanSetNames)
        items.append(PopUpItem{PopUpItem::FanSet, name});
    items.append(PopUpItem{PopUpItem::Separator, QString()});
    items.append(
        PopUpItem{PopUpItem::AutoBoost, KLExtension::localizedStringForKey(QStringLiteral("detail-screen-fan-control-auto-boost-title"))});
    return items;
}

int selectedPopUpIndex(unsigned mode, const QString& fanSetName, const QStringList& fanSetNames)
{
    if (mode == KLFanControlModeSystem)
        return 0;
    if (mode == KLFanControlModeAutoBoost)
        return int(fanSetNames.size()) + 3;
    const qsizetype index = fanSetNames.indexOf(fanSetName);
    return index < 0 ? 0 : int(index) + 2;
}

PopUpChoice choiceForPopUpIndex(int index, int fanSetCount)
{
    if (index == 0)
        return {KLFanControlModeSystem, -1};
    if (index == fanSetCount + 3)
        return {KLFanControlModeAutoBoost, -1};
    const int set = index - 2;
    return {KLFanControlModeFanSet, set >= 0 && set < fanSetCount ? set : -1};
}

bool hasSpeedRange(double minValue, double maxValue)
{
    return std::isfinite(minValue) && std::isfinite(maxValue) && minValue <= maxValue;
}

namespace {

// Ends stored by another program may lie beyond long long, where the plain
// conversion is undefined (it wraps to the most negative number here).
long long wholeSpeed(double rpm)
{
    constexpr double limit = 0x1p63;
    if (rpm >= limit)
        return std::numeric_limits<long long>::max();
    if (rpm <= -limit)
        return std::numeric_limits<long long>::min();
    return static_cast<long long>(rpm);
}

}  // namespace

long long speedForFraction(double fraction, double minValue, double maxValue)
{
    if (!std::isfinite(minValue) || !std::isfinite(maxValue))
        return 0;
    if (!(maxValue > minValue))
        return wholeSpeed(minValue);
    double rpm = std::trunc(minValue + (maxValue - minValue) * fraction);
    if (std::isnan(rpm))
        rpm = minValue;
    return wholeSpeed(std::clamp(rpm, minValue, maxValue));
}

double fractionForSpeed(double speed, double minValue, double maxValue)
{
    if (!(maxValue > minValue))
        return std::nan("");
    return (speed - minValue) / (maxValue - minValue);
}

Fan fanOf(KLSensor* sensor)
{
    if (!sensor)
        return {};
    return {sensor->key(), sensor->minValue(), sensor->maxValue()};
}

KLFanSpeeds speedsWithFraction(const KLFanSpeeds& speeds, const QList<Fan>& fans, const QString& changedKey,
                               double fraction, bool linked)
{
    KLFanSpeeds result = speeds;
    for (const Fan& fan : fans) {
        // A speed of a fan without a range is no share of anything: the others keep theirs.
        const bool moves = fan.key == changedKey || (linked && !std::isnan(fraction));
        if (fan.key.isEmpty() || !moves || !hasSpeedRange(fan.minValue, fan.maxValue))
            continue;
        result.insert(fan.key, speedForFraction(fraction, fan.minValue, fan.maxValue));
    }
    return result;
}

KLFanSet* fanSetNamed(const QString& name)
{
    if (name.isEmpty())
        return nullptr;
    const QList<KLFanSet*> sets = KLFanSet::objectsWhere(NSPredicate::withFormat(QStringLiteral("name = %@"), name));
    return sets.isEmpty() ? nullptr : sets.first();
}

KLFanSet* selectedFanSet()
{
    return fanSetNamed(KLDataManager::sharedInstance().fanSetName());
}

bool writeSpeedFraction(const QList<Fan>& fans, const QString& changedKey, double fraction, bool linked)
{
    KLFanSet* set = selectedFanSet();
    if (!set)
        return false;
    const KLFanSpeeds speeds = speedsWithFraction(set->valueDict().value_or(KLFanSpeeds{}), fans, changedKey, fraction, linked);
    set->setValue(NSKeyedArchiver::archivedDataWithRootObject(QVariant(speeds)));
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    return true;
}

void storeFanControlMode(unsigned mode, KLFanSet* fanSet)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    if (mode != settings.fanControlMode()) {
        settings.setFanControlMode(mode);
        settings.setDidAutoBoost(false);
    }
    if (fanSet)
        settings.setFanSetName(fanSet->name());
    dispatch_async(dispatch_get_main_queue(), [] {
        NSDistributedNotificationCenter::defaultCenter().postNotificationName(
            QString::fromLatin1(KLFanControllerShouldUpdateNotification));
    });
}

bool writeSpeedFraction(const QList<KLSensor*>& fans, KLSensor* changed, double fraction)
{
    QList<Fan> rows;
    rows.reserve(fans.size());
    for (KLSensor* fan : fans)
        rows.append(fanOf(fan));
    // The set is the one the stored name selects now, looked up at the write.
    return writeSpeedFraction(rows, changed ? changed->key() : QString(), fraction,
                              KLDataManager::sharedInstance().manualLinkEnabled());
}

void applySpeedFraction(const QList<KLSensor*>& fans, KLSensor* changed, double fraction)
{
    writeSpeedFraction(fans, changed, fraction);
    storeFanControlMode(KLDataManager::sharedInstance().fanControlMode(), selectedFanSet());
}

void logSpeedChange(double fraction, const QString& source)
{
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventFanControlChangeSpeed),
                                {{QStringLiteral("value"), std::isnan(fraction) ? 0.0 : fraction},
                                 {QStringLiteral("source"), source}});
}

void storeManualLink(bool on)
{
    KLDataManager::sharedInstance().setManualLinkEnabled(on);
    KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventFanControlTapManualUtilLink),
                                {{QStringLiteral("value"), on ? QStringLiteral("1") : QStringLiteral("0")}});
}

}  // namespace KLFanControlLogic
