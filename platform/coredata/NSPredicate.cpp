#include "NSPredicate.h"
#include "PropertyList.h"

#include <QDateTime>
#include <cmath>
#include <vector>

enum class CompareOp { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual };

struct Operand {
    bool isKey = false;
    QString key;
    QVariant constant;
};

struct NSPredicate::Node {
    enum class Kind { And, Or, Not, Compare, True, False } kind = Kind::True;
    std::vector<std::shared_ptr<const Node>> children;
    Operand left, right;
    CompareOp op = CompareOp::Equal;
};

namespace {

using Node = NSPredicate::Node;
using NodePtr = std::shared_ptr<const Node>;

bool isNumber(const QVariant& v)
{
    return PropertyList::isNumber(v);
}

class Parser {
public:
    Parser(const QString& format, const QVariantList& arguments)
        : m_text(format)
        , m_arguments(arguments)
    {
    }

    NodePtr parse(QString& error)
    {
        NodePtr root = parseOr();
        skipSpace();
        if (m_error.isEmpty() && m_pos < m_text.size())
            fail(QStringLiteral("unexpected \"%1\"").arg(m_text.mid(m_pos)));
        if (m_error.isEmpty() && m_nextArgument != m_arguments.size())
            fail(QStringLiteral("%1 arguments given, %2 used").arg(m_arguments.size()).arg(m_nextArgument));
        error = m_error;
        return m_error.isEmpty() ? root : nullptr;
    }

private:
    void fail(const QString& reason)
    {
        if (m_error.isEmpty())
            m_error = reason;
    }
    void skipSpace()
    {
        while (m_pos < m_text.size() && m_text.at(m_pos).isSpace())
            ++m_pos;
    }
    // A keyword stands alone: "ANDROID" is a key, not AND.
    bool keyword(const char* word)
    {
        skipSpace();
        const QLatin1String w(word);
        if (m_text.mid(m_pos, w.size()).compare(w, Qt::CaseInsensitive) != 0)
            return false;
        const qsizetype end = m_pos + w.size();
        if (end < m_text.size() && (m_text.at(end).isLetterOrNumber() || m_text.at(end) == QLatin1Char('_')))
            return false;
        m_pos = end;
        return true;
    }
    bool symbol(const char* s)
    {
        skipSpace();
        const QLatin1String sym(s);
        if (m_text.mid(m_pos, sym.size()) != sym)
            return false;
        m_pos += sym.size();
        return true;
    }

    NodePtr join(Node::Kind kind, NodePtr a, NodePtr b)
    {
        auto node = std::make_shared<Node>();
        node->kind = kind;
        node->children = {std::move(a), std::move(b)};
        return node;
    }

