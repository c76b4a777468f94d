#include "KLMainStoryboard.h"

#include "KLFileLoggingCategoryEnabledCellView.h"
#include "KLFileLoggingConfigViewController.h"
#include "KLFileLoggingSensorEnabledCellView.h"
#include "NSStoryboard.h"

namespace KLMainStoryboard {

NSStoryboard& storyboard()
{
    static NSStoryboard* board = [] {
        auto* made = new NSStoryboard(QStringLiteral("Main"));
        // One line per identifier; each screen's issue adds its own.
        // File logging: fileLoggingViewController, categoryCell, sensorCell, categoryEnabledCell, sensorEnabledCell.
        made->registerController(QStringLiteral("fileLoggingViewController"), [] { return new KLFileLoggingConfigViewController; });
        made->registerView(QStringLiteral("categoryCell"), [] { return KLFileLoggingConfigViewController::makeNameCellView(true); });
        made->registerView(QStringLiteral("sensorCell"), [] { return KLFileLoggingConfigViewController::makeNameCellView(false); });
        made->registerView(QStringLiteral("categoryEnabledCell"), [] { return new KLFileLoggingCategoryEnabledCellView; });
        made->registerView(QStringLiteral("sensorEnabledCell"), [] { return new KLFileLoggingSensorEnabledCellView; });
        NSStoryboard::setMainStoryboard(made);
        return made;
    }();
    return *board;
}

}  // namespace KLMainStoryboard
