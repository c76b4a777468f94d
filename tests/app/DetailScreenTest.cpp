// The sensor detail screen and its fan control box, over a catalogue the core
// built in a home of the test's own, with the tool's installation answered by
// a stand-in administrator.
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "KLAnimation.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLDetailViewController.h"
#include "KLFanCondition.h"
#include "KLFanControlCellView.h"
#include "KLFanControlViewController.h"
#include "KLFanController.h"
#include "KLFanSet.h"
#include "KLGraphPoint.h"
#include "KLFanSetDetailCellView.h"
#include "KLMainStoryboard.h"
#include "KLMenuCollectionViewItem.h"
#include "KLSensor.h"
#include "KLSensorCellView.h"
#include "KLTempView.h"
#include "MSAppCenter.h"
#include "NSAlert.h"
#include "NSDistributedNotificationCenter.h"
#include "NSStoryboard.h"
#include "AnalyticsLog.h"
#include "AppTestSession.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "StoreFixture.h"
#include "TSSwitch.h"
#include "HeldAdministrator.h"
#include "TestAdministrator.h"
#include "TestHome.h"
#include "KLSegmentedControl.h"
#include "KLShadowBox.h"

namespace {

// The fan-rules sheet as the screen sees it.
class FakeSheet : public NSViewController, public KLFanControlSheet {
public:
    unsigned preferredMode() const override { return mode; }
    void setPreferredMode(unsigned preferred) override { mode = preferred; }
    void setFanControlDelegate(KLFanControlViewDelegate* told) override { delegate = told; }
    unsigned mode = 99;
    KLFanControlViewDelegate* delegate = nullptr;
};

class DetailScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KLAnimation::setImmediateForTesting(true);
        KLDataManager& settings = KLDataManager::sharedInstance();
        settings.setupDatabase();
        drainMainQueue();
        startWithoutFanRules();
        settings.setTempUnitCelsius(true);
        MSAppCenter::start(QStringLiteral("tests"), {QStringLiteral("analytics")});
        QFile::remove(MSAppCenter::eventLogPath());  // only this case's events
        screen.resize(860, 700);
        for (KLCategory* category : KLCategory::allObjects()) {
            if (category->type() == KLCategoryTypeTemperature && !temperature)
                temperature = category;
            if (category->type() == KLCategoryTypeFan && !fans)
                fans = category;
        }
        ASSERT_TRUE(temperature && fans);
    }
    void TearDown() override
    {
        KLAnimation::setImmediateForTesting(false);
        NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
    }

    void show(KLCategory* category)
    {
        screen.setCategory(category);
        screen.show();
        drainMainQueue();
    }
    // Picks a pop-up item as a person would.
    void choose(int index)
    {
        QComboBox* button = out<QComboBox>("fanControlModeButton");
        button->setCurrentIndex(index);
        emit button->activated(index);
    }
    // A fan set "Quiet", saved where the pop-up and other programs read it.
    void storeQuietSet(const KLFanSpeeds& speeds = KLFanSpeeds{{"0", 2400}})
    {
        KLFanSet::fanSetWithName("Quiet", speeds);
        KLCoreDataHelper::sharedInstance().saveMasterContext();
    }
    QStringList events(const QString& name)
    {
        QStringList values;
        for (const QJsonObject& properties : loggedEvents(name))
            values << QString::fromUtf8(QJsonDocument(properties).toJson(QJsonDocument::Compact));
        return values;
    }
    template <class T>
    T* out(const char* name)
    {
        T* found = screen.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    int shouldUpdateNotices()
    {
        return notices;
    }
    void countShouldUpdateNotices()
    {
        NSDistributedNotificationCenter::defaultCenter().addObserver(
            this, QString::fromLatin1(KLFanControllerShouldUpdateNotification), [this](const NSNotification&) { ++notices; });
    }
    // The pop-up item of a stored set.
    static int itemOf(const QString& name)
    {
        QStringList names;
        for (KLFanSet* set : KLFanSet::allObjects())
            names << set->name();
        return int(names.indexOf(name)) + 2;
    }
    static int autoBoostItem() { return int(KLFanSet::allObjects().size()) + 3; }
    // What the box redraws on: the should-update notice of Kelvara Menu or the helper.
    void tellShouldUpdate()
    {
        NSDistributedNotificationCenter::defaultCenter().postNotificationName(
            QString::fromLatin1(KLFanControllerShouldUpdateNotification));
    }
    QVariantMap speedsOf(const QString& name)
    {
        for (KLFanSet* set : KLFanSet::allObjects())
            if (set->name() == name)
                return set->valueDict().value_or(QVariantMap{});
        return {};
    }

    AppTestSession& session = appTestSession();  // before the screen
    StoryboardStandIn<KLFanControlViewController> sheets{QStringLiteral("fanControlViewController"), [this] {
                                                             sheet = new FakeSheet;
                                                             return sheet;
                                                         }};
    KLDetailViewController screen;
    FakeSheet* sheet = nullptr;
    KLCategory* temperature = nullptr;
    KLCategory* fans = nullptr;
    int notices = 0;
};

