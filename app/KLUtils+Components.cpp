// Kelvara's control of its companions; only Kelvara links it, so Kelvara Helper
// and Kelvara Menu carry no job control.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "Dispatch.h"
#include "KLDataManager.h"
#include "KLUtils.h"
#include "LDLaunchCtl.h"
#include "LDLaunchJob.h"
#include "NSApplication.h"
#include "NSBundle.h"
#include "NSRunningApplication.h"
#include "NSWorkspace.h"

// What became of each companion at its delayed check; QT_LOGGING_RULES="kelvara.startup.debug=true" shows it.
Q_LOGGING_CATEGORY(lcStartup, "kelvara.startup", QtWarningMsg)

namespace {

const QString kHelperIdentifier = QStringLiteral("com.orvane.kelvara.helper");
const QString kMenuIdentifier = QStringLiteral("com.orvane.kelvara.menu");
const QString kHelperName = QStringLiteral("Kelvara Helper");
const QString kMenuName = QStringLiteral("Kelvara Menu");
constexpr LDDomainNumber kUserDomain = 1;
constexpr double kHelperDelay = 1.0;
constexpr double kMenuDelay = 0.5;
constexpr double kActivationDelay = 0.5;
// A companion asked to quit gets SIGTERM after 2 s; past that it is waited for no longer.
constexpr int kQuitWaitMs = 3000;
constexpr int kQuitPollMs = 50;

QString executablePath(const QString& name)
{
    const QString bundle = NSBundle::mainBundle().bundlePath();
    if (bundle.isEmpty())
        return {};
    return bundle + QStringLiteral("/Contents/Components/") + name + QStringLiteral(".app") +
           QStringLiteral("/Contents/MacOS/") + name;
}

LDLaunchJob companionJob(const QString& label, const QString& path, bool restartAfterSuccess)
{
    LDLaunchJob job;
    job.setLabel(label);
    job.setProgramArguments({path});
    job.setRunAtLoad(true);
    job.setKeepAlive(QVariantMap{{QStringLiteral("SuccessfulExit"), restartAfterSuccess}});
    return job;
}

// Asks the running companion to quit and answers its process, 0 when none ran.
qint64 terminateCompanion(const QString& identifier)
{
    const QList<NSRunningApplication> running = NSRunningApplication::runningApplicationsWithBundleIdentifier(identifier);
    KLUtils::terminateApp(identifier);
    return running.isEmpty() ? 0 : running.first().processIdentifier();
}

// Launches the companion by path unless a copy runs. The copy told to quit at
// the start of the load does not count: it is waited for (boundedly), so a
// slow quit never leaves the companion down.
void launchUnlessRunning(const QString& identifier, const QString& path, qint64 quitting, QDeadlineTimer deadline,
                         std::function<void()> launched)
{
    const QList<NSRunningApplication> running = NSRunningApplication::runningApplicationsWithBundleIdentifier(identifier);
    if (running.isEmpty()) {
        const bool started = NSWorkspace::sharedWorkspace().launchApplicationAtPath(path);
        qCDebug(lcStartup, "%s: %s", qPrintable(identifier), started ? "launched by path" : "cannot be launched");
        if (launched)
            launched();
        return;
    }
    const bool onlyQuitting = quitting > 0 && std::all_of(running.begin(), running.end(), [quitting](const auto& app) {
                                  return app.processIdentifier() == quitting;
                              });
    if (!onlyQuitting || deadline.hasExpired()) {
        qCDebug(lcStartup, "%s: %s", qPrintable(identifier), onlyQuitting ? "does not quit" : "running");
        return;
    }
    QTimer::singleShot(kQuitPollMs, QCoreApplication::instance(), [=] {
        launchUnlessRunning(identifier, path, quitting, deadline, launched);
    });
}

void launchAfter(double seconds, const QString& identifier, const QString& path, qint64 quitting,
                 std::function<void()> launched = {})
{
    dispatch_after_seconds(seconds, dispatch_get_main_queue(), [=] {
        launchUnlessRunning(identifier, path, quitting, QDeadlineTimer(kQuitWaitMs), launched);
    });
}

}  // namespace

void KLUtils::loadHelperAppComponent()
{
    const qint64 quitting = terminateCompanion(kHelperIdentifier);
    const QString path = executablePath(kHelperName);
    if (!path.isNull()) {
        LDLaunchJob job = companionJob(kHelperIdentifier, path, true);
        CFError ignored;
        LDLaunchCtl::sharedController().add(job, kUserDomain, &ignored);
    }
    launchAfter(kHelperDelay, kHelperIdentifier, path, quitting);
}

void KLUtils::loadMenuAppComponentWithForceOpen(bool forceOpen)
{
    const bool wantsOpen = KLDataManager::sharedInstance().openAtLogin();
    const qint64 quitting = terminateCompanion(kMenuIdentifier);
    const QString path = executablePath(kMenuName);
    CFError ignored;
    if (wantsOpen && !path.isNull()) {
        LDLaunchJob job = companionJob(kMenuIdentifier, path, false);
        LDLaunchCtl::sharedController().add(job, kUserDomain, &ignored);
    } else {
        LDLaunchCtl::sharedController().remove(kMenuIdentifier, kUserDomain, &ignored);
    }
    if (!wantsOpen && !forceOpen)
        return;
    launchAfter(kMenuDelay, kMenuIdentifier, path, quitting, [] {
        dispatch_after_seconds(kActivationDelay, dispatch_get_main_queue(),
                               [] { NSApplication::sharedApplication().activateIgnoringOtherApps(true); });
    });
}
