// The status item, its popover and the start-up of Kelvara Menu, offscreen,
// with the settings and the store of the test's own.
#include <QDBusConnection>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include "AnalyticsLog.h"
#include "AppDelegate.h"
#include "FreshState.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLMenuBarController.h"
#include "KLSensor.h"
#include "KLWindowSystem.h"
#include "NSDistributedNotificationCenter.h"
#include "NSEvent.h"
#include "NSNotificationCenter.h"
#include "NSPopover.h"
#include "NSStatusItem.h"
#include "QtApplication.h"
#include "StoreFixture.h"

namespace {

class MenuBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The program's own store stack first (it also names the model's classes).
        ASSERT_TRUE(startAfresh());
        NSStatusBar::setSystemTrayAvailableForTesting(true);
        KLDataManager& settings = KLDataManager::sharedInstance();
        settings.setTempUnitCelsius(true);
        settings.setShowIconInMenu(true);
        settings.setShowTempInMenu(true);
        settings.setMenuSensors({});
        helper = std::make_unique<StoreConnection>(storeFile());
        ASSERT_TRUE(helper->opened) << helper->error.toStdString();
    }
    void TearDown() override
    {
        NSStatusBar::setSystemTrayAvailableForTesting(std::nullopt);
        NSStatusBar::setRetriesForTesting(5, 3000);  // the program's own pace
    }

    // Sensors saved through a connection of their own, as Kelvara Helper saves them.
    KLSensor* sensor(int type, const QString& key, double value)
    {
        auto* category = dynamic_cast<KLCategory*>(helper->insert("Category"));
        category->setType(type);
        auto* made = dynamic_cast<KLSensor*>(helper->insert("Sensor"));
        made->setKey(key);
        made->setValue(value);
        made->setCategory(category);
        EXPECT_TRUE(helper->context->save());
        return made;
    }

    std::unique_ptr<StoreConnection> helper;
    KLMenuBarController controller;
};

TEST_F(MenuBarTest, TitleShowsTheChosenSensorsTidyValues)
{
    sensor(KLCategoryTypeTemperature, "TA0P", 51.2);
    sensor(KLCategoryTypeFan, "F0Ac", 2150);
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setMenuSensors({"TA0P", "NONE", "F0Ac"});
    controller.awakeFromNib();
    NSStatusItem* item = controller.statusItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->imageName(), "bar_icon");
    // The second key has no sensor: a dash pair, and the store gains nothing.
    EXPECT_EQ(item->title().toStdString(), " 51° -- 2150rpm");
    EXPECT_TRUE(KLSensor::objectsWhere(NSPredicate::withFormat("key = %@", QStringLiteral("NONE"))).isEmpty());

    settings.setShowIconInMenu(false);
    controller.updateUI();
    EXPECT_TRUE(item->imageName().isEmpty());
    EXPECT_EQ(item->title().toStdString(), " 51° -- 2150rpm");

    settings.setShowTempInMenu(false);
    controller.updateUI();
    EXPECT_TRUE(item->title().isNull());
    EXPECT_TRUE(item->pixmap(1).isNull());

    // Temperatures on, nothing chosen: the image alone.
    settings.setShowIconInMenu(true);
    settings.setShowTempInMenu(true);
    settings.setMenuSensors({});
    controller.updateUI();
    EXPECT_TRUE(item->title().isNull());
    EXPECT_EQ(item->imageName(), "bar_icon");
    EXPECT_FALSE(item->pixmap(1).isNull());
}

