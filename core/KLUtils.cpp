#include "KLUtils.h"

#include <QDir>
#include <QStandardPaths>

#include "NSAppearance.h"
#include "NSWorkspace.h"

bool KLUtils::loadMainApp()
{
    return NSWorkspace::sharedWorkspace().launchApplicationWithBundleIdentifier(QStringLiteral("com.orvane.kelvara"));
}

void KLUtils::terminateApp(const QString& bundleIdentifier)
{
    const QList<NSRunningApplication> running =
        NSRunningApplication::runningApplicationsWithBundleIdentifier(bundleIdentifier);
    if (!running.isEmpty())
        running.first().terminate();
}

bool KLUtils::isDarkMode()
{
    return NSAppearance::isDarkAqua();
}

QString KLUtils::documentsPath()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() + QStringLiteral("/Documents") : documents;
}
