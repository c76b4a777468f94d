#include "NSManagedObject.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <limits>

#include "NSManagedObjectContext.h"

namespace {

QHash<QString, NSManagedObject::Factory>& factories()
{
    static QHash<QString, NSManagedObject::Factory> map;
    return map;
}

constexpr uint64_t bit(int index)
{
    return uint64_t(1) << index;
}

}  // namespace

NSManagedObject::~NSManagedObject() = default;

void NSManagedObject::registerClass(const QString& className, Factory factory)
{
    factories().insert(className, std::move(factory));
}

NSManagedObject* NSManagedObject::create(const QString& className)
{
    const auto found = factories().constFind(className);
    return found != factories().cend() ? (*found)() : new NSManagedObject;
}

bool NSManagedObject::isUpdated() const
{
    return !m_inserted && !m_deleted && (m_changedAttributes || m_changedKeys || m_changedOrders || m_changedLists);
}

QStringList NSManagedObject::changedKeys() const
{
    QStringList keys;
    for (const auto& attribute : m_entity->attributes) {
        if (m_changedAttributes & bit(attribute.index))
            keys.append(attribute.name);
    }
    for (const auto& relationship : m_entity->relationships) {
        if ((m_changedKeys | m_changedLists) & bit(relationship.index))
            keys.append(relationship.name);
    }
    return keys;
}

void NSManagedObject::fire()
{
    if (m_fault && m_context)
        m_context->fire(this);
}

int NSManagedObject::attributeIndex(const char* name) const
{
    return m_entity->attributeIndex(QLatin1String(name));
}

QVariant NSManagedObject::primitiveValue(int attribute)
{
    if (attribute < 0 || attribute >= m_values.size())
        return {};
    if (m_fault && !(m_changedAttributes & bit(attribute)))
        fire();
    return m_values.at(attribute);
}

void NSManagedObject::setPrimitiveValue(int attribute, const QVariant& value)
{
    if (attribute < 0 || attribute >= m_values.size() || m_deleted || !m_context)
        return;
    const QVariant normalized = normalizedValue(value, m_entity->attributes[attribute].type);
    // Writing back what the object already holds changes nothing in the store.
    if (!m_fault && !(m_changedAttributes & bit(attribute)) && m_values.at(attribute) == normalized &&
        m_values.at(attribute).isValid() == normalized.isValid())
        return;
    m_values[attribute] = normalized;
    m_changedAttributes |= bit(attribute);
    m_context->noteChanged(this);
}

QVariant NSManagedObject::valueForKey(const QString& key)
{
    return primitiveValue(m_entity->attributeIndex(key));
}

void NSManagedObject::setValueForKey(const QVariant& value, const QString& key)
{
    setPrimitiveValue(m_entity->attributeIndex(key), value);
}

NSManagedObject::ToOne& NSManagedObject::toOne(int relationship)
{
    return m_toOne[relationship];
}

NSManagedObject::ToMany& NSManagedObject::toMany(int relationship)
{
    return m_toMany[relationship];
}

NSManagedObject* NSManagedObject::objectForRelationship(const QString& relationship)
{
    const int index = m_entity->relationshipIndex(relationship);
    if (index < 0 || m_entity->relationships[index].toMany || !m_context)
        return nullptr;
    return m_context->resolveToOne(this, index);
}

void NSManagedObject::setObjectForRelationship(NSManagedObject* object, const QString& relationship)
{
    const int index = m_entity->relationshipIndex(relationship);
    if (index < 0 || m_entity->relationships[index].toMany || !m_context || m_deleted)
        return;
    if (object && (object->m_context != m_context ||
                   object->m_entity != m_entity->relationships[index].destinationEntity))
        return;
    m_context->setToOne(this, index, object, true);
}

QList<NSManagedObject*> NSManagedObject::objectsForRelationship(const QString& relationship)
{
    const int index = m_entity->relationshipIndex(relationship);
    if (index < 0 || !m_entity->relationships[index].toMany || !m_context)
        return {};
    m_context->loadToMany(this, index);
    return m_toMany[index].objects;
}

void NSManagedObject::setObjectsForRelationship(const QList<NSManagedObject*>& objects, const QString& relationship)
{
    const int index = m_entity->relationshipIndex(relationship);
    if (index < 0 || !m_context || m_deleted)
        return;
    const NSRelationshipDescription& description = m_entity->relationships[index];
    if (!description.toMany)
        return;
    const int inverse = description.inverseRelationship->index;
    m_context->loadToMany(this, index);

    QList<NSManagedObject*> list;
    QSet<NSManagedObject*> kept;
    for (NSManagedObject* object : objects) {
        if (!object || object->m_context != m_context || object->m_entity != description.destinationEntity ||
            object->m_deleted || kept.contains(object))
            continue;
        kept.insert(object);
        list.append(object);
    }
    const QList<NSManagedObject*> previous = m_toMany[index].objects;
    for (NSManagedObject* object : previous) {
        if (!kept.contains(object))
            m_context->setToOne(object, inverse, nullptr, false);
    }
    for (NSManagedObject* object : list) {
        // Taken from another owner: that owner's list lets go of it too.
        if (m_context->resolveToOne(object, inverse) != this)
            m_context->setToOne(object, inverse, this, true);
    }
    m_toMany[index].objects = list;
    m_toMany[index].loaded = true;

    if (description.ordered) {
        // Keep every place that is already in order; give new places only where needed.
        double previousPlace = -std::numeric_limits<double>::infinity();
        for (NSManagedObject* object : list) {
            ToOne& slot = object->m_toOne[inverse];
            const bool known = slot.hasOrder && !(object->m_appendOrders & bit(inverse));
            if (known && slot.order > previousPlace) {
                previousPlace = slot.order;
                continue;
            }
            slot.order = previousPlace == -std::numeric_limits<double>::infinity() ? 1 : previousPlace + 1;
            slot.hasOrder = true;
            object->m_appendOrders &= ~bit(inverse);
            object->m_changedOrders |= bit(inverse);
            m_context->noteChanged(object);
            previousPlace = slot.order;
        }
        m_changedLists |= bit(index);
        m_context->noteChanged(this);
    }
}

void NSManagedObject::addObjectToRelationship(NSManagedObject* object, const QString& relationship)
{
    const int index = m_entity->relationshipIndex(relationship);
    if (index < 0 || !object || !m_entity->relationships[index].toMany)
        return;
    object->setObjectForRelationship(this, m_entity->relationships[index].inverseName);
}

void NSManagedObject::removeObjectFromRelationship(NSManagedObject* object, const QString& relationship)
{
    const int index = m_entity->relationshipIndex(relationship);
    if (index < 0 || !object || !m_entity->relationships[index].toMany || !m_context)
        return;
    const int inverse = m_entity->relationships[index].inverseRelationship->index;
    if (object->m_context == m_context && m_context->resolveToOne(object, inverse) == this)
        m_context->setToOne(object, inverse, nullptr, true);
}
