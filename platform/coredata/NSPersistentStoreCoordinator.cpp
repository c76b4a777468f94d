#include "NSPersistentStoreCoordinator.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <SQLiteCpp/SQLiteCpp.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <sqlite3.h>
#include <unordered_map>

namespace {

QString quoted(const QString& identifier)
{
    return QLatin1Char('"') + identifier + QLatin1Char('"');
}

QString sqlType(NSAttributeType type)
{
    switch (type) {
    case NSAttributeType::Integer16:
    case NSAttributeType::Integer32:
    case NSAttributeType::Integer64:
    case NSAttributeType::Boolean:
        return QStringLiteral("INTEGER");
    case NSAttributeType::Double:
    case NSAttributeType::Float:
    case NSAttributeType::Date:
        return QStringLiteral("REAL");
    case NSAttributeType::String:
        return QStringLiteral("TEXT");
    case NSAttributeType::Binary:
        return QStringLiteral("BLOB");
    }
    return QStringLiteral("BLOB");
}

QString sqlLiteral(const QVariant& value, NSAttributeType type)
{
    if (!value.isValid())
        return QStringLiteral("NULL");
    switch (type) {
    case NSAttributeType::String:
        return QLatin1Char('\'') + value.toString().replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
    case NSAttributeType::Boolean:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case NSAttributeType::Double:
    case NSAttributeType::Float:
        return QString::number(value.toDouble(), 'g', 17);
    case NSAttributeType::Binary:
    case NSAttributeType::Date:
        return QStringLiteral("NULL");
    default:
        return QString::number(value.toLongLong());
    }
}

// Dates are stored as seconds since 1970.
void bindValue(SQLite::Statement& statement, int index, const QVariant& value)
{
    if (!value.isValid() || value.isNull()) {
        statement.bind(index);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::QString: {
        const QByteArray utf8 = value.toString().toUtf8();
        statement.bind(index, std::string(utf8.constData(), static_cast<size_t>(utf8.size())));
        return;
    }
    case QMetaType::Bool:
        statement.bind(index, static_cast<int64_t>(value.toBool() ? 1 : 0));
        return;
    case QMetaType::Double:
    case QMetaType::Float: {
        // SQLite keeps no NaN: it is stored as NULL (see readAttribute).
        const double number = value.toDouble();
        if (std::isnan(number))
            statement.bind(index);
        else
            statement.bind(index, number);
        return;
    }
    case QMetaType::QDateTime:
        statement.bind(index, static_cast<double>(value.toDateTime().toMSecsSinceEpoch()) / 1000.0);
        return;
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        statement.bind(index, bytes.constData(), static_cast<int>(bytes.size()));
        return;
    }
    default:
        statement.bind(index, static_cast<int64_t>(value.toLongLong()));
        return;
    }
}

// A column known not to be NULL: every question to SQLite about a column costs
// as much as reading it, so its type is asked only once.
QVariant readColumn(const SQLite::Column& column, NSAttributeType type)
{
    switch (type) {
    case NSAttributeType::Integer16:
    case NSAttributeType::Integer32:
    case NSAttributeType::Integer64:
        return static_cast<qlonglong>(column.getInt64());
    case NSAttributeType::Boolean:
        return column.getInt64() != 0;
    case NSAttributeType::Double:
    case NSAttributeType::Float:
        return column.getDouble();
    case NSAttributeType::String:
        return QString::fromUtf8(static_cast<const char*>(column.getBlob()), column.getBytes());
    case NSAttributeType::Date: {
        // A damaged value beyond any calendar's range reads as nil.
        const double milliseconds = column.getDouble() * 1000.0;
        if (!std::isfinite(milliseconds) || std::fabs(milliseconds) > 8.64e15)
            return {};
        return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(milliseconds));
    }
    case NSAttributeType::Binary:
        return QByteArray(static_cast<const char*>(column.getBlob()), column.getBytes());
    }
    return {};
}

// A number attribute with a default holds NULL only where a NaN was written
// (inserts leave it to the column's default, added columns take it), so that
// NULL reads back as not a number: to a reader, "no reading", never 0.
QVariant readAttribute(const SQLite::Column& column, const NSAttributeDescription& attribute)
{
    if (!column.isNull())
        return readColumn(column, attribute.type);
    if (attribute.defaultValue.isValid() &&
        (attribute.type == NSAttributeType::Double || attribute.type == NSAttributeType::Float))
        return std::numeric_limits<double>::quiet_NaN();
    return {};
}

// A column of a saved row's shape: an attribute by its index, or a to-one
// relationship's key or order column.
constexpr int kKeyColumn = 1 << 20;
constexpr int kOrderColumn = 2 << 20;

QString columnName(const NSEntityDescription& entity, int column)
{
    if (column >= kOrderColumn)
        return entity.relationships[column - kOrderColumn].orderColumn();
    if (column >= kKeyColumn)
        return entity.relationships[column - kKeyColumn].foreignKeyColumn();
    return entity.attributes[column].name;
}

const std::vector<int> kNoColumns;

}  // namespace

// A statement left mid-way keeps its read snapshot open, which blocks other
// programs' checkpoints and makes our next write transaction fail as busy.
struct ResetOnExit {
    SQLite::Statement& statement;
    ~ResetOnExit() { statement.tryReset(); }
};

// SQLite counts every allocation under a global lock unless told not to; nothing
// here reads those counts. It takes the setting only before its first use.
static bool withoutMemoryCounts()
{
    static const bool applied = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    return applied;
}

