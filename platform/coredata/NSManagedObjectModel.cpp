#include "NSManagedObjectModel.h"

#include <QSet>

#include "PropertyList.h"

namespace {

bool parseType(const QString& text, NSAttributeType& type)
{
    static const QHash<QString, NSAttributeType> types{
        {"integer16", NSAttributeType::Integer16}, {"integer32", NSAttributeType::Integer32},
        {"integer64", NSAttributeType::Integer64}, {"double", NSAttributeType::Double},
        {"float", NSAttributeType::Float},         {"boolean", NSAttributeType::Boolean},
        {"string", NSAttributeType::String},       {"date", NSAttributeType::Date},
        {"binary", NSAttributeType::Binary},
    };
    const auto found = types.constFind(text);
    if (found == types.cend())
        return false;
    type = *found;
    return true;
}

bool plainName(const QString& name)
{
    if (name.isEmpty() || !(name.at(0).isLetter()))
        return false;
    for (QChar c : name) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('_')) || c.unicode() > 0x7F)
            return false;
    }
    return true;
}

}  // namespace

QVariant normalizedValue(const QVariant& value, NSAttributeType type)
{
    if (!value.isValid() || value.isNull())
        return {};
    switch (type) {
    case NSAttributeType::Integer16:
    case NSAttributeType::Integer32:
    case NSAttributeType::Integer64:
        return value.toLongLong();
    case NSAttributeType::Double:
    case NSAttributeType::Float:
        return value.toDouble();
    case NSAttributeType::Boolean:
        return value.toBool();
    case NSAttributeType::String:
        return value.toString();
    case NSAttributeType::Date:
        return value.typeId() == QMetaType::QDateTime ? value : QVariant();
    case NSAttributeType::Binary:
        return value.toByteArray();
    }
    return value;
}

const NSAttributeDescription* NSEntityDescription::attribute(const QString& name) const
{
    const int i = attributeIndex(name);
    return i < 0 ? nullptr : &attributes[i];
}

const NSRelationshipDescription* NSEntityDescription::relationship(const QString& name) const
{
    const int i = relationshipIndex(name);
    return i < 0 ? nullptr : &relationships[i];
}

NSEntityDescription* NSManagedObjectModel::entityNamed(const QString& name) const
{
    for (const auto& entity : m_entities) {
        if (entity->name == name)
            return entity.get();
    }
    return nullptr;
}

std::shared_ptr<NSManagedObjectModel> NSManagedObjectModel::modelWithContentsOfFile(const QString& path,
                                                                                    QString* error)
{
    QString reason;
    const QVariant description = PropertyList::readFile(path, &reason);
    if (!description.isValid()) {
        if (error)
            *error = QStringLiteral("cannot read the model %1: %2").arg(path, reason);
        return nullptr;
    }
    return modelWithDescription(description.toMap(), error);
}

