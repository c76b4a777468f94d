#include "AppDelegate.h"

#include "KLFanController.h"
#include "KLFileLoggingManager.h"
#include "KLKelvara.h"
#include "KLNotificationsManager.h"
#include "NSUserDefaults.h"

AppDelegate::AppDelegate()
{
    // The poll loop never waits for the settings lock: a change that finds it
    // held is written once it is free (and at the latest when the helper quits).
    NSUserDefaults::setLockWait(0);
}

void AppDelegate::applicationDidFinishLaunching()
{
    // The loop first: it purges and polls once, queuing the first tick's notice,
    // so the three below all hear that first tick.
    KLKelvara::sharedInstance().startMonitoring();
    KLNotificationsManager::sharedInstance();
    KLFileLoggingManager::sharedInstance();
    KLFanController::sharedInstance().fireFanController();
}
