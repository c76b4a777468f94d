#pragma once
// A row of the store as an object of one context. Attributes are read on
// first use (a fault fires against the store); only the attributes and keys
// changed through the setters are written back on save.
#include <QList>
#include <QString>
#include <QVariant>
#include <QVector>
#include <cstdint>
#include <functional>

#include "NSManagedObjectModel.h"

class NSManagedObjectContext;

class NSManagedObject {
public:
    virtual ~NSManagedObject();
    NSManagedObject(const NSManagedObject&) = delete;
    NSManagedObject& operator=(const NSManagedObject&) = delete;

    NSEntityDescription* entity() const { return m_entity; }
    NSManagedObjectContext* managedObjectContext() const { return m_context; }
    // The row's id in the store; 0 until the object has been saved there.
    qint64 rowID() const { return m_rowID; }

    bool isInserted() const { return m_inserted; }
    bool isDeleted() const { return m_deleted; }
    bool isUpdated() const;
    bool isFault() const { return m_fault; }
    bool hasChanges() const { return m_inserted || m_deleted || isUpdated(); }
    QStringList changedKeys() const;

    QVariant valueForKey(const QString& key);
    void setValueForKey(const QVariant& value, const QString& key);

    NSManagedObject* objectForRelationship(const QString& relationship);
    void setObjectForRelationship(NSManagedObject* object, const QString& relationship);
    QList<NSManagedObject*> objectsForRelationship(const QString& relationship);
    void setObjectsForRelationship(const QList<NSManagedObject*>& objects, const QString& relationship);
    void addObjectToRelationship(NSManagedObject* object, const QString& relationship);
    void removeObjectFromRelationship(NSManagedObject* object, const QString& relationship);

    // Subclasses are made by class name when a context needs an object of their entity.
    using Factory = std::function<NSManagedObject*()>;
    static void registerClass(const QString& className, Factory factory);
    static NSManagedObject* create(const QString& className);

protected:
    NSManagedObject() = default;

    // Typed access for the entity classes, by attribute index for speed.
    QVariant primitiveValue(int attribute);
    void setPrimitiveValue(int attribute, const QVariant& value);
    int attributeIndex(const char* name) const;

private:
    friend class NSManagedObjectContext;

    struct ToOne {
        NSManagedObject* target = nullptr;
        qint64 targetRow = 0;     // key read from the store, resolved on use
        bool resolved = true;
        double order = 0;         // place in the inverse ordered to-many
        bool hasOrder = false;
    };
    struct ToMany {
        bool loaded = false;
        QList<NSManagedObject*> objects;
        // Rows of the members when a refresh dropped the list; the next load
        // looks for the ones that left, whose rows may have been deleted.
        QVector<qint64> rowsBeforeRefresh;
    };

    void fire();
    ToOne& toOne(int relationship);
    ToMany& toMany(int relationship);
    void touch();

    NSEntityDescription* m_entity = nullptr;
    NSManagedObjectContext* m_context = nullptr;
    NSManagedObject* m_parentObject = nullptr;  // the same object in the parent context
    qint64 m_rowID = 0;
    bool m_fault = false;
    bool m_inserted = false;
    bool m_deleted = false;
    bool m_vanished = false;  // its row was deleted by another writer
    uint64_t m_changedAttributes = 0;
    uint64_t m_changedKeys = 0;    // to-one relationships given a new target
    uint64_t m_changedOrders = 0;  // to-one relationships given a new place in an ordered list
    uint64_t m_appendOrders = 0;   // places to be taken at the end of the list when saved
    uint64_t m_changedLists = 0;   // ordered to-many relationships given a new list
    QVector<QVariant> m_values;
    QVector<ToOne> m_toOne;
    QVector<ToMany> m_toMany;
};

// The objects of one managed-object class among those given, in order.
template <typename T>
QList<T*> objectsOfClass(const QList<NSManagedObject*>& objects)
{
    QList<T*> result;
    result.reserve(objects.size());
    for (NSManagedObject* object : objects) {
        if (auto* typed = dynamic_cast<T*>(object))
            result.append(typed);
    }
    return result;
}

template <typename T>
QList<NSManagedObject*> managedObjects(const QList<T*>& objects)
{
    return QList<NSManagedObject*>(objects.begin(), objects.end());
}