TEST_F(DetailScreenTest, ThePaneRedrawsFromWhatTheHelperSavedAndFromSettingsMadeElsewhere)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setGraphTimeRange(KLGraphTimeRangeDay);
    show(temperature);
    ASSERT_FALSE(screen.sensors().isEmpty());
    EXPECT_EQ(out<NSTableView>("tableView")->numberOfRows(), screen.sensors().size());
    EXPECT_EQ(out<NSTableView>("tableView")->selectedRow(), 0);
    EXPECT_EQ(out<KLSegmentedControl>("graphSegmentedControl")->selectedSegment(), KLGraphTimeRangeDay);
    // No fan box here: its room goes to the table.
    EXPECT_TRUE(out<KLShadowBox>("fanControlBox")->isHidden());
    EXPECT_EQ(screen.fanControlBoxTopConstraint(), -out<KLShadowBox>("fanControlBox")->height());

    // Another program writes a reading and the helper's poll notice follows.
    KLSensor* first = screen.sensors().first();
    auto* firstRow = qobject_cast<KLSensorCellView*>(out<NSTableView>("tableView")->viewAtColumn(0, 0, true));
    ASSERT_NE(firstRow, nullptr);
    const qint64 icon = firstRow->icon().cacheKey();
    {
        StoreConnection other(KLCoreDataHelper::sharedInstance().applicationDocumentsDirectory() + "/Database.sqlite");
        QList<NSManagedObject*> stored = other.fetch("Sensor", NSPredicate::withFormat("key = %@", first->key()));
        ASSERT_EQ(stored.size(), 1);
        stored.first()->setValueForKey(77.0, QStringLiteral("value"));
        ASSERT_TRUE(other.context->save());
    }
    NSDistributedNotificationCenter::defaultCenter().postNotificationName(
        QString::fromLatin1(KLKelvaraTempDidChangeNotification));
    EXPECT_TRUE(waitUntil([&] { return out<KLTempView>("statusTempView")->cpuTempValueField()->text() == QStringLiteral("77°"); }))
        << out<KLTempView>("statusTempView")->cpuTempValueField()->text().toStdString();
    // The row shows it too, with the icon it had (not one made again on every poll).
    EXPECT_EQ(firstRow->valueField()->text(), QStringLiteral("77°"));
    EXPECT_EQ(firstRow->icon().cacheKey(), icon);

    // The range chosen in another window shows at the next poll.
    settings.setGraphTimeRange(KLGraphTimeRangeWeek);
    NSDistributedNotificationCenter::defaultCenter().postNotificationName(
        QString::fromLatin1(KLKelvaraTempDidChangeNotification));
    EXPECT_TRUE(waitUntil([&] { return out<KLSegmentedControl>("graphSegmentedControl")->selectedSegment() == KLGraphTimeRangeWeek; }));
    QTest::mouseClick(out<KLSegmentedControl>("graphSegmentedControl"), Qt::LeftButton, {}, out<KLSegmentedControl>("graphSegmentedControl")->rectForSegment(0).center());
    EXPECT_EQ(settings.graphTimeRange(), unsigned(KLGraphTimeRangeHour));
    EXPECT_EQ(events("Sensor Change Graph Time Range"), QStringList{R"({"value":"1 Hour"})"});
}

