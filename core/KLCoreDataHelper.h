#pragma once
// The process's one store stack over "Database.sqlite" in the app-group
// container. Every part is made on first use; all three programs open the
// same file, each with its own coordinator and contexts.
#include <QString>
#include <functional>
#include <memory>

#include "NSManagedObjectContext.h"

inline constexpr const char* KLAppGroupIdentifier = "group.com.orvane.kelvara";

class KLCoreDataHelper {
public:
    static KLCoreDataHelper& sharedInstance();
    KLCoreDataHelper() = default;

    QString applicationDocumentsDirectory() const;
    std::shared_ptr<NSManagedObjectModel> managedObjectModel();
    std::shared_ptr<NSPersistentStoreCoordinator> persistentStoreCoordinator();
    // Null when there is no model; fetches in it then find nothing.
    NSManagedObjectContext* masterContext();
    // A private child of the master context; the caller owns it.
    std::shared_ptr<NSManagedObjectContext> newContext();

    // Saves the child into the master context and then the master into the store, both queued.
    void saveContext(const std::shared_ptr<NSManagedObjectContext>& context);
    void saveMasterContext();
    // Queued; then, when given, runs right after the refresh (also without a store).
    void refreshAllObjectsInMasterContext(std::function<void()> then = {});

private:
    std::shared_ptr<NSManagedObjectModel> m_model;
    std::shared_ptr<NSPersistentStoreCoordinator> m_coordinator;
    std::unique_ptr<NSManagedObjectContext> m_masterContext;
    bool m_saveRetryPending = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>();
};

// The objects of one class that a request finds in a context (the master
// context when none is given); empty without a store stack.
template <typename T>
QList<T*> fetchObjects(NSFetchRequest request, const NSPredicate& predicate = {},
                       const QList<NSSortDescriptor>& sortDescriptors = {}, NSManagedObjectContext* context = nullptr)
{
    if (!context)
        context = KLCoreDataHelper::sharedInstance().masterContext();
    if (!context)
        return {};
    request.predicate = predicate;
    request.sortDescriptors = sortDescriptors;
    return objectsOfClass<T>(context->executeFetchRequest(request));
}

// A new object of the class's entity in a context (the master context when none is given).
template <typename T>
T* insertObject(const QString& entityName, NSManagedObjectContext* context = nullptr)
{
    if (!context)
        context = KLCoreDataHelper::sharedInstance().masterContext();
    return context ? dynamic_cast<T*>(context->insertNewObjectForEntityForName(entityName)) : nullptr;
}
