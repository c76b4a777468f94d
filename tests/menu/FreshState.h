#pragma once
// The cases of one process share the program's store stack and settings file;
// each starts from an empty store and the settings' defaults, so what an earlier
// case left (a sensor with the same key, a second fan category, a layout with
// the list hidden) never answers its fetches or moves its buttons.
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "NSManagedObjectContext.h"
#include "NSManagedObjectModel.h"
#include "NSUserDefaults.h"

inline bool startAfresh()
{
    NSUserDefaults& defaults = KLDataManager::sharedInstance().userDefaults();
    for (const QString& key : defaults.dictionaryRepresentation().keys())
        defaults.removeObjectForKey(key);
    KLCoreDataHelper& store = KLCoreDataHelper::sharedInstance();
    NSManagedObjectContext* context = store.masterContext();
    if (!context)
        return false;
    context->refreshAllObjects();
    for (const auto& entity : store.managedObjectModel()->entities()) {
        for (NSManagedObject* object : context->executeFetchRequest(NSFetchRequest(entity->name)))
            context->deleteObject(object);
    }
    return context->save();
}

// The store file, for a connection of the test's own as Kelvara Helper writes it.
inline QString storeFile()
{
    return KLCoreDataHelper::sharedInstance().applicationDocumentsDirectory() + QStringLiteral("/Database.sqlite");
}