struct NSPersistentStoreCoordinator::Store {
    // Only the main queue uses a connection, so SQLite need not lock it on every call.
    Store(const QString& path, int busyTimeoutMs)
        : memoryCountsOff(withoutMemoryCounts()),
          db(QFile::encodeName(path).toStdString(),
             SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE | SQLite::OPEN_NOMUTEX, busyTimeoutMs)
    {
    }

    SQLite::Statement& statement(const QString& sql)
    {
        auto found = statements.find(sql);
        if (found == statements.end())
            found = statements.emplace(sql, std::make_unique<SQLite::Statement>(db, sql.toStdString())).first;
        SQLite::Statement& s = *found->second;
        s.tryReset();
        s.clearBindings();
        return s;
    }

    // The statements a save and a fault use on every tick are found by their
    // shape (what they are for and which columns they name) rather than by
    // text, so a save of the same shapes as the last one builds no SQL.
    enum class Kind { Insert, Update, Delete, NextId, EndOfList, RowById, Related, Range, Begin, Commit };
    struct Shape {
        Kind kind;
        std::vector<int> columns;
        int rows;
        SQLite::Statement* statement;
    };

    SQLite::Statement* shaped(const void* owner, Kind kind, const std::vector<int>& columns, int rows = 1)
    {
        const auto found = shapes.find(owner);
        if (found == shapes.end())
            return nullptr;
        for (const Shape& shape : found->second) {
            if (shape.kind == kind && shape.rows == rows && shape.columns == columns) {
                shape.statement->tryReset();
                shape.statement->clearBindings();
                return shape.statement;
            }
        }
        return nullptr;
    }

    template <typename MakeSql>
    SQLite::Statement& shaped(const void* owner, Kind kind, const std::vector<int>& columns, MakeSql makeSql,
                              int rows = 1)
    {
        if (SQLite::Statement* known = shaped(owner, kind, columns, rows))
            return *known;
        SQLite::Statement& made = statement(makeSql());
        shapes[owner].push_back({kind, columns, rows, &made});
        return made;
    }

    // Inserted rows of one shape waiting to be written together: per row its
    // id, then one value per column.
    struct Pending {
        const NSEntityDescription* entity = nullptr;
        std::vector<int> columns;
        std::vector<qint64> ids;
        std::vector<QVariant> values;
    };

    // Every insert statement costs SQLite a fixed amount beyond its rows (it
    // opens the table, its indexes and the keys' tables), so rows of one shape
    // go in chunks of 32, 16, ... 1 rows: a handful of statements per save,
    // and at most six cached per shape.
    static constexpr int kMostRows = 32;
    void insertRows(Pending& pending);

    void forgetPending()
    {
        pendingInsert.ids.clear();
        pendingInsert.values.clear();
    }

    void forgetStatements()
    {
        shapes.clear();
        fetches.clear();
        statements.clear();
    }

    bool memoryCountsOff;
    SQLite::Database db;
    std::unordered_map<QString, std::unique_ptr<SQLite::Statement>> statements;
    std::unordered_map<const void*, std::vector<Shape>> shapes;  // point into statements
    // Fetches by entity and what follows "WHERE".
    std::unordered_map<const NSEntityDescription*, QHash<QString, SQLite::Statement*>> fetches;
    QHash<const NSEntityDescription*, QString> selectColumns;
    // Reused by every save: the shape and the values of the row at hand.
    std::vector<int> columns;
    std::vector<QVariant> values;
    Pending pendingInsert;
};

void NSPersistentStoreCoordinator::Store::insertRows(Pending& pending)
{
    const NSEntityDescription& entity = *pending.entity;
    const std::vector<int>& columns = pending.columns;
    const size_t width = columns.size();
    const size_t total = pending.ids.size();
    int most = kMostRows;
    const int variables = sqlite3_limit(db.getHandle(), SQLITE_LIMIT_VARIABLE_NUMBER, -1);
    while (most > 1 && most * static_cast<int>(width + 1) > variables)
        most /= 2;
    size_t done = 0;
    while (done < total) {
        int rows = most;
        while (static_cast<size_t>(rows) > total - done)
            rows /= 2;
        SQLite::Statement& statement = shaped(&entity, Kind::Insert, columns, [&] {
            QStringList names{QStringLiteral("rowid")};
            for (int column : columns)
                names.append(quoted(columnName(entity, column)));
            const QString row =
                QLatin1Char('(') + QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", ")) + QLatin1Char(')');
            return QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                .arg(quoted(entity.name), names.join(QStringLiteral(", ")),
                     QStringList(rows, row).join(QStringLiteral(", ")));
        }, rows);
        ResetOnExit resetStatement{statement};
        int index = 1;
        for (size_t r = done; r < done + static_cast<size_t>(rows); ++r) {
            statement.bind(index++, static_cast<int64_t>(pending.ids[r]));
            for (size_t c = 0; c < width; ++c)
                bindValue(statement, index++, pending.values[r * width + c]);
        }
        statement.exec();
        done += static_cast<size_t>(rows);
    }
    pending.ids.clear();
    pending.values.clear();
}

NSPersistentStoreCoordinator::NSPersistentStoreCoordinator(std::shared_ptr<NSManagedObjectModel> model)
    : m_model(std::move(model))
{
}

NSPersistentStoreCoordinator::~NSPersistentStoreCoordinator() = default;

bool NSPersistentStoreCoordinator::hasStore() const
{
    return m_store != nullptr;
}

bool NSPersistentStoreCoordinator::isReady() const
{
    return m_store && m_ready;
}

