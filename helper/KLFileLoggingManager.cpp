#include "KLFileLoggingManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <cstdio>
#include <sys/stat.h>

#include "KLDataManager.h"
#include "KLSensor.h"
#include "KLUtils.h"
#include "NSDate+KLExtension.h"
#include "NSDistributedNotificationCenter.h"
#include "NSNotificationCenter.h"
#include "NSString+KLExtension.h"

namespace {

const QString kLogName = QStringLiteral("Kelvara Log");

// Path parts as the settings' full paths have them; a trailing slash is dropped.
QString lastComponent(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    return clean.mid(clean.lastIndexOf(QLatin1Char('/')) + 1);
}

QString folderOf(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    return slash == 0 ? QStringLiteral("/") : clean.left(slash);
}

QString joined(const QString& folder, const QString& name)
{
    if (folder.isEmpty())
        return name;
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The last extension goes; a leading dot is part of the name.
QString withoutExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

}  // namespace

KLFileLoggingManager::FileState KLFileLoggingManager::fileState(const QString& path)
{
    FileState state;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return state;
    state.exists = true;
    state.regular = S_ISREG(st.st_mode);
    state.size = static_cast<qint64>(st.st_size);
    state.inode = static_cast<qint64>(st.st_ino);
    state.modifiedNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return state;
}

KLFileLoggingManager& KLFileLoggingManager::sharedInstance()
{
    static KLFileLoggingManager manager;
    return manager;
}

KLFileLoggingManager::KLFileLoggingManager()
{
    NSDistributedNotificationCenter& center = NSDistributedNotificationCenter::defaultCenter();
    center.addObserver(this, QString::fromLatin1(KLDataManagerFileLoggingSensorKeysDidChangeNotification),
                       [this](const NSNotification&) { dataManagerFileLoggingSensorKeysDidChangeNotification(); });
    // The poll loop's own ticks, in this process: a row per tick, whatever else is posted on the bus.
    NSNotificationCenter::defaultCenter().addObserver(this, QString::fromLatin1(KLKelvaraTempDidChangeNotification),
                                                      [this](const NSNotification&) { kelvaraTempDidChangeNotification(); });
}

KLFileLoggingManager::~KLFileLoggingManager()
{
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
    NSNotificationCenter::defaultCenter().removeObserver(this);
}

QString KLFileLoggingManager::standardFileName()
{
    return kLogName + QStringLiteral(".csv");
}

QString KLFileLoggingManager::dailyFileName(const QDateTime& date)
{
    return kLogName + QStringLiteral(" %1.csv").arg(KLExtension::dateOnlyFormat(date));
}

QString KLFileLoggingManager::headerLine(const QList<KLSensor*>& sensors)
{
    QString line = QStringLiteral("Date,Time");
    for (KLSensor* sensor : sensors) {
        line += QStringLiteral(",%1 (%2) (%3)")
                    .arg(KLExtension::formattedForCSVContent(sensor->fullName()), sensor->unitString(), sensor->key());
    }
    return line;
}

QString KLFileLoggingManager::rowText(const QList<KLSensor*>& sensors, const QDateTime& date)
{
    QString row = QLatin1Char('\n') + KLExtension::dateOnlyFormat(date) + QLatin1Char(',') +
                  KLExtension::timeOnlyFormat(date);
    for (KLSensor* sensor : sensors) {
        row += QLatin1Char(',') + KLExtension::formattedForCSVContent(sensor->fullStringValue());
        if (!sensor->isNormalCondition())
            row += QStringLiteral(" (") + KLExtension::formattedForCSVContent(sensor->statusDisplay()) +
                   QLatin1Char(')');
    }
    return row;
}

QList<KLSensor*> KLFileLoggingManager::loggedSensors(const QStringList& keys)
{
    // One fetch, and each sensor once: a column per sensor, however often the list names it.
    const QHash<QString, KLSensor*> stored = KLSensor::sensorsByKey();
    QList<KLSensor*> sensors;
    QSet<KLSensor*> seen;
    for (const QString& key : keys) {
        if (sensors.size() >= stored.size())
            break;
        KLSensor* sensor = stored.value(key);
        if (sensor && !seen.contains(sensor)) {
            seen.insert(sensor);
            sensors.append(sensor);
        }
    }
    return sensors;
}

QString KLFileLoggingManager::asidePath(const QString& path, const QDateTime& date)
{
    const QString name = lastComponent(path);
    const QString base = withoutExtension(name);
    const QString extension = name.mid(base.size());
    // No colons: the folder may be on a file system or share that refuses them.
    const QString stamp = KLExtension::dateOnlyFormat(date) + QLatin1Char(' ') +
                          KLExtension::timeOnlyFormat(date).replace(QLatin1Char(':'), QLatin1Char('-'));
    const QString folder = folderOf(path);
    QString candidate = joined(folder, QStringLiteral("%1 (%2)%3").arg(base, stamp, extension));
    for (int counter = 2; fileState(candidate).exists; ++counter)
        candidate = joined(folder, QStringLiteral("%1 (%2) %3%4").arg(base, stamp, QString::number(counter), extension));
    return candidate;
}

void KLFileLoggingManager::kelvaraTempDidChangeNotification()
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    if (!settings.fileLoggingEnabled())
        return;
    QString path = settings.fileLoggingPath();
    if (path.isEmpty())
        return;
    // One reading of the clock, so a tick at midnight names and dates its row alike.
    const QDateTime date = now();
    const QString name = lastComponent(path);
    const unsigned mode = settings.fileLoggingResetMode();
    if (mode == KLFileLoggingResetModeDaily) {
        const QString daily = dailyFileName(date);
        if (daily != name) {
            path = joined(folderOf(path), daily);
            settings.setFileLoggingPath(path);
        }
    } else {
        if (withoutExtension(name) != kLogName) {
            path = joined(folderOf(path), standardFileName());
            settings.setFileLoggingPath(path);
        }
        // The user chose a fresh file per run: this one is deleted, not set aside.
        if (mode == KLFileLoggingResetModeLaunch && !m_didResetForLaunch) {
            m_didResetForLaunch = true;
            if (fileState(path).exists) {
                QFile file(path);
                if (file.remove()) {
                    m_written = {};
                } else {
                    // Tried once per run like the delete itself; the rows go on
                    // into the old file, so nothing is lost.
                    std::fprintf(stderr,
                                 "Kelvara Helper: cannot start a fresh sensor log: %s could not be deleted (%s). "
                                 "Rows are added to it.\n",
                                 qPrintable(path), qPrintable(file.errorString()));
                    std::fflush(stderr);
                }
            }
        }
    }
    logRow(date);
}

