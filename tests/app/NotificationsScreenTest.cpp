// The overheat rules screen against the settings store of its own process,
// over the catalogue the core builds from the simulated Mac.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

#include "KLDataManager.h"
#include "KLMainStoryboard.h"
#include "KLNotiActiveCellView.h"
#include "KLNotiDeleteCellView.h"
#include "KLNotiRepeatCellView.h"
#include "KLNotiSensorCellView.h"
#include "KLNotiThresholdCellView.h"
#include "KLNotificationsViewController.h"
#include "KLSensor.h"
#include "NSAlert.h"
#include "NSBundle.h"
#include "NSDistributedNotificationCenter.h"
#include "NSStoryboard.h"
#include "AppTestSession.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "TSSwitch.h"
#include "TestHome.h"

namespace {

enum { Active, Sensor, Value, Threshold, Repeat, Delete };

KLNotification rule(const QString& key, double threshold, bool active = true)
{
    KLNotification made;
    made.sensorKey = key;
    made.sensorName = key;
    made.threshold = threshold;
    made.active = active;
    made.repeat = true;
    return made;
}

class NotificationsScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        appTestSession();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
        settings().setCurrentLanguage("en");
        settings().setTempUnitCelsius(true);
        sensors = KLSensor::tempSensors().value_or(QList<KLSensor*>());
        ASSERT_GE(sensors.size(), 3);
        for (KLSensor* sensor : sensors) {
            sensor->setValue(50);
            sensor->setMaxValue(110);
        }
    }

    static KLDataManager& settings() { return KLDataManager::sharedInstance(); }
    static QList<KLNotification> stored() { return settings().overheatNotifications().value_or(QList<KLNotification>()); }

    // Stores the rules, shows the screen and waits for the table to show them.
    void show(const QList<KLNotification>& rules)
    {
        settings().setOverheatNotifications(rules);
        screen.reset(dynamic_cast<KLNotificationsViewController*>(
            KLMainStoryboard::storyboard().instantiateControllerWithIdentifier("notificationsViewController")));
        ASSERT_TRUE(screen);
        screen->resize(760, 360);
        screen->show();
        QApplication::setActiveWindow(screen.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(screen.get()));
        ASSERT_TRUE(shows(rules.size()));
    }
    bool shows(qsizetype rows)
    {
        return waitUntil([&] { return screen->tableView()->numberOfRows() == rows; });
    }
    template <class Cell>
    Cell* cell(int column, int row)
    {
        return dynamic_cast<Cell*>(screen->tableView()->viewAtColumn(column, row, true));
    }
    QString valueText(int row) { return cell<QWidget>(Value, row)->findChild<QLabel*>("textField")->text(); }
    // Waits for the screen to redraw after a write of the list.
    bool redrawn(const std::function<bool()>& condition) { return waitUntil(condition); }

    QList<KLSensor*> sensors;
    std::unique_ptr<KLNotificationsViewController> screen;
};

TEST_F(NotificationsScreenTest, AddTakesTheNextFreeSensorAndRefusesWhenNoneIsLeft)
{
    show({rule(sensors[0]->key(), 80), rule("any-sensor", 90)});
    EXPECT_EQ(valueText(1), "--");
    sensors[1]->setValue(40);

    // A threshold being typed is stored before the rule is added.
    KLTextField* field = cell<KLNotiThresholdCellView>(Threshold, 0)->thresholdTextField();
    QTest::mouseClick(field, Qt::LeftButton);
    field->selectAll();
    QTest::keyClicks(field, "75");
    QTest::mouseClick(screen->addButton(), Qt::LeftButton);
    ASSERT_EQ(stored().size(), 3);
    EXPECT_DOUBLE_EQ(stored().first().threshold.value_or(0), 75);
    const KLNotification added = stored().last();
    EXPECT_EQ(added.sensorKey, sensors[1]->key());
    EXPECT_EQ(added.sensorName, sensors[1]->name());
    EXPECT_DOUBLE_EQ(added.threshold.value_or(0), 60);
    EXPECT_TRUE(added.active.value_or(false) && added.repeat.value_or(false));
    EXPECT_TRUE(shows(3));

    // A hot sensor gets its maximum rather than half again its reading.
    sensors[2]->setValue(90);
    QTest::mouseClick(screen->addButton(), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(stored().last().threshold.value_or(0), 110);

    QList<KLNotification> all;
    for (KLSensor* sensor : sensors)
        all << rule(sensor->key(), 80);
    settings().setOverheatNotifications(all);
    NSAlert::setNextAnswerForTesting(NSAlertFirstButtonReturn);
    QTest::mouseClick(screen->addButton(), Qt::LeftButton);
    const std::optional<NSAlert::Asked> asked = NSAlert::takeAskedForTesting();
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->messageText, "Too many notification items");
    EXPECT_EQ(asked->buttons, QStringList{"OK"});
    EXPECT_EQ(asked->style, NSAlertStyleInformational);
    EXPECT_EQ(stored().size(), sensors.size());
}

