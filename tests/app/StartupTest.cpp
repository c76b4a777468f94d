#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include "AppDelegate.h"
#include "KLDataManager.h"
#include "KLDeepLink.h"
#include "NSAppleEventManager.h"
#include "NSNotificationCenter.h"
#include "NSRunningApplication.h"
#include "AppTestSession.h"
#include "PrivateBus.h"
#include "QtApplication.h"
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
    // An overlong link is no link of ours: nothing is posted for it.
    events.dispatchEvent(NSAppleEventDescriptor::getURLEvent(
        "kelvara://fan_rule/1" + QString(KLDeepLink::kMaxLinkLength, QLatin1Char('/'))));
    EXPECT_EQ(paths.size(), 3);
    NSNotificationCenter::defaultCenter().removeObserver(&owner);
}

// What waits for the handler is bounded in number and size; a program that
// takes no links keeps none.
TEST(StartupTest, LinksWaitingForTheHandlerAreBounded)
{
    auto& events = NSAppleEventManager::sharedAppleEventManager();
    const auto link = [](const QString& url) { return NSAppleEventDescriptor::getURLEvent(url); };
    events.setHoldsEventsUntilHandled(false);
    EXPECT_FALSE(events.dispatchEvent(link("kelvara://fan_rule/1")));
    EXPECT_FALSE(events.acceptsEvent(kInternetEventClass, kAEGetURL));
    EXPECT_EQ(events.pendingEventCount(), 0);

    events.setHoldsEventsUntilHandled(true);
    EXPECT_FALSE(events.dispatchEvent(link("kelvara://fan_rule/1?" + QString(200 * 1024, 'a'))));
    int kept = 0;
    for (int i = 0; i < 100; ++i)
        kept += events.dispatchEvent(link(QStringLiteral("kelvara://fan_rule/%1").arg(i)));
    EXPECT_EQ(kept, NSAppleEventManager::kMaxPendingEvents);
    EXPECT_FALSE(events.acceptsEvent(kInternetEventClass, kAEGetURL));

    // The first ones, in order, reach the handler; then links go straight to it.
    QStringList handled;
    events.setEventHandler(
        [&](const NSAppleEventDescriptor& event) {
            handled << NSAppleEventDescriptor::stringValue(*event.paramDescriptorForKeyword(keyDirectObject));
        },
        kInternetEventClass, kAEGetURL);
    ASSERT_EQ(handled.size(), NSAppleEventManager::kMaxPendingEvents);
    EXPECT_EQ(handled.first(), "kelvara://fan_rule/0");
    EXPECT_EQ(handled.last(), "kelvara://fan_rule/31");
    EXPECT_EQ(events.pendingEventCount(), 0);
    EXPECT_TRUE(events.dispatchEvent(link("kelvara://fan_rule/2")));
    EXPECT_EQ(handled.last(), "kelvara://fan_rule/2");

    // Without a handler again, the size bound holds as well as the count.
    events.removeEventHandler(kInternetEventClass, kAEGetURL);
    const QString large = "kelvara://fan_rule/1?" + QString(60 * 1024, 'a');
    kept = 0;
    for (int i = 0; i < 10; ++i)
        kept += events.dispatchEvent(link(large));
    EXPECT_EQ(kept, 2);
    EXPECT_TRUE(events.dispatchEvent(link("kelvara://fan_rule/1")));
    events.setHoldsEventsUntilHandled(false);
    EXPECT_EQ(events.pendingEventCount(), 0);
}