void KLFileLoggingManager::startLogging()
{
    logRow(now());
}

void KLFileLoggingManager::logRow(const QDateTime& date)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    const QStringList keys = settings.fileLoggingSensorKeys();
    if (keys.isEmpty())
        return;
    const QString path = settings.fileLoggingPath();
    if (path.isEmpty())
        return;

    const QList<KLSensor*> sensors = loggedSensors(keys);
    const QString header = headerLine(sensors);
    QString reason;
    if (!ensureFolder(path, &reason)) {
        reportFailure(path, reason);
        return;
    }

    const FileState state = fileState(path);
    // The keys the file was started with, known while it is as this manager left it.
    const QStringList startKeys = isAsWritten(path, state) ? m_written.startKeys : QStringList();
    if (state.exists && !state.regular) {
        reportFailure(path, QStringLiteral("it is not a regular file"));
        return;
    }
    // An empty file has nothing to keep and is started afresh.
    bool append = state.exists && state.size > 0;
    if (append) {
        const std::optional<bool> matches = headerMatches(path, state, header, &reason);
        if (!matches) {
            reportFailure(path, reason);
            return;
        }
        if (!*matches) {
            if (!setAside(path, date, &reason)) {
                reportFailure(path, reason);
                return;
            }
            append = false;
        }
    }

    const QByteArray bytes = ((append ? QString() : header) + rowText(sensors, date)).toUtf8();
    if (append) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            reportFailure(path, file.errorString());
            return;
        }
        const qint64 before = file.size();
        if (file.write(bytes) != bytes.size()) {
            reason = file.errorString();
            // A partial row would run into the next one.
            file.resize(before);
            reportFailure(path, reason);
            return;
        }
        file.close();
    } else {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
            reportFailure(path, file.errorString());
            return;
        }
    }
    m_failing = false;
    remember(path, header, append ? startKeys : keys);
}