TEST_F(NotificationsScreenTest, EditsGoToTheStoredListAndTheTableFollows)
{
    show({rule(sensors[0]->key(), 80), rule(sensors[1]->key(), 85)});

    cell<KLNotiActiveCellView>(Active, 0)->switchControl()->toggleByUser();
    EXPECT_FALSE(stored().at(0).active.value_or(true));
    QTest::mouseClick(cell<KLNotiRepeatCellView>(Repeat, 1)->checkButton(), Qt::LeftButton);
    EXPECT_FALSE(stored().at(1).repeat.value_or(true));
    EXPECT_TRUE(redrawn([&] { return !cell<KLNotiRepeatCellView>(Repeat, 1)->checkButton()->isChecked(); }));

    KLTextField* field = cell<KLNotiThresholdCellView>(Threshold, 0)->thresholdTextField();
    EXPECT_EQ(field->text(), "80 °C");
    field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return field->hasFocus(); }));
    EXPECT_EQ(field->text(), "80");
    field->selectAll();
    QTest::keyClicks(field, "72");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(stored().at(0).threshold, 72);
    EXPECT_TRUE(redrawn([&] { return cell<KLNotiThresholdCellView>(Threshold, 0)->thresholdTextField()->text() == "72 °C"; }));

    // The sensor a rule already watches, its own included, is refused.
    QComboBox* popUp = cell<KLNotiSensorCellView>(Sensor, 1)->namePopUpButton();
    EXPECT_EQ(popUp->currentIndex(), 3);
    EXPECT_EQ(popUp->itemText(2), QStringLiteral("%1 (%2)").arg(sensors[0]->name(), sensors[0]->key()));
    NSAlert::setNextAnswerForTesting(NSAlertFirstButtonReturn);
    emit popUp->activated(2);
    ASSERT_TRUE(NSAlert::takeAskedForTesting());
    EXPECT_EQ(popUp->currentIndex(), 3);
    EXPECT_EQ(stored().at(1).sensorKey, sensors[1]->key());
    emit popUp->activated(4);
    EXPECT_EQ(stored().at(1).sensorKey, sensors[2]->key());
    EXPECT_EQ(stored().at(1).sensorName, sensors[2]->name());
    emit popUp->activated(0);
    EXPECT_EQ(stored().at(1).sensorKey, "any-sensor");
    EXPECT_TRUE(redrawn([&] { return valueText(1) == "--"; }));
    // A second rule on any sensor is refused too.
    NSAlert::setNextAnswerForTesting(NSAlertFirstButtonReturn);
    emit cell<KLNotiSensorCellView>(Sensor, 0)->namePopUpButton()->activated(0);
    const std::optional<NSAlert::Asked> asked = NSAlert::takeAskedForTesting();
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->messageText, "This sensor is already in the notifications list");
    EXPECT_EQ(asked->buttons, QStringList{"OK"});
    EXPECT_EQ(stored().at(0).sensorKey, sensors[0]->key());

    QTest::mouseClick(cell<KLNotiDeleteCellView>(Delete, 0)->deleteButton(), Qt::LeftButton);
    ASSERT_EQ(stored().size(), 1);
    EXPECT_EQ(stored().at(0).sensorKey, "any-sensor");
    ASSERT_TRUE(shows(1));
    QTest::mouseClick(cell<KLNotiDeleteCellView>(Delete, 0)->deleteButton(), Qt::LeftButton);
    EXPECT_TRUE(settings().overheatNotifications().has_value());
    EXPECT_TRUE(stored().isEmpty());
    EXPECT_TRUE(shows(0));
}

TEST_F(NotificationsScreenTest, ThresholdThatIsNoNumberIsRefused)
{
    show({rule(sensors[0]->key(), 80)});
    KLTextField* field = cell<KLNotiThresholdCellView>(Threshold, 0)->thresholdTextField();
    for (const char* typed : {"warm", "", " -"}) {
        field->setFocus();
        ASSERT_TRUE(waitUntil([&] { return field->hasFocus(); }));
        field->selectAll();
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(stored().at(0).threshold, 80) << typed;
        EXPECT_EQ(field->text(), "80 °C") << typed;
    }
    EXPECT_FALSE(screen->isEditing());
    // A number typed with its unit keeps the number.
    EXPECT_EQ(KLNotiThresholdCellView::thresholdFromText(" 95 °C"), 95);
    EXPECT_EQ(KLNotiThresholdCellView::thresholdFromText("-5"), -5);
}

