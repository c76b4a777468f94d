#include "NSUserDefaults.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "NSFileManager.h"
#include "PropertyList.h"

namespace {

bool isNumber(const QVariant& v)
{
    return PropertyList::isNumber(v);
}

// Where a text begins with a number, that number (as the defaults read it).
double leadingNumber(const QString& text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    while (end < trimmed.size() &&
           (trimmed.at(end).isDigit() || QStringLiteral("+-.eE").contains(trimmed.at(end))))
        ++end;
    for (; end > 0; --end) {
        bool ok = false;
        const double value = trimmed.left(end).toDouble(&ok);
        if (ok)
            return value;
    }
    return 0;
}

// Not an errno: the settings path names a pipe, socket or device.
constexpr int kNotRegular = -1;

const char* describe(int error)
{
    return error == kNotRegular ? "not a regular file" : std::strerror(error);
}

std::atomic<int> g_parses{0};
std::function<void()> g_beforeSetAside;

// Bumped whenever a read may no longer trust the last check of its file.
std::atomic<quint64> g_turn{1};

// The turn of the event loop a read on this thread belongs to, or 0 where turns
// are not followed (off the main thread, before the loop exists): those reads
// check every time.
quint64 currentTurn()
{
    auto* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return 0;
    // Touched on the main thread only; a new application's loop is followed anew.
    static QPointer<QAbstractEventDispatcher> followed;
    auto* dispatcher = QAbstractEventDispatcher::instance(app->thread());
    if (!dispatcher)
        return 0;
    if (followed != dispatcher) {
        // Before the thread sleeps and when it wakes: whatever woke it may follow another program's write.
        const auto next = [] { NSUserDefaults::checkAgain(); };
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, next, Qt::DirectConnection);
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, dispatcher, next, Qt::DirectConnection);
        followed = dispatcher;
        NSUserDefaults::checkAgain();
    }
    return g_turn.load(std::memory_order_acquire);
}

long long nanoseconds(const struct timespec& t)
{
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

}  // namespace

void NSUserDefaults::checkAgain()
{
    g_turn.fetch_add(1, std::memory_order_acq_rel);
}

int NSUserDefaults::parseCountForTesting()
{
    return g_parses.load();
}

void NSUserDefaults::setBeforeSetAsideHookForTesting(std::function<void()> hook)
{
    g_beforeSetAside = std::move(hook);
}

NSUserDefaults::NSUserDefaults(const QString& suiteName)
{
    const QString container =
        NSFileManager::defaultManager().containerURLForSecurityApplicationGroupIdentifier(suiteName);
    const QString folder = (container.isEmpty() ? NSFileManager::homeDirectory() + QStringLiteral("/Library")
                                                : container + QStringLiteral("/Library")) +
                           QStringLiteral("/Preferences");
    QDir().mkpath(folder);
    m_path = folder + QLatin1Char('/') + suiteName + QStringLiteral(".plist");
}

NSUserDefaults::Outcome NSUserDefaults::load(QVariantMap* values, Stamp* stamp, int* error) const
{
    // Non-blocking, so a pipe put in the file's place cannot stall every program.
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return errno == ENOENT ? Outcome::Missing : Outcome::Unreadable;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *error = errno;
        ::close(fd);
        return Outcome::Unreadable;
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        *error = kNotRegular;
        ::close(fd);
        return Outcome::Unreadable;
    }
    *stamp = {st.st_ino, nanoseconds(st.st_mtim), st.st_size};
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(std::min<off_t>(st.st_size, PropertyList::kMaxDataSize + 1)));
    char chunk[16384];
    // Past the limit the file is damaged whatever follows, so reading stops there.
    while (bytes.size() <= PropertyList::kMaxDataSize) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            ::close(fd);
            return Outcome::Unreadable;
        }
        bytes.append(chunk, static_cast<qsizetype>(n));
    }
    ::close(fd);
    ++g_parses;
    const QVariant contents = PropertyList::fromData(bytes);
    if (contents.typeId() != QMetaType::QVariantMap)
        return Outcome::Damaged;
    *values = contents.toMap();
    return Outcome::Read;
}