    NodePtr parseOr()
    {
        NodePtr node = parseAnd();
        while (m_error.isEmpty() && (keyword("OR") || symbol("||")))
            node = join(Node::Kind::Or, node, parseAnd());
        return node;
    }
    NodePtr parseAnd()
    {
        NodePtr node = parseNot();
        while (m_error.isEmpty() && (keyword("AND") || symbol("&&")))
            node = join(Node::Kind::And, node, parseNot());
        return node;
    }
    NodePtr parseNot()
    {
        if (keyword("NOT") || (symbol("!") && !peekEquals())) {
            auto node = std::make_shared<Node>();
            node->kind = Node::Kind::Not;
            node->children = {parseNot()};
            return node;
        }
        return parsePrimary();
    }
    bool peekEquals()
    {
        // "!=" is an operator, not a negation; undo the "!" taken.
        if (m_pos < m_text.size() && m_text.at(m_pos) == QLatin1Char('=')) {
            --m_pos;
            return true;
        }
        return false;
    }
    NodePtr parsePrimary()
    {
        if (symbol("(")) {
            NodePtr inner = parseOr();
            if (!symbol(")"))
                fail(QStringLiteral("missing \")\""));
            return inner;
        }
        if (keyword("TRUEPREDICATE"))
            return constantNode(Node::Kind::True);
        if (keyword("FALSEPREDICATE"))
            return constantNode(Node::Kind::False);
        auto node = std::make_shared<Node>();
        node->kind = Node::Kind::Compare;
        node->left = parseOperand();
        node->op = parseOperator();
        node->right = parseOperand();
        if (m_error.isEmpty() && !node->left.isKey && !node->right.isKey)
            fail(QStringLiteral("a comparison needs a key"));
        return node;
    }
    NodePtr constantNode(Node::Kind kind)
    {
        auto node = std::make_shared<Node>();
        node->kind = kind;
        return node;
    }
    CompareOp parseOperator()
    {
        skipSpace();
        static const std::pair<const char*, CompareOp> ops[] = {
            {"==", CompareOp::Equal},     {"!=", CompareOp::NotEqual},  {"<>", CompareOp::NotEqual},
            {"<=", CompareOp::LessEqual}, {"=<", CompareOp::LessEqual}, {">=", CompareOp::GreaterEqual},
            {"=>", CompareOp::GreaterEqual}, {"=", CompareOp::Equal},   {"<", CompareOp::Less},
            {">", CompareOp::Greater},
        };
        for (const auto& [text, op] : ops) {
            if (symbol(text))
                return op;
        }
        fail(QStringLiteral("expected a comparison at \"%1\"").arg(m_text.mid(m_pos)));
        return CompareOp::Equal;
    }
    QVariant nextArgument()
    {
        if (m_nextArgument >= m_arguments.size()) {
            fail(QStringLiteral("too few arguments"));
            return {};
        }
        return m_arguments.at(m_nextArgument++);
    }
    Operand parseOperand()
    {
        skipSpace();
        Operand operand;
        if (m_pos >= m_text.size()) {
            fail(QStringLiteral("expected a value at the end"));
            return operand;
        }
        const QChar c = m_text.at(m_pos);
        if (c == QLatin1Char('%')) {
            ++m_pos;
            qsizetype start = m_pos;
            while (m_pos < m_text.size() && QStringLiteral("lhqz").contains(m_text.at(m_pos)))
                ++m_pos;
            if (m_pos >= m_text.size()) {
                fail(QStringLiteral("incomplete format"));
                return operand;
            }
            const QChar conversion = m_text.at(m_pos++);
            Q_UNUSED(start);
            const QVariant argument = nextArgument();
            if (conversion == QLatin1Char('K')) {
                operand.isKey = true;
                operand.key = argument.toString();
            } else if (conversion == QLatin1Char('@')) {
                operand.constant = argument;
            } else if (QStringLiteral("diuxX").contains(conversion)) {
                operand.constant = argument.toLongLong();
            } else if (QStringLiteral("fgeG").contains(conversion)) {
                operand.constant = argument.toDouble();
            } else {
                fail(QStringLiteral("unknown format %%%1").arg(conversion));
            }
            return operand;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype end = m_text.indexOf(c, m_pos + 1);
            if (end < 0) {
                fail(QStringLiteral("unterminated text"));
                return operand;
            }
            operand.constant = m_text.mid(m_pos + 1, end - m_pos - 1);
            m_pos = end + 1;
            return operand;
        }
        if (c.isDigit() || c == QLatin1Char('-') || c == QLatin1Char('.')) {
            qsizetype end = m_pos + 1;
            while (end < m_text.size() && (m_text.at(end).isDigit() || m_text.at(end) == QLatin1Char('.') ||
                                           m_text.at(end).toLower() == QLatin1Char('e')))
                ++end;
            bool ok = false;
            const QString number = m_text.mid(m_pos, end - m_pos);
            const qlonglong whole = number.toLongLong(&ok);
            operand.constant = ok ? QVariant(whole) : QVariant(number.toDouble(&ok));
            if (!ok)
                fail(QStringLiteral("bad number \"%1\"").arg(number));
            m_pos = end;
            return operand;
        }
        if (c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char('$')) {
            qsizetype end = m_pos;
            while (end < m_text.size() && (m_text.at(end).isLetterOrNumber() || m_text.at(end) == QLatin1Char('_') ||
                                           m_text.at(end) == QLatin1Char('.') || m_text.at(end) == QLatin1Char('$')))
                ++end;
            QString word = m_text.mid(m_pos, end - m_pos);
            m_pos = end;
            const QString upper = word.toUpper();
            if (upper == QLatin1String("NIL") || upper == QLatin1String("NULL")) {
                operand.constant = QVariant();
            } else if (upper == QLatin1String("YES") || upper == QLatin1String("TRUE")) {
                operand.constant = true;
            } else if (upper == QLatin1String("NO") || upper == QLatin1String("FALSE")) {
                operand.constant = false;
            } else {
                if (word.startsWith(QLatin1String("SELF."), Qt::CaseInsensitive))
                    word = word.mid(5);
                operand.isKey = true;
                operand.key = word;
            }
            return operand;
        }
        fail(QStringLiteral("unexpected \"%1\"").arg(c));
        return operand;
    }

