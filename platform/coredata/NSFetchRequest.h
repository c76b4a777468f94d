#pragma once
#include <QList>
#include <QString>

#include "NSPredicate.h"

struct NSSortDescriptor {
    QString key;
    bool ascending = true;
};

class NSFetchRequest {
public:
    NSFetchRequest() = default;
    explicit NSFetchRequest(const QString& entityName)
        : entityName(entityName)
    {
    }
    static NSFetchRequest fetchRequestWithEntityName(const QString& entityName) { return NSFetchRequest(entityName); }

    QString entityName;
    NSPredicate predicate;
    QList<NSSortDescriptor> sortDescriptors;
    int fetchLimit = 0;  // 0: no limit
};
