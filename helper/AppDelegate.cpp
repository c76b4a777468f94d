#include "AppDelegate.h"

#include "KLFanController.h"
#include "KLFileLoggingManager.h"
#include "KLKelvara.h"
#include "KLNotificationsManager.h"

void AppDelegate::applicationDidFinishLaunching()
{
    // The loop first: it purges and polls once, queuing the first tick's notice,
    // so the three below all hear that first tick.
    KLKelvara::sharedInstance().startMonitoring();
    KLNotificationsManager::sharedInstance();
    KLFileLoggingManager::sharedInstance();
    KLFanController::sharedInstance().fireFanController();
}