int NSUserDefaults::openLock() const
{
    const QByteArray lockPath = QFile::encodeName(m_path + QStringLiteral(".lock"));
    const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0)
        return -1;
    int result;
    while ((result = ::flock(lock, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        const int saved = errno;
        ::close(lock);
        errno = saved;
        return -1;
    }
    return lock;
}

// Called under the lock, with the stamp of a file that was read to the end and did not parse.
bool NSUserDefaults::setAside(const Stamp& failed, const char* unsaved) const
{
    const QByteArray native = QFile::encodeName(m_path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0)
        return errno == ENOENT;
    if (!(Stamp{st.st_ino, nanoseconds(st.st_mtim), st.st_size} == failed))
        return true;
    // A damaged suite is kept beside the new one, never thrown away.
    const QString stamp = m_path + QStringLiteral(".damaged-") +
                          QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    // Never over an earlier damaged file set aside in the same millisecond.
    QByteArray aside = QFile::encodeName(stamp);
    int moved;
    for (int n = 2; (moved = ::renameat2(AT_FDCWD, native.constData(), AT_FDCWD, aside.constData(), RENAME_NOREPLACE)) != 0 &&
                    errno == EEXIST && n < 100;
         ++n)
        aside = QFile::encodeName(stamp + QLatin1Char('-') + QString::number(n));
    if (moved != 0 && errno == EINVAL)  // a file system without the flag
        moved = ::rename(native.constData(), aside.constData());
    if (moved == 0) {
        std::fprintf(stderr, "Kelvara: the settings file %s could not be read; it was kept as %s and the defaults are used.\n",
                     native.constData(), aside.constData());
        return true;
    }
    if (unsaved)
        std::fprintf(stderr, "Kelvara: the settings file %s could not be read nor set aside (%s); it is left as it is and %s was not saved.\n",
                     native.constData(), std::strerror(errno), unsaved);
    else
        std::fprintf(stderr, "Kelvara: the settings file %s could not be read; the defaults are used.\n",
                     native.constData());
    return false;
}

void NSUserDefaults::keep(const QVariantMap& values, const Stamp& stamp)
{
    m_values = values;
    m_stamp = stamp;
    m_loaded = true;
    m_failing = false;
}

void NSUserDefaults::sayUnreadable(int error)
{
    // The stamp is left alone, so the next read tries again.
    if (m_failing)
        return;
    m_failing = true;
    std::fprintf(stderr, "Kelvara: the settings file %s cannot be read (%s); it is left as it is and the last settings read are used.\n",
                 QFile::encodeName(m_path).constData(), describe(error));
}

// Reads the file and keeps what it holds; a damaged file is left to the caller.
NSUserDefaults::Outcome NSUserDefaults::loadAndKeep(Stamp* stamp)
{
    QVariantMap values;
    int error = 0;
    const Outcome outcome = load(&values, stamp, &error);
    switch (outcome) {
    case Outcome::Read:
        keep(values, *stamp);
        break;
    case Outcome::Missing:
        keep({}, {});
        break;
    case Outcome::Unreadable:
        sayUnreadable(error);
        break;
    case Outcome::Damaged:
        break;
    }
    return outcome;
}

void NSUserDefaults::refresh()
{
    const quint64 turn = currentTurn();
    if (turn != 0 && m_loaded && m_checked == turn)
        return;
    m_checked = 0;
    struct stat st;
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0) {
        if (errno == ENOENT)
            keep({}, {});
        else
            sayUnreadable(errno);
    } else if (!m_loaded || !(Stamp{st.st_ino, nanoseconds(st.st_mtim), st.st_size} == m_stamp)) {
        Stamp stamp;
        if (loadAndKeep(&stamp) == Outcome::Damaged)
            readUnderLock();
    }
    // Only a check that succeeded stands for the rest of the turn.
    if (m_loaded && !m_failing)
        m_checked = turn;
}

