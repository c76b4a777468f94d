#pragma once
// The fan box's rows, the same in Kelvara and Kelvara Menu: a speed editor per
// fan in the fan-set mode, the fan's current speed otherwise.

class KLFanSetDetailCellDelegate;
class KLSensor;
class NSTableView;
class QObject;
class QWidget;

namespace KLFanControlCells {

// The row for `fan`, made or reused by the table; the editor rows report
// chosen speeds to `delegate`.
QWidget* viewForFan(NSTableView* tableView, KLSensor* fan, KLFanSetDetailCellDelegate* delegate, QObject* owner);

}  // namespace KLFanControlCells
