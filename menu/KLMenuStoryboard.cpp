#include "KLMenuStoryboard.h"

#include "KLFanControlCellView.h"
#include "KLFanSetDetailCellView.h"
#include "KLPopupDetailViewController.h"
#include "KLPopupHeaderCellView.h"
#include "KLPopupSensorCellView.h"
#include "KLPopupViewController.h"
#include "NSStoryboard.h"

namespace KLMenuStoryboard {

NSStoryboard& storyboard()
{
    static NSStoryboard* board = [] {
        auto* made = new NSStoryboard(QStringLiteral("Main"));
        // One line per identifier, grouped by screen.
        // Popover: popupViewController, its tables' cells, and the sensor detail popover.
        made->registerController(QStringLiteral("popupViewController"), [] { return new KLPopupViewController; });
        made->registerController(QStringLiteral("detailPopoverViewController"), [] { return new KLPopupDetailViewController; });
        made->registerView(QStringLiteral("headerCell"), [] { return new KLPopupHeaderCellView; });
        made->registerView(QStringLiteral("sensorCell"), [] { return new KLPopupSensorCellView; });
        made->registerView(QStringLiteral("fanSetDetailCellId"), [] { return new KLFanSetDetailCellView; });
        made->registerView(QStringLiteral("fanControlCellIdentifier"), [] { return new KLFanControlCellView; });
        return made;
    }();
    return *board;
}

}  // namespace KLMenuStoryboard
