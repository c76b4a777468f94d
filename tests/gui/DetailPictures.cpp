// The sensor detail screen as the main window's category pane shows it: the
// temperature category with a day of history, the fan category in each of
// the three fan-control modes, and a voltage category.
#include <QApplication>
#include <cmath>

#include "KLAnimation.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLDetailViewController.h"
#include "KLFanControlLogic.h"
#include "KLFanSet.h"
#include "KLGraphPoint.h"
#include "KLMainStoryboard.h"
#include "KLSensor.h"
#include "Pictures.h"

namespace {

KLCategory* categoryOfType(int type)
{
    for (KLCategory* category : KLCategory::allObjects())
        if (category->type() == type && !category->sensors().isEmpty())
            return category;
    return nullptr;
}

bool detailPictures(Pictures& pictures, const PictureScene& scene, bool dark, int scale)
{
    KLMainStoryboard::storyboard();
    KLDataManager& settings = KLDataManager::sharedInstance();
    seedDayOfHistory(scene.temperature, scene.now);
    if (!KLFanControlLogic::fanSetNamed(QStringLiteral("Quiet"))) {
        KLFanSet::fanSetWithName(QStringLiteral("Quiet"), KLFanSpeeds{{QStringLiteral("0"), 2400}, {QStringLiteral("1"), 2600}});
        KLFanSet::fanSetWithName(QStringLiteral("Full Speed"), KLFanSpeeds{{QStringLiteral("0"), 6000}, {QStringLiteral("1"), 6000}});
        KLCoreDataHelper::sharedInstance().saveMasterContext();
    }
    settings.setMenuSensors({scene.temperature->key(), scene.fan->key(), QStringLiteral("TG0P"), QStringLiteral("TB0T")});
    settings.setGraphTimeRange(KLGraphTimeRangeDay);
    settings.setFanControlMode(KLFanControlModeSystem);
    drain();

    bool ok = true;
    const bool wasImmediate = KLAnimation::immediate();
    KLAnimation::setImmediateForTesting(true);
    KLDetailViewController screen;
    screen.resize(860, 700);
    screen.setCategory(scene.temperature->category());
    screen.show();
    drain();
    ok &= pictures.save(screen, QStringLiteral("detail-temperature"), dark, scale);

    screen.setCategory(scene.fan->category());
    drain();
    ok &= pictures.save(screen, QStringLiteral("detail-fan-system"), dark, scale);
    settings.setFanSetName(QStringLiteral("Quiet"));
    settings.setManualLinkEnabled(true);
    settings.setFanControlMode(KLFanControlModeFanSet);
    drain();
    screen.updateUI();
    drain();
    ok &= pictures.save(screen, QStringLiteral("detail-fan-fanset"), dark, scale);
    settings.setFanControlMode(KLFanControlModeAutoBoost);
    screen.updateUI();
    drain();
    ok &= pictures.save(screen, QStringLiteral("detail-fan-autoboost"), dark, scale);
    settings.setFanControlMode(KLFanControlModeSystem);
    settings.setManualLinkEnabled(false);

    if (KLCategory* voltage = categoryOfType(KLCategoryTypeVoltage)) {
        settings.setGraphTimeRange(KLGraphTimeRangeHour);
        screen.setCategory(voltage);
        drain();
        ok &= pictures.save(screen, QStringLiteral("detail-voltage"), dark, scale);
    }
    screen.hide();
    drain();
    KLAnimation::setImmediateForTesting(wasImmediate);
    return ok;
}

const PictureSetRegistration registration("detail", detailPictures);

}  // namespace
