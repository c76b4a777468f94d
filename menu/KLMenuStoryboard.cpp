#include "KLMenuStoryboard.h"

#include "NSStoryboard.h"

namespace KLMenuStoryboard {

NSStoryboard& storyboard()
{
    static NSStoryboard* board = [] {
        auto* made = new NSStoryboard(QStringLiteral("Main"));
        // One line per identifier, grouped by screen.
        return made;
    }();
    return *board;
}

}  // namespace KLMenuStoryboard