// Another program may store any number: beyond int it shows at int's limits.
TEST_F(NotificationsScreenTest, ThresholdsBeyondIntShowAtItsLimits)
{
    show({rule(sensors[0]->key(), 1e12), rule(sensors[1]->key(), -1e12), rule(sensors[2]->key(), INFINITY)});
    EXPECT_EQ(cell<KLNotiThresholdCellView>(Threshold, 0)->thresholdTextField()->text(), "2147483647 °C");
    EXPECT_EQ(cell<KLNotiThresholdCellView>(Threshold, 1)->thresholdTextField()->text(), "-2147483648 °C");
    EXPECT_EQ(cell<KLNotiThresholdCellView>(Threshold, 2)->thresholdTextField()->text(), "2147483647 °C");
    KLTextField* field = cell<KLNotiThresholdCellView>(Threshold, 0)->thresholdTextField();
    field->setFocus();
    EXPECT_TRUE(waitUntil([&] { return field->text() == "2147483647"; }));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(screen->isEditing());
}

// Kelvara Helper switches rules off between the screen's last redraw and the
// user's edit: its changes outlive the edit, the one on the edited rule too.
TEST_F(NotificationsScreenTest, AnEditKeepsWhatTheHelperStoredMeanwhile)
{
    show({rule(sensors[0]->key(), 80), rule(sensors[1]->key(), 85)});
    KLDataManager helper(KLDataManager::Program::Helper);
    QList<KLNotification> rules = helper.overheatNotifications().value_or(QList<KLNotification>());
    ASSERT_EQ(rules.size(), 2);
    rules[0].active = false;
    rules[1].active = false;
    helper.setOverheatNotifications(rules);

    KLTextField* field = cell<KLNotiThresholdCellView>(Threshold, 0)->thresholdTextField();
    field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return field->hasFocus(); }));
    field->selectAll();
    QTest::keyClicks(field, "75");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(stored().size(), 2);
    EXPECT_EQ(stored().at(0).threshold, 75);
    EXPECT_FALSE(stored().at(0).active.value_or(true));
    EXPECT_FALSE(stored().at(1).active.value_or(true));

    // The same for the switch and the box of a row drawn before the helper's write.
    rules = stored();
    rules[1].threshold = 99;
    helper.setOverheatNotifications(rules);
    QTest::mouseClick(cell<KLNotiRepeatCellView>(Repeat, 1)->checkButton(), Qt::LeftButton);
    EXPECT_EQ(stored().at(1).threshold, 99);
    EXPECT_FALSE(stored().at(1).repeat.value_or(true));
}

TEST_F(NotificationsScreenTest, LiveValuesPauseWhileAThresholdIsTyped)
{
    show({rule(sensors[0]->key(), 80)});
    const auto tick = [] {
        NSDistributedNotificationCenter::defaultCenter().postLocalNotificationName(KLKelvaraTempDidChangeNotification);
    };
    sensors[0]->setValue(61);
    tick();
    ASSERT_TRUE(waitUntil([&] { return valueText(0) == "61°"; })) << valueText(0).toStdString();

    KLTextField* field = cell<KLNotiThresholdCellView>(Threshold, 0)->thresholdTextField();
    field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return screen->isEditing(); }));
    QTest::keyClick(field, Qt::Key_Backspace);
    sensors[0]->setValue(64);
    tick();
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(valueText(0), "61°");
    EXPECT_EQ(field->text(), "8");
    EXPECT_TRUE(field->hasFocus());

    screen->addButton()->setFocus();  // leaving the field ends the edit
    ASSERT_TRUE(waitUntil([&] { return !screen->isEditing(); }));
    EXPECT_EQ(stored().at(0).threshold, 8);
    tick();
    EXPECT_TRUE(waitUntil([&] { return valueText(0) == "64°"; }));
}

// A file may hold thousands of rules: the list is decoded once per reload, not
// per row or cell, and a tick decodes nothing.
TEST_F(NotificationsScreenTest, ThousandsOfRulesAreDecodedOncePerReload)
{
    QList<KLNotification> many;
    for (int i = 0; i < 5000; ++i)
        many << rule(sensors[i % sensors.size()]->key(), 80 + i % 20);
    const int before = KLDataManager::overheatListDecodesForTesting();
    show(many);
    drainMainQueue();
    // At its appearance; the reload at the notice of the write in show() finds the same bytes.
    EXPECT_EQ(KLDataManager::overheatListDecodesForTesting() - before, 1);

    const int shown = KLDataManager::overheatListDecodesForTesting();
    screen->tableView()->scrollRowToVisible(4999);
    NSDistributedNotificationCenter::defaultCenter().postLocalNotificationName(KLKelvaraTempDidChangeNotification);
    drainMainQueue();
    EXPECT_EQ(cell<KLNotiThresholdCellView>(Threshold, 4999)->thresholdTextField()->text(), "99 °C");
    EXPECT_EQ(valueText(4999), "50°");
    EXPECT_EQ(KLDataManager::overheatListDecodesForTesting(), shown);
}

}  // namespace
