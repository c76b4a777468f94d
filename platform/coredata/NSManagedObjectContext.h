#pragma once
// A scratch pad of objects over the store (a master context) or over another
// context (a child). Each row is one object per context; changes stay in the
// context until save, which writes them to the store in one transaction or,
// for a child, hands them to its parent.
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "NSFetchRequest.h"
#include "NSManagedObject.h"
#include "NSPersistentStoreCoordinator.h"

enum NSManagedObjectContextConcurrencyType {
    NSPrivateQueueConcurrencyType,
    NSMainQueueConcurrencyType,
};

enum class NSMergePolicyType {
    NSErrorMergePolicy,
    // In a conflict this context's changed properties win; everything else
    // comes from the store. Saves write only changed properties, so this holds
    // by construction.
    NSMergeByPropertyObjectTrumpMergePolicy,
};

class NSManagedObjectContext {
public:
    explicit NSManagedObjectContext(NSManagedObjectContextConcurrencyType type);
    ~NSManagedObjectContext();
    NSManagedObjectContext(const NSManagedObjectContext&) = delete;
    NSManagedObjectContext& operator=(const NSManagedObjectContext&) = delete;

    NSManagedObjectContextConcurrencyType concurrencyType() const { return m_type; }
    void setPersistentStoreCoordinator(std::shared_ptr<NSPersistentStoreCoordinator> coordinator);
    NSPersistentStoreCoordinator* persistentStoreCoordinator() const;
    void setParentContext(NSManagedObjectContext* parent);
    NSManagedObjectContext* parentContext() const { return m_parent; }
    void setStalenessInterval(double seconds) { m_stalenessInterval = seconds; }
    double stalenessInterval() const { return m_stalenessInterval; }
    void setMergePolicy(NSMergePolicyType policy) { m_mergePolicy = policy; }
    NSMergePolicyType mergePolicy() const { return m_mergePolicy; }

    // Both queues run on the main thread's event loop, in FIFO order with the
    // rest of the main queue; the store is only touched there.
    void performBlock(std::function<void()> block);
    void performBlockAndWait(const std::function<void()>& block);

    NSEntityDescription* entityForName(const QString& entityName) const;
    NSManagedObject* insertNewObjectForEntityForName(const QString& entityName);
    void deleteObject(NSManagedObject* object);
    // Matching objects, with this context's unsaved changes taken into account;
    // empty with a reason when the request cannot be run.
    QList<NSManagedObject*> executeFetchRequest(const NSFetchRequest& request, QString* error = nullptr);

    bool hasChanges() const;
    bool save(QString* error = nullptr);
    // Every object turns back into a fault: its next use reads the store (or
    // the parent) again. Unsaved changes stay. Objects whose rows were found
    // deleted by another writer since the last refresh (and that hold no
    // unsaved change) are forgotten: they leave the context, keep their last
    // values and are freed by the refresh after this one, so a pointer kept
    // from before stays readable until the lists are read again.
    void refreshAllObjects();
    // Forgets every object and every unsaved change.
    void reset();

    // The smallest and largest value of an attribute over an object's to-many
    // members, this context's unsaved changes included; nothing without members.
    // Saved members are not loaded when the store can answer for them.
    std::optional<std::pair<double, double>> rangeOfRelationship(NSManagedObject* owner, const QString& relationship,
                                                                 const QString& attribute);
    // Forgets saved, unchanged objects, so a long-running writer does not keep
    // every row it ever made. The caller must hold no pointer to them; anything
    // that referred to them reads them again from the store when used. Gives
    // back those still registered that had to stay (unsaved ones).
    QList<NSManagedObject*> releaseObjects(const QList<NSManagedObject*>& objects);

    QList<NSManagedObject*> insertedObjects() const;
    int registeredObjectCount() const { return static_cast<int>(m_objects.size()); }

private:
    friend class NSManagedObject;

    NSManagedObject* makeObject(NSEntityDescription* entity);
    NSManagedObject* objectForRow(NSEntityDescription* entity, qint64 row);
    NSManagedObject* registerRow(NSEntityDescription* entity, const NSStoreRow& row);
    NSManagedObject* counterpartOf(NSManagedObject* parentObject);
    void applyRow(NSManagedObject* object, const NSStoreRow& row);
    void fire(NSManagedObject* object);
    NSManagedObject* resolveToOne(NSManagedObject* object, int relationship);
    void loadToMany(NSManagedObject* owner, int relationship);
    void noteDepartedMembers(NSManagedObject* owner, int relationship);
    void setToOne(NSManagedObject* object, int relationship, NSManagedObject* target, bool updateOwnerLists);
    void noteChanged(NSManagedObject* object);
    bool matches(NSManagedObject* object, const NSPredicate& predicate);
    bool saveToStore(QString* error);
    bool saveToParent(QString* error);
    bool retryAfterVanishedReferences();
    void finishSave();
    void destroy(const QSet<NSManagedObject*>& doomed);
    void forget(const QSet<NSManagedObject*>& gone);
    void parentObjectGone(NSManagedObject* parentObject);
    std::shared_ptr<NSManagedObjectModel> model() const;

    NSManagedObjectContextConcurrencyType m_type;
    std::shared_ptr<NSPersistentStoreCoordinator> m_coordinator;
    NSManagedObjectContext* m_parent = nullptr;
    std::vector<NSManagedObjectContext*> m_children;
    double m_stalenessInterval = -1;
    NSMergePolicyType m_mergePolicy = NSMergePolicyType::NSErrorMergePolicy;

    std::unordered_map<NSManagedObject*, std::unique_ptr<NSManagedObject>> m_objects;
    QHash<QPair<int, qint64>, NSManagedObject*> m_byRow;
    QHash<NSManagedObject*, NSManagedObject*> m_byParent;
    std::vector<NSManagedObject*> m_inserted;  // in insertion order
    QSet<NSManagedObject*> m_changed;
    QSet<NSManagedObject*> m_deleted;
    std::vector<NSManagedObject*> m_discarded;  // inserted then deleted before a save
    std::vector<std::unique_ptr<NSManagedObject>> m_retired;  // forgotten by the last refresh
};
