#include "KLCoreDataHelper.h"

#include <cstdio>

#include "KLCategory.h"
#include "KLFanCondition.h"
#include "KLFanSet.h"
#include "KLGraphPoint.h"
#include "Dispatch.h"
#include "KLSensor.h"
#include "NSBundle.h"
#include "NSFileManager.h"

namespace {

void registerModelClasses()
{
    static const bool registered = [] {
        NSManagedObject::registerClass(QStringLiteral("KLCategory"), [] { return new KLCategory; });
        NSManagedObject::registerClass(QStringLiteral("KLSensor"), [] { return new KLSensor; });
        NSManagedObject::registerClass(QStringLiteral("KLGraphPoint"), [] { return new KLGraphPoint; });
        NSManagedObject::registerClass(QStringLiteral("KLFanSet"), [] { return new KLFanSet; });
        NSManagedObject::registerClass(QStringLiteral("KLFanCondition"), [] { return new KLFanCondition; });
        return true;
    }();
    Q_UNUSED(registered);
}

}  // namespace

KLCoreDataHelper& KLCoreDataHelper::sharedInstance()
{
    static KLCoreDataHelper helper;
    return helper;
}

QString KLCoreDataHelper::applicationDocumentsDirectory() const
{
    return NSFileManager::defaultManager().containerURLForSecurityApplicationGroupIdentifier(
        QString::fromLatin1(KLAppGroupIdentifier));
}

std::shared_ptr<NSManagedObjectModel> KLCoreDataHelper::managedObjectModel()
{
    if (m_model)
        return m_model;
    registerModelClasses();
    const QString path = NSBundle::mainBundle().pathForResource(QStringLiteral("Database"), QStringLiteral("momd"));
    if (!path.isNull())
        m_model = NSManagedObjectModel::modelWithContentsOfFile(path);
    return m_model;
}

std::shared_ptr<NSPersistentStoreCoordinator> KLCoreDataHelper::persistentStoreCoordinator()
{
    if (m_coordinator)
        return m_coordinator;
    auto model = managedObjectModel();
    if (!model)
        return nullptr;
    m_coordinator = std::make_shared<NSPersistentStoreCoordinator>(model);
    const QString path = applicationDocumentsDirectory() + QStringLiteral("/Database.sqlite");
    const QVariantMap options{{NSMigratePersistentStoresAutomaticallyOption, true},
                              {NSInferMappingModelAutomaticallyOption, true}};
    QString error;
    if (!m_coordinator->addPersistentStoreWithType(NSSQLiteStoreType, {}, path, options, &error)) {
        // The program goes on without a store; the file is left as it is.
        std::fprintf(stderr, "Kelvara: the store cannot be opened (%s); nothing will be saved.\n",
                     qPrintable(error));
    }
    return m_coordinator;
}

NSManagedObjectContext* KLCoreDataHelper::masterContext()
{
    if (m_masterContext)
        return m_masterContext.get();
    auto coordinator = persistentStoreCoordinator();
    if (!coordinator)
        return nullptr;
    m_masterContext = std::make_unique<NSManagedObjectContext>(NSMainQueueConcurrencyType);
    m_masterContext->setPersistentStoreCoordinator(coordinator);
    m_masterContext->setStalenessInterval(0);
    m_masterContext->setMergePolicy(NSMergePolicyType::NSMergeByPropertyObjectTrumpMergePolicy);
    return m_masterContext.get();
}

std::shared_ptr<NSManagedObjectContext> KLCoreDataHelper::newContext()
{
    auto context = std::make_shared<NSManagedObjectContext>(NSPrivateQueueConcurrencyType);
    context->setParentContext(masterContext());
    return context;
}

void KLCoreDataHelper::saveContext(const std::shared_ptr<NSManagedObjectContext>& context)
{
    if (!context || !context->hasChanges())
        return;
    context->performBlock([this, context] {
        context->save();
        saveMasterContext();
    });
}

void KLCoreDataHelper::saveMasterContext()
{
    NSManagedObjectContext* context = m_masterContext.get();
    if (!context || !context->hasChanges())
        return;
    context->performBlock([this, context] {
        if (context->save() || m_saveRetryPending || !m_coordinator || !m_coordinator->hasStore() ||
            m_coordinator->isReady())
            return;
        // The store's tables wait for another program's lock or for disk space;
        // the changes stay in the context and are written once they can be.
        m_saveRetryPending = true;
        dispatch_after_seconds(2.0, dispatch_get_main_queue(), [this, alive = std::weak_ptr<int>(m_alive)] {
            if (alive.expired())
                return;
            m_saveRetryPending = false;
            saveMasterContext();
        });
    });
}

void KLCoreDataHelper::refreshAllObjectsInMasterContext(std::function<void()> then)
{
    NSManagedObjectContext* context = masterContext();
    if (!context) {
        if (then)
            dispatch_async(dispatch_get_main_queue(), std::move(then));
        return;
    }
    context->performBlock([context, then = std::move(then)] {
        context->refreshAllObjects();
        if (then)
            then();
    });
}
