// The overheat notifications screen with four rules on the catalogue's real
// sensors (one on any sensor, one switched off), in English and Vietnamese.
#include "KLDataManager.h"
#include "KLMainStoryboard.h"
#include "KLNotificationsViewController.h"
#include "KLSensor.h"
#include "NSStoryboard.h"
#include "Pictures.h"

namespace {

KLNotification rule(const QString& key, double threshold, bool active, bool repeat)
{
    KLNotification made;
    made.sensorKey = key;
    made.sensorName = key;
    made.threshold = threshold;
    made.active = active;
    made.repeat = repeat;
    return made;
}

bool notificationsPictures(Pictures& pictures, const PictureScene& scene, bool dark, int scale)
{
    const QList<KLSensor*> sensors = KLSensor::tempSensors().value_or(QList<KLSensor*>());
    if (sensors.size() < 3)
        return false;
    KLDataManager& settings = KLDataManager::sharedInstance();
    const std::optional<QList<KLNotification>> before = settings.overheatNotifications();
    const QString language = settings.currentLanguage();
    settings.setOverheatNotifications({rule(scene.temperature->key(), 80, true, true),
                                       rule(sensors.at(1)->key(), 90, false, true),
                                       rule(QStringLiteral("any-sensor"), 95, true, true),
                                       rule(sensors.at(2)->key(), 75, true, false)});
    bool ok = true;
    for (const char* code : {"en", "vi"}) {
        settings.setCurrentLanguage(QString::fromLatin1(code));
        std::unique_ptr<NSViewController> screen(
            KLMainStoryboard::storyboard().instantiateControllerWithIdentifier(QStringLiteral("notificationsViewController")));
        if (!screen)
            return false;
        screen->resize(760, 300);
        screen->show();
        drain();
        ok &= pictures.save(*screen, QStringLiteral("notifications-%1").arg(QLatin1String(code)), dark, scale);
        screen->hide();
    }
    settings.setCurrentLanguage(language);
    if (before)
        settings.setOverheatNotifications(*before);
    drain();
    return ok;
}

const PictureSetRegistration registration("notifications", notificationsPictures);

}  // namespace
