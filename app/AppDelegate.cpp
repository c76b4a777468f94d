#include "AppDelegate.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <cstdio>

#include "KLAnalyticsHelper.h"
#include "KLDataManager.h"
#include "KLDeepLink.h"
#include "KLSettingsViewController.h"
#include "KLUtils.h"
#include "NSAppearance+Controls.h"
#include "NSAppearance.h"
#include "NSAppleEventManager.h"
#include "NSApplication.h"
#include "NSBundle.h"
#include "NSNotificationCenter.h"
#include "NSRunningApplication.h"
#include "SUUpdater.h"

// Each link that reaches the handler; QT_LOGGING_RULES="kelvara.deeplink.debug=true" shows them.
Q_LOGGING_CATEGORY(lcDeepLink, "kelvara.deeplink", QtWarningMsg)

namespace {

AppDelegate* g_sharedDelegate = nullptr;

QStringList deepLinks(const QStringList& arguments)
{
    QStringList links;
    for (const QString& argument : arguments.mid(1))
        if (argument.startsWith(QLatin1String("kelvara:"), Qt::CaseInsensitive))
            links.append(argument);
    return links;
}

void dispatchHere(const QStringList& links)
{
    for (const QString& link : links)
        NSAppleEventManager::sharedAppleEventManager().dispatchEvent(NSAppleEventDescriptor::getURLEvent(link));
}

}  // namespace

inline namespace kelvara_main {

AppDelegate::AppDelegate()
{
    if (!g_sharedDelegate)
        g_sharedDelegate = this;
    // Of the three programs only Kelvara takes links; they wait for its handler.
    NSAppleEventManager::sharedAppleEventManager().setHoldsEventsUntilHandled(true);
}

AppDelegate::~AppDelegate()
{
    if (g_sharedDelegate != this)
        return;
    g_sharedDelegate = nullptr;
    NSAppleEventManager::sharedAppleEventManager().removeEventHandler(kInternetEventClass, kAEGetURL);
}

AppDelegate* AppDelegate::sharedDelegate()
{
    return g_sharedDelegate;
}

std::optional<int> AppDelegate::becomeSoleCopy(QCoreApplication& application, const QStringList& arguments)
{
    const QString identifier = NSBundle::mainBundle().bundleIdentifier();
    const QStringList links = deepLinks(arguments);
    // Before the name is owned, so links over the bus can wait for the handler too.
    NSAppleEventManager::sharedAppleEventManager().setHoldsEventsUntilHandled(true);
    using Request = NSRunningApplication::NameRequest;
    // Twice: the Kelvara holding the name may end between the two questions.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (NSRunningApplication::registerCurrentApplicationIfFirst(application, identifier) != Request::HeldByAnother) {
            dispatchHere(links);
            return std::nullopt;
        }
        const QList<NSRunningApplication> running = NSRunningApplication::runningApplicationsWithBundleIdentifier(identifier);
        if (running.isEmpty())
            continue;
        const NSRunningApplication& first = running.first();
        int status = 0;
        for (const QString& link : links) {
            if (!first.openURL(link)) {
                std::fprintf(stderr, "Kelvara: the running Kelvara did not take the link %s.\n", qPrintable(link));
                status = 1;
            }
        }
        first.activateAndWait();
        return status;
    }
    std::fprintf(stderr, "Kelvara: another Kelvara holds the session bus name but cannot be reached.\n");
    return 1;
}

void AppDelegate::applicationWillFinishLaunching()
{
    // Installed programs live where the package put them; there is no folder to move into.
    // Before the first window: it opens in the desktop's appearance.
    NSAppearanceControls::install();
    NSAppearance::followDesktopAppearance();
}

void AppDelegate::applicationDidFinishLaunching()
{
    KLAnalyticsHelper::sharedInstance().initializeTracking();
    checkForUpdate();
    // Remote notices (alert and sound) have no service on this system to register with.
    loadComponentsApp();
    KLDataManager& data = KLDataManager::sharedInstance();
    data.setAppLaunchCount(data.appLaunchCount() + 1);
    NSAppleEventManager::sharedAppleEventManager().setEventHandler(
        [this](const NSAppleEventDescriptor& event) { handleAppleEvent(event); }, kInternetEventClass, kAEGetURL);
    KLSettingsViewController::removeOldFeedbackSnapshots();
}

void AppDelegate::checkForUpdate()
{
    const bool automatically = KLDataManager::sharedInstance().autoCheckUpdate();
    SUUpdater& updater = SUUpdater::sharedUpdater();
    updater.setAutomaticallyChecksForUpdates(automatically);
    updater.setAutomaticallyDownloadsUpdates(false);
    if (automatically)
        updater.checkForUpdatesInBackground();
}

void AppDelegate::loadComponentsApp()
{
    KLUtils::loadHelperAppComponent();
    KLUtils::loadMenuAppComponentWithForceOpen(true);
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed()
{
    NSApplication::sharedApplication().terminate();
    return true;
}

void AppDelegate::handleAppleEvent(const NSAppleEventDescriptor& event)
{
    const std::optional<QVariant> directObject = event.paramDescriptorForKeyword(keyDirectObject);
    if (!directObject)
        return;
    const QString url = NSAppleEventDescriptor::stringValue(*directObject);
    if (url.isNull())
        return;
    const QString path = KLDeepLink::pathFromURL(url);
    // Too long to be a link of ours: refused unread.
    if (path.isNull())
        return;
    qCDebug(lcDeepLink, "%s", qPrintable(path));
    NSNotificationCenter::defaultCenter().postNotificationName(
        QString::fromLatin1(KLApplicationDidReceiveDeepLinkNotification), path);
}

}  // namespace kelvara_main