    const QString m_text;
    const QVariantList m_arguments;
    qsizetype m_pos = 0;
    qsizetype m_nextArgument = 0;
    QString m_error;
};

bool holds(CompareOp op, int order)
{
    switch (op) {
    case CompareOp::Equal:
        return order == 0;
    case CompareOp::NotEqual:
        return order != 0;
    case CompareOp::Less:
        return order < 0;
    case CompareOp::LessEqual:
        return order <= 0;
    case CompareOp::Greater:
        return order > 0;
    case CompareOp::GreaterEqual:
        return order >= 0;
    }
    return false;
}

bool evaluate(const Node& node, const NSPredicate::KeyValue& valueFor)
{
    switch (node.kind) {
    case Node::Kind::True:
        return true;
    case Node::Kind::False:
        return false;
    case Node::Kind::Not:
        return !evaluate(*node.children[0], valueFor);
    case Node::Kind::And:
        return evaluate(*node.children[0], valueFor) && evaluate(*node.children[1], valueFor);
    case Node::Kind::Or:
        return evaluate(*node.children[0], valueFor) || evaluate(*node.children[1], valueFor);
    case Node::Kind::Compare: {
        const QVariant a = node.left.isKey ? valueFor(node.left.key) : node.left.constant;
        const QVariant b = node.right.isKey ? valueFor(node.right.key) : node.right.constant;
        bool comparable = false;
        const int order = compareValues(a, b, &comparable);
        if (!comparable)
            return node.op == CompareOp::NotEqual;
        return holds(node.op, order);
    }
    }
    return false;
}

const char* sqlOperator(CompareOp op)
{
    switch (op) {
    case CompareOp::Equal:
        return " = ";
    case CompareOp::NotEqual:
        return " != ";
    case CompareOp::Less:
        return " < ";
    case CompareOp::LessEqual:
        return " <= ";
    case CompareOp::Greater:
        return " > ";
    case CompareOp::GreaterEqual:
        return " >= ";
    }
    return " = ";
}

bool toSQL(const Node& node, const NSPredicate::ColumnFor& columnFor, QString& sql, QVariantList& bindings)
{
    switch (node.kind) {
    case Node::Kind::True:
        sql += QLatin1String("1");
        return true;
    case Node::Kind::False:
        sql += QLatin1String("0");
        return true;
    case Node::Kind::Not:
        sql += QLatin1String("NOT (");
        if (!toSQL(*node.children[0], columnFor, sql, bindings))
            return false;
        sql += QLatin1Char(')');
        return true;
    case Node::Kind::And:
    case Node::Kind::Or:
        sql += QLatin1Char('(');
        if (!toSQL(*node.children[0], columnFor, sql, bindings))
            return false;
        sql += node.kind == Node::Kind::And ? QLatin1String(" AND ") : QLatin1String(" OR ");
        if (!toSQL(*node.children[1], columnFor, sql, bindings))
            return false;
        sql += QLatin1Char(')');
        return true;
    case Node::Kind::Compare: {
        QString text;
        auto side = [&](const Operand& operand) -> bool {
            if (operand.isKey) {
                const auto column = columnFor(operand.key);
                if (!column)
                    return false;
                text += *column;
            } else {
                text += QLatin1Char('?');
                QVariant value = operand.constant;
                if (value.typeId() == QMetaType::Bool)
                    value = value.toBool() ? 1 : 0;
                bindings.append(value);
            }
            return true;
        };
        const bool nilRight = !node.right.isKey && !node.right.constant.isValid();
        const bool nilLeft = !node.left.isKey && !node.left.constant.isValid();
        if (nilRight || nilLeft) {
            if (node.op != CompareOp::Equal && node.op != CompareOp::NotEqual) {
                text = QStringLiteral("0");  // nothing is ordered against nil
            } else {
                if (!side(nilRight ? node.left : node.right))
                    return false;
                text += node.op == CompareOp::Equal ? QLatin1String(" IS NULL") : QLatin1String(" IS NOT NULL");
            }
            sql += text;
            return true;
        }
        text += QLatin1Char('(');
        if (!side(node.left))
            return false;
        text += QLatin1String(sqlOperator(node.op));
        if (!side(node.right))
            return false;
        text += QLatin1Char(')');
        if (node.op == CompareOp::NotEqual) {
            // As in memory, "a != b" also holds where exactly one side is nil.
            text += QLatin1String(" OR ((");
            if (!side(node.left))
                return false;
            text += QLatin1String(") IS NULL) != ((");
            if (!side(node.right))
                return false;
            text += QLatin1String(") IS NULL)");
            text = QLatin1Char('(') + text + QLatin1Char(')');
        }
        sql += text;
        return true;
    }
    }
    return false;
}

}  // namespace

