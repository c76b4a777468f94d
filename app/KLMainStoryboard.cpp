#include "KLMainStoryboard.h"

#include "KLDropdownSettingCellView.h"
#include "KLDropdownSettingsViewController.h"
#include "KLSettingsViewController.h"
#include "NSStoryboard.h"

namespace KLMainStoryboard {

NSStoryboard& storyboard()
{
    static NSStoryboard* board = [] {
        auto* made = new NSStoryboard(QStringLiteral("Main"));
        // One line per identifier; each screen's issue adds its own.
        // Settings screen and its dropdown layout sheet.
        made->registerController(QStringLiteral("settingsViewController"), [] { return new KLSettingsViewController; });
        made->registerController(QStringLiteral("dropdownSettingsViewController"),
                                 [] { return new KLDropdownSettingsViewController; });
        made->registerView(QStringLiteral("dropdownSettingMainSensorCellView"),
                           [] { return new KLDropdownSettingMainSensorCellView; });
        made->registerView(QStringLiteral("dropdownSettingFanControlCellView"),
                           [] { return new KLDropdownSettingFanControlCellView; });
        made->registerView(QStringLiteral("dropdownSettingCategoryCellView"),
                           [] { return new KLDropdownSettingCategoryCellView; });
        NSStoryboard::setMainStoryboard(made);
        return made;
    }();
    return *board;
}

}  // namespace KLMainStoryboard