TEST_F(DetailScreenTest, TheMenuBarSwitchAddsAndRemovesOnlyItsOwnKey)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    show(temperature);
    ASSERT_GE(screen.sensors().size(), 2);
    const QString key = screen.sensors().at(1)->key();
    // A key twice is read once; a key no sensor has keeps its chip, with "--".
    settings.setMenuSensors({"TB0T", "nothing-like-it", "TB0T"});
    drainMainQueue();
    screen.updateUI();
    EXPECT_EQ(screen.menuBarItems().size(), 2);
    out<NSTableView>("tableView")->selectRowIndexes({1}, false);
    screen.tableViewSelected();
    EXPECT_FALSE(out<TSSwitch>("menuBarSwitch")->isChecked());

    out<TSSwitch>("menuBarSwitch")->toggleByUser();
    EXPECT_EQ(settings.menuSensors(), (QStringList{"TB0T", "nothing-like-it", key}));
    ASSERT_EQ(screen.menuBarItems().size(), 3);
    EXPECT_EQ(screen.menuBarItems()[1]->menuTextField()->text(), QStringLiteral("--"));
    EXPECT_EQ(screen.menuBarItems()[2]->menuTextField()->text(), screen.sensors().at(1)->name());
    EXPECT_EQ(KLMenuCollectionViewItem::cellSizeWithRepresentedObject("nothing-like-it").height(), 21);

    out<TSSwitch>("menuBarSwitch")->toggleByUser();
    EXPECT_EQ(settings.menuSensors(), (QStringList{"TB0T", "nothing-like-it"}));
    EXPECT_EQ(screen.menuBarItems().size(), 2);
    EXPECT_EQ(events("Sensor Show In Menu").size(), 1);
}

TEST_F(DetailScreenTest, TheFanBoxShowsTheStoredModeAndItsRows)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    storeQuietSet();
    settings.setFanControlMode(KLFanControlModeFanSet);
    settings.setFanSetName("Gone");
    show(fans);
    EXPECT_FALSE(out<KLShadowBox>("fanControlBox")->isHidden());
    EXPECT_EQ(screen.fanControlBoxTopConstraint(), 15);
    const QRect table = out<KLShadowBox>("tableBox")->geometry();
    EXPECT_EQ(out<KLShadowBox>("fanControlBox")->geometry().top() - table.bottom() - 1, 15);
    // A set name that no longer exists shows system control; the mode stays.
    EXPECT_EQ(out<QComboBox>("fanControlModeButton")->currentIndex(), 0);
    EXPECT_EQ(settings.fanControlMode(), unsigned(KLFanControlModeFanSet));
    EXPECT_EQ(out<QComboBox>("fanControlModeButton")->count(), autoBoostItem() + 1);

    settings.setFanSetName("Quiet");
    tellShouldUpdate();
    EXPECT_TRUE(waitUntil([&] { return out<QComboBox>("fanControlModeButton")->currentIndex() == itemOf("Quiet"); }));
    EXPECT_FALSE(out<QWidget>("fanManualUtilBox")->isHidden());
    EXPECT_EQ(screen.fanControlTableViewTopConstraint(), 58);
    auto* speedRow = dynamic_cast<KLFanSetDetailCellView*>(out<NSTableView>("fanControlTableView")->viewAtColumn(0, 0, true));
    ASSERT_NE(speedRow, nullptr);
    EXPECT_EQ(speedRow->forcedValue(), 2400);

    settings.setFanControlMode(KLFanControlModeAutoBoost);
    tellShouldUpdate();
    EXPECT_TRUE(waitUntil([&] { return out<QComboBox>("fanControlModeButton")->currentIndex() == autoBoostItem(); }));
    EXPECT_TRUE(out<QWidget>("fanManualUtilBox")->isHidden());
    EXPECT_NE(dynamic_cast<KLFanControlCellView*>(out<NSTableView>("fanControlTableView")->viewAtColumn(0, 0, true)), nullptr);
}