std::optional<bool> KLFileLoggingManager::headerMatches(const QString& path, const FileState& state,
                                                        const QString& header, QString* reason)
{
    if (m_written.header == header && isAsWritten(path, state))
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return std::nullopt;
    }
    // The first line only, however long the file.
    const QByteArray expected = header.toUtf8();
    const QByteArray start = file.read(expected.size() + 1);
    return start == expected + '\n' || start == expected;
}

void KLFileLoggingManager::dataManagerFileLoggingSensorKeysDidChangeNotification()
{
    const QString path = KLDataManager::sharedInstance().fileLoggingPath();
    if (path.isEmpty())
        return;
    const FileState state = fileState(path);
    if (!state.regular)
        return;
    if (state.size == 0) {
        QFile::remove(path);
        m_written = {};
        return;
    }
    // A tick that read the new list before this notice came has already
    // started a file for it; setting that one aside too would leave a stray file.
    if (!m_written.startKeys.isEmpty() && isAsWritten(path, state) &&
        m_written.startKeys == KLDataManager::sharedInstance().fileLoggingSensorKeys())
        return;
    // A failure here is not said: the next logged row finds the old header and tries again.
    QString reason;
    setAside(path, now(), &reason);
}

bool KLFileLoggingManager::setAside(const QString& path, const QDateTime& date, QString* reason)
{
    QFile file(path);
    // QFile::rename never replaces an existing file.
    if (!file.rename(asidePath(path, date))) {
        *reason = QStringLiteral("it could not be set aside: ") + file.errorString();
        return false;
    }
    m_written = {};
    return true;
}

bool KLFileLoggingManager::ensureFolder(const QString& path, QString* reason)
{
    const QString folder = folderOf(path);
    if (folder.isEmpty() || QFileInfo(folder).isDir())
        return true;
    // A new account may have no Documents folder yet, and the default log lives
    // there. Any other folder that is gone (a removed or unmounted drive) is
    // not made again: rows would end up where the user does not look.
    if (folder == QDir::cleanPath(KLUtils::documentsPath())) {
        if (QDir().mkpath(folder))
            return true;
        *reason = QStringLiteral("the folder %1 could not be made").arg(folder);
        return false;
    }
    *reason = QStringLiteral("the folder %1 does not exist").arg(folder);
    return false;
}

bool KLFileLoggingManager::isAsWritten(const QString& path, const FileState& state) const
{
    return state.regular && m_written.path == path && m_written.size == state.size &&
           m_written.inode == state.inode && m_written.modifiedNs == state.modifiedNs;
}

void KLFileLoggingManager::remember(const QString& path, const QString& header, const QStringList& startKeys)
{
    const FileState state = fileState(path);
    if (!state.regular) {
        m_written = {};
        return;
    }
    m_written = {path, header, startKeys, state.size, state.inode, state.modifiedNs};
}

void KLFileLoggingManager::reportFailure(const QString& path, const QString& reason)
{
    if (m_failing)
        return;
    m_failing = true;
    std::fprintf(stderr, "Kelvara Helper: cannot write the sensor log %s: %s. Rows are lost until it can.\n",
                 qPrintable(path), qPrintable(reason));
    std::fflush(stderr);
}