namespace {

struct Column {
    QString name;
    QString definition;
};

struct TablePlan {
    const NSEntityDescription* entity = nullptr;
    QVector<Column> columns;
};

struct IndexPlan {
    QString name;
    QString table;
    QString columns;
};

// The tables and indexes a model needs.
void planSchema(const NSManagedObjectModel& model, std::vector<TablePlan>& tables, std::vector<IndexPlan>& indexes)
{
    for (const auto& entity : model.entities()) {
        TablePlan table{entity.get(), {}};
        for (const auto& attribute : entity->attributes) {
            QString definition = sqlType(attribute.type);
            if (attribute.defaultValue.isValid())
                definition += QStringLiteral(" DEFAULT ") + sqlLiteral(attribute.defaultValue, attribute.type);
            table.columns.append({attribute.name, definition});
        }
        for (const auto& relationship : entity->relationships) {
            if (relationship.toMany)
                continue;
            const bool cascade = relationship.inverseRelationship->deleteRule == NSDeleteRule::Cascade;
            table.columns.append({relationship.foreignKeyColumn(),
                                  QStringLiteral("INTEGER REFERENCES %1(\"id\") ON DELETE %2")
                                      .arg(quoted(relationship.destinationEntity->name),
                                           cascade ? QStringLiteral("CASCADE") : QStringLiteral("SET NULL"))});
            if (relationship.keepsOrder())
                table.columns.append({relationship.orderColumn(), QStringLiteral("REAL")});
        }
        tables.push_back(std::move(table));

        for (const auto& relationship : entity->relationships) {
            if (relationship.toMany)
                continue;
            QString indexed = quoted(relationship.foreignKeyColumn());
            if (relationship.keepsOrder())
                indexed += QStringLiteral(", ") + quoted(relationship.orderColumn());
            indexes.push_back({entity->name + QLatin1Char('_') + relationship.name, entity->name, indexed});
        }
        for (const QStringList& columns : entity->compoundIndexes) {
            QStringList quotedColumns;
            for (const QString& column : columns) {
                const NSRelationshipDescription* key = entity->relationship(column);
                quotedColumns.append(quoted(key ? key->foreignKeyColumn() : column));
            }
            indexes.push_back({entity->name + QLatin1Char('_') + columns.join(QLatin1Char('_')), entity->name,
                               quotedColumns.join(QStringLiteral(", "))});
        }
        for (const auto& attribute : entity->attributes) {
            if (attribute.indexed)
                indexes.push_back({entity->name + QLatin1Char('_') + attribute.name, entity->name, quoted(attribute.name)});
        }
    }
}

struct ExistingSchema {
    QSet<QString> tables;
    QSet<QString> indexes;
    QSet<QString> triggers;
    QHash<QString, QSet<QString>> columns;  // of the model's tables that exist
    QString version;                        // empty without our metadata
    // No object of any kind and no mark in the header: the file is no one's yet.
    bool blank = true;
};

// Only reads: fails on a file that is not a database before anything could be written.
ExistingSchema readSchema(SQLite::Database& db, const NSManagedObjectModel& model)
{
    ExistingSchema schema;
    SQLite::Statement query(db, "SELECT type, name FROM sqlite_master");
    while (query.executeStep()) {
        schema.blank = false;
        const QString name = QString::fromStdString(query.getColumn(1).getString());
        const std::string type = query.getColumn(0).getString();
        if (type == "table")
            schema.tables.insert(name);
        else if (type == "index")
            schema.indexes.insert(name);
        else if (type == "trigger")
            schema.triggers.insert(name);
    }
    // Our store sets neither; another program may have set them on a file it has not filled yet.
    schema.blank = schema.blank && db.execAndGet("PRAGMA application_id").getInt() == 0 &&
                   db.execAndGet("PRAGMA user_version").getInt() == 0;
    if (schema.tables.contains(QStringLiteral("kelvara_metadata"))) {
        SQLite::Statement version(db, "SELECT value FROM kelvara_metadata WHERE key = 'model'");
        if (version.executeStep() && !version.getColumn(0).isNull())
            schema.version = QString::fromStdString(version.getColumn(0).getString());
    }
    for (const auto& entity : model.entities()) {
        if (!schema.tables.contains(entity->name))
            continue;
        QSet<QString>& existing = schema.columns[entity->name];
        SQLite::Statement info(db, QStringLiteral("PRAGMA table_info(%1)").arg(quoted(entity->name)).toStdString());
        while (info.executeStep())
            existing.insert(QString::fromStdString(info.getColumn(1).getString()));
    }
    return schema;
}

// Errors that pass: another program holds the write lock, or the disk is full
// (which can also show as a failure to make or grow the journal files).
bool isTransient(const SQLite::Exception& e)
{
    const int code = e.getErrorCode() & 0xff;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED || code == SQLITE_FULL || code == SQLITE_IOERR ||
           code == SQLITE_CANTOPEN;
}

}  // namespace

