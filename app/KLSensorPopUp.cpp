#include "KLSensorPopUp.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <algorithm>

#include "KLSensor.h"
#include "NSString+KLExtension.h"

namespace KLSensorPopUp {

void fill(QComboBox* popUp, const QList<KLSensor*>& sensors, const QString& key, const QString& anyKey,
          QString (*orDashes)(const QString&))
{
    const QSignalBlocker quiet(popUp);
    popUp->clear();
    popUp->addItem(KLExtension::localizedStringForKey(QStringLiteral("sensor-any-title")));
    popUp->insertSeparator(1);
    for (KLSensor* sensor : sensors)
        popUp->addItem(QStringLiteral("%1 (%2)").arg(orDashes(sensor->name()), orDashes(sensor->key())));
    int selected = 0;
    if (key != anyKey) {
        const qsizetype at = std::find_if(sensors.cbegin(), sensors.cend(), [&key](KLSensor* sensor) { return sensor->key() == key; })
                             - sensors.cbegin();
        if (at < sensors.size())
            selected = 2 + int(at);
    }
    popUp->setCurrentIndex(selected);
}

}  // namespace KLSensorPopUp
