#pragma once
// A defaults suite shared by the three programs: one binary property list in
// the app-group container. A setter re-reads the file under an exclusive lock,
// changes its one key and replaces the file atomically, so no program writes
// back another's keys from a stale copy. A getter re-reads the file only when
// it changed since the last read.
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <sys/types.h>

class NSUserDefaults {
public:
    explicit NSUserDefaults(const QString& suiteName);
    // The suite's file, "<container>/Library/Preferences/<suite>.plist".
    QString path() const { return m_path; }

    // Invalid when the key is absent: absence is never false or 0.
    QVariant objectForKey(const QString& key);
    bool boolForKey(const QString& key);
    qlonglong integerForKey(const QString& key);
    double doubleForKey(const QString& key);
    QString stringForKey(const QString& key);  // null when absent or not text-like
    QVariantList arrayForKey(const QString& key);
    QVariantMap dictionaryForKey(const QString& key);
    QByteArray dataForKey(const QString& key);
    QVariantMap dictionaryRepresentation();

    bool setObject(const QVariant& value, const QString& key);  // an invalid value removes the key
    bool setBool(bool value, const QString& key) { return setObject(value, key); }
    bool setInteger(qlonglong value, const QString& key) { return setObject(value, key); }
    bool setDouble(double value, const QString& key) { return setObject(value, key); }
    bool removeObjectForKey(const QString& key) { return setObject(QVariant(), key); }
    // Every write is already on disk when its setter returns.
    bool synchronize() { return true; }
    // How often this process parsed a suite file (tests check that unchanged files are not).
    static int parseCountForTesting();

private:
    void refresh();
    QVariantMap readFile(bool* changedStamp);

    QString m_path;
    QVariantMap m_values;
    struct Stamp {
        ino_t inode = 0;
        long long mtimeNs = -1;
        long long size = -1;
        bool operator==(const Stamp&) const = default;
    } m_stamp;
    bool m_loaded = false;
};
