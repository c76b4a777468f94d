#pragma once
// The jobs this user's launchd domain holds: one record per label with the
// submitted job dictionary and how it runs ("systemd" or "direct", with the
// process of a direct start). Kept as a property list in the user's state
// folder and changed only under an exclusive lock, since all three programs
// may submit and remove jobs. Direct starts belong to one boot: records of an
// earlier boot are forgotten, as launchd forgets its jobs. The table is ours:
// never read through a link, and whatever else stands there is set aside.
#include <QLockFile>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <memory>

class UserJobTable {
public:
    static inline const QString kJob = QStringLiteral("Job");
    static inline const QString kManager = QStringLiteral("Manager");
    static inline const QString kPID = QStringLiteral("PID");
    static inline const QString kProcessStart = QStringLiteral("ProcessStart");
    static inline const QString kBootID = QStringLiteral("BootID");
    static inline const QString kSystemd = QStringLiteral("systemd");
    static inline const QString kDirect = QStringLiteral("direct");

    // Takes the lock (waiting a few seconds at most) and reads the table.
    UserJobTable();
    ~UserJobTable();
    UserJobTable(const UserJobTable&) = delete;
    UserJobTable& operator=(const UserJobTable&) = delete;

    bool isOpen() const { return m_open; }
    QString errorString() const { return m_error; }

    bool contains(const QString& label) const { return m_records.contains(label); }
    QVariantMap record(const QString& label) const { return m_records.value(label).toMap(); }
    QStringList labels() const { return m_records.keys(); }
    void setRecord(const QString& label, const QVariantMap& record) { m_records.insert(label, record); }
    void removeRecord(const QString& label) { m_records.remove(label); }
    bool save(QString* error);

    static QString path();
    static QString currentBootID();

private:
    std::unique_ptr<QLockFile> m_lock;
    QVariantMap m_records;
    bool m_open = false;
    QString m_error;
};