// A getter that found damage reads again under the lock: a writer may have
// replaced the file meanwhile, and only what is still damaged is set aside.
void NSUserDefaults::readUnderLock()
{
    if (g_beforeSetAside)
        g_beforeSetAside();
    const int lock = openLock();
    if (lock < 0) {
        sayUnreadable(errno);
        return;
    }
    Stamp stamp;
    if (loadAndKeep(&stamp) == Outcome::Damaged) {
        setAside(stamp);
        // Kept with its stamp: a file that could not be moved is not parsed again until it changes.
        keep({}, stamp);
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
}

QVariant NSUserDefaults::objectForKey(const QString& key)
{
    refresh();
    return m_values.value(key);
}

QVariantMap NSUserDefaults::dictionaryRepresentation()
{
    refresh();
    return m_values;
}

bool NSUserDefaults::boolForKey(const QString& key)
{
    const QVariant value = objectForKey(key);
    if (isNumber(value))
        return value.toDouble() != 0;
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed().toLower();
        if (text == QLatin1String("yes") || text == QLatin1String("true"))
            return true;
        return leadingNumber(text) != 0;
    }
    return false;
}

qlonglong NSUserDefaults::integerForKey(const QString& key)
{
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float)
        return static_cast<qlonglong>(value.toDouble());
    if (isNumber(value))
        return value.toLongLong();
    if (value.typeId() == QMetaType::QString)
        return static_cast<qlonglong>(leadingNumber(value.toString()));
    return 0;
}

double NSUserDefaults::doubleForKey(const QString& key)
{
    const QVariant value = objectForKey(key);
    if (isNumber(value))
        return value.toDouble();
    if (value.typeId() == QMetaType::QString)
        return leadingNumber(value.toString());
    return 0;
}

QString NSUserDefaults::stringForKey(const QString& key)
{
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (isNumber(value))
        return value.toString();
    return {};
}

QVariantList NSUserDefaults::arrayForKey(const QString& key)
{
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QVariantList ? value.toList() : QVariantList();
}

QVariantMap NSUserDefaults::dictionaryForKey(const QString& key)
{
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
}

QByteArray NSUserDefaults::dataForKey(const QString& key)
{
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

bool NSUserDefaults::setObject(const QVariant& value, const QString& key)
{
    const QByteArray native = QFile::encodeName(m_path);
    const QByteArray name = key.toUtf8();
    const int lock = openLock();
    if (lock < 0) {
        std::fprintf(stderr, "Kelvara: the settings file %s cannot be locked (%s); %s was not saved.\n", native.constData(),
                     std::strerror(errno), name.constData());
        return false;
    }
    // Whatever other programs wrote since our last read stays.
    QVariantMap values;
    Stamp stamp;
    int error = 0;
    switch (load(&values, &stamp, &error)) {
    case Outcome::Read:
        break;
    case Outcome::Missing:
        values.clear();
        break;
    case Outcome::Unreadable:
        // Writing now would replace every other key with nothing.
        std::fprintf(stderr, "Kelvara: the settings file %s cannot be read (%s); %s was not saved.\n", native.constData(),
                     describe(error), name.constData());
        ::flock(lock, LOCK_UN);
        ::close(lock);
        return false;
    case Outcome::Damaged:
        // Writing over a damaged file that could not be moved would lose it.
        if (!setAside(stamp, name.constData())) {
            ::flock(lock, LOCK_UN);
            ::close(lock);
            return false;
        }
        values.clear();
        break;
    }
    if (value.isValid())
        values.insert(key, value);
    else
        values.remove(key);
    const QByteArray bytes = PropertyList::toData(values, PropertyList::Format::Binary);
    const QString temp = m_path + QStringLiteral(".tmp.") + QString::number(::getpid());
    bool written = false;
    QFile out(temp);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size() && out.flush()) {
        ::fsync(out.handle());
        out.close();
        written = ::rename(QFile::encodeName(temp).constData(), native.constData()) == 0;
    }
    m_stamp = Stamp{};
    m_loaded = false;
    // Other suites of this process on the same file look again.
    checkAgain();
    if (!written) {
        QFile::remove(temp);
    } else {
        // Under the lock the file is exactly what we wrote: no need to parse it again.
        struct stat st;
        if (::stat(native.constData(), &st) == 0)
            keep(values, {st.st_ino, nanoseconds(st.st_mtim), st.st_size});
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
    return written;
}
