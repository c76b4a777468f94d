#pragma once
#include <QList>
#include <QString>

#include "NSFetchRequest.h"
#include "NSManagedObject.h"

class KLSensor;

// KLCategoryType
enum KLCategoryType : int {
    KLCategoryTypeTemperature = 0,
    KLCategoryTypeFan = 1,
    KLCategoryTypeVoltage = 2,
    KLCategoryTypeCurrent = 3,
    KLCategoryTypePower = 4,
};

class KLCategory : public NSManagedObject {
public:
    static NSFetchRequest fetchRequest();
    // The first category of that name, inserted when there is none (type left to the caller).
    static KLCategory* categoryWithName(const QString& name);
    // The first category of that name, or null; never inserts.
    static KLCategory* getCategoryWithName(const QString& name);
    static QList<KLCategory*> objectsWhere(const NSPredicate& predicate);
    // Every category by type: temperature, fan, voltage, current, power.
    static QList<KLCategory*> allObjects();

    QString name() { return valueForKey(QStringLiteral("name")).toString(); }
    void setName(const QString& name) { setValueForKey(name, QStringLiteral("name")); }
    int type() { return valueForKey(QStringLiteral("type")).toInt(); }
    void setType(int type) { setValueForKey(type, QStringLiteral("type")); }

    QList<KLSensor*> sensors();
    void setSensors(const QList<KLSensor*>& sensors);

    // Lists this category's sensors anew from the SMC's working keys (fans by
    // index). Only the main program builds the catalogue.
    void updateSensors();
    QString localizedName();
};
