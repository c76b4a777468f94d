#include "NSWorkspace.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <utility>

#include "NSBundle.h"

namespace {

constexpr QLatin1StringView kKelvara("com.orvane.kelvara");
constexpr QLatin1StringView kHelper("com.orvane.kelvara.helper");
constexpr QLatin1StringView kMenu("com.orvane.kelvara.menu");

// Kelvara.app itself, whether the running program is it or one of its companions.
QString enclosingApplicationBundle()
{
    const QString bundle = QDir::cleanPath(NSBundle::mainBundle().bundlePath());
    if (!bundle.endsWith(QLatin1String(".app")))
        return {};
    const QFileInfo info(bundle);
    QDir components = info.dir();
    if (components.dirName() == QLatin1String("Components") && components.cdUp() &&
        components.dirName() == QLatin1String("Contents") && components.cdUp() &&
        components.dirName().endsWith(QLatin1String(".app")))
        return components.absolutePath();
    return bundle;
}

struct OpenRecorder {
    bool recording = false;
    QList<QUrl> opened;
};

OpenRecorder& openRecorder()
{
    static OpenRecorder recorder;
    return recorder;
}

}  // namespace

NSWorkspace& NSWorkspace::sharedWorkspace()
{
    static NSWorkspace workspace;
    return workspace;
}

QList<NSRunningApplication> NSWorkspace::runningApplications() const
{
    QList<NSRunningApplication> running;
    for (const QLatin1StringView identifier : {kKelvara, kHelper, kMenu}) {
        const QList<NSRunningApplication> owners = NSRunningApplication::runningApplicationsWithBundleIdentifier(identifier);
        if (!owners.isEmpty())
            running.append(owners.first());
    }
    return running;
}

QString NSWorkspace::executablePathForBundleIdentifier(const QString& bundleIdentifier) const
{
    const QString app = enclosingApplicationBundle();
    if (app.isEmpty())
        return {};
    if (bundleIdentifier == kKelvara)
        return app + QLatin1String("/Contents/MacOS/Kelvara");
    if (bundleIdentifier == kHelper)
        return app + QLatin1String("/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper");
    if (bundleIdentifier == kMenu)
        return app + QLatin1String("/Contents/Components/Kelvara Menu.app/Contents/MacOS/Kelvara Menu");
    return {};
}

bool NSWorkspace::launchApplicationWithBundleIdentifier(const QString& bundleIdentifier,
                                                        const QStringList& arguments) const
{
    const QString path = executablePathForBundleIdentifier(bundleIdentifier);
    return !path.isEmpty() && launchApplicationAtPath(path, arguments);
}

bool NSWorkspace::launchApplicationAtPath(const QString& executablePath, const QStringList& arguments) const
{
    const QFileInfo program(executablePath);
    if (!program.isFile() || !program.isExecutable())
        return false;
    return QProcess::startDetached(program.absoluteFilePath(), arguments);
}

bool NSWorkspace::openFile(const QString& path) const
{
    return openURL(QUrl::fromLocalFile(path));
}

bool NSWorkspace::openURL(const QUrl& url) const
{
    if (openRecorder().recording) {
        openRecorder().opened.append(url);
        return true;
    }
    return QDesktopServices::openUrl(url);
}

void NSWorkspace::setRecordsOpensForTesting(bool record)
{
    openRecorder().recording = record;
    openRecorder().opened.clear();
}

QList<QUrl> NSWorkspace::takeOpenedURLsForTesting()
{
    return std::exchange(openRecorder().opened, {});
}