TEST_F(MenuBarTest, TitleFollowsPollSettingsAndMenuSensorNotices)
{
    KLSensor* temperature = sensor(KLCategoryTypeTemperature, "TA0P", 40);
    sensor(KLCategoryTypeTemperature, "TB0T", 30);
    KLDataManager::sharedInstance().setMenuSensors({"TA0P"});
    drainMainQueue();
    controller.awakeFromNib();
    NSStatusItem* item = controller.statusItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->title().toStdString(), " 40°");

    // A poll tick: the cached reading is dropped before the title is read.
    const QList<KLSensor*> loaded = KLSensor::objectsWhere(NSPredicate::withFormat("key = %@", QStringLiteral("TA0P")));
    ASSERT_EQ(loaded.size(), 1);
    KLSensor* shown = loaded.first();
    temperature->setValue(62);
    ASSERT_TRUE(helper->context->save());
    NSDistributedNotificationCenter::defaultCenter().postNotificationName(KLKelvaraTempDidChangeNotification);
    EXPECT_TRUE(waitUntil([&] { return item->title() == QStringLiteral(" 62°"); })) << item->title().toStdString();
    // Dropped once per tick, not again behind the title: what it read stays loaded.
    drainMainQueue();
    EXPECT_FALSE(shown->isFault());

    KLDataManager::sharedInstance().setMenuSensors({"TA0P", "TB0T"});
    EXPECT_TRUE(waitUntil([&] { return item->title() == QStringLiteral(" 62° 30°"); })) << item->title().toStdString();

    // A sensor that joins or leaves the catalogue shows at the next tick.
    KLDataManager::sharedInstance().setMenuSensors({"TA0P", "TB0T", "TC1C"});
    EXPECT_TRUE(waitUntil([&] { return item->title() == QStringLiteral(" 62° 30° --"); })) << item->title().toStdString();
    sensor(KLCategoryTypeTemperature, "TC1C", 50);
    helper->context->deleteObject(temperature);
    ASSERT_TRUE(helper->context->save());
    NSDistributedNotificationCenter::defaultCenter().postNotificationName(KLKelvaraTempDidChangeNotification);
    EXPECT_TRUE(waitUntil([&] { return item->title() == QStringLiteral(" -- 30° 50°"); })) << item->title().toStdString();

    KLDataManager::sharedInstance().setTempUnitCelsius(false);
    EXPECT_TRUE(waitUntil([&] { return item->title() == QStringLiteral(" -- 86° 122°"); })) << item->title().toStdString();
}

TEST_F(MenuBarTest, ClicksAndTheOpenNoticeToggleThePopoverWithOneMonitor)
{
    MSAppCenter::start(QStringLiteral("tests"), {QStringLiteral("analytics")});
    const qsizetype opened = loggedEvents("Menu Open Popup").size();
    controller.awakeFromNib();
    NSStatusItem* item = controller.statusItem();
    ASSERT_NE(item, nullptr);
    NSPopover* popover = controller.popover();

    item->performClick({700, 5});
    EXPECT_TRUE(popover->isShown());
    EXPECT_NE(controller.eventMonitor().monitor(), 0);
    EXPECT_EQ(NSEvent::globalMonitorCountForTesting(), 1);
    // Anchored at the pointer, below it, inside the screen.
    const QRect frame = popover->window()->geometry();
    const QRect available = popover->window()->screen()->availableGeometry();
    EXPECT_TRUE(available.contains(frame)) << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
    EXPECT_EQ(popover->shownEdge(), NSRectEdgeMinY);

    item->performClick({700, 5});
    EXPECT_FALSE(popover->isShown());
    EXPECT_EQ(controller.eventMonitor().monitor(), 0);
    EXPECT_EQ(NSEvent::globalMonitorCountForTesting(), 0);

    item->performClick({700, 5});
    EXPECT_TRUE(popover->isShown());
    EXPECT_EQ(NSEvent::globalMonitorCountForTesting(), 1);

    // Kelvara's notice closes a shown popover and opens a closed one.
    auto& distributed = NSDistributedNotificationCenter::defaultCenter();
    distributed.postNotificationName(KLMenuBarControllerShouldOpenPopupNotification);
    EXPECT_TRUE(waitUntil([&] { return !popover->isShown(); }));
    EXPECT_EQ(NSEvent::globalMonitorCountForTesting(), 0);
    distributed.postNotificationName(KLMenuBarControllerShouldOpenPopupNotification);
    EXPECT_TRUE(waitUntil([&] { return popover->isShown(); }));
    EXPECT_EQ(NSEvent::globalMonitorCountForTesting(), 1);

    // The screen inside hands over to Kelvara and asks to close.
    NSNotificationCenter::defaultCenter().postNotificationName(KLMenuBarControllerShouldClosePopupNotification);
    EXPECT_FALSE(popover->isShown());
    EXPECT_EQ(NSEvent::globalMonitorCountForTesting(), 0);
    // Each opening is logged, without properties; closing is not.
    const QList<QJsonObject> logged = loggedEvents("Menu Open Popup");
    EXPECT_EQ(logged.size(), opened + 3);
    EXPECT_TRUE(logged.value(logged.size() - 1).isEmpty());
}

TEST_F(MenuBarTest, OnlyClicksOutsideThePopoverCloseIt)
{
    controller.awakeFromNib();
    NSPopover* popover = controller.popover();
    controller.statusItem()->performClick({700, 5});
    ASSERT_TRUE(popover->isShown());
    QWindow* inside = popover->window()->windowHandle();
    ASSERT_NE(inside, nullptr);

    QTest::mouseClick(inside, Qt::LeftButton, {}, QPoint(40, 40));
    QTest::mouseClick(inside, Qt::RightButton, {}, QPoint(40, 40));
    EXPECT_TRUE(popover->isShown());

    // Another window of ours, outside every popover.
    QWidget other;
    other.setGeometry(10, 300, 120, 80);
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    QTest::mouseClick(other.windowHandle(), Qt::RightButton, {}, QPoint(20, 20));
    EXPECT_FALSE(popover->isShown());
    EXPECT_EQ(NSEvent::globalMonitorCountForTesting(), 0);

    // Another program took the focus.
    controller.statusItem()->performClick({700, 5});
    ASSERT_TRUE(popover->isShown());
    NSEvent::deactivateApplicationForTesting();
    EXPECT_FALSE(popover->isShown());
}