namespace {

QString idsTrigger(const NSEntityDescription& entity)
{
    return QStringLiteral("kelvara_ids_") + entity.name;
}

void writeSchema(SQLite::Database& db, const ExistingSchema& schema, const std::vector<TablePlan>& tables,
                 const std::vector<IndexPlan>& indexes, const QString& version)
{
    db.exec("CREATE TABLE IF NOT EXISTS kelvara_metadata (key TEXT PRIMARY KEY, value TEXT)");
    // The highest row number each entity ever gave, so that a deleted row's
    // number is never given again (another program may still hold its object).
    db.exec("CREATE TABLE IF NOT EXISTS kelvara_ids (entity TEXT PRIMARY KEY, last INTEGER NOT NULL)");
    for (const auto& table : tables) {
        const QString name = quoted(table.entity->name);
        const auto existing = schema.columns.constFind(table.entity->name);
        if (existing == schema.columns.constEnd()) {
            QStringList definitions{QStringLiteral("\"id\" INTEGER PRIMARY KEY")};
            for (const auto& column : table.columns)
                definitions.append(quoted(column.name) + QLatin1Char(' ') + column.definition);
            db.exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(name, definitions.join(QStringLiteral(", "))).toStdString());
        } else {
            // The inferred mapping: add what an older model did not have.
            for (const auto& column : table.columns) {
                if (!existing->contains(column.name))
                    db.exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                                .arg(name, quoted(column.name), column.definition)
                                .toStdString());
            }
        }
        SQLite::Statement seed(db, QStringLiteral("INSERT OR IGNORE INTO kelvara_ids (entity, last) "
                                                  "SELECT ?, IFNULL(MAX(rowid), 0) FROM %1")
                                       .arg(name)
                                       .toStdString());
        seed.bind(1, table.entity->name.toStdString());
        seed.exec();
        // Only deleting the newest row moves the mark; any delete counts, cascades and other programs' too.
        db.exec(QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1 AFTER DELETE ON %2 BEGIN "
                               "UPDATE kelvara_ids SET last = OLD.rowid WHERE entity = %3 AND last < OLD.rowid; END")
                    .arg(quoted(idsTrigger(*table.entity)), name, sqlLiteral(table.entity->name, NSAttributeType::String))
                    .toStdString());
    }
    for (const auto& index : indexes)
        db.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3)")
                    .arg(quoted(index.name), quoted(index.table), index.columns)
                    .toStdString());
    SQLite::Statement stamp(db, "INSERT OR REPLACE INTO kelvara_metadata (key, value) VALUES ('model', ?)");
    stamp.bind(1, version.toStdString());
    stamp.exec();
}

}  // namespace

bool NSPersistentStoreCoordinator::addPersistentStoreWithType(const QString& storeType, const QString&,
                                                              const QString& path, const QVariantMap& options,
                                                              QString* error)
{
    auto fail = [&](const QString& reason) {
        m_store.reset();
        if (error)
            *error = reason;
        return false;
    };
    if (storeType != QLatin1String(NSSQLiteStoreType))
        return fail(QStringLiteral("unsupported store type %1").arg(storeType));
    if (!m_model)
        return fail(QStringLiteral("no model"));
    m_path = path;
    const QFileInfo info(path);
    if (info.exists() && (!info.isFile() || !info.isReadable() || !info.isWritable()))
        return fail(QStringLiteral("%1 is not a readable and writable file").arg(path));

    m_migrate = options.value(NSMigratePersistentStoresAutomaticallyOption).toBool() &&
                options.value(NSInferMappingModelAutomaticallyOption).toBool();
    m_ready = false;
    m_toldWaiting = false;
    try {
        m_store = std::make_unique<Store>(path, m_busyTimeoutMs);
    } catch (const std::exception& e) {
        return fail(QStringLiteral("%1: %2").arg(path, QString::fromUtf8(e.what())));
    }
    QString reason;
    const Prepared prepared = prepareStore(&reason);
    if (prepared == Prepared::Refused)
        return fail(reason);
    if (prepared == Prepared::Later)
        waitForSchema(reason);
    return true;
}

void NSPersistentStoreCoordinator::waitForSchema(const QString& reason)
{
    m_nextTry = std::chrono::steady_clock::now() + m_retryInterval;
    if (m_toldWaiting)
        return;
    m_toldWaiting = true;
    std::fprintf(stderr, "Kelvara: the store %s cannot be set up yet (%s); it is tried again later.\n",
                 qPrintable(m_path), qPrintable(reason));
}

