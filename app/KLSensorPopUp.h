#pragma once
// The sensor pop-up of the fan-rule and notification rows: "any sensor", a
// separator, then "name (key)" for each sensor.
#include <QList>
#include <QString>

class KLSensor;
class QComboBox;

namespace KLSensorPopUp {

// Fills `popUp` and shows the sensor whose key is `key`; the "any sensor" item
// for `anyKey` or a key no sensor has. `orDashes` is the row's own stand-in for
// a missing name or key.
void fill(QComboBox* popUp, const QList<KLSensor*>& sensors, const QString& key, const QString& anyKey,
          QString (*orDashes)(const QString&));

}  // namespace KLSensorPopUp
