#include "NSFileManager.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The reentrant lookups: attributes are read from worker threads too. A buffer
// that is too small is doubled, up to a bound no real entry reaches.
template <typename Entry, typename Key, typename Lookup>
const Entry* lookUp(Key key, Lookup lookup, Entry& entry, std::vector<char>& buffer, int sizeName)
{
    const long suggested = ::sysconf(sizeName);
    buffer.resize(suggested > 0 ? static_cast<size_t>(suggested) : 1024);
    Entry* found = nullptr;
    int status = 0;
    while ((status = lookup(key, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    return status == 0 ? found : nullptr;
}

const passwd* userEntry(uid_t uid, passwd& entry, std::vector<char>& buffer)
{
    return lookUp(uid, ::getpwuid_r, entry, buffer, _SC_GETPW_R_SIZE_MAX);
}

const group* groupEntry(gid_t gid, group& entry, std::vector<char>& buffer)
{
    return lookUp(gid, ::getgrgid_r, entry, buffer, _SC_GETGR_R_SIZE_MAX);
}

}  // namespace

NSFileManager& NSFileManager::defaultManager()
{
    static NSFileManager manager;
    return manager;
}

QString NSFileManager::homeDirectory()
{
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        return QString::fromLocal8Bit(home);
    passwd entry;
    std::vector<char> buffer;
    if (const passwd* pw = userEntry(getuid(), entry, buffer))
        return QString::fromLocal8Bit(pw->pw_dir);
    return QDir::homePath();
}

QString NSFileManager::containerURLForSecurityApplicationGroupIdentifier(const QString& groupIdentifier) const
{
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]*$"));
    if (!plainName.match(groupIdentifier).hasMatch())
        return {};
    const QString path = homeDirectory() + QStringLiteral("/Library/Group Containers/") + groupIdentifier;
    QDir().mkpath(path);
    return path;
}

bool NSFileManager::fileExistsAtPath(const QString& path) const
{
    return QFileInfo::exists(path);
}

QVariantMap NSFileManager::attributesOfItemAtPath(const QString& path) const
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    QVariantMap attributes;
    std::vector<char> buffer;
    passwd user;
    if (const passwd* pw = userEntry(st.st_uid, user, buffer))
        attributes.insert(NSFileOwnerAccountName, QString::fromLocal8Bit(pw->pw_name));
    group owners;
    if (const group* gr = groupEntry(st.st_gid, owners, buffer))
        attributes.insert(NSFileGroupOwnerAccountName, QString::fromLocal8Bit(gr->gr_name));
    attributes.insert(NSFilePosixPermissions, static_cast<qulonglong>(st.st_mode & 07777));
    attributes.insert(NSFileSize, static_cast<qulonglong>(st.st_size));
    attributes.insert(NSFileModificationDate, QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec));
    return attributes;
}
