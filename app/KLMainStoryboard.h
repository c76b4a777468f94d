#pragma once
// Kelvara's storyboard: every screen and cell prototype the program makes by
// identifier ("settingsViewController", "sensorCellIdentifier", "tableRow" ...).
class NSStoryboard;

namespace KLMainStoryboard {

// Made and set as the program's main storyboard on first use.
NSStoryboard& storyboard();

}  // namespace KLMainStoryboard
