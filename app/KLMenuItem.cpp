#include "KLMenuItem.h"

#include "KLCategory.h"
#include "NSImage.h"
#include "NSString+KLExtension.h"

KLMenuItem KLMenuItem::menuItemWithType(unsigned type)
{
    static const char* const icons[] = {"ico_temp",         "ico_fan", "ico_voltage", "ico_current", "ico_power",
                                        "ico_notification", "ico_log", "ico_settings"};
    static const char* const titles[] = {"side-bar-notifications-item", "side-bar-file-logging-item",
                                         "side-bar-settings-item"};
    KLMenuItem item;
    item.type = type;
    if (type > KLMenuItemTypeSettings)
        return item;
    item.iconName = QString::fromLatin1(icons[type]);
    item.iconImage = NSImage::imageNamed(item.iconName);
    if (type >= KLMenuItemTypeNotifications)
        item.title = KLExtension::localizedStringForKey(QString::fromLatin1(titles[type - KLMenuItemTypeNotifications]));
    return item;
}

KLMenuItem KLMenuItem::menuItemWithCategory(KLCategory* category)
{
    KLMenuItem item = menuItemWithType(unsigned(category->type()));
    item.category = category;
    item.title = category->localizedName();
    return item;
}