std::shared_ptr<NSManagedObjectModel> NSManagedObjectModel::modelWithDescription(const QVariantMap& description,
                                                                                 QString* error)
{
    auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return std::shared_ptr<NSManagedObjectModel>();
    };
    auto model = std::make_shared<NSManagedObjectModel>();
    model->m_version = description.value(QStringLiteral("version")).toString();

    for (const QVariant& e : description.value(QStringLiteral("entities")).toList()) {
        const QVariantMap map = e.toMap();
        auto entity = std::make_shared<NSEntityDescription>();
        entity->name = map.value(QStringLiteral("name")).toString();
        entity->managedObjectClassName = map.value(QStringLiteral("class")).toString();
        if (!plainName(entity->name) || model->entityNamed(entity->name))
            return fail(QStringLiteral("bad or repeated entity name \"%1\"").arg(entity->name));
        entity->index = static_cast<int>(model->m_entities.size());
        QSet<QString> names;
        for (const QVariant& a : map.value(QStringLiteral("attributes")).toList()) {
            const QVariantMap am = a.toMap();
            NSAttributeDescription attribute;
            attribute.name = am.value(QStringLiteral("name")).toString();
            if (!plainName(attribute.name) || names.contains(attribute.name) ||
                !parseType(am.value(QStringLiteral("type")).toString(), attribute.type))
                return fail(QStringLiteral("bad attribute \"%1\" in %2").arg(attribute.name, entity->name));
            attribute.defaultValue = normalizedValue(am.value(QStringLiteral("default")), attribute.type);
            attribute.indexed = am.value(QStringLiteral("indexed")).toBool();
            attribute.index = static_cast<int>(entity->attributes.size());
            names.insert(attribute.name);
            entity->m_attributeIndex.insert(attribute.name, attribute.index);
            entity->attributes.append(attribute);
        }
        for (const QVariant& r : map.value(QStringLiteral("relationships")).toList()) {
            const QVariantMap rm = r.toMap();
            NSRelationshipDescription relationship;
            relationship.name = rm.value(QStringLiteral("name")).toString();
            relationship.destinationEntityName = rm.value(QStringLiteral("destination")).toString();
            relationship.inverseName = rm.value(QStringLiteral("inverse")).toString();
            relationship.toMany = rm.value(QStringLiteral("toMany")).toBool();
            relationship.ordered = rm.value(QStringLiteral("ordered")).toBool();
            const QString rule = rm.value(QStringLiteral("deleteRule"), QStringLiteral("nullify")).toString();
            relationship.deleteRule = rule == QLatin1String("cascade")   ? NSDeleteRule::Cascade
                                      : rule == QLatin1String("noAction") ? NSDeleteRule::NoAction
                                                                          : NSDeleteRule::Nullify;
            if (!plainName(relationship.name) || names.contains(relationship.name) ||
                names.contains(relationship.name + QStringLiteral("_order")))
                return fail(QStringLiteral("bad relationship \"%1\" in %2").arg(relationship.name, entity->name));
            relationship.index = static_cast<int>(entity->relationships.size());
            names.insert(relationship.name);
            entity->m_relationshipIndex.insert(relationship.name, relationship.index);
            entity->relationships.append(relationship);
        }
        if (entity->attributes.size() > 64 || entity->relationships.size() > 64)
            return fail(QStringLiteral("%1 has too many properties").arg(entity->name));
        for (const QVariant& i : map.value(QStringLiteral("compoundIndexes")).toList()) {
            const QStringList columns = i.toStringList();
            if (columns.isEmpty())
                return fail(QStringLiteral("an empty compound index in %1").arg(entity->name));
            entity->compoundIndexes.append(columns);
        }
        model->m_entities.append(entity);
    }
    if (model->m_entities.isEmpty())
        return fail(QStringLiteral("the model has no entities"));

    // Resolve destinations and inverses; every relationship here has an inverse
    // and one side of each pair is to-one (that side keeps the key).
    for (const auto& entity : model->m_entities) {
        for (auto& relationship : entity->relationships) {
            relationship.entity = entity.get();
            relationship.destinationEntity = model->entityNamed(relationship.destinationEntityName);
            if (!relationship.destinationEntity)
                return fail(QStringLiteral("%1.%2 leads to no entity").arg(entity->name, relationship.name));
            const int inverse = relationship.destinationEntity->relationshipIndex(relationship.inverseName);
            if (inverse < 0)
                return fail(QStringLiteral("%1.%2 has no inverse").arg(entity->name, relationship.name));
            relationship.inverseRelationship = &relationship.destinationEntity->relationships[inverse];
        }
    }
    for (const auto& entity : model->m_entities) {
        for (const auto& relationship : entity->relationships) {
            if (relationship.toMany == relationship.inverseRelationship->toMany ||
                relationship.inverseRelationship->inverseRelationship != &relationship)
                return fail(QStringLiteral("%1.%2 needs a to-one inverse that points back")
                                .arg(entity->name, relationship.name));
            if (relationship.ordered && !relationship.toMany)
                return fail(QStringLiteral("%1.%2: only to-many can be ordered").arg(entity->name, relationship.name));
        }
        for (const QStringList& columns : entity->compoundIndexes) {
            for (const QString& column : columns) {
                const NSRelationshipDescription* relationship = entity->relationship(column);
                if (entity->attributeIndex(column) < 0 && !(relationship && !relationship->toMany))
                    return fail(QStringLiteral("%1 indexes \"%2\", which is neither an attribute nor a to-one key")
                                    .arg(entity->name, column));
            }
        }
    }
    // Insert order: an entity comes after every entity its to-one sides point at.
    bool changed = true;
    for (int round = 0; changed; ++round) {
        if (round > model->m_entities.size())
            return fail(QStringLiteral("the model's to-one relationships form a cycle"));
        changed = false;
        for (const auto& entity : model->m_entities) {
            for (const auto& relationship : entity->relationships) {
                if (!relationship.toMany && relationship.destinationEntity != entity.get() &&
                    entity->insertRank <= relationship.destinationEntity->insertRank) {
                    entity->insertRank = relationship.destinationEntity->insertRank + 1;
                    changed = true;
                }
            }
        }
    }
    return model;
}
