#pragma once
// Kelvara Menu's storyboard: the screens the menu program makes by identifier
// ("popupViewController" and the cells of its tables).
class NSStoryboard;

namespace KLMenuStoryboard {

// Made on first use. The program sets it as its main storyboard at start.
NSStoryboard& storyboard();

}  // namespace KLMenuStoryboard
