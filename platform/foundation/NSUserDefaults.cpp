#include "NSUserDefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cstdio>
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

std::atomic<int> g_parses{0};

}  // namespace

int NSUserDefaults::parseCountForTesting()
{
    return g_parses.load();
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

QVariantMap NSUserDefaults::readFile(bool* changedStamp)
{
    struct stat st;
    Stamp stamp;
    const QByteArray native = QFile::encodeName(m_path);
    if (::stat(native.constData(), &st) == 0) {
        stamp.inode = st.st_ino;
        stamp.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
        stamp.size = st.st_size;
    }
    if (changedStamp)
        *changedStamp = !(stamp == m_stamp) || !m_loaded;
    if (changedStamp && !*changedStamp)
        return m_values;
    m_stamp = stamp;
    m_loaded = true;
    if (stamp.size < 0)
        return {};

    QFile file(m_path);
    QVariant contents;
    if (file.open(QIODevice::ReadOnly)) {
        contents = PropertyList::fromData(file.readAll());
        ++g_parses;
    }
    if (contents.typeId() == QMetaType::QVariantMap)
        return contents.toMap();

    // A damaged suite is kept beside the new one, never thrown away.
    const QString aside = m_path + QStringLiteral(".damaged-") +
                          QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    if (::rename(native.constData(), QFile::encodeName(aside).constData()) == 0)
        std::fprintf(stderr, "Kelvara: the settings file %s could not be read; it was kept as %s and the defaults are used.\n",
                     native.constData(), QFile::encodeName(aside).constData());
    else
        std::fprintf(stderr, "Kelvara: the settings file %s could not be read; the defaults are used.\n",
                     native.constData());
    m_stamp = Stamp{};
    return {};
}

void NSUserDefaults::refresh()
{
    bool changed = false;
    const QVariantMap values = readFile(&changed);
    if (changed)
        m_values = values;
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
    const QByteArray lockPath = QFile::encodeName(m_path + QStringLiteral(".lock"));
    const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0)
        return false;
    bool written = false;
    if (::flock(lock, LOCK_EX) == 0) {
        // Whatever other programs wrote since our last read stays.
        m_stamp = Stamp{};
        m_loaded = false;
        QVariantMap values = readFile(nullptr);
        if (value.isValid())
            values.insert(key, value);
        else
            values.remove(key);
        const QByteArray bytes = PropertyList::toData(values, PropertyList::Format::Binary);
        const QString temp = m_path + QStringLiteral(".tmp.") + QString::number(::getpid());
        QFile out(temp);
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size() && out.flush()) {
            ::fsync(out.handle());
            out.close();
            written = ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(m_path).constData()) == 0;
        }
        m_stamp = Stamp{};
        m_loaded = false;
        if (!written) {
            QFile::remove(temp);
        } else {
            // Under the lock the file is exactly what we wrote: no need to parse it again.
            struct stat st;
            if (::stat(QFile::encodeName(m_path).constData(), &st) == 0) {
                m_values = values;
                m_stamp = {st.st_ino, static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec,
                           st.st_size};
                m_loaded = true;
            }
        }
        ::flock(lock, LOCK_UN);
    }
    ::close(lock);
    return written;
}