int compareValues(const QVariant& a, const QVariant& b, bool* comparable)
{
    *comparable = true;
    const bool aNil = !a.isValid() || a.isNull();
    const bool bNil = !b.isValid() || b.isNull();
    if (aNil || bNil) {
        *comparable = aNil && bNil;
        return 0;
    }
    if (isNumber(a) && isNumber(b)) {
        const double x = a.toDouble();
        const double y = b.toDouble();
        if (std::isnan(x) || std::isnan(y)) {
            *comparable = false;
            return 0;
        }
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (a.typeId() == QMetaType::QDateTime && b.typeId() == QMetaType::QDateTime) {
        const auto x = a.toDateTime();
        const auto y = b.toDateTime();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString)
        return a.toString().compare(b.toString());
    if (a.typeId() == QMetaType::QByteArray && b.typeId() == QMetaType::QByteArray)
        return a.toByteArray().compare(b.toByteArray());
    *comparable = false;
    return 0;
}

NSPredicate NSPredicate::predicateWithFormat(const QString& format, const QVariantList& arguments)
{
    NSPredicate predicate;
    Parser parser(format, arguments);
    predicate.m_root = parser.parse(predicate.m_error);
    if (predicate.m_error.isEmpty() && !predicate.m_root)
        predicate.m_error = QStringLiteral("empty predicate");
    return predicate;
}

bool NSPredicate::evaluateWithObject(const KeyValue& valueForKeyPath) const
{
    if (!isValid())
        return false;
    return !m_root || evaluate(*m_root, valueForKeyPath);
}

bool NSPredicate::evaluateWithObject(const QVariantMap& object) const
{
    return evaluateWithObject([&object](const QString& key) { return object.value(key); });
}

bool NSPredicate::sqlCondition(const ColumnFor& columnFor, QString& sql, QVariantList& bindings) const
{
    if (!isValid())
        return false;
    if (!m_root) {
        sql += QLatin1String("1");
        return true;
    }
    return toSQL(*m_root, columnFor, sql, bindings);
}