// The speed buttons of a fan set come and go with the mode; the boundary
// between the two columns stays where it is.
TEST_F(DetailScreenTest, TheColumnsKeepTheirBoundaryInEveryFanMode)
{
    storeQuietSet();
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setFanSetName(QStringLiteral("Quiet"));
    show(fans);
    for (int width : {860, 1000}) {
        SCOPED_TRACE(width);
        screen.resize(width, 700);
        QList<int> boundaries;
        for (unsigned mode : {KLFanControlModeSystem, KLFanControlModeFanSet, KLFanControlModeAutoBoost}) {
            settings.setFanControlMode(mode);
            NSDistributedNotificationCenter::defaultCenter().postNotificationName(
                QString::fromLatin1(KLDataManagerSettingsDidChangeNotification));
            ASSERT_TRUE(waitUntil([&] { return out<QWidget>("fanManualUtilBox")->isVisible() == (mode == 1); }));
            drainMainQueue();
            const QWidget* table = out<QWidget>("tableBox");
            EXPECT_EQ(out<QWidget>("fanControlBox")->width(), table->width());
            boundaries << table->mapTo(&screen, QPoint(table->width(), 0)).x();
            boundaries << out<QWidget>("statusTempView")->mapTo(&screen, QPoint()).x();
        }
        EXPECT_EQ(boundaries.count(boundaries[0]), 3) << boundaries[0];
        EXPECT_EQ(boundaries.count(boundaries[1]), 3) << boundaries[1];
    }
}

TEST_F(DetailScreenTest, ARefusedInstallationChangesNothing)
{
    TestAdministrator refuses(TestAdministrator::Refuse);
    KLDataManager& settings = KLDataManager::sharedInstance();
    storeQuietSet();
    show(fans);
    countShouldUpdateNotices();
    NSAlert::setNextAnswerForTesting(NSAlertFirstButtonReturn);
    choose(itemOf("Quiet"));
    ASSERT_TRUE(waitUntil([] { return !NSAlert::hasPendingAnswerForTesting(); }));
    const std::optional<NSAlert::Asked> asked = NSAlert::takeAskedForTesting();
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->style, NSAlertStyleCritical);
    EXPECT_EQ(asked->messageText, QStringLiteral("Fan Control Not Authorized"));
    EXPECT_EQ(settings.fanControlMode(), unsigned(KLFanControlModeSystem));
    EXPECT_EQ(out<QComboBox>("fanControlModeButton")->currentIndex(), 0);
    EXPECT_EQ(events("Fan Control Authorization Failed").size(), 1);
    drainMainQueue();
    EXPECT_EQ(shouldUpdateNotices(), 0);

    // Nor does the sheet open for auto boost.
    NSAlert::setNextAnswerForTesting(NSAlertFirstButtonReturn);
    choose(autoBoostItem());
    ASSERT_TRUE(waitUntil([] { return !NSAlert::hasPendingAnswerForTesting(); }));
    EXPECT_EQ(screen.presentedViewController(), nullptr);
}

TEST_F(DetailScreenTest, ChoosingAModeInstallsTheToolThenWritesAndTellsTheHelper)
{
    TestAdministrator grants(TestAdministrator::Run);
    KLDataManager& settings = KLDataManager::sharedInstance();
    storeQuietSet();
    settings.setDidAutoBoost(true);
    show(fans);
    countShouldUpdateNotices();

    choose(itemOf("Quiet"));
    ASSERT_TRUE(waitUntil([&] { return shouldUpdateNotices() == 1; }, 15000));
    EXPECT_EQ(grants.prompts, 1);
    EXPECT_EQ(settings.fanControlMode(), unsigned(KLFanControlModeFanSet));
    EXPECT_EQ(settings.fanSetName(), QStringLiteral("Quiet"));
    EXPECT_FALSE(settings.didAutoBoost());
    EXPECT_EQ(events("Fan Control Change Mode"), QStringList{R"({"value":"Manual"})"});

    // The same set again: written and told, but the auto-boost flag stays.
    settings.setDidAutoBoost(true);
    choose(itemOf("Quiet"));
    ASSERT_TRUE(waitUntil([&] { return shouldUpdateNotices() == 2; }));
    EXPECT_TRUE(settings.didAutoBoost());
    EXPECT_EQ(grants.prompts, 1);  // installed now: not asked again

    // Auto boost without a condition keeps the mode and opens the sheet on its conditions.
    choose(autoBoostItem());
    ASSERT_TRUE(waitUntil([&] { return screen.presentedViewController() != nullptr; }));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->mode, unsigned(KLFanControlModeAutoBoost));
    EXPECT_EQ(settings.fanControlMode(), unsigned(KLFanControlModeFanSet));
    // Saved, the sheet's mode becomes the mode.
    sheet->delegate->fanControlViewControllerDidSaveData(sheet);
    EXPECT_EQ(settings.fanControlMode(), unsigned(KLFanControlModeAutoBoost));
    EXPECT_FALSE(settings.didAutoBoost());

    // A stored mode the fan controller drives as auto boost edits the auto-boost rules.
    screen.dismissViewController(sheet);
    settings.userDefaults().setInteger(3, KLFanControllerModeKey);
    out<QPushButton>("fanControlEditButton")->click();
    ASSERT_TRUE(waitUntil([&] { return screen.presentedViewController() != nullptr; }));
    EXPECT_EQ(sheet->mode, unsigned(KLFanControlModeAutoBoost));
}

