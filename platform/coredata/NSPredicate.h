#pragma once
// Predicates in the format-string forms the store's callers use: comparisons
// of a key path with an argument or literal ("key = %@", "type == %d",
// "name = 'TC0P'", "%K == %@"), joined with AND, OR, NOT and parentheses.
// A predicate evaluates against an object in memory or becomes an SQL
// condition with bound values, so both agree on what matches.
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>

class NSPredicate {
public:
    NSPredicate() = default;  // matches everything
    static NSPredicate predicateWithFormat(const QString& format, const QVariantList& arguments = {});
    template <typename... Args>
    static NSPredicate withFormat(const QString& format, const Args&... args)
    {
        return predicateWithFormat(format, QVariantList{QVariant::fromValue(args)...});
    }

    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    bool isEmpty() const { return !m_root; }

    using KeyValue = std::function<QVariant(const QString& keyPath)>;
    bool evaluateWithObject(const KeyValue& valueForKeyPath) const;
    bool evaluateWithObject(const QVariantMap& object) const;

    // The condition with "?" placeholders; columnFor maps a key path to a quoted
    // column, or nothing when the key is unknown (then the whole call fails).
    using ColumnFor = std::function<std::optional<QString>(const QString& keyPath)>;
    bool sqlCondition(const ColumnFor& columnFor, QString& sql, QVariantList& bindings) const;

    struct Node;

private:
    std::shared_ptr<const Node> m_root;
    QString m_error;
};

// Equality and order as the predicates compare values: numbers by value
// whatever their type, text exactly, nil only equal to nil.
int compareValues(const QVariant& a, const QVariant& b, bool* comparable);
