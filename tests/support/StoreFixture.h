#pragma once
// A store file in a temporary folder, opened with the shipped model, and a
// way to open the same file again as another program would.
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "NSManagedObjectContext.h"

inline std::shared_ptr<NSManagedObjectModel> shippedModel()
{
    static auto model = NSManagedObjectModel::modelWithContentsOfFile(
        QStringLiteral(KELVARA_APP_DIR "/Contents/Resources/Database.momd"));
    return model;
}

struct StoreConnection {
    std::shared_ptr<NSPersistentStoreCoordinator> coordinator;
    std::unique_ptr<NSManagedObjectContext> context;
    bool opened = false;
    QString error;

    // setUp runs on the coordinator before the store is added.
    explicit StoreConnection(const QString& path, std::shared_ptr<NSManagedObjectModel> model = shippedModel(),
                             const std::function<void(NSPersistentStoreCoordinator&)>& setUp = {})
        : coordinator(std::make_shared<NSPersistentStoreCoordinator>(model))
        , context(std::make_unique<NSManagedObjectContext>(NSMainQueueConcurrencyType))
    {
        if (setUp)
            setUp(*coordinator);
        const QVariantMap options{{NSMigratePersistentStoresAutomaticallyOption, true},
                                  {NSInferMappingModelAutomaticallyOption, true}};
        opened = coordinator->addPersistentStoreWithType(NSSQLiteStoreType, {}, path, options, &error);
        context->setPersistentStoreCoordinator(coordinator);
        context->setStalenessInterval(0);
        context->setMergePolicy(NSMergePolicyType::NSMergeByPropertyObjectTrumpMergePolicy);
    }

    NSManagedObject* insert(const char* entity) { return context->insertNewObjectForEntityForName(entity); }
    QList<NSManagedObject*> fetch(const char* entity, const NSPredicate& predicate = {})
    {
        NSFetchRequest request(entity);
        request.predicate = predicate;
        return context->executeFetchRequest(request);
    }
};
