// The main window at its default size: a category and each fixed item
// selected, and the sidebar and the fans pane in every language Kelvara
// speaks; and at its least size in English and French (the notifications'
// table then scrolls sideways).
#include "KLAnimation.h"
#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLMasterViewController.h"
#include "KLMenuController.h"
#include "KLNotification.h"
#include "KLSensor.h"
#include "KLWindowController.h"
#include "Pictures.h"

namespace {

void select(KLMasterViewController& master, int row)
{
    master.tableView()->selectRowIndexes({row}, false);
    master.selectCellAtRow(row);
    drain();
}

int rowOfType(KLMasterViewController& master, unsigned type)
{
    for (int i = 0; i < int(master.menuItems().size()); ++i) {
        if (master.menuItems()[i].type == type)
            return i;
    }
    return -1;
}

bool mainWindowPictures(Pictures& pictures, const PictureScene&, bool dark, int scale)
{
    KLWindowController window;
    window.resize(1100, 700);
    window.show();
    drain();
    KLMasterViewController& master = *window.masterViewController();
    bool ok = true;
    const std::pair<unsigned, const char*> items[] = {{KLMenuItemTypeTemperature, "temperature"},
                                                      {KLMenuItemTypeNotifications, "notifications"},
                                                      {KLMenuItemTypeFileLogging, "file-logging"},
                                                      {KLMenuItemTypeSettings, "settings"}};
    for (const auto& [type, name] : items) {
        select(master, rowOfType(master, type));
        ok &= pictures.save(window, QStringLiteral("main-window-%1").arg(QLatin1String(name)), dark, scale);
    }

    // Longer translations must fit the sidebar.
    KLDataManager& data = KLDataManager::sharedInstance();
    const QString language = data.currentLanguage();
    select(master, rowOfType(master, KLMenuItemTypeFileLogging));
    for (const QString& code : data.allLanguages()) {
        data.setCurrentLanguage(code);
        // Without a session bus the language notice does not come round.
        master.reloadData();
        window.menuController()->updateUI();
        select(master, rowOfType(master, KLMenuItemTypeFileLogging));
        ok &= pictures.save(window, QStringLiteral("main-window-%1").arg(code), dark, scale);
        // The fan box's header holds a translated title, pop-up and button side by side.
        select(master, rowOfType(master, KLMenuItemTypeFan));
        ok &= pictures.save(window, QStringLiteral("main-window-fans-%1").arg(code), dark, scale);
    }
    data.setCurrentLanguage(language);
    master.reloadData();
    window.menuController()->updateUI();

    // At its least size, in English and French: every name and the graph's
    // axes, with every fan and the first temperatures in the menu bar.
    const QStringList menuSensors = data.menuSensors().value_or(QStringList{});
    QStringList chips;
    for (KLCategory* category : KLCategory::allObjects()) {
        const QList<KLSensor*> sensors = category->sensors();
        if (category->type() == KLCategoryTypeFan || category->type() == KLCategoryTypeTemperature)
            for (KLSensor* sensor : sensors.mid(0, category->type() == KLCategoryTypeFan ? sensors.size() : 4))
                chips << sensor->key();
    }
    data.setMenuSensors(chips);
    // Two rules, so the notifications' table has rows to scroll.
    const std::optional<QList<KLNotification>> rules = data.overheatNotifications();
    KLNotification rule;
    rule.sensorKey = rule.sensorName = chips.value(0);
    rule.threshold = 80;
    rule.active = rule.repeat = true;
    data.setOverheatNotifications({rule, rule});
    // The menu-bar switch at rest, not halfway through its animation.
    const bool wasImmediate = KLAnimation::immediate();
    KLAnimation::setImmediateForTesting(true);
    for (const QString& code : {QStringLiteral("en"), QStringLiteral("fr")}) {
        KLWindowController small;
        data.setCurrentLanguage(code);
        small.show();
        drain();
        KLMasterViewController& smallMaster = *small.masterViewController();
        for (const auto& [type, name] : {std::pair{KLMenuItemTypeTemperature, "temperature"},
                                         std::pair{KLMenuItemTypeFan, "fans"},
                                         std::pair{KLMenuItemTypeNotifications, "notifications"}}) {
            select(smallMaster, rowOfType(smallMaster, type));
            small.resize(1, 1);
            drain();
            ok &= pictures.save(small, QStringLiteral("main-window-least-%1-%2").arg(QLatin1String(name), code), dark,
                                scale);
        }
    }
    KLAnimation::setImmediateForTesting(wasImmediate);
    data.setCurrentLanguage(language);
    data.setMenuSensors(menuSensors);
    if (rules)
        data.setOverheatNotifications(*rules);
    return ok;
}

const PictureSetRegistration registration("main-window", mainWindowPictures);

}  // namespace
