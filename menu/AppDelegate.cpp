#include "AppDelegate.h"

#include <QTimer>

#include "KLAnalyticsHelper.h"
#include "NSAppearance+Controls.h"
#include "NSAppearance.h"
#include "NSRunningApplication.h"
#include "NSWorkspace.h"

namespace {

const QString kHelperIdentifier = QStringLiteral("com.orvane.kelvara.helper");

}  // namespace

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent)
    , m_launch([](const QString& identifier) {
        return NSWorkspace::sharedWorkspace().launchApplicationWithBundleIdentifier(identifier);
    })
{
}

void AppDelegate::applicationDidFinishLaunching()
{
    // Before the popover is made: it opens in the desktop's appearance.
    NSAppearanceControls::install();
    NSAppearance::followDesktopAppearance();
    KLAnalyticsHelper::sharedInstance().initializeTracking();
    checkForUpdate();
    QTimer::singleShot(m_helperLaunchDelayMs, this, [this] { loadHelperAppIfNeeded(); });
}

void AppDelegate::loadHelperAppIfNeeded()
{
    if (NSRunningApplication::runningApplicationsWithBundleIdentifier(kHelperIdentifier).isEmpty())
        m_launch(kHelperIdentifier);
}
