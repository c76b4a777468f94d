#include "KLMainStoryboard.h"

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
        // One line per identifier; each screen's issue adds its own.
        // Sensor detail screen and its fan control box
        made->registerController(QStringLiteral("detailViewController"), [] { return new KLDetailViewController; });
        made->registerView(QStringLiteral("sensorCellIdentifier"), [] { return new KLSensorCellView; });
        made->registerView(QStringLiteral("fanControlCellIdentifier"), [] { return new KLFanControlCellView; });
        made->registerView(QStringLiteral("fanSetDetailCellId"), [] { return new KLFanSetDetailCellView; });
        NSStoryboard::setMainStoryboard(made);
        return made;
    }();
    return *board;
}

}  // namespace KLMainStoryboard
