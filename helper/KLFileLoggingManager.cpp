#include "KLFileLoggingManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Commas are replaced before this, as they always were, so plain fields are
// written exactly as before; a quote or a line break (or a comma in a unit or
// key, which are written as they are) makes the field quoted, quotes doubled.
QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')) &&
        !text.contains(QLatin1Char(',')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        written += n;
    }
    return true;
}

}  // namespace

KLFileLoggingManager::FileState KLFileLoggingManager::fileState(const QString& path)
{
    FileState state;
    struct stat st {};
    // The name itself: a link is never followed to whatever it points at.
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return state;
    state.exists = true;
    state.regular = S_ISREG(st.st_mode);
    state.link = S_ISLNK(st.st_mode);
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
        line += QLatin1Char(',') + csvField(QStringLiteral("%1 (%2) (%3)").arg(
                                       KLExtension::formattedForCSVContent(sensor->fullName()), sensor->unitString(),
                                       sensor->key()));
    }
    return line;
}

QString KLFileLoggingManager::rowText(const QList<KLSensor*>& sensors, const QDateTime& date)
{
    QString row = QLatin1Char('\n') + KLExtension::dateOnlyFormat(date) + QLatin1Char(',') +
                  KLExtension::timeOnlyFormat(date);
    for (KLSensor* sensor : sensors) {
        QString cell = KLExtension::formattedForCSVContent(sensor->fullStringValue());
        if (!sensor->isNormalCondition())
            cell += QStringLiteral(" (") + KLExtension::formattedForCSVContent(sensor->statusDisplay()) +
                    QLatin1Char(')');
        row += QLatin1Char(',') + csvField(cell);
    }
    return row;
}

QList<KLSensor*> KLFileLoggingManager::loggedSensors(const QStringList& keys)
{
    return loggedSensors(keys, KLSensor::sensorsByKey());
}

QList<KLSensor*> KLFileLoggingManager::loggedSensors(const QStringList& keys, const QHash<QString, KLSensor*>& stored)
{
    // Each sensor once: a column per sensor, however often the list names it.
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
    QHash<QString, KLSensor*> stored;
    const QStringList keys = settings.fileLoggingSensorKeys(&stored);
    if (keys.isEmpty())
        return;
    const QString path = settings.fileLoggingPath();
    if (path.isEmpty())
        return;

    // The sensors the stored list was read against serve for its columns too:
    // one fetch per row.
    const QList<KLSensor*> sensors = stored.isEmpty() ? loggedSensors(keys) : loggedSensors(keys, stored);
    const QString header = headerLine(sensors);
    QString reason;
    if (!ensureFolder(path, &reason)) {
        reportFailure(path, reason);
        return;
    }

    FileState state = fileState(path);
    // The keys the file was started with, known while it is as this manager left it.
    const QStringList startKeys = isAsWritten(path, state) ? m_written.startKeys : QStringList();
    // Rows never go through a link to wherever it points: it is set aside like a foreign file.
    if (state.link) {
        if (!setAside(path, date, &reason)) {
            reportFailure(path, reason);
            return;
        }
        state = FileState{};
    }
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
    if (!(append ? appendRow(path, state, bytes, &reason) : writeNewFile(path, bytes, &reason))) {
        reportFailure(path, reason);
        return;
    }
    m_failing = false;
    remember(path, header, append ? startKeys : keys);
}

std::optional<bool> KLFileLoggingManager::headerMatches(const QString& path, const FileState& state,
                                                        const QString& header, QString* reason)
{
    if (m_written.header == header && isAsWritten(path, state))
        return true;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    // The first line only, however long the file.
    const QByteArray expected = header.toUtf8();
    QByteArray start(expected.size() + 1, '\0');
    qsizetype got = 0;
    while (got < start.size()) {
        const ssize_t n = ::read(fd, start.data() + got, static_cast<size_t>(start.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *reason = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    start.truncate(got);
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
    // Moves the name (a link stays a link) and never replaces a file.
    const QByteArray from = QFile::encodeName(path);
    const QByteArray to = QFile::encodeName(asidePath(path, date));
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) != 0 &&
        (errno != EINVAL || ::rename(from.constData(), to.constData()) != 0)) {
        *reason = QStringLiteral("it could not be set aside: ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_written = {};
    return true;
}

bool KLFileLoggingManager::appendRow(const QString& path, const FileState& state, const QByteArray& bytes,
                                     QString* reason)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st {};
    bool done = false;
    if (::fstat(fd, &st) != 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
    } else if (!S_ISREG(st.st_mode) || static_cast<qint64>(st.st_ino) != state.inode) {
        // Replaced since its header was read; the next tick looks at the new one.
        *reason = QStringLiteral("it was replaced while being written");
    } else if (!writeAll(fd, bytes)) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        // A partial row would run into the next one.
        (void)::ftruncate(fd, st.st_size);
    } else {
        done = true;
    }
    ::close(fd);
    return done;
}

bool KLFileLoggingManager::writeNewFile(const QString& path, const QByteArray& bytes, QString* reason)
{
    // Written under a hidden name beside the log, then renamed over its name:
    // whatever is there, a link included, is replaced, never written through.
    const QByteArray target = QFile::encodeName(path);
    const QByteArray hidden = QFile::encodeName(joined(folderOf(path), QLatin1Char('.') + lastComponent(path)));
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QByteArray temp =
            hidden + ".new-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            *reason = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        bool done = writeAll(fd, bytes) && ::fsync(fd) == 0;
        done = ::close(fd) == 0 && done;
        done = done && ::rename(temp.constData(), target.constData()) == 0;
        if (!done) {
            *reason = QString::fromLocal8Bit(std::strerror(errno));
            ::unlink(temp.constData());
        }
        return done;
    }
    *reason = QStringLiteral("no free name for a new file beside it");
    return false;
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
