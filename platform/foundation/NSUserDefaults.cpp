#include "NSUserDefaults.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "NSFileManager.h"
#include "OwnFile.h"
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

// Not errnos: the settings path names a pipe, socket or device; another program holds the lock.
constexpr int kNotRegular = -1;
constexpr int kLockHeld = -2;

const char* describe(int error)
{
    if (error == kLockHeld)
        return "it is damaged and another program holds its lock";
    return error == kNotRegular ? "not a regular file" : std::strerror(error);
}

// How long a change waits for another program's lock before it is kept for later.
std::atomic<int> g_lockWaitMs{1500};
// Set while a suite of this process found the lock held past the wait.
std::atomic<bool> g_lockHeld{false};

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
    // Links are followed: the suite is only ever replaced by a rename, never written through.
    OwnFile::Contents file =
        OwnFile::read(QFile::encodeName(m_path).toStdString(), PropertyList::kMaxDataSize, OwnFile::Links::Follow);
    switch (file.outcome) {
    case OwnFile::Contents::Outcome::Missing:
        *error = file.error;
        return Outcome::Missing;
    case OwnFile::Contents::Outcome::Refused:
        *error = kNotRegular;
        return Outcome::Unreadable;
    case OwnFile::Contents::Outcome::Failed:
        *error = file.error;
        return Outcome::Unreadable;
    case OwnFile::Contents::Outcome::TooLarge:
        // Past the limit the file is damaged whatever follows.
        *stamp = file.stamp;
        return Outcome::Damaged;
    case OwnFile::Contents::Outcome::Read:
        break;
    }
    *stamp = file.stamp;
    ++g_parses;
    const QByteArray bytes = QByteArray::fromRawData(file.bytes.data(), static_cast<qsizetype>(file.bytes.size()));
    const QVariant contents = PropertyList::fromData(bytes);
    if (contents.typeId() != QMetaType::QVariantMap)
        return Outcome::Damaged;
    *values = contents.toMap();
    return Outcome::Read;
}

int NSUserDefaults::openLock(int waitMs) const
{
    // Ours, never opened through a link: one planted there would have a file made where it points.
    const int lock =
        OwnFile::openLock(QFile::encodeName(m_path + QStringLiteral(".lock")).toStdString(), "the settings lock");
    if (lock < 0)
        return -1;
    // A stopped or hung holder must not stop this program.
    if (!OwnFile::lockWithin(lock, waitMs)) {
        const int saved = errno;
        ::close(lock);
        errno = saved;
        return -1;
    }
    g_lockHeld.store(false);
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
    const std::string aside = OwnFile::setAside(native.toStdString());
    if (!aside.empty()) {
        std::fprintf(stderr, "Kelvara: the settings file %s could not be read; it was kept as %s and the defaults are used.\n",
                     native.constData(), aside.c_str());
        return true;
    }
    if (unsaved) {
        // Empty when every key was said unsaved already.
        if (*unsaved)
            std::fprintf(stderr, "Kelvara: the settings file %s could not be read nor set aside (%s); it is left as it is and %s was not saved.\n",
                         native.constData(), std::strerror(errno), unsaved);
    } else
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
    if (!m_pending.isEmpty() && !m_retry)
        writePending(0);
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
// A getter never waits for the lock: while another program holds it, the last
// values read stand and a later read tries again.
void NSUserDefaults::readUnderLock()
{
    if (g_beforeSetAside)
        g_beforeSetAside();
    const int lock = openLock(0);
    if (lock < 0) {
        sayUnreadable(errno == EWOULDBLOCK ? kLockHeld : errno);
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
    // This program's own change waiting for the lock is what it reads.
    const auto pending = m_pending.constFind(key);
    return pending != m_pending.cend() ? *pending : m_values.value(key);
}

QVariantMap NSUserDefaults::dictionaryRepresentation()
{
    refresh();
    QVariantMap values = m_values;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        if (it->isValid())
            values.insert(it.key(), *it);
        else
            values.remove(it.key());
    }
    return values;
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
    // Once the lock is known to be held past the wait, further changes join
    // the ones kept for later without waiting again.
    const bool wait = m_pending.isEmpty() && !g_lockHeld.load();
    m_pending.insert(key, value);
    return writePending(wait ? g_lockWaitMs.load() : 0);
}

// The keys of `changes` not yet said to be unsaved since the last save that worked:
// a save that keeps failing is said once, not on every try.
QByteArray NSUserDefaults::unsaidKeys(const QVariantMap& changes, bool markSaid)
{
    // One line for a failing file, not one per key: after the first, quiet until a save works.
    QStringList fresh;
    if (!m_saidUnsaved.isEmpty()) {
        if (markSaid)
            m_saidUnsaved.unite(QSet<QString>(changes.keyBegin(), changes.keyEnd()));
        return {};
    }
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (!m_saidUnsaved.contains(it.key()))
            fresh.append(it.key());
    }
    if (markSaid)
        m_saidUnsaved.unite(QSet<QString>(fresh.cbegin(), fresh.cend()));
    return fresh.join(QStringLiteral(", ")).toUtf8();
}

