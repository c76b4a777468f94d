#pragma once
// Appends one CSV row of the chosen sensors to the log file on every poll tick.
// A file's rows always match its header: when the logged columns change, the
// old file is set aside under a new name in the same folder, never deleted.
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class KLSensor;

class KLFileLoggingManager {
public:
    static KLFileLoggingManager& sharedInstance();
    // Follows the poll ticks and the changes of the logged sensors.
    KLFileLoggingManager();
    ~KLFileLoggingManager();
    KLFileLoggingManager(const KLFileLoggingManager&) = delete;
    KLFileLoggingManager& operator=(const KLFileLoggingManager&) = delete;

    // One tick: settles the file name for the reset mode, then logs a row.
    void kelvaraTempDidChangeNotification();
    // Starts the file (header and first row) or appends one row.
    void startLogging();
    // Sets the current file aside, so the next row starts a file with the new columns.
    void dataManagerFileLoggingSensorKeysDidChangeNotification();

    static QString standardFileName();                  // "Kelvara Log.csv"
    static QString dailyFileName(const QDateTime& date);  // "Kelvara Log yyyy-MM-dd.csv"
    // "Date,Time" and a cell per sensor.
    static QString headerLine(const QList<KLSensor*>& sensors);
    // A line feed, the date, the time and a cell per sensor.
    static QString rowText(const QList<KLSensor*>& sensors, const QDateTime& date);
    // The stored sensors of the keys, in their order, each once; keys without a sensor are left out.
    static QList<KLSensor*> loggedSensors(const QStringList& keys);
    // The same, from the stored sensors by key (KLSensor::sensorsByKey).
    static QList<KLSensor*> loggedSensors(const QStringList& keys, const QHash<QString, KLSensor*>& stored);
    // A free name beside path for setting the file there aside:
    // "<name> (yyyy-MM-dd HH-mm-ss).csv", then "... 2.csv", "... 3.csv" ...
    static QString asidePath(const QString& path, const QDateTime& date);

    void setClockForTesting(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

private:
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTime(); }
    void logRow(const QDateTime& date);
    struct FileState {
        bool exists = false;
        bool regular = false;
        bool link = false;
        qint64 size = 0;
        qint64 inode = 0;
        qint64 modifiedNs = 0;
    };
    static FileState fileState(const QString& path);
    // Whether the file's first line is header (read only when the file changed
    // since this manager wrote it); nothing when it cannot be read.
    std::optional<bool> headerMatches(const QString& path, const FileState& state, const QString& header,
                                      QString* reason);
    // Renames the file at path to asidePath; false (with the reason) when it could not.
    bool setAside(const QString& path, const QDateTime& date, QString* reason);
    bool ensureFolder(const QString& path, QString* reason);
    // One row onto the regular file whose header was checked (never through a link).
    static bool appendRow(const QString& path, const FileState& state, const QByteArray& bytes, QString* reason);
    static bool writeNewFile(const QString& path, const QByteArray& bytes, QString* reason);
    // Whether the file at path is the one last written, unchanged since.
    bool isAsWritten(const QString& path, const FileState& state) const;
    void remember(const QString& path, const QString& header, const QStringList& startKeys);
    void reportFailure(const QString& path, const QString& reason);

    std::function<QDateTime()> m_clock;
    // Reset mode 1 applies once per run; there is one manager per run.
    bool m_didResetForLaunch = false;
    // A failure is said once until a write succeeds again.
    bool m_failing = false;
    // The file last written, as it was after that write, so an unchanged file
    // needs no header check. Another writer changes size, time or inode.
    struct Written {
        QString path;
        QString header;
        // The logged keys when the file was started; empty when not known.
        QStringList startKeys;
        qint64 size = -1;
        qint64 inode = -1;
        qint64 modifiedNs = -1;
    } m_written;
};
