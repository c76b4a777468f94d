#pragma once
// One SQLite store file under a model: schema creation and the inferred
// mapping from older models, row reads for faults, fetches and relationships,
// and saves as single transactions that write only what changed.
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <QVector>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "NSFetchRequest.h"
#include "NSManagedObjectModel.h"

inline constexpr const char* NSSQLiteStoreType = "SQLite";
inline constexpr const char* NSMigratePersistentStoresAutomaticallyOption = "NSMigratePersistentStoresAutomaticallyOption";
inline constexpr const char* NSInferMappingModelAutomaticallyOption = "NSInferMappingModelAutomaticallyOption";

struct NSStoreRow {
    qint64 id = 0;
    QVector<QVariant> attributes;
    QVector<qint64> keys;                    // per relationship; 0 for none and for to-many
    QVector<std::optional<double>> orders;   // per relationship, where it keeps an order
};

// A reference to a row that exists, or to one inserted earlier in the same save.
struct NSStoreKey {
    qint64 row = 0;
    int insert = -1;
};

struct NSStoreSave {
    struct Insert {
        const NSEntityDescription* entity = nullptr;
        QVector<QVariant> attributes;
        QVector<NSStoreKey> keys;
        QVector<std::optional<double>> orders;  // nullopt with a key: take the end of the list
        qint64 assignedRow = 0;                 // filled by a successful save
    };
    struct Change {
        int relationship = 0;
        NSStoreKey key;
        std::optional<double> order;
        bool keyChanged = false;
        bool orderChanged = false;
    };
    struct Update {
        const NSEntityDescription* entity = nullptr;
        qint64 row = 0;
        QVector<std::pair<int, QVariant>> attributes;
        QVector<Change> relationships;
    };
    struct Delete {
        const NSEntityDescription* entity = nullptr;
        qint64 row = 0;
    };
    std::vector<Insert> inserts;
    std::vector<Update> updates;
    std::vector<Delete> deletes;
};

namespace SQLite {
class Database;
}

class NSPersistentStoreCoordinator {
public:
    explicit NSPersistentStoreCoordinator(std::shared_ptr<NSManagedObjectModel> model);
    ~NSPersistentStoreCoordinator();

    std::shared_ptr<NSManagedObjectModel> managedObjectModel() const { return m_model; }

    // How long a statement waits for another program's write lock; set before
    // adding the store.
    void setBusyTimeout(int milliseconds) { m_busyTimeoutMs = milliseconds; }
    // How often a store whose tables could not be made yet is tried again.
    void setRetryInterval(std::chrono::milliseconds interval) { m_retryInterval = interval; }

    // Opens (or creates) the store. A file that is not a readable database, is
    // another program's database or was made by a newer model is left exactly
    // as it was and the coordinator works without a store. An existing store of
    // this model opens without waiting for the write lock; when making or
    // migrating its tables finds the file busy (or the disk full) the store is
    // still added, and the work is tried again on later use until it succeeds.
    bool addPersistentStoreWithType(const QString& storeType, const QString& configuration, const QString& path,
                                    const QVariantMap& options, QString* error);
    bool hasStore() const;
    // The tables are in place and saves can be written.
    bool isReady() const;
    QString storePath() const { return m_path; }

    std::optional<NSStoreRow> fetchRow(const NSEntityDescription& entity, qint64 id, QString* error);
    bool fetchRows(const NSFetchRequest& request, const NSEntityDescription& entity, std::vector<NSStoreRow>& rows,
                   QString* error);
    // The rows on the to-one side of a to-many relationship, in the list's order.
    bool fetchRelated(const NSRelationshipDescription& toMany, qint64 owner, std::vector<NSStoreRow>& rows,
                      QString* error);
    // The smallest and largest value of an attribute over the rows on the
    // to-one side of a to-many relationship; nothing when there are no rows.
    bool rangeOfRelated(const NSRelationshipDescription& toMany, qint64 owner, const QString& attribute,
                        std::optional<std::pair<double, double>>& range, QString* error);
    // One transaction; on failure nothing is written and the request is unchanged.
    bool save(NSStoreSave& request, QString* error);

private:
    enum class Prepared { Ready, Later, Refused };
    Prepared prepareStore(QString* reason);
    void waitForSchema(const QString& reason);
    void useExistingColumns(SQLite::Database& db);
    // Reads may go ahead while the tables wait to be made; writes may not.
    bool requireStore(QString* error, bool write = false);
    void skippedRows(const NSEntityDescription& entity, int count);
    // prepare() gives the statement; a failure to make it is reported like one to run it.
    template <typename Prepare>
    bool queryRows(const Prepare& prepare, const QVariantList& bindings, const NSEntityDescription& entity,
                   std::vector<NSStoreRow>& rows, QString* error);

    struct Store;
    std::shared_ptr<NSManagedObjectModel> m_model;
    std::unique_ptr<Store> m_store;
    QString m_path;
    bool m_migrate = false;
    bool m_ready = false;
    bool m_toldWaiting = false;
    int m_busyTimeoutMs = 5000;
    std::chrono::milliseconds m_retryInterval{1000};
    std::chrono::steady_clock::time_point m_nextTry;
    QSet<const NSEntityDescription*> m_toldSkipped;
};
