#include "NSFileManager.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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
    if (const passwd* pw = getpwuid(getuid()))
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
    if (const passwd* pw = getpwuid(st.st_uid))
        attributes.insert(NSFileOwnerAccountName, QString::fromLocal8Bit(pw->pw_name));
    if (const group* gr = getgrgid(st.st_gid))
        attributes.insert(NSFileGroupOwnerAccountName, QString::fromLocal8Bit(gr->gr_name));
    attributes.insert(NSFilePosixPermissions, static_cast<qulonglong>(st.st_mode & 07777));
    attributes.insert(NSFileSize, static_cast<qulonglong>(st.st_size));
    attributes.insert(NSFileModificationDate, QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec));
    return attributes;
}
