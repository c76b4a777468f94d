// Kelvara Menu's popover below a top panel's item: the tile, the fan box in
// system and fan-set modes and the sensor list; and the detail popover of a
// hovered sensor with its graph. In English and in German, the longer one.
#include <QApplication>
#include <QScrollBar>
#include <cmath>
#include <cstdio>

#include "KLAnimation.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanControlLogic.h"
#include "KLFanSet.h"
#include "KLGraphPoint.h"
#include "KLMenuStoryboard.h"
#include "KLPopupDetailViewController.h"
#include "KLPopupViewController.h"
#include "KLSensor.h"
#include "KLTrackingTableView.h"
#include "NSPopover.h"
#include "NSScreen.h"
#include "NSStoryboard.h"
#include "Pictures.h"

namespace {

bool popoverPictures(Pictures& pictures, const PictureScene& scene, bool dark, int scale)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    seedDayOfHistory(scene.temperature, scene.now);
    if (!KLFanControlLogic::fanSetNamed(QStringLiteral("Quiet"))) {
        KLFanSet::fanSetWithName(QStringLiteral("Quiet"), KLFanSpeeds{{QStringLiteral("0"), 2400}, {QStringLiteral("1"), 2600}});
        KLCoreDataHelper::sharedInstance().saveMasterContext();
    }
    const QString language = settings.currentLanguage();
    settings.setGraphTimeRange(KLGraphTimeRangeDay);
    drain();
    const bool wasImmediate = KLAnimation::immediate();
    KLAnimation::setImmediateForTesting(true);

    bool ok = true;
    const QRect area = NSScreen::visibleFrame(NSScreen::mainScreen());
    for (const QString& code : {QStringLiteral("en"), QStringLiteral("fr"), QStringLiteral("de")}) {
        settings.setCurrentLanguage(code);
        settings.setFanControlMode(KLFanControlModeSystem);
        settings.setManualLinkEnabled(false);
        drain();
        NSPopover popover;
        auto* screen = dynamic_cast<KLPopupViewController*>(
            KLMenuStoryboard::storyboard().instantiateControllerWithIdentifier(QStringLiteral("popupViewController")));
        popover.setContentViewController(screen);
        popover.showRelativeToRect(QRect(area.right() - 260, area.top() - 14, 1, 1), NSRectEdgeMinY);
        drain();
        ok &= pictures.save(*popover.window(), QStringLiteral("popover-system-%1").arg(code), dark, scale);

        settings.setFanSetName(QStringLiteral("Quiet"));
        settings.setManualLinkEnabled(true);
        settings.setFanControlMode(KLFanControlModeFanSet);
        screen->updateUI();
        drain();
        ok &= pictures.save(*popover.window(), QStringLiteral("popover-fanset-%1").arg(code), dark, scale);

        // The pointer on the main sensor's row, as the list reports it.
        auto* list = screen->findChild<KLTrackingTableView*>(QStringLiteral("tableView"));
        for (int row = 0; row < screen->dataDicts().size(); ++row) {
            if (screen->dataDicts()[row].sensor != scene.temperature)
                continue;
            const QRect rect = list->rectOfRow(row);
            list->scrollRowToVisible(row);
            drain();
            const QPoint inView(40, rect.center().y() - list->verticalScrollBar()->value() - 10);
            screen->trackingTableViewMouseMoved(list->viewport()->mapToGlobal(inView));
            break;
        }
        drain();
        if (screen->detailPopover()->isShown()) {
            ok &= pictures.save(*screen->detailPopover()->window(), QStringLiteral("popover-detail-%1").arg(code), dark, scale);
        } else {
            std::fprintf(stderr, "popover pictures: no detail popover for the main sensor\n");
            ok = false;
        }
        popover.close();
        drain();
    }
    settings.setCurrentLanguage(language);
    settings.setFanControlMode(KLFanControlModeSystem);
    settings.setManualLinkEnabled(false);
    drain();
    KLAnimation::setImmediateForTesting(wasImmediate);
    return ok;
}

const PictureSetRegistration registration("popover", popoverPictures);

}  // namespace
