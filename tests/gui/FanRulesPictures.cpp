// The fan rules sheet over a host window at its natural size: three fan sets
// and three auto-boost conditions, in fan-set and auto-boost mode, in English
// and German.
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanCondition.h"
#include "KLFanControlLogic.h"
#include "KLFanControlViewController.h"
#include "KLFanSet.h"
#include "KLMainStoryboard.h"
#include "KLAnimation.h"
#include "KLSensor.h"
#include "NSStoryboard.h"
#include "Pictures.h"

#include <algorithm>

namespace {

// Rules in the master context, unsaved: the sheet's child context sees them,
// and deleting them afterwards leaves the store as it was.
QList<NSManagedObject*> addRules()
{
    const QList<KLSensor*> fans = KLSensor::fanSensors().value_or(QList<KLSensor*>());
    const QList<KLSensor*> temps = KLSensor::tempSensors().value_or(QList<KLSensor*>());
    QList<NSManagedObject*> made;
    QList<KLFanSet*> sets;
    const double shares[] = {0.2, 0.55, 1.0};
    const char* names[] = {"Quiet", "Balanced", "Full Speed"};
    NSManagedObjectContext* master = KLCoreDataHelper::sharedInstance().masterContext();
    // The store may already hold sets of these names: those are shown as they
    // are, so the list names each set once.
    const QList<KLFanSet*> stored = KLFanSet::allObjectsInContext(master);
    for (int i = 0; i < 3; ++i) {
        const QString name = QString::fromLatin1(names[i]);
        const auto existing =
            std::find_if(stored.begin(), stored.end(), [&](KLFanSet* set) { return set->name() == name; });
        if (existing != stored.end()) {
            sets << *existing;
            continue;
        }
        KLFanSpeeds speeds;
        for (KLSensor* fan : fans)
            speeds.insert(fan->key(), KLFanControlLogic::speedForFraction(shares[i], fan->minValue(), fan->maxValue()));
        KLFanSet* set = KLFanSet::fanSetWithName(name, speeds);
        set->setCreated(QDateTime::currentDateTime().addSecs(i + 1));
        sets << set;
        made << set;
    }
    const struct {
        int sensor;
        double threshold;
        int batteryState;
        int set;
    } rules[] = {{0, 75, 0, 1}, {1, 85, 1, 2}, {-1, 95, 2, 2}};
    for (int i = 0; i < 3 && temps.size() > 1; ++i) {
        KLSensor* sensor = temps[std::max(rules[i].sensor, 0)];
        KLFanCondition* condition = KLFanCondition::fanConditionWithFanSet(sets[rules[i].set], sensor, rules[i].threshold,
                                                                           rules[i].batteryState, master);
        if (rules[i].sensor < 0)
            condition->setSensorKey(QString::fromLatin1(KLAnySensorKey));
        condition->setCreated(QDateTime::currentDateTime().addSecs(i - 10));
        made << condition;
    }
    return made;
}

bool fanRulesPictures(Pictures& pictures, const PictureScene&, bool dark, int scale)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    const QString language = settings.currentLanguage();
    const unsigned mode = settings.fanControlMode();
    const QString setName = settings.fanSetName();
    const QList<NSManagedObject*> made = addRules();
    const bool animations = KLAnimation::immediate();
    KLAnimation::setImmediateForTesting(true);
    bool ok = true;
    for (const char* code : {"en", "fr", "de"}) {
        settings.setCurrentLanguage(QString::fromLatin1(code));
        for (const unsigned shown : {unsigned(KLFanControlModeFanSet), unsigned(KLFanControlModeAutoBoost)}) {
            settings.setFanControlMode(shown);
            settings.setFanSetName(QStringLiteral("Balanced"));
            settings.setAutoBoostNotificationEnabled(shown == KLFanControlModeAutoBoost);
            settings.setManualLinkEnabled(shown == KLFanControlModeFanSet);
            NSViewController host;
            host.resize(900, 800);
            host.show();
            std::unique_ptr<KLFanControlViewController> sheet(dynamic_cast<KLFanControlViewController*>(
                KLMainStoryboard::storyboard().instantiateControllerWithIdentifier("fanControlViewController")));
            if (!sheet)
                return false;
            sheet->setPreferredMode(shown);
            host.presentViewControllerAsSheet(sheet.get());
            drain();
            const QString name = QStringLiteral("fan-rules-%1-%2")
                                     .arg(shown == KLFanControlModeFanSet ? "fanset" : "autoboost", code);
            ok &= pictures.save(*sheet, name, dark, scale);
            sheet->cancelButtonTapped();
            drain();
        }
    }
    NSManagedObjectContext* master = KLCoreDataHelper::sharedInstance().masterContext();
    for (NSManagedObject* object : made)
        master->deleteObject(object);
    KLAnimation::setImmediateForTesting(animations);
    settings.setCurrentLanguage(language);
    settings.setFanControlMode(mode);
    settings.setFanSetName(setName);
    return ok;
}

const PictureSetRegistration registration("fan rules", fanRulesPictures);

}  // namespace
