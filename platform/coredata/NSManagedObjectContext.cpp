#include "NSManagedObjectContext.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "Dispatch.h"

namespace {

constexpr uint64_t bit(int index)
{
    return uint64_t(1) << index;
}

}  // namespace

NSManagedObjectContext::NSManagedObjectContext(NSManagedObjectContextConcurrencyType type)
    : m_type(type)
{
}

NSManagedObjectContext::~NSManagedObjectContext()
{
    for (NSManagedObjectContext* child : m_children)
        child->m_parent = nullptr;
    if (m_parent) {
        auto& siblings = m_parent->m_children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

void NSManagedObjectContext::setPersistentStoreCoordinator(std::shared_ptr<NSPersistentStoreCoordinator> coordinator)
{
    m_coordinator = std::move(coordinator);
}

NSPersistentStoreCoordinator* NSManagedObjectContext::persistentStoreCoordinator() const
{
    if (m_coordinator)
        return m_coordinator.get();
    return m_parent ? m_parent->persistentStoreCoordinator() : nullptr;
}

void NSManagedObjectContext::setParentContext(NSManagedObjectContext* parent)
{
    if (m_parent) {
        auto& siblings = m_parent->m_children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    m_parent = parent;
    if (parent)
        parent->m_children.push_back(this);
}

std::shared_ptr<NSManagedObjectModel> NSManagedObjectContext::model() const
{
    if (m_coordinator)
        return m_coordinator->managedObjectModel();
    return m_parent ? m_parent->model() : nullptr;
}

void NSManagedObjectContext::performBlock(std::function<void()> block)
{
    dispatch_async(dispatch_get_main_queue(), std::move(block));
}

void NSManagedObjectContext::performBlockAndWait(const std::function<void()>& block)
{
    dispatch_sync(dispatch_get_main_queue(), block);
}

NSEntityDescription* NSManagedObjectContext::entityForName(const QString& entityName) const
{
    const auto m = model();
    return m ? m->entityNamed(entityName) : nullptr;
}

NSManagedObject* NSManagedObjectContext::makeObject(NSEntityDescription* entity)
{
    NSManagedObject* object = NSManagedObject::create(entity->managedObjectClassName);
    object->m_entity = entity;
    object->m_context = this;
    object->m_values.resize(entity->attributes.size());
    object->m_toOne.resize(entity->relationships.size());
    object->m_toMany.resize(entity->relationships.size());
    m_objects.emplace(object, std::unique_ptr<NSManagedObject>(object));
    return object;
}

NSManagedObject* NSManagedObjectContext::insertNewObjectForEntityForName(const QString& entityName)
{
    NSEntityDescription* entity = entityForName(entityName);
    if (!entity)
        return nullptr;
    NSManagedObject* object = makeObject(entity);
    for (const auto& attribute : entity->attributes)
        object->m_values[attribute.index] = attribute.defaultValue;
    object->m_inserted = true;
    m_inserted.push_back(object);
    return object;
}

std::optional<std::pair<double, double>> NSManagedObjectContext::rangeOfRelationship(NSManagedObject* owner,
                                                                                    const QString& relationship,
                                                                                    const QString& attribute)
{
    std::optional<std::pair<double, double>> range;
    if (!owner || owner->m_context != this)
        return range;
    const int r = owner->m_entity->relationshipIndex(relationship);
    if (r < 0 || !owner->m_entity->relationships[r].toMany)
        return range;
    const NSRelationshipDescription& description = owner->m_entity->relationships[r];
    NSEntityDescription* destination = description.destinationEntity;
    const int a = destination->attributeIndex(attribute);
    if (a < 0)
        return range;
    const int inverse = description.inverseRelationship->index;
    // Like the store's MIN and MAX, which skip the NULL a NaN is kept as.
    const auto widen = [&range](double value) {
        if (std::isnan(value))
            return;
        if (!range)
            range = std::make_pair(value, value);
        range->first = std::min(range->first, value);
        range->second = std::max(range->second, value);
    };

    // The store answers for the saved members unless one of them, or of the
    // rows that could join them, has unsaved changes here.
    bool storeAnswers = !m_parent && m_coordinator && owner->m_rowID > 0 && !owner->m_inserted &&
                        !owner->m_toMany[r].loaded;
    for (const QSet<NSManagedObject*>* pending : {&m_changed, &m_deleted}) {
        for (NSManagedObject* object : *pending)
            storeAnswers = storeAnswers && object->m_entity != destination;
    }
    std::optional<std::pair<double, double>> stored;
    if (storeAnswers && m_coordinator->rangeOfRelated(description, owner->m_rowID, attribute, stored, nullptr)) {
        range = stored;
        for (NSManagedObject* object : m_inserted) {
            if (object->m_entity == destination && resolveToOne(object, inverse) == owner)
                widen(object->primitiveValue(a).toDouble());
        }
        return range;
    }
    loadToMany(owner, r);
    for (NSManagedObject* member : owner->m_toMany[r].objects)
        widen(member->primitiveValue(a).toDouble());
    return range;
}

QList<NSManagedObject*> NSManagedObjectContext::releaseObjects(const QList<NSManagedObject*>& objects)
{
    // A child context may hold counterparts of them.
    if (!m_children.empty())
        return objects;
    QSet<NSManagedObject*> released;
    // Looked up before use: a caller's list may name objects freed since.
    for (NSManagedObject* object : objects) {
        if (m_objects.find(object) != m_objects.end() && object->m_rowID > 0 && !object->hasChanges())
            released.insert(object);
    }
    // An unsaved list keeps its members.
    for (NSManagedObject* owner : std::as_const(m_changed)) {
        for (int r = 0; r < owner->m_toMany.size(); ++r) {
            if (owner->m_changedLists & bit(r)) {
                for (NSManagedObject* member : std::as_const(owner->m_toMany[r].objects))
                    released.remove(member);
            }
        }
    }
    QList<NSManagedObject*> kept;
    for (NSManagedObject* object : objects) {
        if (!released.contains(object) && m_objects.find(object) != m_objects.end())
            kept.append(object);
    }
    if (released.isEmpty())
        return kept;
    for (auto& [object, owned] : m_objects) {
        if (released.contains(object))
            continue;
        // Pointers at released objects become row numbers again; lists that
        // held them are read again when next used.
        for (auto& slot : object->m_toOne) {
            if (slot.target && released.contains(slot.target)) {
                slot.targetRow = slot.target->m_rowID;
                slot.target = nullptr;
                slot.resolved = false;
            }
        }
        for (int r = 0; r < object->m_toMany.size(); ++r) {
            auto& list = object->m_toMany[r];
            if (!list.loaded || (object->m_changedLists & bit(r)))
                continue;
            for (NSManagedObject* member : std::as_const(list.objects)) {
                if (released.contains(member)) {
                    list.loaded = false;
                    list.objects.clear();
                    break;
                }
            }
        }
    }
    for (NSManagedObject* object : released) {
        m_byRow.remove(qMakePair(object->m_entity->index, object->m_rowID));
        if (object->m_parentObject)
            m_byParent.remove(object->m_parentObject);
        m_objects.erase(object);
    }
    return kept;
}

QList<NSManagedObject*> NSManagedObjectContext::insertedObjects() const
{
    return QList<NSManagedObject*>(m_inserted.begin(), m_inserted.end());
}

NSManagedObject* NSManagedObjectContext::objectForRow(NSEntityDescription* entity, qint64 row)
{
    if (row <= 0)
        return nullptr;
    const auto key = qMakePair(entity->index, row);
    if (NSManagedObject* object = m_byRow.value(key))
        return object;
    NSManagedObject* object = makeObject(entity);
    object->m_rowID = row;
    object->m_fault = true;
    m_byRow.insert(key, object);
    return object;
}

void NSManagedObjectContext::applyRow(NSManagedObject* object, const NSStoreRow& row)
{
    const NSEntityDescription* entity = object->m_entity;
    for (int i = 0; i < row.attributes.size() && i < object->m_values.size(); ++i) {
        if (!(object->m_changedAttributes & bit(i)))
            object->m_values[i] = row.attributes.at(i);
    }
    for (const auto& relationship : entity->relationships) {
        if (relationship.toMany)
            continue;
        const int r = relationship.index;
        auto& slot = object->m_toOne[r];
        if (!(object->m_changedKeys & bit(r))) {
            const qint64 key = row.keys.value(r);
            const qint64 current = slot.resolved ? (slot.target ? slot.target->m_rowID : 0) : slot.targetRow;
            if (key != current || !slot.resolved) {
                slot.target = nullptr;
                slot.targetRow = key;
                slot.resolved = key == 0;
            }
        }
        if (relationship.keepsOrder() && !((object->m_changedOrders | object->m_appendOrders) & bit(r))) {
            const auto order = row.orders.value(r);
            slot.hasOrder = order.has_value();
            slot.order = order.value_or(0);
        }
    }
    object->m_fault = false;
    object->m_vanished = false;
}

NSManagedObject* NSManagedObjectContext::registerRow(NSEntityDescription* entity, const NSStoreRow& row)
{
    // A row without a usable number has no object; callers pass over it.
    NSManagedObject* object = objectForRow(entity, row.id);
    if (object)
        applyRow(object, row);
    return object;
}

NSManagedObject* NSManagedObjectContext::counterpartOf(NSManagedObject* parentObject)
{
    if (!parentObject)
        return nullptr;
    if (NSManagedObject* object = m_byParent.value(parentObject))
        return object;
    NSManagedObject* object = makeObject(parentObject->m_entity);
    object->m_parentObject = parentObject;
    object->m_rowID = parentObject->m_rowID;
    object->m_fault = true;
    m_byParent.insert(parentObject, object);
    return object;
}

void NSManagedObjectContext::fire(NSManagedObject* object)
{
    if (!object->m_fault)
        return;
    if (m_parent) {
        NSManagedObject* source = object->m_parentObject;
        if (!source) {
            object->m_vanished = true;
        } else {
            for (const auto& attribute : object->m_entity->attributes) {
                if (!(object->m_changedAttributes & bit(attribute.index)))
                    object->m_values[attribute.index] = source->primitiveValue(attribute.index);
            }
            for (const auto& relationship : object->m_entity->relationships) {
                if (relationship.toMany)
                    continue;
                const int r = relationship.index;
                if (!(object->m_changedKeys & bit(r)))
                    object->m_toOne[r].resolved = false;
                if (!((object->m_changedOrders | object->m_appendOrders) & bit(r))) {
                    object->m_toOne[r].order = source->m_toOne[r].order;
                    object->m_toOne[r].hasOrder = source->m_toOne[r].hasOrder;
                }
            }
        }
        object->m_fault = false;
        return;
    }
    std::optional<NSStoreRow> row;
    if (m_coordinator && object->m_rowID > 0)
        row = m_coordinator->fetchRow(*object->m_entity, object->m_rowID, nullptr);
    if (row) {
        applyRow(object, *row);
    } else {
        // Deleted by another writer (or no store): it reads as empty.
        object->m_vanished = true;
        object->m_fault = false;
    }
}

NSManagedObject* NSManagedObjectContext::resolveToOne(NSManagedObject* object, int relationship)
{
    if (object->m_fault && !(object->m_changedKeys & bit(relationship)))
        fire(object);
    auto& slot = object->m_toOne[relationship];
    if (slot.resolved)
        return slot.target;
    NSManagedObject* target = nullptr;
    if (m_parent) {
        NSManagedObject* source = object->m_parentObject;
        NSManagedObject* parentTarget = source ? m_parent->resolveToOne(source, relationship) : nullptr;
        target = counterpartOf(parentTarget);
    } else {
        target = objectForRow(object->m_entity->relationships[relationship].destinationEntity, slot.targetRow);
    }
    if (target && target->m_deleted)
        target = nullptr;
    slot.target = target;
    slot.resolved = true;
    return target;
}

void NSManagedObjectContext::loadToMany(NSManagedObject* owner, int relationship)
{
    auto& slot = owner->m_toMany[relationship];
    if (slot.loaded)
        return;
    const NSRelationshipDescription& description = owner->m_entity->relationships[relationship];
    const int inverse = description.inverseRelationship->index;
    NSEntityDescription* destination = description.destinationEntity;

    QList<NSManagedObject*> list;
    if (m_parent) {
        if (NSManagedObject* source = owner->m_parentObject) {
            m_parent->loadToMany(source, relationship);
            for (NSManagedObject* member : source->m_toMany[relationship].objects)
                list.append(counterpartOf(member));
        }
    } else if (m_coordinator && owner->m_rowID > 0 && !owner->m_inserted) {
        std::vector<NSStoreRow> rows;
        const bool read = m_coordinator->fetchRelated(description, owner->m_rowID, rows, nullptr);
        list.reserve(static_cast<qsizetype>(rows.size()));
        for (const NSStoreRow& row : rows) {
            NSManagedObject* member = registerRow(destination, row);
            if (!member)
                continue;
            auto& back = member->m_toOne[inverse];
            if (!(member->m_changedKeys & bit(inverse))) {
                back.target = owner;
                back.resolved = true;
            }
            list.append(member);
        }
        if (read)
            noteDepartedMembers(owner, relationship);
    }
    slot.rowsBeforeRefresh.clear();

    // This context's unsaved changes: members moved elsewhere or deleted leave,
    // objects newly pointed at this owner join at the end.
    QSet<NSManagedObject*> present;
    QList<NSManagedObject*> merged;
    merged.reserve(list.size());
    for (NSManagedObject* member : list) {
        if (member->m_deleted)
            continue;
        if ((member->m_changedKeys & bit(inverse)) && resolveToOne(member, inverse) != owner)
            continue;
        present.insert(member);
        merged.append(member);
    }
    auto join = [&](NSManagedObject* candidate) {
        if (candidate->m_entity != destination || candidate->m_deleted || present.contains(candidate))
            return;
        if (!(candidate->m_changedKeys & bit(inverse)) && !candidate->m_inserted)
            return;
        if (resolveToOne(candidate, inverse) != owner)
            return;
        present.insert(candidate);
        merged.append(candidate);
    };
    for (NSManagedObject* candidate : m_inserted)
        join(candidate);
    for (NSManagedObject* candidate : std::as_const(m_changed))
        join(candidate);
    slot.objects = merged;
    slot.loaded = true;
}

// Members of the list before the refresh that this load did not read again
// (they are still faults) were moved or deleted by another writer. The deleted
// ones are marked, and the next refresh forgets them: one lookup per member
// that left, so a reader's history stays as large as the store's.
void NSManagedObjectContext::noteDepartedMembers(NSManagedObject* owner, int relationship)
{
    const NSEntityDescription& destination = *owner->m_entity->relationships[relationship].destinationEntity;
    for (qint64 row : std::as_const(owner->m_toMany[relationship].rowsBeforeRefresh)) {
        NSManagedObject* member = m_byRow.value(qMakePair(destination.index, row));
        if (!member || !member->m_fault || member->hasChanges())
            continue;
        QString error;
        if (!m_coordinator->fetchRow(destination, row, &error) && error.isEmpty()) {
            member->m_vanished = true;
            member->m_fault = false;
        }
    }
}

void NSManagedObjectContext::setToOne(NSManagedObject* object, int relationship, NSManagedObject* target,
                                      bool updateOwnerLists)
{
    const NSRelationshipDescription& description = object->m_entity->relationships[relationship];
    const int inverse = description.inverseRelationship->index;
    NSManagedObject* old = resolveToOne(object, relationship);
    if (old == target)
        return;
    if (updateOwnerLists && old && old->m_toMany[inverse].loaded)
        old->m_toMany[inverse].objects.removeOne(object);
    auto& slot = object->m_toOne[relationship];
    slot.target = target;
    slot.resolved = true;
    object->m_changedKeys |= bit(relationship);
    if (description.keepsOrder()) {
        slot.hasOrder = false;
        object->m_appendOrders |= bit(relationship);
        object->m_changedOrders |= bit(relationship);
    }
    if (updateOwnerLists && target && target->m_toMany[inverse].loaded &&
        !target->m_toMany[inverse].objects.contains(object))
        target->m_toMany[inverse].objects.append(object);
    noteChanged(object);
}

void NSManagedObjectContext::noteChanged(NSManagedObject* object)
{
    if (!object->m_inserted && !object->m_deleted)
        m_changed.insert(object);
}

void NSManagedObjectContext::deleteObject(NSManagedObject* object)
{
    if (!object || object->m_context != this || object->m_deleted)
        return;
    for (const auto& relationship : object->m_entity->relationships) {
        const int r = relationship.index;
        const int inverse = relationship.inverseRelationship->index;
        if (!relationship.toMany) {
            NSManagedObject* target = resolveToOne(object, r);
            if (target && target->m_toMany[inverse].loaded)
                target->m_toMany[inverse].objects.removeOne(object);
            continue;
        }
        loadToMany(object, r);
        const QList<NSManagedObject*> members = object->m_toMany[r].objects;
        object->m_toMany[r].objects.clear();
        for (NSManagedObject* member : members) {
            if (relationship.deleteRule == NSDeleteRule::Cascade)
                deleteObject(member);
            else if (relationship.deleteRule == NSDeleteRule::Nullify)
                setToOne(member, inverse, nullptr, false);
        }
    }
    object->m_deleted = true;
    m_changed.remove(object);
    if (object->m_inserted) {
        m_inserted.erase(std::remove(m_inserted.begin(), m_inserted.end(), object), m_inserted.end());
        m_discarded.push_back(object);
    } else {
        m_deleted.insert(object);
    }
}

bool NSManagedObjectContext::matches(NSManagedObject* object, const NSPredicate& predicate)
{
    if (predicate.isEmpty())
        return true;
    return predicate.evaluateWithObject([object](const QString& key) {
        return object->primitiveValue(object->m_entity->attributeIndex(key));
    });
}

QList<NSManagedObject*> NSManagedObjectContext::executeFetchRequest(const NSFetchRequest& request, QString* error)
{
    NSEntityDescription* entity = entityForName(request.entityName);
    auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return QList<NSManagedObject*>();
    };
    if (!entity)
        return fail(QStringLiteral("no entity named \"%1\"").arg(request.entityName));
    if (!request.predicate.isValid())
        return fail(request.predicate.error());
    for (const auto& sort : request.sortDescriptors) {
        if (entity->attributeIndex(sort.key) < 0)
            return fail(QStringLiteral("cannot sort %1 by %2").arg(entity->name, sort.key));
    }

    QList<NSManagedObject*> base;
    if (m_parent) {
        NSFetchRequest all = request;
        all.fetchLimit = 0;
        QString reason;
        const QList<NSManagedObject*> found = m_parent->executeFetchRequest(all, &reason);
        if (!reason.isEmpty())
            return fail(reason);
        for (NSManagedObject* parentObject : found)
            base.append(counterpartOf(parentObject));
    } else if (m_coordinator) {
        std::vector<NSStoreRow> rows;
        QString reason;
        if (!m_coordinator->fetchRows(request, *entity, rows, &reason))
            return fail(reason);
        base.reserve(static_cast<qsizetype>(rows.size()));
        for (const NSStoreRow& row : rows) {
            if (NSManagedObject* object = registerRow(entity, row))
                base.append(object);
        }
    } else {
        return fail(QStringLiteral("no store"));
    }

    QList<NSManagedObject*> result;
    QSet<NSManagedObject*> present;
    for (NSManagedObject* object : base) {
        if (object->m_deleted || present.contains(object))
            continue;
        if (object->m_changedAttributes && !matches(object, request.predicate))
            continue;
        present.insert(object);
        result.append(object);
    }
    auto join = [&](NSManagedObject* candidate) {
        if (candidate->m_entity != entity || candidate->m_deleted || present.contains(candidate))
            return;
        if (!matches(candidate, request.predicate))
            return;
        present.insert(candidate);
        result.append(candidate);
    };
    for (NSManagedObject* candidate : m_changed) {
        if (candidate->m_changedAttributes)
            join(candidate);
    }
    for (NSManagedObject* candidate : m_inserted)
        join(candidate);

    // Unsaved values may order differently from the store's rows.
    if (!request.sortDescriptors.isEmpty()) {
        std::stable_sort(result.begin(), result.end(), [&](NSManagedObject* a, NSManagedObject* b) {
            for (const auto& sort : request.sortDescriptors) {
                const int index = entity->attributeIndex(sort.key);
                bool comparable = false;
                const int order = compareValues(a->primitiveValue(index), b->primitiveValue(index), &comparable);
                if (comparable && order != 0)
                    return sort.ascending ? order < 0 : order > 0;
            }
            return false;
        });
    }
    if (request.fetchLimit > 0 && result.size() > request.fetchLimit)
        result.resize(request.fetchLimit);
    if (error)
        error->clear();
    return result;
}

bool NSManagedObjectContext::hasChanges() const
{
    if (!m_inserted.empty() || !m_deleted.isEmpty())
        return true;
    for (NSManagedObject* object : m_changed) {
        if (object->isUpdated())
            return true;
    }
    return false;
}

bool NSManagedObjectContext::save(QString* error)
{
    if (!hasChanges()) {
        // Objects inserted and deleted again before any save leave nothing behind.
        destroy(QSet<NSManagedObject*>(m_discarded.begin(), m_discarded.end()));
        m_discarded.clear();
        return true;
    }
    return m_parent ? saveToParent(error) : saveToStore(error);
}

bool NSManagedObjectContext::saveToStore(QString* error)
{
    if (!m_coordinator || !m_coordinator->hasStore()) {
        if (error)
            *error = QStringLiteral("no store");
        return false;
    }
    NSStoreSave request;
    QHash<NSManagedObject*, int> insertIndex;
    for (NSManagedObject* object : m_inserted)
        insertIndex.insert(object, static_cast<int>(insertIndex.size()));

    auto keyOf = [&](NSManagedObject* object, int relationship) -> NSStoreKey {
        const auto& slot = object->m_toOne[relationship];
        if (!slot.resolved)
            return {slot.targetRow, -1};
        NSManagedObject* target = slot.target;
        if (!target || target->m_deleted)
            return {};
        if (target->m_inserted)
            return {0, insertIndex.value(target, -1)};
        return {target->m_rowID, -1};
    };

    request.inserts.reserve(m_inserted.size());
    request.updates.reserve(static_cast<size_t>(m_changed.size()));
    for (NSManagedObject* object : m_inserted) {
        NSStoreSave::Insert insert;
        insert.entity = object->m_entity;
        insert.attributes = object->m_values;
        insert.keys.resize(object->m_entity->relationships.size());
        insert.orders.resize(object->m_entity->relationships.size());
        for (const auto& relationship : object->m_entity->relationships) {
            if (relationship.toMany)
                continue;
            const int r = relationship.index;
            insert.keys[r] = keyOf(object, r);
            const auto& slot = object->m_toOne[r];
            if (relationship.keepsOrder() && slot.hasOrder && !(object->m_appendOrders & bit(r)))
                insert.orders[r] = slot.order;
        }
        request.inserts.push_back(std::move(insert));
    }
    std::vector<NSManagedObject*> updated;
    for (NSManagedObject* object : std::as_const(m_changed)) {
        if (!object->isUpdated() || object->m_rowID <= 0)
            continue;
        NSStoreSave::Update update;
        update.entity = object->m_entity;
        update.row = object->m_rowID;
        update.attributes.reserve(std::popcount(object->m_changedAttributes));
        for (const auto& attribute : object->m_entity->attributes) {
            if (object->m_changedAttributes & bit(attribute.index))
                update.attributes.append({attribute.index, object->m_values[attribute.index]});
        }
        for (const auto& relationship : object->m_entity->relationships) {
            const int r = relationship.index;
            if (relationship.toMany || !((object->m_changedKeys | object->m_changedOrders) & bit(r)))
                continue;
            NSStoreSave::Change change;
            change.relationship = r;
            change.key = keyOf(object, r);
            change.keyChanged = object->m_changedKeys & bit(r);
            change.orderChanged = object->m_changedOrders & bit(r);
            const auto& slot = object->m_toOne[r];
            if (slot.hasOrder && !(object->m_appendOrders & bit(r)))
                change.order = slot.order;
            update.relationships.append(change);
        }
        request.updates.push_back(std::move(update));
        updated.push_back(object);
    }
    for (NSManagedObject* object : std::as_const(m_deleted)) {
        if (object->m_rowID > 0)
            request.deletes.push_back({object->m_entity, object->m_rowID});
    }

    if (!m_coordinator->save(request, error)) {
        // Another program may have deleted a row that an object here still
        // points at; such a reference becomes nil (as the store's own rule
        // would have made it) and the save is tried once more.
        if (!retryAfterVanishedReferences())
            return false;
        return saveToStore(error);
    }

    for (size_t i = 0; i < m_inserted.size(); ++i) {
        NSManagedObject* object = m_inserted[i];
        const auto& insert = request.inserts[i];
        object->m_rowID = insert.assignedRow;
        object->m_inserted = false;
        m_byRow.insert(qMakePair(object->m_entity->index, object->m_rowID), object);
        for (int r = 0; r < insert.orders.size(); ++r) {
            if (insert.orders[r]) {
                object->m_toOne[r].order = *insert.orders[r];
                object->m_toOne[r].hasOrder = true;
            }
        }
    }
    for (size_t u = 0; u < updated.size(); ++u) {
        for (const auto& change : request.updates[u].relationships) {
            if (change.order) {
                updated[u]->m_toOne[change.relationship].order = *change.order;
                updated[u]->m_toOne[change.relationship].hasOrder = true;
            }
        }
    }
    finishSave();
    return true;
}

bool NSManagedObjectContext::retryAfterVanishedReferences()
{
    bool repaired = false;
    auto check = [&](NSManagedObject* object) {
        for (const auto& relationship : object->m_entity->relationships) {
            if (relationship.toMany)
                continue;
            auto& slot = object->m_toOne[relationship.index];
            const qint64 row = slot.resolved ? (slot.target && !slot.target->m_inserted ? slot.target->m_rowID : 0)
                                             : slot.targetRow;
            if (row <= 0 || m_coordinator->fetchRow(*relationship.destinationEntity, row, nullptr))
                continue;
            if (slot.target)
                slot.target->m_vanished = true;
            slot.target = nullptr;
            slot.targetRow = 0;
            slot.resolved = true;
            object->m_changedKeys |= bit(relationship.index);
            repaired = true;
        }
    };
    for (NSManagedObject* object : m_inserted)
        check(object);
    for (NSManagedObject* object : std::as_const(m_changed))
        check(object);
    return repaired;
}

bool NSManagedObjectContext::saveToParent(QString*)
{
    NSManagedObjectContext* parent = m_parent;
    for (NSManagedObject* object : m_inserted) {
        NSManagedObject* created = parent->insertNewObjectForEntityForName(object->m_entity->name);
        object->m_parentObject = created;
        m_byParent.insert(created, object);
    }
    auto push = [&](NSManagedObject* object, bool everything) {
        NSManagedObject* target = object->m_parentObject;
        if (!target)
            return;
        for (const auto& attribute : object->m_entity->attributes) {
            if (everything || (object->m_changedAttributes & bit(attribute.index)))
                target->setPrimitiveValue(attribute.index, object->m_values[attribute.index]);
        }
        for (const auto& relationship : object->m_entity->relationships) {
            const int r = relationship.index;
            if (relationship.toMany || !(everything || (object->m_changedKeys & bit(r))))
                continue;
            NSManagedObject* related = resolveToOne(object, r);
            parent->setToOne(target, r, related ? related->m_parentObject : nullptr, true);
        }
    };
    for (NSManagedObject* object : m_inserted)
        push(object, true);
    for (NSManagedObject* object : std::as_const(m_changed))
        push(object, false);
    // Lists given a new order here get the same order there.
    for (NSManagedObject* object : std::as_const(m_changed)) {
        if (!object->m_changedLists || !object->m_parentObject)
            continue;
        for (const auto& relationship : object->m_entity->relationships) {
            if (!(object->m_changedLists & bit(relationship.index)))
                continue;
            QList<NSManagedObject*> list;
            for (NSManagedObject* member : object->m_toMany[relationship.index].objects) {
                if (member->m_parentObject)
                    list.append(member->m_parentObject);
            }
            object->m_parentObject->setObjectsForRelationship(list, relationship.name);
        }
    }
    for (NSManagedObject* object : std::as_const(m_deleted)) {
        if (object->m_parentObject)
            parent->deleteObject(object->m_parentObject);
    }

    for (NSManagedObject* object : m_inserted) {
        object->m_inserted = false;
        object->m_rowID = object->m_parentObject ? object->m_parentObject->m_rowID : 0;
    }
    finishSave();
    return true;
}

// What a successful save leaves behind: nothing pending, deleted objects freed.
void NSManagedObjectContext::finishSave()
{
    auto settle = [](NSManagedObject* object) {
        object->m_changedAttributes = object->m_changedKeys = object->m_changedOrders = 0;
        object->m_appendOrders = object->m_changedLists = 0;
    };
    for (NSManagedObject* object : m_inserted)
        settle(object);
    for (NSManagedObject* object : std::as_const(m_changed))
        settle(object);
    m_inserted.clear();
    m_changed.clear();
    QSet<NSManagedObject*> doomed = m_deleted;
    doomed.unite(QSet<NSManagedObject*>(m_discarded.begin(), m_discarded.end()));
    m_deleted.clear();
    m_discarded.clear();
    destroy(doomed);
}

void NSManagedObjectContext::destroy(const QSet<NSManagedObject*>& doomed)
{
    // First unhook them from the objects that stay; only then free them, since
    // doomed objects may point at each other (a cascade).
    for (NSManagedObject* object : doomed) {
        for (NSManagedObjectContext* child : m_children)
            child->parentObjectGone(object);
        for (const auto& relationship : object->m_entity->relationships) {
            const int r = relationship.index;
            const int inverse = relationship.inverseRelationship->index;
            if (!relationship.toMany) {
                NSManagedObject* target = object->m_toOne[r].target;
                if (target && !doomed.contains(target) && target->m_toMany[inverse].loaded)
                    target->m_toMany[inverse].objects.removeAll(object);
                continue;
            }
            for (NSManagedObject* member : object->m_toMany[r].objects) {
                if (!doomed.contains(member) && member->m_toOne[inverse].target == object) {
                    member->m_toOne[inverse].target = nullptr;
                    member->m_toOne[inverse].resolved = (member->m_changedKeys >> inverse) & 1;
                }
            }
        }
        if (object->m_rowID > 0 && !m_parent)
            m_byRow.remove(qMakePair(object->m_entity->index, object->m_rowID));
        if (object->m_parentObject)
            m_byParent.remove(object->m_parentObject);
    }
    // One pass over the rest catches any pointer the lists above did not know of.
    if (!doomed.isEmpty()) {
        for (auto& [object, owned] : m_objects) {
            if (doomed.contains(object))
                continue;
            for (int r = 0; r < object->m_toOne.size(); ++r) {
                auto& slot = object->m_toOne[r];
                if (slot.target && doomed.contains(slot.target)) {
                    slot.target = nullptr;
                    slot.targetRow = 0;
                    slot.resolved = true;
                }
            }
        }
    }
    for (NSManagedObject* object : doomed)
        m_objects.erase(object);
}

void NSManagedObjectContext::parentObjectGone(NSManagedObject* parentObject)
{
    if (NSManagedObject* object = m_byParent.take(parentObject)) {
        object->m_parentObject = nullptr;
        object->m_vanished = true;
    }
}

void NSManagedObjectContext::refreshAllObjects()
{
    // Forgotten by the previous refresh: whoever kept them has had a whole
    // refresh to read its lists again.
    m_retired.clear();
    QSet<NSManagedObject*> gone;
    for (auto& [object, owned] : m_objects) {
        if (object->m_inserted || object->m_deleted)
            continue;
        if (object->m_vanished && !object->hasChanges()) {
            gone.insert(object);
            continue;
        }
        object->m_fault = true;
        for (auto& list : object->m_toMany) {
            if (list.loaded && !m_parent) {
                list.rowsBeforeRefresh.clear();
                list.rowsBeforeRefresh.reserve(list.objects.size());
                for (NSManagedObject* member : std::as_const(list.objects)) {
                    if (member->m_rowID > 0)
                        list.rowsBeforeRefresh.append(member->m_rowID);
                }
            }
            list.loaded = false;
            list.objects.clear();
        }
        // Keys that were not changed here are read again too; until then they
        // are row numbers, never pointers that a later deletion could leave dangling.
        for (int r = 0; r < object->m_toOne.size(); ++r) {
            auto& slot = object->m_toOne[r];
            if ((object->m_changedKeys >> r) & 1)
                continue;
            if (slot.resolved)
                slot.targetRow = slot.target ? slot.target->m_rowID : 0;
            slot.target = nullptr;
            slot.resolved = !m_parent && slot.targetRow == 0;
        }
    }
    if (!gone.isEmpty())
        forget(gone);
}

// Objects whose rows are gone leave the context. Pointers that remain at them
// (unsaved keys, lists of unsaved objects) turn into row numbers or let go;
// the objects themselves lose their context, so a pointer kept elsewhere reads
// their last values and changes nothing until the next refresh frees them.
void NSManagedObjectContext::forget(const QSet<NSManagedObject*>& gone)
{
    for (NSManagedObjectContext* child : m_children) {
        for (NSManagedObject* object : gone)
            child->parentObjectGone(object);
    }
    for (auto& [object, owned] : m_objects) {
        if (gone.contains(object))
            continue;
        for (auto& slot : object->m_toOne) {
            if (slot.target && gone.contains(slot.target)) {
                slot.targetRow = slot.target->m_rowID;
                slot.target = nullptr;
                slot.resolved = false;
            }
        }
        for (auto& list : object->m_toMany) {
            if (list.loaded)
                list.objects.removeIf([&gone](NSManagedObject* member) { return gone.contains(member); });
        }
    }
    for (NSManagedObject* object : gone) {
        m_byRow.remove(qMakePair(object->m_entity->index, object->m_rowID));
        if (object->m_parentObject)
            m_byParent.remove(object->m_parentObject);
        object->m_context = nullptr;
        object->m_parentObject = nullptr;
        object->m_fault = false;
        for (auto& slot : object->m_toOne) {
            slot.target = nullptr;
            slot.resolved = true;
        }
        for (auto& list : object->m_toMany) {
            list.loaded = true;
            list.objects.clear();
            list.rowsBeforeRefresh.clear();
        }
        const auto found = m_objects.find(object);
        m_retired.push_back(std::move(found->second));
        m_objects.erase(found);
    }
}

void NSManagedObjectContext::reset()
{
    for (NSManagedObjectContext* child : m_children) {
        for (auto& [object, owned] : m_objects)
            child->parentObjectGone(object);
    }
    m_inserted.clear();
    m_changed.clear();
    m_deleted.clear();
    m_discarded.clear();
    m_byRow.clear();
    m_byParent.clear();
    m_objects.clear();
    m_retired.clear();
}