NSPersistentStoreCoordinator::Prepared NSPersistentStoreCoordinator::prepareStore(QString* reason)
{
    SQLite::Database& db = m_store->db;
    std::vector<TablePlan> tables;
    std::vector<IndexPlan> indexes;
    planSchema(*m_model, tables, indexes);
    const QString ours = m_model->versionIdentifier();

    enum class Found { Foreign, Current, Wanting };
    const auto classify = [&](const ExistingSchema& schema) {
        const bool empty = schema.blank;
        if (!empty && !schema.tables.contains(QStringLiteral("kelvara_metadata"))) {
            *reason = QStringLiteral("%1 is another program's database; it is left as it is").arg(m_path);
            return Found::Foreign;
        }
        if (!empty && schema.version != ours) {
            bool storedIsNumber = false;
            bool oursIsNumber = false;
            const qlonglong stored = schema.version.toLongLong(&storedIsNumber);
            const qlonglong current = ours.toLongLong(&oursIsNumber);
            if (!storedIsNumber || !oursIsNumber || stored > current) {
                *reason = QStringLiteral("%1 was made by a newer or unknown model (\"%2\"; this program's is \"%3\"); "
                                         "it is left as it is")
                              .arg(m_path, schema.version, ours);
                return Found::Foreign;
            }
            if (!m_migrate) {
                *reason = QStringLiteral("%1 was made by an older model and migration was not allowed").arg(m_path);
                return Found::Foreign;
            }
        }
        bool current = !empty && schema.version == ours && schema.tables.contains(QStringLiteral("kelvara_ids"));
        for (const auto& table : tables) {
            const auto existing = schema.columns.constFind(table.entity->name);
            current = current && existing != schema.columns.constEnd();
            for (const auto& column : table.columns)
                current = current && existing->contains(column.name);
        }
        for (const auto& index : indexes)
            current = current && schema.indexes.contains(index.name);
        for (const auto& table : tables)
            current = current && schema.triggers.contains(idsTrigger(*table.entity));
        return current ? Found::Current : Found::Wanting;
    };

    try {
        Found found = classify(readSchema(db, *m_model));
        if (found == Found::Foreign)
            return Prepared::Refused;
        if (found == Found::Current) {
            // Ours and current: only this connection is set up; nothing waits for the write lock.
            db.tryExec("PRAGMA journal_mode = WAL");
        } else {
            // The file is ours or empty; only now is it written. Under the
            // write lock the schema is read again: another program may have
            // just made it.
            db.exec("PRAGMA journal_mode = WAL");
            db.exec("BEGIN IMMEDIATE");
            try {
                const ExistingSchema schema = readSchema(db, *m_model);
                found = classify(schema);
                if (found == Found::Wanting)
                    writeSchema(db, schema, tables, indexes, ours);
                db.exec(found == Found::Foreign ? "ROLLBACK" : "COMMIT");
            } catch (...) {
                db.tryExec("ROLLBACK");
                throw;
            }
            if (found == Found::Foreign)
                return Prepared::Refused;
        }
        db.exec("PRAGMA synchronous = NORMAL");
        db.exec("PRAGMA foreign_keys = ON");
        // A statement of many rows keeps what it changed until it ends, to be
        // able to undo it alone; that copy stays in memory rather than in a
        // temporary file written and removed on every save.
        db.exec("PRAGMA temp_store = MEMORY");
    } catch (const SQLite::Exception& e) {
        *reason = QString::fromUtf8(e.what());
        if (isTransient(e)) {
            useExistingColumns(db);
            return Prepared::Later;
        }
        *reason = QStringLiteral("%1: %2").arg(m_path, *reason);
        return Prepared::Refused;
    } catch (const std::exception& e) {
        *reason = QStringLiteral("%1: %2").arg(m_path, QString::fromUtf8(e.what()));
        return Prepared::Refused;
    }
    useExistingColumns(db);
    m_ready = true;
    return Prepared::Ready;
}

// Reads name every column the model knows; one the file lacks yet (its schema
// still waits for the write lock) reads as nil.
void NSPersistentStoreCoordinator::useExistingColumns(SQLite::Database& db)
{
    m_store->forgetStatements();
    m_store->selectColumns.clear();
    for (const auto& entity : m_model->entities()) {
        QSet<QString> existing;
        try {
            SQLite::Statement info(db, QStringLiteral("PRAGMA table_info(%1)").arg(quoted(entity->name)).toStdString());
            while (info.executeStep())
                existing.insert(QString::fromStdString(info.getColumn(1).getString()));
        } catch (const std::exception&) {
        }
        const auto column = [&existing](const QString& name) {
            return existing.isEmpty() || existing.contains(name) ? quoted(name) : QStringLiteral("NULL");
        };
        QStringList columns{QStringLiteral("\"id\"")};
        for (const auto& attribute : entity->attributes)
            columns.append(column(attribute.name));
        for (const auto& relationship : entity->relationships) {
            if (relationship.toMany)
                continue;
            columns.append(column(relationship.foreignKeyColumn()));
            if (relationship.keepsOrder())
                columns.append(column(relationship.orderColumn()));
        }
        m_store->selectColumns.insert(entity.get(), columns.join(QStringLiteral(", ")));
    }
}

bool NSPersistentStoreCoordinator::requireStore(QString* error, bool write)
{
    if (!m_store) {
        if (error)
            *error = QStringLiteral("no store");
        return false;
    }
    if (m_ready)
        return true;
    // The schema waits for another program's write lock or for disk space: it
    // is tried again now and then, briefly, so the main thread is never held for long.
    QString reason = QStringLiteral("the store is busy");
    if (std::chrono::steady_clock::now() >= m_nextTry) {
        m_store->db.setBusyTimeout(std::min(m_busyTimeoutMs, 100));
        const Prepared prepared = prepareStore(&reason);
        m_store->db.setBusyTimeout(m_busyTimeoutMs);
        if (prepared == Prepared::Refused) {
            std::fprintf(stderr, "Kelvara: the store cannot be opened (%s); nothing will be saved.\n",
                         qPrintable(reason));
            m_store.reset();
            if (error)
                *error = reason;
            return false;
        }
        if (prepared == Prepared::Ready)
            return true;
        waitForSchema(reason);
    }
    if (write && error)
        *error = QStringLiteral("the store is not set up yet (%1)").arg(reason);
    return !write;
}

namespace {

NSStoreRow readRow(const SQLite::Statement& query, const NSEntityDescription& entity)
{
    NSStoreRow row;
    row.id = query.getColumn(0).getInt64();
    int column = 1;
    row.attributes.reserve(entity.attributes.size());
    for (const auto& attribute : entity.attributes)
        row.attributes.append(readAttribute(query.getColumn(column++), attribute));
    row.keys.resize(entity.relationships.size());
    row.orders.resize(entity.relationships.size());
    for (const auto& relationship : entity.relationships) {
        if (relationship.toMany)
            continue;
        // NULL reads as 0: no row.
        row.keys[relationship.index] = query.getColumn(column++).getInt64();
        if (relationship.keepsOrder()) {
            const SQLite::Column order = query.getColumn(column++);
            if (!order.isNull())
                row.orders[relationship.index] = order.getDouble();
        }
    }
    return row;
}

}  // namespace

