// A rule made on Kelvara's notifications screen reaches the running Kelvara
// Helper through the settings, and the helper's change to it reaches the screen.
#include <QApplication>
#include <QCheckBox>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

#include "FakeNotificationServer.h"
#include "HelperProcess.h"
#include "KLMainStoryboard.h"
#include "KLNotiActiveCellView.h"
#include "KLNotiRepeatCellView.h"
#include "KLNotificationsViewController.h"
#include "KLSensor.h"
#include "NSStoryboard.h"
#include "TSSwitch.h"

namespace {

// The screen needs a widget application; made before the helper's fixture
// would make a plain one, and kept to the end like that one.
QApplication& widgetApplication()
{
    static int argc = 1;
    static char name[] = "kelvara-e2e";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static auto* app = new QApplication(argc, argv);
    return *app;
}

TEST(NotificationsScreenHelperTest, ARuleAddedOnTheScreenIsToldByTheHelperWhichSwitchesItOff)
{
    widgetApplication();
    HelperProcess helper;
    FakeNotificationServer server;
    ASSERT_TRUE(server.registered);
    helper.buildCatalogue();
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setTempUnitCelsius(true);
    settings.setOverheatNotifications({});
    settings.setUpdateFrequency(KLUpdateFrequencyLow);  // every tick checks the rules

    std::unique_ptr<KLNotificationsViewController> screen(dynamic_cast<KLNotificationsViewController*>(
        KLMainStoryboard::storyboard().instantiateControllerWithIdentifier("notificationsViewController")));
    ASSERT_TRUE(screen);
    screen->resize(760, 300);
    screen->show();
    QTest::mouseClick(screen->addButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return screen->tableView()->numberOfRows() == 1; }));
    const auto cell = [&](int column) { return screen->tableView()->viewAtColumn(column, 0, true); };
    QTest::mouseClick(dynamic_cast<KLNotiRepeatCellView*>(cell(4))->checkButton(), Qt::LeftButton);
    const KLNotification rule = settings.overheatNotifications().value().at(0);
    ASSERT_FALSE(rule.repeat.value_or(true));
    KLSensor* sensor = rule.sensor();
    ASSERT_TRUE(sensor);

    smc::VirtualSMC smc;
    ASSERT_TRUE(smc.setKeyValue(sensor->key().toStdString(), rule.threshold.value() + 3));
    helper.start();
    ASSERT_TRUE(waitUntil([&] { return !server.notices.isEmpty(); }, 15000));
    EXPECT_EQ(server.notices.at(0).summary, "Overheat Warning");
    EXPECT_TRUE(server.notices.at(0).body.startsWith(sensor->name() + " has reached "));

    // A rule that does not repeat is told once and stored switched off; the screen shows it.
    auto* active = dynamic_cast<KLNotiActiveCellView*>(cell(0));
    EXPECT_TRUE(waitUntil([&] { return !active->switchControl()->isChecked(); }, 15000));
    EXPECT_FALSE(settings.overheatNotifications().value().at(0).active.value_or(true));
    EXPECT_TRUE(helper.stop());
    EXPECT_EQ(server.notices.size(), 1);
    EXPECT_EQ(helper.process.readAllStandardError(), "");
}

}  // namespace