TEST_F(MenuBarTest, WithoutATrayTheMenuSaysSoOnceAndDoesNothing)
{
    NSStatusBar::setSystemTrayAvailableForTesting(false);
    NSStatusBar::setRetriesForTesting(2, 0);
    testing::internal::CaptureStderr();
    controller.awakeFromNib();
    drainMainQueue();
    drainMainQueue();
    controller.showPopover();
    controller.statusBarButtonTapped();
    NSDistributedNotificationCenter::defaultCenter().postNotificationName(KLDataManagerSettingsDidChangeNotification);
    drainMainQueue();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(controller.statusItem(), nullptr);
    EXPECT_FALSE(controller.popover()->isShown());
    size_t lines = 0;
    for (size_t at = said.find("system tray"); at != std::string::npos; at = said.find("system tray", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u) << said;
}

TEST_F(MenuBarTest, ATrayThatAppearsLateStillGetsTheItem)
{
    NSStatusBar::setSystemTrayAvailableForTesting(false);
    NSStatusBar::setRetriesForTesting(50, 0);
    controller.awakeFromNib();
    EXPECT_EQ(controller.statusItem(), nullptr);
    NSStatusBar::setSystemTrayAvailableForTesting(true);
    ASSERT_TRUE(waitUntil([&] { return controller.statusItem() != nullptr; }));
    EXPECT_EQ(controller.statusItem()->imageName(), "bar_icon");
}

TEST(AppDelegateTest, StartsKelvaraHelperAfterLaunchOnlyWhenItDoesNotRun)
{
    QStringList launched;
    AppDelegate delegate;
    delegate.setLauncherForTesting([&](const QString& identifier) {
        launched << identifier;
        return true;
    });
    delegate.setHelperLaunchDelayForTesting(0);
    delegate.applicationDidFinishLaunching();
    // Never during the launch itself.
    EXPECT_TRUE(launched.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return !launched.isEmpty(); }));
    EXPECT_EQ(launched, QStringList{"com.orvane.kelvara.helper"});

    // Kelvara Helper holds its name on the bus: nothing to start.
    ASSERT_TRUE(QDBusConnection::sessionBus().registerService(QStringLiteral("com.orvane.kelvara.helper")));
    launched.clear();
    delegate.loadHelperAppIfNeeded();
    EXPECT_TRUE(launched.isEmpty());
    QDBusConnection::sessionBus().unregisterService(QStringLiteral("com.orvane.kelvara.helper"));
}

TEST(WindowSystemTest, XWhereOfferedUnlessTheUserChose)
{
    const auto platform = [](std::initializer_list<std::pair<const char*, const char*>> variables,
                             const QStringList& arguments = {}) {
        QProcessEnvironment environment;
        for (const auto& [name, value] : variables)
            environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
        return KLWindowSystem::preferredPlatform(environment, arguments);
    };
    // A Wayland session with Xwayland: X, with Wayland behind it should X be gone.
    EXPECT_EQ(platform({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}), QByteArray("xcb;wayland"));
    EXPECT_EQ(platform({{"DISPLAY", ":1"}}), QByteArray("xcb"));
    // Wayland alone, or no display at all: Qt chooses.
    EXPECT_EQ(platform({{"WAYLAND_DISPLAY", "wayland-0"}}), QByteArray());
    EXPECT_EQ(platform({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ""}}), QByteArray());
    EXPECT_EQ(platform({}), QByteArray());
    // The user's choice stands, in the environment or on the command line.
    EXPECT_EQ(platform({{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}}), QByteArray());
    EXPECT_EQ(platform({{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", ""}}), QByteArray("xcb"));
    EXPECT_EQ(platform({{"DISPLAY", ":0"}}, {QStringLiteral("-platform"), QStringLiteral("wayland")}), QByteArray());
    EXPECT_EQ(platform({{"DISPLAY", ":0"}}, {QStringLiteral("--platform"), QStringLiteral("wayland")}), QByteArray());
    EXPECT_EQ(platform({{"DISPLAY", ":0"}}, {QStringLiteral("wayland")}), QByteArray("xcb"));
}

}  // namespace