std::optional<NSStoreRow> NSPersistentStoreCoordinator::fetchRow(const NSEntityDescription& entity, qint64 id,
                                                                 QString* error)
{
    if (!requireStore(error))
        return std::nullopt;
    try {
        SQLite::Statement& query = m_store->shaped(&entity, Store::Kind::RowById, kNoColumns, [&] {
            return QStringLiteral("SELECT %1 FROM %2 WHERE \"id\" = ?")
                .arg(m_store->selectColumns.value(&entity), quoted(entity.name));
        });
        ResetOnExit resetQuery{query};
        query.bind(1, static_cast<int64_t>(id));
        if (query.executeStep())
            return readRow(query, entity);
    } catch (const std::exception& e) {
        if (error)
            *error = QString::fromUtf8(e.what());
    }
    return std::nullopt;
}

bool NSPersistentStoreCoordinator::fetchRows(const NSFetchRequest& request, const NSEntityDescription& entity,
                                             std::vector<NSStoreRow>& rows, QString* error)
{
    if (!requireStore(error))
        return false;
    QString condition;
    QVariantList bindings;
    const auto column = [&entity](const QString& key) -> std::optional<QString> {
        if (entity.attributeIndex(key) >= 0)
            return quoted(key);
        return std::nullopt;
    };
    if (!request.predicate.sqlCondition(column, condition, bindings)) {
        if (error)
            *error = request.predicate.isValid() ? QStringLiteral("the predicate names a key %1 does not have").arg(entity.name)
                                                 : request.predicate.error();
        return false;
    }
    QStringList order;
    for (const auto& sort : request.sortDescriptors) {
        if (entity.attributeIndex(sort.key) < 0) {
            if (error)
                *error = QStringLiteral("cannot sort %1 by %2").arg(entity.name, sort.key);
            return false;
        }
        order.append(quoted(sort.key) + (sort.ascending ? QStringLiteral(" ASC") : QStringLiteral(" DESC")));
    }
    // The row number only breaks ties; with a condition, "+" keeps SQLite from
    // scanning the whole table in row order instead of using an index for it.
    order.append(request.predicate.isEmpty() ? QStringLiteral("\"id\"") : QStringLiteral("+\"id\""));
    const QString tail = condition + QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", "));
    const auto prepare = [&]() -> SQLite::Statement& {
        QHash<QString, SQLite::Statement*>& known = m_store->fetches[&entity];
        if (SQLite::Statement* statement = known.value(tail)) {
            statement->tryReset();
            statement->clearBindings();
            return *statement;
        }
        SQLite::Statement& statement = m_store->statement(
            QStringLiteral("SELECT %1 FROM %2 WHERE ").arg(m_store->selectColumns.value(&entity), quoted(entity.name)) +
            tail);
        known.insert(tail, &statement);
        return statement;
    };
    return queryRows(prepare, bindings, entity, rows, error);
}

bool NSPersistentStoreCoordinator::fetchRelated(const NSRelationshipDescription& toMany, qint64 owner,
                                                std::vector<NSStoreRow>& rows, QString* error)
{
    if (!requireStore(error))
        return false;
    const NSRelationshipDescription& inverse = *toMany.inverseRelationship;
    const NSEntityDescription& entity = *toMany.destinationEntity;
    const auto prepare = [&]() -> SQLite::Statement& {
        return m_store->shaped(&toMany, Store::Kind::Related, kNoColumns, [&] {
            QString sql = QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ? ORDER BY ")
                              .arg(m_store->selectColumns.value(&entity), quoted(entity.name),
                                   quoted(inverse.foreignKeyColumn()));
            sql += inverse.keepsOrder() ? quoted(inverse.orderColumn()) + QStringLiteral(", \"id\"")
                                        : QStringLiteral("\"id\"");
            return sql;
        });
    };
    return queryRows(prepare, {owner}, entity, rows, error);
}

bool NSPersistentStoreCoordinator::rangeOfRelated(const NSRelationshipDescription& toMany, qint64 owner,
                                                  const QString& attribute, std::optional<std::pair<double, double>>& range,
                                                  QString* error)
{
    range.reset();
    if (!requireStore(error))
        return false;
    const NSEntityDescription& entity = *toMany.destinationEntity;
    if (entity.attributeIndex(attribute) < 0) {
        if (error)
            *error = QStringLiteral("%1 has no attribute %2").arg(entity.name, attribute);
        return false;
    }
    // One aggregate per subquery: SQLite answers a lone MIN or MAX from the
    // index on (key, attribute) with a single seek instead of visiting every row.
    try {
        SQLite::Statement& query =
            m_store->shaped(&toMany, Store::Kind::Range, {entity.attributeIndex(attribute)}, [&] {
                const QString one = QStringLiteral("(SELECT %1(%2) FROM %3 WHERE %4 = ?1)");
                const QString table = quoted(entity.name);
                const QString key = quoted(toMany.inverseRelationship->foreignKeyColumn());
                return QStringLiteral("SELECT ") + one.arg(QStringLiteral("MIN"), quoted(attribute), table, key) +
                       QStringLiteral(", ") + one.arg(QStringLiteral("MAX"), quoted(attribute), table, key);
            });
        ResetOnExit resetQuery{query};
        bindValue(query, 1, QVariant(owner));
        if (query.executeStep() && !query.getColumn(0).isNull())
            range = std::make_pair(query.getColumn(0).getDouble(), query.getColumn(1).getDouble());
        return true;
    } catch (const std::exception& e) {
        if (error)
            *error = QString::fromUtf8(e.what());
        return false;
    }
}

