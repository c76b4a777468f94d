#include "KLMainStoryboard.h"

#include "NSStoryboard.h"

namespace KLMainStoryboard {

NSStoryboard& storyboard()
{
    static NSStoryboard* board = [] {
        auto* made = new NSStoryboard(QStringLiteral("Main"));
        // One line per identifier; each screen's issue adds its own.
        NSStoryboard::setMainStoryboard(made);
        return made;
    }();
    return *board;
}

}  // namespace KLMainStoryboard
