#include "KLMenuBarSensors.h"

#include <QStringList>

#include "KLAnalyticsHelper.h"
#include "KLDataManager.h"

namespace KLMenuBarSensors {

void setShown(const QString& key, bool on)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    QStringList keys = settings.menuSensors().value_or(QStringList{});
    if (on && !keys.contains(key))
        keys.append(key);
    else if (!on)
        keys.removeAll(key);
    settings.setMenuSensors(keys);
    if (on)
        KLAnalyticsHelper::logEvent(QString::fromLatin1(KLEventSensorShowInMenu),
                                    {{QStringLiteral("sensor"), key.isEmpty() ? QStringLiteral("--") : key}});
}

}  // namespace KLMenuBarSensors
