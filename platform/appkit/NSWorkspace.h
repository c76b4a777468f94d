#pragma once
// Launching this system's programs and listing the running ones.
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "NSRunningApplication.h"

class NSWorkspace {
public:
    static NSWorkspace& sharedWorkspace();

    // The running programs of this system (Kelvara, Kelvara Helper, Kelvara Menu).
    QList<NSRunningApplication> runningApplications() const;
    // Where a bundle identifier's program lives inside this Kelvara.app; empty when unknown.
    QString executablePathForBundleIdentifier(const QString& bundleIdentifier) const;
    // Starts the program detached, with no shell; false when it cannot be started.
    bool launchApplicationWithBundleIdentifier(const QString& bundleIdentifier, const QStringList& arguments = {}) const;
    bool launchApplicationAtPath(const QString& executablePath, const QStringList& arguments = {}) const;

    // Opens a file or folder in the desktop's application for it (xdg-open);
    // false when the desktop could not open it.
    bool openFile(const QString& path) const;
    bool openURL(const QUrl& url) const;

    // While recording, opens are kept here instead of reaching the desktop.
    static void setRecordsOpensForTesting(bool record);
    static QList<QUrl> takeOpenedURLsForTesting();
};
