#pragma once
// The fan-control rules shared by every place that shows the fan-control
// mode and fan speeds (the detail screen's fan box, the fan-rules sheet, the
// menu-bar popover), without any widget: the mode pop-up's items and which
// one shows the stored mode, the meaning of a chosen item, the speed a
// fraction of a fan's range gives, the link rule, and the fan set the stored
// name selects.
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "KLFanSet.h"

class KLSensor;

namespace KLFanControlLogic {

// The mode pop-up: system control, a separator, one item per fan set (in
// stored order), a separator, auto boost.
struct PopUpItem {
    enum Kind { System, Separator, FanSet, AutoBoost };
    Kind kind = Separator;
    QString title;  // localized for System and AutoBoost, the set's name for FanSet, empty for Separator
};
QList<PopUpItem> popUpItems(const QStringList& fanSetNames);
// The item showing the stored mode: 0 for system control, and also for mode 1
// when no set has the stored name; the auto-boost item for mode 2.
int selectedPopUpIndex(unsigned mode, const QString& fanSetName, const QStringList& fanSetNames);

// What choosing item `index` of the pop-up means.
struct PopUpChoice {
    unsigned mode = 0;      // KLFanControlMode
    int fanSetIndex = -1;   // into the fan-set list for mode 1; -1 when out of range or another mode
};
PopUpChoice choiceForPopUpIndex(int index, int fanSetCount);

// Whether [minValue, maxValue] is a range a speed can be chosen from: both
// ends finite, the minimum not above the maximum.
bool hasSpeedRange(double minValue, double maxValue);
// rpm for a fraction of the range [minValue, maxValue]: truncated toward zero,
// then held within the range. A range without width gives its minimum; a
// range without finite ends gives 0.
long long speedForFraction(double fraction, double minValue, double maxValue);
// The fraction of the range a speed is at; not a number for a range without
// width, where a speed is no share of anything.
double fractionForSpeed(double speed, double minValue, double maxValue);

// A fan as the speed rule needs it.
struct Fan {
    QString key;
    double minValue = 0;
    double maxValue = 0;
};
Fan fanOf(KLSensor* sensor);
// The speeds after giving `fraction` of its own range to every fan (linked)
// or to the fan with `changedKey` alone; other entries stay. A fraction that
// is not a number moves the changed fan alone (to its minimum). A fan without
// a key, or without a range (hasSpeedRange), gets nothing.
KLFanSpeeds speedsWithFraction(const KLFanSpeeds& speeds, const QList<Fan>& fans, const QString& changedKey,
                               double fraction, bool linked);

// The first stored fan set whose name is `name`, looked up anew; null when
// there is none (or the name is empty).
KLFanSet* fanSetNamed(const QString& name);
// The set the stored fan-set name selects now.
KLFanSet* selectedFanSet();

// Writes the speeds for a change to the set the stored name selects at this
// moment and saves the store; false (nothing written) when no set has that
// name, for example because it was deleted meanwhile.
bool writeSpeedFraction(const QList<Fan>& fans, const QString& changedKey, double fraction, bool linked);

// What the fan boxes do on a change, the same in Kelvara and Kelvara Menu.
// Stores the chosen mode (a new mode forgets an earlier auto boost) and the
// set chosen with it, then asks the fan controller to update once this event
// is done.
void storeFanControlMode(unsigned mode, KLFanSet* fanSet);
// writeSpeedFraction for the box's fan rows: the changed row's fan alone, or
// every row's fan when the stored link is on.
bool writeSpeedFraction(const QList<KLSensor*>& fans, KLSensor* changed, double fraction);
// A speed chosen in the box: writes it, then stores the current mode with the
// selected set as storeFanControlMode does.
void applySpeedFraction(const QList<KLSensor*>& fans, KLSensor* changed, double fraction);
// A speed chosen in the box, from "button", "slider" or "textfield", for the event log.
void logSpeedChange(double fraction, const QString& source);
// Stores the link button's state and logs it.
void storeManualLink(bool on);

}  // namespace KLFanControlLogic