bool NSUserDefaults::writePending(int waitMs, bool quitting)
{
    if (m_pending.isEmpty())
        return true;
    const QByteArray native = QFile::encodeName(m_path);
    const QByteArray names = QStringList(m_pending.keys()).join(QStringLiteral(", ")).toUtf8();
    const auto began = std::chrono::steady_clock::now();
    const int lock = openLock(waitMs);
    if (lock < 0 && errno == EWOULDBLOCK) {
        // Kept in memory (getters see it) and written, merged per key, when the lock frees.
        g_lockHeld.store(true);
        if (quitting)
            return false;
        if (!m_heldSince)
            m_heldSince = began;
        if (!m_saidHeld && std::chrono::steady_clock::now() - *m_heldSince >= std::chrono::seconds(1)) {
            m_saidHeld = true;
            std::fprintf(stderr, "Kelvara: the settings file %s stays locked by another program; %s is kept and saved once the lock is free.\n",
                         native.constData(), names.constData());
        }
        retryLater();
        return false;
    }
    const QVariantMap changes = std::exchange(m_pending, {});
    m_saidHeld = false;
    m_heldSince.reset();
    m_retryDelayMs = kFirstRetryMs;
    if (lock < 0) {
        const int error = errno;
        const QByteArray unsaid = unsaidKeys(changes);
        if (!unsaid.isEmpty())
            std::fprintf(stderr, "Kelvara: the settings file %s cannot be locked (%s); %s was not saved.\n",
                         native.constData(), std::strerror(error), unsaid.constData());
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
        if (const QByteArray unsaid = unsaidKeys(changes); !unsaid.isEmpty())
            std::fprintf(stderr, "Kelvara: the settings file %s cannot be read (%s); %s was not saved.\n",
                         native.constData(), describe(error), unsaid.constData());
        ::flock(lock, LOCK_UN);
        ::close(lock);
        return false;
    case Outcome::Damaged:
        // Writing over a damaged file that could not be moved would lose it.
        if (!setAside(stamp, unsaidKeys(changes, false).constData())) {
            unsaidKeys(changes);
            ::flock(lock, LOCK_UN);
            ::close(lock);
            return false;
        }
        values.clear();
        break;
    }
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (it->isValid())
            values.insert(it.key(), *it);
        else
            values.remove(it.key());
    }
    const QByteArray bytes = PropertyList::toData(values, PropertyList::Format::Binary);
    std::string reason;
    const bool written = OwnFile::replace(native.toStdString(), bytes.toStdString(), 0666, &reason);
    m_stamp = Stamp{};
    m_loaded = false;
    // Other suites of this process on the same file look again.
    checkAgain();
    if (written) {
        m_saidUnsaved.clear();
        // Under the lock the file is exactly what we wrote: no need to parse it again.
        struct stat st;
        if (::stat(native.constData(), &st) == 0)
            keep(values, {st.st_ino, nanoseconds(st.st_mtim), st.st_size});
    } else if (const QByteArray unsaid = unsaidKeys(changes); !unsaid.isEmpty()) {
        std::fprintf(stderr, "Kelvara: the settings file %s cannot be written (%s); %s was not saved.\n",
                     native.constData(), reason.c_str(), unsaid.constData());
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
    return written;
}

void NSUserDefaults::retryLater()
{
    // Without the main loop to wait in, the next change or read tries again.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return;
    if (!m_retry) {
        m_retry = new QTimer(app);
        m_retry->setSingleShot(true);
        QObject::connect(m_retry, &QTimer::timeout, m_retry, [this] {
            m_retryDelayMs = std::min(m_retryDelayMs * 2, kLastRetryMs);
            writePending(0);
        });
    }
    if (!m_retry->isActive())
        m_retry->start(m_retryDelayMs);
}

void NSUserDefaults::setLockWait(int milliseconds)
{
    g_lockWaitMs.store(std::max(0, milliseconds));
}

NSUserDefaults::~NSUserDefaults()
{
    // The program ends: changes waiting for the lock are worth a few seconds of
    // its quit (the termination watchdog allows 10 s), not more; what still
    // cannot be written then is said once.
    if (!m_pending.isEmpty() && !writePending(kQuitWaitMs, true) && !m_pending.isEmpty())
        std::fprintf(stderr, "Kelvara: the settings file %s stayed locked; %s was not saved.\n",
                     QFile::encodeName(m_path).constData(),
                     QStringList(m_pending.keys()).join(QStringLiteral(", ")).toUtf8().constData());
    delete m_retry.data();
}