void NSPersistentStoreCoordinator::skippedRows(const NSEntityDescription& entity, int count)
{
    if (m_toldSkipped.contains(&entity))
        return;
    m_toldSkipped.insert(&entity);
    std::fprintf(stderr, "Kelvara: %d %s row(s) in the store %s have no usable id and are passed over.\n", count,
                 qPrintable(entity.name), qPrintable(m_path));
}

template <typename Prepare>
bool NSPersistentStoreCoordinator::queryRows(const Prepare& prepare, const QVariantList& bindings,
                                             const NSEntityDescription& entity, std::vector<NSStoreRow>& rows,
                                             QString* error)
{
    try {
        SQLite::Statement& query = prepare();
        ResetOnExit resetQuery{query};
        for (int i = 0; i < bindings.size(); ++i)
            bindValue(query, i + 1, bindings.at(i));
        int skipped = 0;
        while (query.executeStep()) {
            // A row without a usable number cannot be an object (nor be
            // written back); it is left in the file and passed over.
            const SQLite::Column id = query.getColumn(0);
            if (id.getType() != SQLITE_INTEGER || id.getInt64() <= 0) {
                ++skipped;
                continue;
            }
            rows.push_back(readRow(query, entity));
        }
        if (skipped)
            skippedRows(entity, skipped);
        return true;
    } catch (const std::exception& e) {
        if (error)
            *error = QString::fromUtf8(e.what());
        rows.clear();
        return false;
    }
}

