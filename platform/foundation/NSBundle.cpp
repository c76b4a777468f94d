#include "NSBundle.h"

#include <QDir>
#include <QFileInfo>
#include <filesystem>

#include "PropertyList.h"

namespace {

QString runningExecutable()
{
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? QString() : QString::fromStdString(path.string());
}

bool looksLikeBundle(const QString& path)
{
    return path.endsWith(QLatin1String(".app")) && QFileInfo(path + QLatin1String("/Contents")).isDir();
}

}  // namespace

NSBundle::NSBundle(const QString& bundlePath)
    : m_bundlePath(QDir::cleanPath(bundlePath))
    , m_isBundle(looksLikeBundle(m_bundlePath))
{
}

QString NSBundle::bundlePathForExecutable(const QString& executablePath)
{
    const QFileInfo exe(executablePath);
    QDir dir = exe.absoluteDir();
    if (dir.dirName() == QLatin1String("MacOS") && dir.cdUp() && dir.dirName() == QLatin1String("Contents") &&
        dir.cdUp() && dir.dirName().endsWith(QLatin1String(".app")))
        return dir.absolutePath();
    return exe.absolutePath();
}

NSBundle& NSBundle::mainBundle()
{
    static NSBundle bundle(bundlePathForExecutable(runningExecutable()));
    return bundle;
}

void NSBundle::setMainBundlePathForTesting(const QString& bundlePath)
{
    mainBundle() = NSBundle(bundlePath.isEmpty() ? bundlePathForExecutable(runningExecutable()) : bundlePath);
}

QString NSBundle::resourcePath() const
{
    return m_isBundle ? m_bundlePath + QLatin1String("/Contents/Resources") : m_bundlePath;
}

QString NSBundle::pathForResource(const QString& name, const QString& type) const
{
    if (name.isEmpty())
        return {};
    QString file = name;
    if (!type.isEmpty())
        file += (type.startsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".")) + type;
    // A resource name never leaves the resource folder.
    if (file.contains(QLatin1String("..")) || file.startsWith(QLatin1Char('/')))
        return {};
    const QString path = resourcePath() + QLatin1Char('/') + file;
    return QFileInfo::exists(path) ? path : QString();
}

QVariantMap NSBundle::infoDictionary() const
{
    if (!m_isBundle)
        return {};
    return PropertyList::readFile(m_bundlePath + QLatin1String("/Contents/Info.plist")).toMap();
}

QString NSBundle::bundleIdentifier() const
{
    return infoDictionary().value(QStringLiteral("CFBundleIdentifier")).toString();
}