// Links sent over the bus at once, while Kelvara starts: each caller hears
// whether its link was kept, never "taken" for one dropped afterwards. Far more
// than could ever be kept are refused at once, without waiting for the main thread.
TEST(StartupTest, LinksOverTheBusAreAnsweredAsTheyAreKept)
{
    appTestSession();
    QCoreApplication& application = testApplication();
    auto& events = NSAppleEventManager::sharedAppleEventManager();
    // Nothing another case left waiting counts here, and nothing of this case stays.
    events.setHoldsEventsUntilHandled(false);
    events.setHoldsEventsUntilHandled(true);
    const auto dropHeld = qScopeGuard([&events] { events.setHoldsEventsUntilHandled(false); });
    const QString name = QStringLiteral("com.orvane.kelvara.linktest");
    ASSERT_EQ(NSRunningApplication::registerCurrentApplicationIfFirst(application, name),
              NSRunningApplication::NameRequest::Owned);

    QDBusConnection sender = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("link-sender"));
    QList<QDBusPendingCall> calls;
    for (int i = 0; i < 16 * NSAppleEventManager::kMaxPendingEvents; ++i) {
        QDBusMessage call = QDBusMessage::createMethodCall(name, QStringLiteral("/com/orvane/kelvara/Application"),
                                                           QStringLiteral("com.orvane.kelvara.Application"),
                                                           QStringLiteral("OpenURL"));
        call << QStringLiteral("kelvara://fan_rule/%1").arg(i % 3);
        calls << sender.asyncCall(call, 10000);
    }
    // Waited for without turning the main thread's loop.
    QDBusPendingCall last = calls.last();
    last.waitForFinished();
    EXPECT_EQ(last.error().type(), QDBusError::LimitsExceeded) << qPrintable(last.error().message());
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(calls.begin(), calls.end(), [](const QDBusPendingCall& call) { return call.isFinished(); });
    }, 15000));
    drainMainQueue();
    const auto taken = std::count_if(calls.begin(), calls.end(), [](const QDBusPendingCall& call) { return !call.isError(); });
    EXPECT_EQ(taken, events.pendingEventCount());
    EXPECT_EQ(taken, NSAppleEventManager::kMaxPendingEvents);
    QDBusConnection::disconnectFromBus(QStringLiteral("link-sender"));
}

// Link paths are read on whole components; only the three modes are modes. The
// sidebar and the detail screen both read links through these functions.
TEST(StartupTest, LinkPathsAreReadOnWholeComponents)
{
    EXPECT_EQ(KLDeepLink::pathFromURL("kelvara://fan_rule/1"), "/fan_rule/1");
    EXPECT_EQ(KLDeepLink::fanRuleMode("/fan_rule/2"), 2);
    EXPECT_EQ(KLDeepLink::fanRuleMode("/fan_rule/0"), 0);
    EXPECT_EQ(KLDeepLink::fanRuleMode("/fan_rule"), 0);
    EXPECT_EQ(KLDeepLink::fanRuleMode("/fan_rule/"), 0);
    for (const char* path : {"/fan_rules", "/fan_rules/1", "/fan_rule/3", "/fan_rule/12", "/fan_rule/-1", "/fan_rule/+1",
                             "/fan_rule/02", "/fan_rule/1abc", "/fan_rule/99999999999", "/fan_rule/1/2", "/fan_rule/x",
                             "fan_rule/1", "/other/fan_rule/1", "/request_privilege_permission", ""})
        EXPECT_FALSE(KLDeepLink::fanRuleMode(path).has_value()) << path;
    // An Arabic-Indic two is no mode number.
    EXPECT_FALSE(KLDeepLink::fanRuleMode(QString::fromUtf8("/fan_rule/\u0662")).has_value());
    EXPECT_FALSE(KLDeepLink::isFanRuleLink("/fan_rules"));
    EXPECT_TRUE(KLDeepLink::isPrivilegeLink("/request_privilege_permission"));
    EXPECT_FALSE(KLDeepLink::isPrivilegeLink("/request_privilege_permission/"));
    EXPECT_FALSE(KLDeepLink::isPrivilegeLink("/request_privilege_permission/1"));

    // An overlong link is refused before it is read.
    const QString padding(KLDeepLink::kMaxLinkLength, QLatin1Char('/'));
    EXPECT_TRUE(KLDeepLink::pathFromURL("kelvara://fan_rule/2" + padding).isNull());
    EXPECT_FALSE(KLDeepLink::fanRuleMode("/fan_rule/2" + padding).has_value());
    EXPECT_EQ(KLDeepLink::pathFromURL("kelvara://fan_rule/2" + padding.left(KLDeepLink::kMaxLinkLength - 20)).size(),
              KLDeepLink::kMaxLinkLength - 9);
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
