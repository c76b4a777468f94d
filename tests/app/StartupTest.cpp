#include <QStringList>
#include <gtest/gtest.h>

#include "AppDelegate.h"
#include "KLDataManager.h"
#include "KLDeepLink.h"
#include "NSAppleEventManager.h"
#include "NSNotificationCenter.h"
#include "AppTestSession.h"
#include "PrivateBus.h"
#include "SUUpdater.h"
#include "TestHome.h"

namespace {

// Links that arrive before the handler exists (a start with a link argument)
// wait for it; the handler posts each link's path, in order, as a local notice.
TEST(StartupTest, LinksWaitForTheHandlerThenPostTheirPathLocally)
{
    AppDelegate delegate;
    QStringList paths;
    int owner = 0;
    NSNotificationCenter::defaultCenter().addObserver(
        &owner, QString::fromLatin1(KLApplicationDidReceiveDeepLinkNotification),
        [&](const NSNotification& notice) { paths << notice.object.toString(); });

    auto& events = NSAppleEventManager::sharedAppleEventManager();
    events.dispatchEvent(NSAppleEventDescriptor::getURLEvent("kelvara://fan_rule/2"));
    events.dispatchEvent(NSAppleEventDescriptor::getURLEvent("kelvara://request_privilege_permission"));
    // Not a get-URL event: never the link handler's.
    events.dispatchEvent(NSAppleEventDescriptor(0x61657674, 0x6F617070));
    EXPECT_TRUE(paths.isEmpty());

    events.setEventHandler([&delegate](const NSAppleEventDescriptor& event) { delegate.handleAppleEvent(event); },
                           kInternetEventClass, kAEGetURL);
    EXPECT_EQ(paths, QStringList({"/fan_rule/2", "/request_privilege_permission"}));
    EXPECT_EQ(events.pendingEventCount(), 1);

    // Once installed, a link is handled at once; an event without a text direct object is dropped.
    events.dispatchEvent(NSAppleEventDescriptor::getURLEvent("kelvara://fan_rule"));
    NSAppleEventDescriptor noText(kInternetEventClass, kAEGetURL);
    events.dispatchEvent(noText);
    noText.setParamDescriptor(42, keyDirectObject);
    events.dispatchEvent(noText);
    EXPECT_EQ(paths, QStringList({"/fan_rule/2", "/request_privilege_permission", "/fan_rule"}));
    NSNotificationCenter::defaultCenter().removeObserver(&owner);
}

// Link paths are read on whole components; only the three modes are modes.
TEST(StartupTest, LinkPathsAreReadOnWholeComponents)
{
    EXPECT_EQ(KLDeepLink::pathFromURL("kelvara://fan_rule/1"), "/fan_rule/1");
    EXPECT_EQ(KLDeepLink::fanRuleMode("/fan_rule/2"), 2);
    EXPECT_EQ(KLDeepLink::fanRuleMode("/fan_rule/0"), 0);
    EXPECT_EQ(KLDeepLink::fanRuleMode("/fan_rule"), 0);
    EXPECT_EQ(KLDeepLink::fanRuleMode("/fan_rule/"), 0);
    for (const char* path : {"/fan_rules", "/fan_rules/1", "/fan_rule/3", "/fan_rule/12", "/fan_rule/-1", "/fan_rule/1/2",
                             "/fan_rule/x", "fan_rule/1", "/other/fan_rule/1"})
        EXPECT_FALSE(KLDeepLink::fanRuleMode(path).has_value()) << path;
    // An Arabic-Indic two is no mode number.
    EXPECT_FALSE(KLDeepLink::fanRuleMode(QString::fromUtf8("/fan_rule/\u0662")).has_value());
    EXPECT_FALSE(KLDeepLink::isFanRuleLink("/fan_rules"));
    EXPECT_TRUE(KLDeepLink::isPrivilegeLink("/request_privilege_permission"));
    EXPECT_FALSE(KLDeepLink::isPrivilegeLink("/request_privilege_permission/"));
    EXPECT_FALSE(KLDeepLink::isPrivilegeLink("/request_privilege_permission/1"));
}

// Automatic checks follow the setting; downloads are never automatic.
TEST(StartupTest, UpdateChecksFollowTheSetting)
{
    appTestSession();
    AppDelegate delegate;
    SUUpdater& updater = SUUpdater::sharedUpdater();
    updater.setAutomaticallyDownloadsUpdates(true);
    KLDataManager::sharedInstance().setAutoCheckUpdate(false);
    delegate.checkForUpdate();
    EXPECT_FALSE(updater.automaticallyChecksForUpdates());
    EXPECT_FALSE(updater.automaticallyDownloadsUpdates());
    EXPECT_EQ(updater.backgroundCheckCount(), 0);

    KLDataManager::sharedInstance().setAutoCheckUpdate(true);
    delegate.checkForUpdate();
    EXPECT_TRUE(updater.automaticallyChecksForUpdates());
    EXPECT_EQ(updater.backgroundCheckCount(), 1);
}

}  // namespace
