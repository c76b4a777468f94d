// Kelvara Menu's launch job and restart, as Kelvara does them.
#include <QApplication>
#include <QWidget>

#include "Dispatch.h"
#include "KLDataManager.h"
#include "KLUtils.h"
#include "LDLaunchCtl.h"
#include "NSBundle.h"
#include "NSRunningApplication.h"
#include "NSWorkspace.h"

namespace {

const QString kMenuIdentifier = QStringLiteral("com.orvane.kelvara.menu");

QString menuExecutablePath()
{
    const QString bundle = NSBundle::mainBundle().bundlePath();
    if (bundle.isEmpty())
        return {};
    return bundle + QStringLiteral("/Contents/Components/Kelvara Menu.app/Contents/MacOS/Kelvara Menu");
}

}  // namespace

void KLUtils::loadMenuAppComponentWithForceOpen(bool forceOpen)
{
    const bool wantsOpen = KLDataManager::sharedInstance().openAtLogin();
    terminateApp(kMenuIdentifier);
    const QString path = menuExecutablePath();
    if (wantsOpen && !path.isEmpty()) {
        LDLaunchJob job;
        job.setLabel(kMenuIdentifier);
        job.setProgramArguments({path});
        job.setRunAtLoad(true);
        job.setKeepAlive(QVariantMap{{QStringLiteral("SuccessfulExit"), false}});
        LDLaunchCtl::sharedController().add(job, LDDomainNumber(1));
    } else {
        LDLaunchCtl::sharedController().remove(kMenuIdentifier, LDDomainNumber(1));
    }
    if (!wantsOpen && !forceOpen)
        return;
    dispatch_after_seconds(0.5, dispatch_get_main_queue(), [path] {
        if (!NSRunningApplication::runningApplicationsWithBundleIdentifier(kMenuIdentifier).isEmpty())
            return;
        NSWorkspace::sharedWorkspace().launchApplicationAtPath(path);
        dispatch_after_seconds(0.5, dispatch_get_main_queue(), [] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->isVisible() && window->isWindow()) {
                    window->raise();
                    window->activateWindow();
                }
            }
        });
    });
}
