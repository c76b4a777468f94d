#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "BoundedRole.h"
#include "FakeNotificationServer.h"
#include "NSUserNotificationCenter.h"
#include "PrivateBus.h"
#include "QtApplication.h"

namespace {

// Lets anything still in flight arrive, so a click that should be ignored would be seen.
void settle()
{
    waitUntil([] { return false; }, 250);
}

struct RecordingDelegate : NSUserNotificationCenterDelegate {
    void didActivateNotification(NSUserNotificationCenter&, const NSUserNotification& notification) override
    {
        clicks.append(notification);
    }
    QList<NSUserNotification> clicks;
};

NSUserNotification notice(const QString& sensorKey, bool button = true)
{
    NSUserNotification made;
    made.title = "Overheat Warning";
    made.informativeText = "CPU <Die> & \"Core\" has reached >90°";
    made.soundName = NSUserNotificationDefaultSoundName;
    made.hasActionButton = button;
    made.actionButtonTitle = "Turn Off";
    made.userInfo.insert("sensorKey", sensorKey);
    return made;
}

// With KELVARA_TEST_NOTICE_RECORD set, this binary opens a centre on that
// record, as a program does at start, and exits before any test.
class RecordReaderRole : public ::testing::Environment {
public:
    void SetUp() override
    {
        const QString path = qEnvironmentVariable("KELVARA_TEST_NOTICE_RECORD");
        if (path.isEmpty())
            return;
        testApplication();
        NSUserNotificationCenter center(path);
        if (!center.deliveredNotifications().isEmpty())
            std::_Exit(2);
        exitWithPeak();
    }
};

[[maybe_unused]] auto* const g_recordReaderRole = ::testing::AddGlobalTestEnvironment(new RecordReaderRole);

// Each test is its own process with its own bus, so the once-only message is fresh in each.
class UserNotificationCenterTest : public ::testing::Test {
protected:
    void SetUp() override { testApplication(); }
    QString record() const { return dir.filePath("state/delivered-notifications.json"); }
    PrivateBus bus;
    QTemporaryDir dir;
};

TEST_F(UserNotificationCenterTest, NotifyEscapesTheBodyAndAsksForBodyClicksButtonAndSound)
{
    FakeNotificationServer server;
    ASSERT_TRUE(server.registered);
    NSUserNotificationCenter center(record());
    center.deliverNotification(notice("TC0P"));
    NSUserNotification quiet;
    quiet.title = "Auto Boost Activated";
    center.deliverNotification(quiet);
    ASSERT_TRUE(waitUntil([&] { return server.notices.size() == 2; }));

    const FakeNotificationServer::Notice& shown = server.notices.at(0);
    EXPECT_EQ(shown.appName, "Kelvara");
    EXPECT_EQ(shown.summary, "Overheat Warning");
    EXPECT_EQ(shown.body, "CPU &lt;Die&gt; &amp; \"Core\" has reached &gt;90°");
    EXPECT_EQ(shown.actions.mid(0, 2), QStringList({"default", ""}));
    EXPECT_EQ(shown.buttonTitle(), "Turn Off");
    EXPECT_EQ(shown.hints.value("sound-name").toString(), "message-new-instant");
    EXPECT_EQ(shown.timeout, -1);
    EXPECT_EQ(server.notices.at(1).actions, QStringList({"default", ""}));
    EXPECT_FALSE(server.notices.at(1).hints.contains("sound-name"));
}

TEST_F(UserNotificationCenterTest, ClicksReachTheDelegateOnlyForItsOwnNoticesFromTheirServer)
{
    FakeNotificationServer server(41);
    NSUserNotificationCenter center(record());
    RecordingDelegate delegate;
    center.setDelegate(&delegate);
    center.deliverNotification(notice("TC0P"));
    center.deliverNotification(notice("TB0T", false));
    ASSERT_TRUE(waitUntil([&] { return center.deliveredNotifications().size() == 2; }));
    const FakeNotificationServer::Notice withButton = server.notices.at(0);
    const uint plainId = server.notices.at(1).id;

    server.invokeAction(withButton.id, "default");
    server.invokeAction(withButton.id, withButton.buttonKey());
    // A button key on a notice without a button, an unknown key, an unknown number.
    server.invokeAction(plainId, withButton.buttonKey());
    server.invokeAction(withButton.id, "reply");
    server.invokeAction(7, "default");
    ASSERT_TRUE(waitUntil([&] { return delegate.clicks.size() >= 2; }));
    {
        // Another program on the bus sending the same signal with the same number.
        FakeNotificationServer impostor;
        impostor.invokeAction(withButton.id, "default");
        settle();
    }
    ASSERT_EQ(delegate.clicks.size(), 2);
    EXPECT_EQ(delegate.clicks.at(0).activationType, NSUserNotificationActivationTypeContentsClicked);
    EXPECT_EQ(delegate.clicks.at(1).activationType, NSUserNotificationActivationTypeActionButtonClicked);
    EXPECT_EQ(delegate.clicks.at(1).userInfo.value("sensorKey").toString(), "TC0P");

    // Removing closes it on the server; one the server closed is forgotten too.
    center.removeDeliveredNotification(delegate.clicks.at(1));
    EXPECT_TRUE(waitUntil([&] { return server.closed == QList<uint>({withButton.id}); }));
    server.dismiss(plainId);
    EXPECT_TRUE(waitUntil([&] { return center.deliveredNotifications().isEmpty(); }));
    server.invokeAction(plainId, "default");
    settle();
    EXPECT_EQ(delegate.clicks.size(), 2);
}

// A restarted program must still handle clicks on notices it showed before.
TEST_F(UserNotificationCenterTest, AClickOnANoticeOfAnEarlierRunReachesTheNewDelegate)
{
    FakeNotificationServer server;
    {
        NSUserNotificationCenter earlier(record());
        earlier.deliverNotification(notice("any-sensor"));
        earlier.deliverNotification(notice("TC0P"));
        ASSERT_TRUE(waitUntil([&] { return earlier.deliveredNotifications().size() == 2; }));
    }
    NSUserNotificationCenter later(record());
    RecordingDelegate delegate;
    later.setDelegate(&delegate);
    const FakeNotificationServer::Notice first = server.notices.first();
    server.invokeAction(first.id, first.buttonKey());
    ASSERT_TRUE(waitUntil([&] { return !delegate.clicks.isEmpty(); }));
    EXPECT_EQ(delegate.clicks.first().activationType, NSUserNotificationActivationTypeActionButtonClicked);
    EXPECT_EQ(delegate.clicks.first().userInfo.value("sensorKey").toString(), "any-sensor");
    later.removeDeliveredNotification(delegate.clicks.first());
    EXPECT_TRUE(waitUntil([&] { return server.closed == QList<uint>({first.id}); }));
    EXPECT_EQ(later.deliveredNotifications().size(), 1);
}

TEST_F(UserNotificationCenterTest, WithoutAServerNoticesAreDroppedWithOneMessage)
{
    NSUserNotificationCenter::resetDroppedReportForTesting();
    NSUserNotificationCenter center(record());
    testing::internal::CaptureStderr();
    center.deliverNotification(notice("TC0P"));
    center.deliverNotification(notice("TB0T"));
    settle();
    // A server that comes later gets the next notice.
    FakeNotificationServer server;
    center.deliverNotification(notice("TG0P"));
    ASSERT_TRUE(waitUntil([&] { return center.deliveredNotifications().size() == 1; }));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Kelvara: notices cannot be shown (no notification server on the session bus).\n");
    ASSERT_EQ(server.notices.size(), 1);
    EXPECT_EQ(center.deliveredNotifications().first().userInfo.value("sensorKey").toString(), "TG0P");
}

// A program opens the record in a child with a time and memory limit: one
// that waited on the pipe or read the link or the huge file would fail it.
TEST_F(UserNotificationCenterTest, WhatIsNoRecordIsSetAsideOnceAndANewOneIsWritten)
{
    const std::string path = record().toStdString();
    FakeNotificationServer server;
    for (const char* shape : kHostileShapes) {
        SCOPED_TRACE(shape);
        expectSetAsideOnce(path, shape, "KELVARA_TEST_NOTICE_RECORD", record());
        if (testing::Test::HasFatalFailure())
            return;

        // The next notice starts a new record, which the next run reads back.
        {
            NSUserNotificationCenter center(record());
            center.deliverNotification(notice("TC0P"));
            ASSERT_TRUE(waitUntil([&] { return center.deliveredNotifications().size() == 1; }));
        }
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)));
        EXPECT_EQ(NSUserNotificationCenter(record()).deliveredNotifications().size(), 1);
    }
}

}  // namespace