TEST_F(DetailScreenTest, SpeedsGoToTheSetTheStoredNameSelectsWhenTheyAreWritten)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    const qsizetype setsBefore = KLFanSet::allObjects().size();
    KLFanSet::fanSetWithName("A", KLFanSpeeds{{"9", 1000}});
    KLFanSet* b = KLFanSet::fanSetWithName("B", KLFanSpeeds{});
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    settings.setFanControlMode(KLFanControlModeFanSet);
    settings.setFanSetName("A");
    settings.setManualLinkEnabled(true);
    show(fans);
    ASSERT_GE(screen.sensors().size(), 2);
    countShouldUpdateNotices();
    QVariantMap expected{{"9", 1000}};
    for (KLSensor* fan : screen.sensors())
        expected.insert(fan->key(), qlonglong(fan->minValue() + (fan->maxValue() - fan->minValue()) / 4));
    QTest::mouseClick(out<QPushButton>("fanManualUtil25Button"), Qt::LeftButton);
    EXPECT_EQ(speedsOf("A"), expected);

    // The name changed elsewhere while the box still shows A.
    settings.setFanSetName("B");
    QTest::mouseClick(out<QPushButton>("fanManualUtil100Button"), Qt::LeftButton);
    EXPECT_EQ(speedsOf("A"), expected);
    ASSERT_FALSE(speedsOf("B").isEmpty());
    for (KLSensor* fan : screen.sensors())
        EXPECT_EQ(speedsOf("B").value(fan->key()).toLongLong(), qlonglong(fan->maxValue()));

    // Deleted elsewhere: nobody gets the speeds, the helper is still told.
    KLCoreDataHelper::sharedInstance().masterContext()->deleteObject(b);
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    QTest::mouseClick(out<QPushButton>("fanManualUtil50Button"), Qt::LeftButton);
    EXPECT_EQ(speedsOf("A"), expected);
    EXPECT_EQ(KLFanSet::allObjects().size(), setsBefore + 1);
    EXPECT_TRUE(waitUntil([&] { return shouldUpdateNotices() == 3; }));
    EXPECT_EQ(events("Fan Control Change Speed").size(), 3);
}

// The events the screen logs, read back from the local analytics log.
TEST_F(DetailScreenTest, SelectionsSpeedsTheLinkAndTheEditButtonAreLogged)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    show(temperature);
    auto* sensors = out<NSTableView>("tableView");
    ASSERT_GE(screen.sensors().size(), 2);
    sensors->selectRowIndexes({1}, false);
    emit sensors->action(sensors);
    EXPECT_EQ(events("Sensor View Detail").value(0),
              QStringLiteral(R"({"sensor":"%1"})").arg(screen.sensors().at(1)->key()));

    storeQuietSet({});
    settings.setFanControlMode(KLFanControlModeFanSet);
    settings.setFanSetName("Quiet");
    settings.setManualLinkEnabled(false);
    show(fans);
    QTest::mouseClick(out<QAbstractButton>("fanManualUtilLinkButton"), Qt::LeftButton);
    QTest::mouseClick(out<QAbstractButton>("fanManualUtilLinkButton"), Qt::LeftButton);
    EXPECT_EQ(events("Fan Control Tap Manual Util Link"), QStringList({R"({"value":"1"})", R"({"value":"0"})"}));

    // The speed's source: a button, a fan row's slider, a fan row's text field.
    QTest::mouseClick(out<QPushButton>("fanManualUtil25Button"), Qt::LeftButton);
    auto* row = dynamic_cast<KLFanSetDetailCellView*>(out<NSTableView>("fanControlTableView")->viewAtColumn(0, 0, true));
    ASSERT_NE(row, nullptr);
    auto* slider = row->findChild<QSlider*>("speedSlider");
    auto* field = row->findChild<QLineEdit*>("speedTextField");
    ASSERT_TRUE(slider && field);
    slider->setValue(slider->value() + slider->singleStep() * 10);
    field->setText(QString::number(qlonglong(screen.sensors().at(0)->maxValue())));
    emit field->editingFinished();
    QStringList sources;
    for (const QString& event : events("Fan Control Change Speed"))
        sources << QJsonDocument::fromJson(event.toUtf8()).object().value("source").toString();
    EXPECT_EQ(sources, QStringList({"button", "slider", "textfield"}));
    EXPECT_EQ(events("Fan Control Change Speed").value(0), R"({"source":"button","value":0.25})");
    EXPECT_EQ(QJsonDocument::fromJson(events("Fan Control Change Speed").value(2).toUtf8()).object().value("value"), 1.0);

    // The edit button asks for the privilege first, then logs without properties.
    TestAdministrator grants(TestAdministrator::Run);
    QTest::mouseClick(out<QPushButton>("fanControlEditButton"), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return events("Fan Control Tap Edit Fan Rules").size() == 1; }, 15000));
    EXPECT_EQ(events("Fan Control Tap Edit Fan Rules"), QStringList{"{}"});
    // The question is answered (the sheet shown) while this case's administrator is still here.
    EXPECT_TRUE(waitUntil([&] { return screen.presentedViewController() != nullptr; }, 15000));
}

