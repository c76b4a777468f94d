#include "KLMainStoryboard.h"

#include "KLMainCellView.h"
#include "KLMasterViewController.h"
#include "NSStoryboard.h"

namespace KLMainStoryboard {

NSStoryboard& storyboard()
{
    static NSStoryboard* board = [] {
        auto* made = new NSStoryboard(QStringLiteral("Main"));
        // One line per identifier; each screen's issue adds its own.
        // Sidebar
        made->registerController(QStringLiteral("masterViewController"), [] { return new KLMasterViewController; });
        made->registerView(QStringLiteral("mainCellIdentifier"), [] { return new KLMainCellView; });
        NSStoryboard::setMainStoryboard(made);
        return made;
    }();
    return *board;
}

}  // namespace KLMainStoryboard
