#pragma once
// One row of the sidebar: a sensor category or one of the three fixed items.
#include <QIcon>
#include <QString>

class KLCategory;

enum KLMenuItemType : unsigned {
    KLMenuItemTypeTemperature = 0,
    KLMenuItemTypeFan = 1,
    KLMenuItemTypeVoltage = 2,
    KLMenuItemTypeCurrent = 3,
    KLMenuItemTypePower = 4,
    KLMenuItemTypeNotifications = 5,
    KLMenuItemTypeFileLogging = 6,
    KLMenuItemTypeSettings = 7,
};

class KLMenuItem {
public:
    // The type and its icon, and for the fixed items their title in the
    // chosen language; any other type gives an item with only its type.
    static KLMenuItem menuItemWithType(unsigned type);
    // The item of the category's type, titled with its name.
    static KLMenuItem menuItemWithCategory(KLCategory* category);

    unsigned type = 0;
    QString title;
    // The image's name: the icon is looked up again when light and dark change.
    QString iconName;
    QIcon iconImage;
    KLCategory* category = nullptr;

    bool isCategoryItem() const { return type <= KLMenuItemTypePower; }
};
