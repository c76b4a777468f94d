#include "NSBundle.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QMutex>
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

namespace {

// "key" = "value"; entries with /* */ and // comments, as string tables are written.
QHash<QString, QString> parseStringsTable(const QString& text)
{
    QHash<QString, QString> table;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skip = [&] {
        for (;;) {
            while (i < n && text.at(i).isSpace())
                ++i;
            if (text.mid(i, 2) == QLatin1String("/*")) {
                const qsizetype end = text.indexOf(QLatin1String("*/"), i + 2);
                i = end < 0 ? n : end + 2;
            } else if (text.mid(i, 2) == QLatin1String("//")) {
                const qsizetype end = text.indexOf(QLatin1Char('\n'), i);
                i = end < 0 ? n : end + 1;
            } else {
                return;
            }
        }
    };
    auto quoted = [&](QString& out) -> bool {
        if (i >= n || text.at(i) != QLatin1Char('"'))
            return false;
        ++i;
        out.clear();
        while (i < n && text.at(i) != QLatin1Char('"')) {
            QChar c = text.at(i++);
            if (c == QLatin1Char('\\') && i < n) {
                const QChar e = text.at(i++);
                if (e == QLatin1Char('n'))
                    c = QLatin1Char('\n');
                else if (e == QLatin1Char('t'))
                    c = QLatin1Char('\t');
                else if (e == QLatin1Char('r'))
                    c = QLatin1Char('\r');
                else if ((e == QLatin1Char('u') || e == QLatin1Char('U')) && i + 4 <= n) {
                    bool ok = false;
                    const ushort code = text.mid(i, 4).toUShort(&ok, 16);
                    c = ok ? QChar(code) : e;
                    if (ok)
                        i += 4;
                } else
                    c = e;
            }
            out.append(c);
        }
        if (i >= n)
            return false;
        ++i;
        return true;
    };
    while (true) {
        skip();
        if (i >= n)
            break;
        QString key, value;
        if (!quoted(key))
            break;
        skip();
        if (i < n && text.at(i) == QLatin1Char('=')) {
            ++i;
            skip();
            if (!quoted(value))
                break;
            skip();
        } else {
            value = key;
        }
        if (i < n && text.at(i) == QLatin1Char(';'))
            ++i;
        table.insert(key, value);
    }
    return table;
}

// Tables never change while a program runs: each file is read once.
const QHash<QString, QString>* cachedTable(const QString& path)
{
    static QMutex mutex;
    static QHash<QString, QHash<QString, QString>> tables;
    QMutexLocker locker(&mutex);
    auto found = tables.find(path);
    if (found == tables.end()) {
        QFile file(path);
        QHash<QString, QString> table;
        if (file.open(QIODevice::ReadOnly))
            table = parseStringsTable(QString::fromUtf8(file.readAll()));
        found = tables.insert(path, table);
    }
    return &found.value();
}

}  // namespace

bool NSBundle::exists() const
{
    return !m_bundlePath.isEmpty() && QFileInfo(m_bundlePath).isDir();
}

QStringList NSBundle::localizations() const
{
    QStringList codes;
    const QStringList folders = QDir(resourcePath()).entryList({QStringLiteral("*.lproj")}, QDir::Dirs);
    for (const QString& folder : folders)
        codes.append(folder.chopped(6));
    return codes;
}

QStringList NSBundle::preferredLocalizations() const
{
    const QStringList available = localizations();
    QStringList preferred;
    for (const QString& language : QLocale().uiLanguages()) {
        const QString code = language.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0).toLower();
        if (available.contains(code) && !preferred.contains(code))
            preferred.append(code);
    }
    if (preferred.isEmpty()) {
        const QString development = infoDictionary().value(QStringLiteral("CFBundleDevelopmentRegion"), QStringLiteral("en")).toString();
        if (available.contains(development))
            preferred.append(development);
        else if (!available.isEmpty())
            preferred.append(available.first());
    }
    return preferred;
}

QString NSBundle::localizedStringForKey(const QString& key, const QString& value, const QString& table) const
{
    const QString file = (table.isEmpty() ? QStringLiteral("Localizable") : table) + QStringLiteral(".strings");
    QString folder;
    if (m_bundlePath.endsWith(QLatin1String(".lproj"))) {
        folder = m_bundlePath;
    } else {
        const QStringList preferred = preferredLocalizations();
        if (!preferred.isEmpty())
            folder = resourcePath() + QLatin1Char('/') + preferred.first() + QStringLiteral(".lproj");
    }
    if (!folder.isEmpty()) {
        const QHash<QString, QString>* strings = cachedTable(folder + QLatin1Char('/') + file);
        const auto found = strings->constFind(key);
        if (found != strings->cend())
            return found.value();
    }
    return value.isEmpty() ? key : value;
}
