#pragma once
// The fan box's rows, the same in Kelvara and Kelvara Menu: a speed editor per
// fan in the fan-set mode, the fan's current speed otherwise.

#include <QList>
#include <QStringList>
#include <functional>

class KLFanSetDetailCellDelegate;
class KLSensor;
class NSTableView;
class QComboBox;
class QObject;
class QPushButton;
class QToolButton;
class QWidget;

namespace KLFanControlCells {

// The row for `fan`, made or reused by the table; the editor rows report
// chosen speeds to `delegate`.
QWidget* viewForFan(NSTableView* tableView, KLSensor* fan, KLFanSetDetailCellDelegate* delegate, QObject* owner);

// The speed buttons for 25, 50, 75 and 100 percent call `chosen` with their fraction.
void connectSpeedButtons(QPushButton* util25, QPushButton* util50, QPushButton* util75, QPushButton* util100,
                         QObject* owner, const std::function<void(double)>& chosen);
// The link button shows whether the speeds are linked.
void showLink(QToolButton* button, bool linked);
// Fills the mode pop-up from the stored fan sets and shows `mode`; returns the
// set names it shows, against which a later choice is read.
QStringList fillModeButton(QComboBox* button, unsigned mode, const QString& fanSetName);
// The fan of the table's selected row; `current` when no row is selected.
KLSensor* selectedFan(NSTableView* tableView, const QList<KLSensor*>& fans, KLSensor* current);
// Selects the row of `fan` when it has one.
void selectFan(NSTableView* tableView, const QList<KLSensor*>& fans, KLSensor* fan);

}  // namespace KLFanControlCells
