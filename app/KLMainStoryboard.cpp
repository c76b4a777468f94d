#include "KLMainStoryboard.h"

#include "KLFanControlViewController.h"
#include "NSStoryboard.h"

namespace KLMainStoryboard {

NSStoryboard& storyboard()
{
    static NSStoryboard* board = [] {
        auto* made = new NSStoryboard(QStringLiteral("Main"));
        // One line per identifier; each screen's issue adds its own.
        // Fan rules sheet: fanControlViewController and its cells.
        made->registerController(QStringLiteral("fanControlViewController"), [] { return new KLFanControlViewController; });
        made->registerView(QStringLiteral("fanSetCellId"), [] { return new KLFanSetCellView; });
        made->registerView(QStringLiteral("fanSetDetailCellId"), [] { return new KLFanSetDetailCellView; });
        made->registerView(QStringLiteral("fanConSensorCellId"), [] { return new KLFanConSensorCellView; });
        made->registerView(QStringLiteral("fanConThresholdCellId"), [] { return new KLFanConThresholdCellView; });
        made->registerView(QStringLiteral("fanConBatteryStateCellId"), [] { return new KLFanConBatteryStateCellView; });
        made->registerView(QStringLiteral("fanConFanSetCellId"), [] { return new KLFanConFanSetCellView; });
        made->registerView(QStringLiteral("fanConDeleteCellId"), [] { return new KLFanConDeleteCellView; });
        NSStoryboard::setMainStoryboard(made);
        return made;
    }();
    return *board;
}

}  // namespace KLMainStoryboard
