#pragma once
// The store's model: entities with their attributes and relationships, read
// from a property-list model file ("Database.momd").
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>

enum class NSAttributeType { Integer16, Integer32, Integer64, Double, Float, Boolean, String, Date, Binary };
enum class NSDeleteRule { Nullify, Cascade, NoAction };

class NSEntityDescription;

struct NSAttributeDescription {
    QString name;
    NSAttributeType type = NSAttributeType::String;
    QVariant defaultValue;
    bool indexed = false;
    int index = 0;
};

struct NSRelationshipDescription {
    QString name;
    QString destinationEntityName;
    QString inverseName;
    bool toMany = false;
    bool ordered = false;
    NSDeleteRule deleteRule = NSDeleteRule::Nullify;
    NSEntityDescription* entity = nullptr;
    NSEntityDescription* destinationEntity = nullptr;
    NSRelationshipDescription* inverseRelationship = nullptr;
    int index = 0;

    // A to-one side keeps the foreign key; an ordered to-many keeps its order
    // beside that key, on the destination's rows.
    QString foreignKeyColumn() const { return name; }
    QString orderColumn() const { return name + QStringLiteral("_order"); }
    bool keepsOrder() const { return !toMany && inverseRelationship && inverseRelationship->ordered; }
};

class NSEntityDescription {
public:
    QString name;
    QString managedObjectClassName;
    QVector<NSAttributeDescription> attributes;
    QVector<NSRelationshipDescription> relationships;
    // Indexes over several columns: attribute names and to-one relationship names.
    QVector<QStringList> compoundIndexes;
    int index = 0;       // position in the model
    int insertRank = 0;  // entities a row refers to are inserted before it

    int attributeIndex(const QString& attribute) const { return m_attributeIndex.value(attribute, -1); }
    int relationshipIndex(const QString& relationship) const { return m_relationshipIndex.value(relationship, -1); }
    const NSAttributeDescription* attribute(const QString& name) const;
    const NSRelationshipDescription* relationship(const QString& name) const;

private:
    friend class NSManagedObjectModel;
    QHash<QString, int> m_attributeIndex;
    QHash<QString, int> m_relationshipIndex;
};

// A value as an attribute of this type holds it: qlonglong, double, bool,
// QString, QDateTime or QByteArray; nil stays an invalid QVariant.
QVariant normalizedValue(const QVariant& value, NSAttributeType type);

class NSManagedObjectModel {
public:
    // Null with a reason when the file is missing or does not describe a consistent model.
    static std::shared_ptr<NSManagedObjectModel> modelWithContentsOfFile(const QString& path, QString* error = nullptr);
    static std::shared_ptr<NSManagedObjectModel> modelWithDescription(const QVariantMap& description,
                                                                      QString* error = nullptr);

    const QVector<std::shared_ptr<NSEntityDescription>>& entities() const { return m_entities; }
    NSEntityDescription* entityNamed(const QString& name) const;
    QString versionIdentifier() const { return m_version; }

private:
    QVector<std::shared_ptr<NSEntityDescription>> m_entities;
    QString m_version;
};
