#pragma once
// The stored list of sensors shown in the menu bar, as the detail screens'
// switch changes it.
#include <QSizeF>
#include <QString>

namespace KLMenuBarSensors {

// The switch's track; its widget adds room for the shadow around it.
inline constexpr QSizeF kSwitchTrackSize(38, 22);

// Adds the key at the end of the list (once) or takes it out, and logs a sensor newly shown.
void setShown(const QString& key, bool on);

}  // namespace KLMenuBarSensors
