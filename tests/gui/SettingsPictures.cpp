// The settings pane at the size it has beside the sidebar, in every
// language, and the dropdown layout sheet.
#include "KLDataManager.h"
#include "KLDropdownSettingsViewController.h"
#include "KLMainStoryboard.h"
#include "KLSettingsViewController.h"
#include "NSStoryboard.h"
#include "Pictures.h"

namespace {

bool settingsPictures(Pictures& pictures, const PictureScene&, bool dark, int scale)
{
    KLDataManager& data = KLDataManager::sharedInstance();
    const QString language = data.currentLanguage();
    std::unique_ptr<NSViewController> made(
        KLMainStoryboard::storyboard().instantiateControllerWithIdentifier(QStringLiteral("settingsViewController")));
    auto* screen = qobject_cast<KLSettingsViewController*>(made.get());
    if (!screen)
        return false;
    screen->resize(860, 700);
    screen->show();
    drain();
    bool ok = true;
    for (const QString& code : data.allLanguages()) {
        data.setCurrentLanguage(code);
        drain();
        ok &= pictures.save(*screen, QStringLiteral("settings-%1").arg(code), dark, scale);

        if (code != QLatin1String("es")) {
            KLDropdownSettingsViewController* sheet = screen->dropdownSettingsViewController();
            if (!sheet)
                return false;
            sheet->show();
            drain();
            sheet->adjustSize();
            ok &= pictures.save(*sheet, QStringLiteral("dropdown-settings-%1").arg(code), dark, scale);
            sheet->hide();
        }
    }
    screen->hide();
    data.setCurrentLanguage(language);
    drain();
    return ok;
}

const PictureSetRegistration registration("settings", settingsPictures);

}  // namespace
