#include "KLSystemFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>

namespace {

QMutex rootLock;
QString& root()
{
    static QString value;
    return value;
}

}  // namespace

QString KLSystemFiles::path(const QString& absolutePath)
{
    const QMutexLocker locker(&rootLock);
    return root() + absolutePath;
}

bool KLSystemFiles::exists(const QString& absolutePath)
{
    return QFileInfo::exists(path(absolutePath));
}

QString KLSystemFiles::readText(const QString& absolutePath)
{
    QFile file(path(absolutePath));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Kernel files report a size of 0 or 4096, so read until the end.
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {};
    const QString text = QString::fromUtf8(bytes).trimmed();
    return text.isNull() ? QStringLiteral("") : text;
}

void KLSystemFiles::setSystemRootForTesting(const QString& root_)
{
    const QMutexLocker locker(&rootLock);
    root() = root_;
}
