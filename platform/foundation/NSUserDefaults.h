#pragma once
// A defaults suite shared by the three programs: one binary property list in
// the app-group container. A setter re-reads the file under an exclusive lock,
// changes its one key and replaces the file atomically, so no program writes
// back another's keys from a stale copy. A getter re-reads the file only when
// it changed since the last read. On the main thread that is checked once per
// turn of the event loop: again after every return to the loop, every notice
// from another program (which writes, then posts) and every write here.
// Only a file that was read to the end and does not parse is damaged: it is
// set aside under the lock and the defaults apply. A file that cannot be read
// (open or read failing) stays where it is; getters keep the last values read
// and setters refuse to write rather than drop the other keys.
// Nobody waits long for the lock: a setter waits for it a bounded time, then
// keeps its change in memory (getters see it) and writes it, merged per key,
// when the lock is free; later changes join it without waiting. A getter
// never waits for it. Only the end of the suite (the program's quit) waits a
// few seconds more for what is kept, then says once which keys were not saved.
// A save that fails says so once per key until a save works again.
#include <QByteArray>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <sys/types.h>

#include "OwnFile.h"
#include <chrono>
#include <optional>

class QTimer;

class NSUserDefaults {
public:
    explicit NSUserDefaults(const QString& suiteName);
    ~NSUserDefaults();
    NSUserDefaults(const NSUserDefaults&) = delete;
    NSUserDefaults& operator=(const NSUserDefaults&) = delete;
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

    // An invalid value removes the key. False when the change is not on disk:
    // refused (said on standard error), or kept until the lock is free.
    bool setObject(const QVariant& value, const QString& key);
    bool setBool(bool value, const QString& key) { return setObject(value, key); }
    bool setInteger(qlonglong value, const QString& key) { return setObject(value, key); }
    bool setDouble(double value, const QString& key) { return setObject(value, key); }
    bool removeObjectForKey(const QString& key) { return setObject(QVariant(), key); }
    // Every write is on disk when its setter returns true.
    bool synchronize() { return writePending(0); }
    // How long a setter waits for another program's lock (1.5 s unless set);
    // 0 for a program whose main loop must never wait on it.
    static void setLockWait(int milliseconds);
    // The next read of every suite checks its file again.
    static void checkAgain();
    // How often this process parsed a suite file (tests check that unchanged files are not).
    static int parseCountForTesting();
    // Runs when a getter found the file damaged, before it takes the lock to set it aside.
    static void setBeforeSetAsideHookForTesting(std::function<void()> hook);

private:
    using Stamp = OwnFile::Stamp;
    enum class Outcome { Read, Missing, Unreadable, Damaged };
    Outcome load(QVariantMap* values, Stamp* stamp, int* error) const;
    void refresh();
    void readUnderLock();
    Outcome loadAndKeep(Stamp* stamp);
    // False when the damaged file is still in place; then a setter saving
    // `unsaved` says so instead of the getters' message.
    bool setAside(const Stamp& failed, const char* unsaved = nullptr) const;
    void keep(const QVariantMap& values, const Stamp& stamp);
    void sayUnreadable(int error);
    // The lock, tried again for up to `waitMs`; -1 with errno EWOULDBLOCK while held.
    int openLock(int waitMs) const;
    // `quitting`: the last try, which neither says the change is kept nor tries again later.
    bool writePending(int waitMs, bool quitting = false);
    QByteArray unsaidKeys(const QVariantMap& changes, bool markSaid = true);
    void retryLater();

    QString m_path;
    QVariantMap m_values;
    Stamp m_stamp;
    quint64 m_checked = 0;  // the turn whose check stands; 0 for none
    bool m_loaded = false;
    bool m_failing = false;  // the last read failed and that was said
    // Changes waiting for the lock (an invalid value removes its key).
    QVariantMap m_pending;
    bool m_saidHeld = false;
    // Keys said to be unsaved since the last save that worked.
    QSet<QString> m_saidUnsaved;
    static constexpr int kQuitWaitMs = 4000;
    // Since when the lock has been found held; a moment's contention is not worth a line.
    std::optional<std::chrono::steady_clock::time_point> m_heldSince;
    static constexpr int kFirstRetryMs = 50;
    static constexpr int kLastRetryMs = 2000;
    int m_retryDelayMs = kFirstRetryMs;
    QPointer<QTimer> m_retry;
};