TEST_F(DetailScreenTest, FanRuleLinksOpenTheSheetOnceInTheModeTheyName)
{
    TestAdministrator grants(TestAdministrator::Run);
    KLDataManager::sharedInstance().setFanControlMode(KLFanControlModeFanSet);
    show(fans);
    for (const char* path : {"/fan_rules/2", "/other/fan_rule/2", "/fan_rule/7", "/fan_rule/1abc"})
        screen.handleDeepLink(path);
    drainMainQueue();
    EXPECT_EQ(grants.prompts, 0);
    EXPECT_EQ(screen.presentedViewController(), nullptr);

    // Two links in quick succession: one question, and the sheet keeps the
    // mode it was presented with.
    screen.handleDeepLink("/fan_rule/2");
    screen.handleDeepLink("/fan_rule/0");
    ASSERT_TRUE(waitUntil([&] { return screen.presentedViewController() != nullptr; }, 15000));
    drainMainQueue();
    EXPECT_EQ(sheet->mode, unsigned(KLFanControlModeAutoBoost));
    screen.handleDeepLink("/fan_rule/0");
    drainMainQueue();
    EXPECT_EQ(sheet->mode, unsigned(KLFanControlModeAutoBoost));  // shown already: nothing asked
    EXPECT_EQ(grants.prompts, 1);
    screen.dismissViewController(sheet);

    screen.handleDeepLink("/fan_rule");
    ASSERT_TRUE(waitUntil([&] { return screen.presentedViewController() != nullptr; }));
    EXPECT_EQ(sheet->mode, unsigned(KLFanControlModeSystem));
}

// Choices made while the administrator is being asked: one question, and the
// last choice is the one applied.
TEST_F(DetailScreenTest, ChoicesWhileTheQuestionIsPendingAskOnceAndTheLastOneCounts)
{
    HeldAdministrator administrator(TestAdministrator::Run);
    KLDataManager& settings = KLDataManager::sharedInstance();
    storeQuietSet();
    show(fans);
    choose(itemOf("Quiet"));
    choose(autoBoostItem());
    ASSERT_TRUE(waitUntil([&] { return administrator.asked == 1; }));
    drainMainQueue();
    administrator.release();
    ASSERT_TRUE(waitUntil([&] { return screen.presentedViewController() != nullptr; }, 15000));
    drainMainQueue();
    EXPECT_EQ(administrator.asked, 1);
    EXPECT_EQ(sheet->mode, unsigned(KLFanControlModeAutoBoost));
    // No condition yet: the mode stays until the sheet is saved.
    EXPECT_EQ(settings.fanControlMode(), unsigned(KLFanControlModeSystem));
    EXPECT_EQ(events("Fan Control Change Mode"), QStringList{R"({"value":"Auto Boost"})"});
}

}  // namespace
