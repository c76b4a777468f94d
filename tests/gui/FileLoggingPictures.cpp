// The file-logging screen with logging on, a few sensors ticked and the
// outline open, in English and Vietnamese.
#include <QDir>
#include <QFile>

#include "KLAnimation.h"
#include "KLDataManager.h"
#include "KLFileLoggingConfigViewController.h"
#include "KLMainStoryboard.h"
#include "NSStoryboard.h"
#include "Pictures.h"

namespace {

bool fileLoggingPictures(Pictures& pictures, const PictureScene&, bool dark, int scale)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    const QString language = settings.currentLanguage();
    const QString folder = QDir::homePath() + QStringLiteral("/Documents");
    QDir().mkpath(folder);
    QFile log(folder + QStringLiteral("/Kelvara Log.csv"));
    if (log.open(QIODevice::WriteOnly))
        log.close();
    settings.setFileLoggingEnabled(true);
    settings.setFileLoggingPath(log.fileName());
    settings.setFileLoggingResetMode(KLFileLoggingResetModeDaily);
    settings.setFileLoggingSensorKeys({QStringLiteral("TC0P"), QStringLiteral("TG0P"), QStringLiteral("0")});

    // The switch shows where it ends, not where its slide starts.
    const bool immediate = KLAnimation::immediate();
    KLAnimation::setImmediateForTesting(true);
    bool ok = true;
    for (const QString& code : {QStringLiteral("en"), QStringLiteral("vi")}) {
        settings.setCurrentLanguage(code);
        std::unique_ptr<NSViewController> screen(
            KLMainStoryboard::storyboard().instantiateControllerWithIdentifier(QStringLiteral("fileLoggingViewController")));
        if (!screen)
            return false;
        screen->resize(640, 640);
        screen->show();
        drain();
        ok &= pictures.save(*screen, QStringLiteral("file-logging-") + code, dark, scale);
    }
    KLAnimation::setImmediateForTesting(immediate);
    settings.setCurrentLanguage(language);
    settings.setFileLoggingEnabled(false);
    QFile::remove(log.fileName());
    return ok;
}

const PictureSetRegistration registration("file-logging", fileLoggingPictures);

}  // namespace
