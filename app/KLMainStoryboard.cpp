#include "KLMainStoryboard.h"

#include "KLMainCellView.h"
#include "KLMasterViewController.h"
#include "KLNotiActiveCellView.h"
#include "KLNotiCurrentValueCellView.h"
#include "KLNotiDeleteCellView.h"
#include "KLNotiRepeatCellView.h"
#include "KLNotiSensorCellView.h"
#include "KLNotiThresholdCellView.h"
#include "KLNotificationsViewController.h"
#include "KLDropdownSettingCellView.h"
#include "KLDropdownSettingsViewController.h"
#include "KLSettingsViewController.h"
#include "KLFileLoggingCategoryEnabledCellView.h"
#include "KLFileLoggingConfigViewController.h"
#include "KLFileLoggingSensorEnabledCellView.h"
#include "KLFanControlViewController.h"
#include "KLDetailViewController.h"
#include "KLFanControlCellView.h"
#include "KLFanSetDetailCellView.h"
#include "KLSensorCellView.h"
#include "NSStoryboard.h"

namespace KLMainStoryboard {

NSStoryboard& storyboard()
{
    static NSStoryboard* board = [] {
        auto* made = new NSStoryboard(QStringLiteral("Main"));
        // One line per identifier, grouped by screen.
        // Sidebar
        made->registerController(QStringLiteral("masterViewController"), [] { return new KLMasterViewController; });
        made->registerView(QStringLiteral("mainCellIdentifier"), [] { return new KLMainCellView; });
        // Overheat notifications screen and its cells.
        made->registerController(QStringLiteral("notificationsViewController"), [] { return new KLNotificationsViewController; });
        made->registerView(QStringLiteral("activeCellId"), [] { return new KLNotiActiveCellView; });
        made->registerView(QStringLiteral("notiSensorCellId"), [] { return new KLNotiSensorCellView; });
        made->registerView(QStringLiteral("notiCurrentValueCellId"), [] { return new KLNotiCurrentValueCellView; });
        made->registerView(QStringLiteral("notiThresholdCellId"), [] { return new KLNotiThresholdCellView; });
        made->registerView(QStringLiteral("repeatCellId"), [] { return new KLNotiRepeatCellView; });
        made->registerView(QStringLiteral("notiDeleteCellId"), [] { return new KLNotiDeleteCellView; });
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
        // File logging: fileLoggingViewController, categoryCell, sensorCell, categoryEnabledCell, sensorEnabledCell.
        made->registerController(QStringLiteral("fileLoggingViewController"), [] { return new KLFileLoggingConfigViewController; });
        made->registerView(QStringLiteral("categoryCell"), [] { return KLFileLoggingConfigViewController::makeNameCellView(true); });
        made->registerView(QStringLiteral("sensorCell"), [] { return KLFileLoggingConfigViewController::makeNameCellView(false); });
        made->registerView(QStringLiteral("categoryEnabledCell"), [] { return new KLFileLoggingCategoryEnabledCellView; });
        made->registerView(QStringLiteral("sensorEnabledCell"), [] { return new KLFileLoggingSensorEnabledCellView; });
        // Fan rules sheet: fanControlViewController and its cells.
        made->registerController(QStringLiteral("fanControlViewController"), [] { return new KLFanControlViewController; });
        made->registerView(QStringLiteral("fanSetCellId"), [] { return new KLFanSetCellView; });
        made->registerView(QStringLiteral("fanSetDetailCellId"), [] { return new KLFanSetDetailCellView; });
        made->registerView(QStringLiteral("fanConSensorCellId"), [] { return new KLFanConSensorCellView; });
        made->registerView(QStringLiteral("fanConThresholdCellId"), [] { return new KLFanConThresholdCellView; });
        made->registerView(QStringLiteral("fanConBatteryStateCellId"), [] { return new KLFanConBatteryStateCellView; });
        made->registerView(QStringLiteral("fanConFanSetCellId"), [] { return new KLFanConFanSetCellView; });
        made->registerView(QStringLiteral("fanConDeleteCellId"), [] { return new KLFanConDeleteCellView; });
        // Sensor detail screen and its fan control box
        made->registerController(QStringLiteral("detailViewController"), [] { return new KLDetailViewController; });
        made->registerView(QStringLiteral("sensorCellIdentifier"), [] { return new KLSensorCellView; });
        made->registerView(QStringLiteral("fanControlCellIdentifier"), [] { return new KLFanControlCellView; });
        NSStoryboard::setMainStoryboard(made);
        return made;
    }();
    return *board;
}

}  // namespace KLMainStoryboard
