#include "KLUtils.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>
#include <climits>
#include <cmath>

#include "NSAppearance.h"
#include "NSWorkspace.h"

bool KLUtils::loadMainApp()
{
    const QString kelvara = QStringLiteral("com.orvane.kelvara");
    // A running Kelvara comes to the front; another copy would only wait in line for its name.
    const QList<NSRunningApplication> running = NSRunningApplication::runningApplicationsWithBundleIdentifier(kelvara);
    if (!running.isEmpty() && running.first().activate())
        return true;
    return NSWorkspace::sharedWorkspace().launchApplicationWithBundleIdentifier(kelvara);
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

int KLUtils::truncatedInt(double value)
{
    if (std::isnan(value))
        return 0;
    return static_cast<int>(std::clamp(std::trunc(value), double(INT_MIN), double(INT_MAX)));
}