bool NSPersistentStoreCoordinator::save(NSStoreSave& request, QString* error)
{
    if (!requireStore(error, true))
        return false;
    std::vector<qint64> inserted(request.inserts.size(), 0);
    // Orders taken at the end of a list, per (relationship, owner), within this save.
    std::map<std::pair<const NSRelationshipDescription*, qint64>, double> nextOrder;
    std::vector<std::vector<std::pair<int, double>>> insertOrders(request.inserts.size());
    std::vector<std::vector<std::pair<int, double>>> updateOrders(request.updates.size());

    auto rowOf = [&](const NSStoreKey& key) -> qint64 {
        return key.insert >= 0 ? inserted.at(static_cast<size_t>(key.insert)) : key.row;
    };
    // Inserted rows wait to be written a shape at a time, so an order given to
    // one may not be in the store yet: the largest given per list is kept here.
    bool inserting = true;
    std::map<std::pair<const NSRelationshipDescription*, qint64>, double> givenOrder;
    auto endOfList = [&](const NSRelationshipDescription& relationship, qint64 owner) -> double {
        auto found = nextOrder.find({&relationship, owner});
        if (found == nextOrder.end()) {
            SQLite::Statement& max = m_store->shaped(&relationship, Store::Kind::EndOfList, kNoColumns, [&] {
                return QStringLiteral("SELECT MAX(%1) FROM %2 WHERE %3 = ?")
                    .arg(quoted(relationship.orderColumn()), quoted(relationship.entity->name),
                         quoted(relationship.foreignKeyColumn()));
            });
            ResetOnExit resetMax{max};
            max.bind(1, static_cast<int64_t>(owner));
            std::optional<double> last;
            if (max.executeStep() && !max.getColumn(0).isNull())
                last = max.getColumn(0).getDouble();
            if (inserting) {
                const auto given = givenOrder.find({&relationship, owner});
                if (given != givenOrder.end())
                    last = std::max(last.value_or(given->second), given->second);
            }
            found = nextOrder.emplace(std::make_pair(&relationship, owner), last.value_or(0)).first;
        }
        found->second += 1;
        return found->second;
    };
    // Row numbers continue past the highest one the entity ever had (kept by a
    // trigger when that row is deleted), so a number freed by a delete is never
    // given to a new row.
    std::unordered_map<const NSEntityDescription*, qint64> lastId;
    auto nextId = [&](const NSEntityDescription& entity) -> qint64 {
        auto found = lastId.find(&entity);
        if (found == lastId.end()) {
            SQLite::Statement& last = m_store->shaped(&entity, Store::Kind::NextId, kNoColumns, [&] {
                return QStringLiteral("SELECT MAX(IFNULL((SELECT last FROM kelvara_ids WHERE entity = ?), 0), "
                                      "IFNULL((SELECT MAX(rowid) FROM %1), 0))")
                    .arg(quoted(entity.name));
            });
            ResetOnExit resetLast{last};
            last.bind(1, entity.name.toStdString());
            qint64 highest = 0;
            if (last.executeStep())
                highest = last.getColumn(0).getInt64();
            found = lastId.emplace(&entity, highest).first;
        }
        return ++found->second;
    };

    SQLite::Database& db = m_store->db;
    // Prepared once like the rest, rather than parsed again on every save, and
    // reset at once: one that found the store busy is left part-run, and until
    // reset it keeps every later read on the snapshot of the first.
    const auto transaction = [this](Store::Kind kind, const char* sql) {
        SQLite::Statement& statement =
            m_store->shaped(&m_store->db, kind, kNoColumns, [sql] { return QString::fromLatin1(sql); });
        ResetOnExit resetStatement{statement};
        statement.exec();
    };
    try {
        transaction(Store::Kind::Begin, "BEGIN IMMEDIATE");
    } catch (const std::exception& e) {
        if (error)
            *error = QString::fromUtf8(e.what());
        return false;
    }
    try {
        // Inserts go entity by entity so that every key points at a row that exists.
        std::vector<size_t> order(request.inserts.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return request.inserts[a].entity->insertRank < request.inserts[b].entity->insertRank;
        });
        for (size_t i : order) {
            const auto& insert = request.inserts[i];
            const NSEntityDescription& entity = *insert.entity;
            const qint64 id = nextId(entity);
            std::vector<int>& columns = m_store->columns;
            std::vector<QVariant>& values = m_store->values;
            columns.clear();
            values.clear();
            values.emplace_back(id);
            for (const auto& attribute : entity.attributes) {
                if (attribute.index >= insert.attributes.size())
                    continue;
                const QVariant& value = insert.attributes.at(attribute.index);
                if (!value.isValid())
                    continue;
                columns.push_back(attribute.index);
                values.push_back(normalizedValue(value, attribute.type));
            }
            for (const auto& relationship : entity.relationships) {
                if (relationship.toMany)
                    continue;
                const qint64 owner = rowOf(insert.keys.value(relationship.index));
                if (owner == 0)
                    continue;
                columns.push_back(kKeyColumn + relationship.index);
                values.emplace_back(owner);
                if (relationship.keepsOrder()) {
                    const auto explicitOrder = insert.orders.value(relationship.index);
                    const double place = explicitOrder ? *explicitOrder : endOfList(relationship, owner);
                    if (explicitOrder && !std::isnan(place)) {
                        const auto given = givenOrder.try_emplace({&relationship, owner}, place).first;
                        given->second = std::max(given->second, place);
                    }
                    insertOrders[i].push_back({relationship.index, place});
                    columns.push_back(kOrderColumn + relationship.index);
                    values.emplace_back(place);
                }
            }
            // Written in order: a shape's rows go in before the next shape's,
            // so every key still points at a row already written. A full chunk
            // goes at once, so a large save holds no second copy of its rows.
            Store::Pending& pending = m_store->pendingInsert;
            if (pending.entity != &entity || pending.columns != columns ||
                pending.ids.size() == static_cast<size_t>(Store::kMostRows)) {
                if (!pending.ids.empty())
                    m_store->insertRows(pending);
                pending.entity = &entity;
                pending.columns = columns;
            }
            pending.ids.push_back(id);
            pending.values.insert(pending.values.end(), std::make_move_iterator(values.begin() + 1),
                                  std::make_move_iterator(values.end()));
            inserted[i] = id;
        }
        if (!m_store->pendingInsert.ids.empty())
            m_store->insertRows(m_store->pendingInsert);
        inserting = false;

        for (size_t u = 0; u < request.updates.size(); ++u) {
            const auto& update = request.updates[u];
            const NSEntityDescription& entity = *update.entity;
            std::vector<int>& columns = m_store->columns;
            std::vector<QVariant>& values = m_store->values;
            columns.clear();
            values.clear();
            for (const auto& [index, value] : update.attributes) {
                columns.push_back(index);
                values.push_back(normalizedValue(value, entity.attributes[index].type));
            }
            for (const auto& change : update.relationships) {
                const NSRelationshipDescription& relationship = entity.relationships[change.relationship];
                const qint64 owner = rowOf(change.key);
                if (change.keyChanged) {
                    columns.push_back(kKeyColumn + relationship.index);
                    values.push_back(owner ? QVariant(owner) : QVariant());
                }
                if (relationship.keepsOrder() && (change.orderChanged || change.keyChanged)) {
                    std::optional<double> place = change.order;
                    if (!place && owner)
                        place = endOfList(relationship, owner);
                    if (place)
                        updateOrders[u].push_back({relationship.index, *place});
                    columns.push_back(kOrderColumn + relationship.index);
                    values.push_back(place ? QVariant(*place) : QVariant());
                }
            }
            if (columns.empty())
                continue;
            SQLite::Statement& statement = m_store->shaped(&entity, Store::Kind::Update, columns, [&] {
                QStringList assignments;
                for (int column : columns)
                    assignments.append(quoted(columnName(entity, column)) + QStringLiteral(" = ?"));
                return QStringLiteral("UPDATE %1 SET %2 WHERE \"id\" = ?")
                    .arg(quoted(entity.name), assignments.join(QStringLiteral(", ")));
            });
            ResetOnExit resetStatement{statement};
            int v = 1;
            for (const QVariant& value : values)
                bindValue(statement, v++, value);
            statement.bind(v, static_cast<int64_t>(update.row));
            statement.exec();
        }

        for (const auto& deletion : request.deletes) {
            const NSEntityDescription& entity = *deletion.entity;
            SQLite::Statement& statement = m_store->shaped(&entity, Store::Kind::Delete, kNoColumns, [&] {
                return QStringLiteral("DELETE FROM %1 WHERE \"id\" = ?").arg(quoted(entity.name));
            });
            statement.bind(1, static_cast<int64_t>(deletion.row));
            statement.exec();
        }
        transaction(Store::Kind::Commit, "COMMIT");
    } catch (const std::exception& e) {
        m_store->forgetPending();
        db.tryExec("ROLLBACK");
        if (error)
            *error = QString::fromUtf8(e.what());
        return false;
    }

    for (size_t i = 0; i < request.inserts.size(); ++i) {
        request.inserts[i].assignedRow = inserted[i];
        for (const auto& [relationship, place] : insertOrders[i])
            request.inserts[i].orders[relationship] = place;
    }
    for (size_t u = 0; u < request.updates.size(); ++u) {
        for (const auto& [relationship, place] : updateOrders[u]) {
            for (auto& change : request.updates[u].relationships) {
                if (change.relationship == relationship)
                    change.order = place;
            }
        }
    }
    return true;
}
