// The fan rules sheet, presented over a screen of a window, editing the store
// of the test's own home with the catalogue of the simulated Mac.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanCondition.h"
#include "KLFanControlLogic.h"
#include "KLFanControlViewController.h"
#include "KLFanSet.h"
#include "KLMainStoryboard.h"
#include "KLSensor.h"
#include "MSAppCenter.h"
#include "NSApplication+Modal.h"
#include "NSOpenPanel.h"
#include "NSAlert.h"
#include "NSAppearance.h"
#include "NSKeyedArchiver.h"
#include "NSStoryboard.h"
#include "AnalyticsLog.h"
#include "AppTestSession.h"
#include "ClippedTexts.h"
#include "OverlappingControls.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "StoreFixture.h"
#include "TestHome.h"

namespace {

class Presenter : public NSViewController, public KLFanControlViewDelegate {
public:
    void fanControlViewControllerDidSaveData(KLFanControlSheet*) override
    {
        ++saves;
        if (onSave)
            onSave();
    }
    int saves = 0;
    std::function<void()> onSave;
};

class FanRulesSheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        appTestSession();
        KLDataManager& settings = KLDataManager::sharedInstance();
        settings.setCurrentLanguage("en");
        settings.setTempUnitCelsius(true);
        settings.setupDatabase();
        drainMainQueue();
        startWithoutFanRules();
        fans = KLSensor::fanSensors().value_or(QList<KLSensor*>());
        ASSERT_GE(fans.size(), 2);
        presenter.resize(700, 700);
        presenter.show();
        sheet = dynamic_cast<KLFanControlViewController*>(
            KLMainStoryboard::storyboard().instantiateControllerWithIdentifier("fanControlViewController"));
        ASSERT_NE(sheet, nullptr);
        sheet->setDelegate(&presenter);
    }
    void TearDown() override { delete sheet; }

    void open(unsigned mode = KLFanControlModeFanSet)
    {
        sheet->setPreferredMode(mode);
        presenter.presentViewControllerAsSheet(sheet);
        drainMainQueue();
        ASSERT_EQ(sheet->presentingViewController(), &presenter);
    }
    template <class T>
    T* child(const char* name) { return sheet->findChild<T*>(name); }
    NSTableView* table(const char* name) { return child<NSTableView>(name); }
    template <class T>
    T* cell(const char* tableName, int row, int column = 0)
    {
        return dynamic_cast<T*>(table(tableName)->viewAtColumn(column, row, true));
    }
    void click(const char* button) { child<QAbstractButton>(button)->click(); }
    // A name typed into a fan-set row and the editing ended.
    void rename(int row, const QString& name)
    {
        QLineEdit* field = cell<KLFanSetCellView>("fanSetsTableView", row)->nameTextField();
        field->setText(name);
        emit field->editingFinished();
    }
    QStringList setNames()
    {
        QStringList names;
        for (KLFanSet* set : sheet->fanSets())
            names << set->name();
        return names;
    }
    // The store as another program sees it.
    StoreConnection otherProgram()
    {
        return StoreConnection(KLCoreDataHelper::sharedInstance().applicationDocumentsDirectory() + "/Database.sqlite");
    }
    static QStringList storedNames(StoreConnection& store)
    {
        QStringList names;
        for (NSManagedObject* set : store.fetch("FanSet"))
            names << set->valueForKey("name").toString();
        names.sort();
        return names;
    }
    // What the alert that the action shows (at once or a little later) asked.
    static QString alertFrom(const std::function<void()>& action)
    {
        NSAlert::setNextAnswerForTesting(NSAlertFirstButtonReturn);
        action();
        std::optional<NSAlert::Asked> asked;
        waitUntil([&] { return (asked = NSAlert::takeAskedForTesting()).has_value(); }, 2000);
        return asked ? asked->messageText : QString();
    }

    QList<KLSensor*> fans;
    Presenter presenter;
    KLFanControlViewController* sheet = nullptr;
};

TEST_F(FanRulesSheetTest, NewSetsAreNamedInOrderAndStartAtEachFansMinimum)
{
    EXPECT_EQ(KLFanControlViewController::untitledFanSetName({}), "Untitled Set");
    EXPECT_EQ(KLFanControlViewController::untitledFanSetName({"Untitled Set", "Untitled Set 2"}), "Untitled Set 1");
    EXPECT_EQ(KLFanControlViewController::untitledFanSetName({"Untitled Set 1", "Untitled Set"}), "Untitled Set 2");

    open();
    ASSERT_EQ(setNames(), QStringList({"Manual"}));
    EXPECT_FALSE(cell<KLFanSetCellView>("fanSetsTableView", 0)->removeButton()->isEnabled());
    click("addFanSetButton");
    click("addFanSetButton");
    EXPECT_EQ(setNames(), QStringList({"Manual", "Untitled Set", "Untitled Set 1"}));
    EXPECT_EQ(sheet->selectedFanSet(), sheet->fanSets().last());
    EXPECT_TRUE(cell<KLFanSetCellView>("fanSetsTableView", 0)->removeButton()->isEnabled());
    const KLFanSpeeds speeds = sheet->selectedFanSet()->valueDict().value_or(KLFanSpeeds());
    EXPECT_EQ(speeds.value(fans[0]->key()).toDouble(), fans[0]->minValue());
    EXPECT_EQ(speeds.value(fans[1]->key()).toDouble(), fans[1]->minValue());
}

TEST_F(FanRulesSheetTest, SpeedsFollowTheLinkAndStayWithinEachFansRange)
{
    KLDataManager::sharedInstance().setManualLinkEnabled(false);
    open();
    const auto speed = [&](KLSensor* fan) {
        return sheet->selectedFanSet()->valueDict().value_or(KLFanSpeeds()).value(fan->key()).toInt();
    };
    const int before0 = speed(fans[0]);
    // Unlinked: only the fan whose row was chosen changes.
    table("fanControlTableView")->selectRowIndexes({1}, false);
    sheet->fanControlTableViewSelected();
    click("fanManualUtil100Button");
    EXPECT_EQ(speed(fans[1]), int(fans[1]->maxValue()));
    EXPECT_EQ(speed(fans[0]), before0);

    click("fanManualUtilLinkButton");
    EXPECT_TRUE(KLDataManager::sharedInstance().manualLinkEnabled());
    click("fanManualUtil50Button");
    for (KLSensor* fan : fans)
        EXPECT_EQ(speed(fan), KLFanControlLogic::speedForFraction(0.5, fan->minValue(), fan->maxValue()));
    // The speed rows show the edited set.
    EXPECT_EQ(cell<KLFanSetDetailCellView>("fanControlTableView", 0)->forcedValue(), speed(fans[0]));

    // A fan whose minimum is its maximum: its only speed is no share of
    // anything, so the other linked fans keep theirs.
    const int half0 = speed(fans[0]);
    const double min1 = fans[1]->minValue(), max1 = fans[1]->maxValue();
    fans[1]->setMaxValue(min1);
    sheet->fanSetDetailCellViewDidChangeSpeed(int(min1), fans[1], true);
    fans[1]->setMaxValue(max1);
    EXPECT_EQ(speed(fans[0]), half0);
    EXPECT_EQ(speed(fans[1]), int(min1));

    // The link stays as set; the speeds go with Cancel.
    click("cancelButton");
    EXPECT_TRUE(KLDataManager::sharedInstance().manualLinkEnabled());
    EXPECT_NE(KLFanSet::allObjects().first()->valueDict().value_or(KLFanSpeeds()).value(fans[1]->key()).toInt(),
              int(fans[1]->maxValue()));
}

TEST_F(FanRulesSheetTest, RenamesRefuseDuplicatesAndBlankNamesButNotTheSameName)
{
    open();
    click("addFanSetButton");
    rename(1, "Quiet");
    EXPECT_EQ(setNames(), QStringList({"Manual", "Quiet"}));

    // Ending an edit without a change is no duplicate of itself.
    rename(1, "Quiet");
    NSAlert::setNextAnswerForTesting(NSAlertFirstButtonReturn);
    EXPECT_FALSE(waitUntil([] { return !NSAlert::hasPendingAnswerForTesting(); }, 1000));

    for (const QString& refused : {QStringLiteral("Manual"), QString(), QStringLiteral("   ")}) {
        const QString message = alertFrom([&] { rename(1, refused); });
        EXPECT_EQ(setNames(), QStringList({"Manual", "Quiet"})) << refused.toStdString();
        EXPECT_EQ(cell<KLFanSetCellView>("fanSetsTableView", 1)->nameTextField()->text(), "Quiet");
        EXPECT_EQ(message, refused == "Manual"
                                          ? "A fan set with this name already exists. Choose a different name."
                                          : "Enter a name for the fan set.");
    }
}

// The tool buttons take no focus: what is being typed in a row is taken
// before a button acts, not replaced by the stored text when the rows reload.
TEST_F(FanRulesSheetTest, WhatIsTypedIsTakenBeforeAButtonActs)
{
    open();
    QWidget* window = sheet->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    const auto type = [&](QLineEdit* field, const QString& text) {
        QTest::mouseClick(field, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), field);
        field->selectAll();
        QTest::keyClicks(field, text);
    };
    const auto press = [&](const char* button) { QTest::mouseClick(child<QAbstractButton>(button), Qt::LeftButton); };

    type(cell<KLFanSetCellView>("fanSetsTableView", 0)->nameTextField(), "Quiet");
    press("addFanSetButton");
    EXPECT_EQ(setNames(), QStringList({"Quiet", "Untitled Set"}));

    press("addFanConditionButton");
    ASSERT_EQ(sheet->fanConditions().size(), 1);
    type(cell<KLFanConThresholdCellView>("autoBoostConditionTableView", 0, 1)->thresholdTextField(), "81");
    press("addFanConditionButton");
    ASSERT_EQ(sheet->fanConditions().size(), 2);
    EXPECT_DOUBLE_EQ(sheet->fanConditions()[0]->threshold(), 81);

    // A taken name stops Save until its alert has been seen; a free one is saved.
    type(cell<KLFanSetCellView>("fanSetsTableView", 1)->nameTextField(), "Quiet");
    EXPECT_EQ(alertFrom([&] { press("saveButton"); }), "A fan set with this name already exists. Choose a different name.");
    EXPECT_EQ(presenter.saves, 0);
    type(cell<KLFanSetCellView>("fanSetsTableView", 1)->nameTextField(), "Loud");
    press("saveButton");
    EXPECT_EQ(presenter.saves, 1);
    StoreConnection store = otherProgram();
    EXPECT_EQ(storedNames(store), QStringList({"Loud", "Quiet"}));
}

TEST_F(FanRulesSheetTest, AThresholdThatIsNoNumberIsRefused)
{
    open();
    click("addFanConditionButton");
    ASSERT_EQ(sheet->fanConditions().size(), 1);
    KLFanCondition* condition = sheet->fanConditions().first();
    condition->setThreshold(72.8);
    auto* thresholdCell = cell<KLFanConThresholdCellView>("autoBoostConditionTableView", 0, 1);
    thresholdCell->updateUI();
    QLineEdit* field = thresholdCell->thresholdTextField();
    EXPECT_EQ(field->text(), "72 °C");
    thresholdCell->textFieldDidBecomeFirstResponder(thresholdCell->thresholdTextField());
    EXPECT_EQ(field->text(), "72");

    field->setText("warm");
    emit field->editingFinished();
    EXPECT_DOUBLE_EQ(condition->threshold(), 72.8);
    EXPECT_EQ(field->text(), "72 °C");
    field->setText("80");
    emit field->editingFinished();
    EXPECT_DOUBLE_EQ(condition->threshold(), 80);
    field->setText("85 °C");
    emit field->editingFinished();
    EXPECT_DOUBLE_EQ(condition->threshold(), 85);

    // In the dark appearance the field stands out from the table it sits on.
    NSAppearance::forceDarkModeForTesting(true);
    thresholdCell->updateUI();
    EXPECT_NE(field->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
    NSAppearance::forceDarkModeForTesting(std::nullopt);
}

TEST_F(FanRulesSheetTest, NewConditionsWatchTheNextFreeSensorAtHalfAgainItsReading)
{
    const QList<KLSensor*> temps = KLSensor::tempSensors().value_or(QList<KLSensor*>());
    ASSERT_GE(temps.size(), 2);
    open();
    click("addFanConditionButton");
    click("addFanConditionButton");
    ASSERT_EQ(sheet->fanConditions().size(), 2);
    EXPECT_EQ(sheet->fanConditions()[0]->sensorKey(), temps[0]->key());
    EXPECT_EQ(sheet->fanConditions()[1]->sensorKey(), temps[1]->key());
    EXPECT_DOUBLE_EQ(sheet->fanConditions()[1]->threshold(),
                     std::min(temps[1]->convertedValue() * 1.5, temps[1]->convertedMaxValue()));
    EXPECT_EQ(sheet->fanConditions()[1]->fanSet(), sheet->fanSets().first());

    // The sensor cell: "any" first, then a separator, then the sensors.
    auto* sensorCell = cell<KLFanConSensorCellView>("autoBoostConditionTableView", 1, 0);
    EXPECT_EQ(sensorCell->namePopUpButton()->currentIndex(), 3);
    sensorCell->namePopUpButton()->activated(0);
    EXPECT_EQ(sheet->fanConditions()[1]->sensorKey(), "any-sensor");
    auto* stateCell = cell<KLFanConBatteryStateCellView>("autoBoostConditionTableView", 1, 2);
    stateCell->namePopUpButton()->activated(2);
    EXPECT_EQ(sheet->fanConditions()[1]->batteryState(), 2);
}

// Opened for a fan set and for auto boost, with a condition row, in every
// language: no text of the sheet or its rows is wider than its control, and
// no control lies over another.
TEST_F(FanRulesSheetTest, EveryTextFitsInEveryLanguage)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    const auto english = qScopeGuard([&] { settings.setCurrentLanguage("en"); });
    QStringList clipped;
    for (const QString& language : settings.allLanguages()) {
        settings.setCurrentLanguage(language);
        for (const unsigned mode : {unsigned(KLFanControlModeFanSet), unsigned(KLFanControlModeAutoBoost)}) {
            open(mode);
            click("addFanConditionButton");
            ASSERT_FALSE(sheet->fanConditions().isEmpty());
            drainMainQueue();
            for (const QString& found : ClippedTexts::find(sheet) + OverlappingControls::find(sheet))
                clipped << QStringLiteral("%1 mode %2: %3").arg(language).arg(mode).arg(found);
            click("cancelButton");
            drainMainQueue();
        }
    }
    clipped.removeDuplicates();
    EXPECT_TRUE(clipped.isEmpty()) << clipped.join(QLatin1Char('\n')).toStdString();
}

// With nothing to apply no condition is made, yet the table reloads and the press is counted.
TEST_F(FanRulesSheetTest, AddingAConditionWithoutAFanSetMakesNoneButReloadsAndCounts)
{
    MSAppCenter::start(QStringLiteral("tests"), {QStringLiteral("analytics")});
    const auto pressesLogged = [] { return loggedEvents("Fan Control Tap Add Fan Condition").size(); };
    open();
    const qsizetype before = pressesLogged();
    for (KLFanSet* set : sheet->fanSets())
        sheet->context()->deleteObject(set);
    sheet->reloadData();
    ASSERT_TRUE(sheet->fanSets().isEmpty());
    // A condition the table does not show yet: the reload brings it in.
    NSManagedObject* unshown = sheet->context()->insertNewObjectForEntityForName("FanCondition");
    click("addFanConditionButton");
    ASSERT_EQ(sheet->fanConditions().size(), 1);
    EXPECT_EQ(sheet->fanConditions().first(), unshown);
    EXPECT_EQ(pressesLogged(), before + 1);
    click("cancelButton");
}

TEST_F(FanRulesSheetTest, AutoBoostSaveNeedsAConditionAndCancelLeavesTheStore)
{
    open(KLFanControlModeAutoBoost);
    EXPECT_EQ(alertFrom([&] { click("saveButton"); }), "Add at least one condition to use Auto Boost.");
    EXPECT_EQ(sheet->presentingViewController(), &presenter);
    EXPECT_EQ(presenter.saves, 0);

    click("addFanSetButton");
    click("addFanConditionButton");
    click("cancelButton");
    EXPECT_EQ(sheet->presentingViewController(), nullptr);
    StoreConnection store = otherProgram();
    EXPECT_EQ(storedNames(store), QStringList({"Manual"}));
    EXPECT_TRUE(store.fetch("FanCondition").isEmpty());

    // Escape is Cancel.
    open(KLFanControlModeAutoBoost);
    EXPECT_EQ(setNames(), QStringList({"Manual"}));
    click("addFanSetButton");
    QTest::keyClick(sheet->window(), Qt::Key_Escape);
    EXPECT_EQ(sheet->presentingViewController(), nullptr);
    EXPECT_EQ(storedNames(store), QStringList({"Manual"}));

    // Return presses the default button, Save.
    open(KLFanControlModeAutoBoost);
    EXPECT_EQ(setNames(), QStringList({"Manual"}));
    click("addFanConditionButton");
    QTest::keyClick(sheet->window(), Qt::Key_Return);
    EXPECT_EQ(presenter.saves, 1);
    EXPECT_EQ(otherProgram().fetch("FanCondition").size(), 1);

    // Also after a click on another button, which takes the focus: it does not
    // take the default, nor does a button made after the sheet opened.
    for (const bool madeLater : {false, true}) {
        open();
        std::unique_ptr<QPushButton> later(madeLater ? new QPushButton(QStringLiteral("Later"), sheet) : nullptr);
        QPushButton* clicked = later ? later.get() : child<QPushButton>("fanManualUtil100Button");
        clicked->show();
        QTest::mouseClick(clicked, Qt::LeftButton);
        ASSERT_EQ(QApplication::focusWidget(), clicked);
        EXPECT_TRUE(child<QPushButton>("saveButton")->isDefault() && !clicked->isDefault());
        QTest::keyClick(clicked, Qt::Key_Return);
        EXPECT_EQ(presenter.saves, madeLater ? 3 : 2);
    }
}

// Kelvara Helper reads the rules when the presenter tells it to; they must be
// in the file by then.
TEST_F(FanRulesSheetTest, SaveWritesTheStoreBeforeTellingThePresenter)
{
    QStringList namesWhenTold;
    presenter.onSave = [&] {
        StoreConnection store = otherProgram();
        namesWhenTold = storedNames(store);
    };
    open();
    click("addFanSetButton");
    rename(1, "Quiet");
    click("saveButton");
    EXPECT_EQ(presenter.saves, 1);
    EXPECT_EQ(namesWhenTold, QStringList({"Manual", "Quiet"}));
}

// Kelvara Menu changes a set's speeds between two openings: the second opening
// edits what it wrote, not what the first one read.
TEST_F(FanRulesSheetTest, EachOpeningReadsTheStoreAfresh)
{
    KLDataManager::sharedInstance().setManualLinkEnabled(false);
    open();
    click("saveButton");  // nothing changed; the opening's objects are loaded
    {
        StoreConnection menu = otherProgram();
        NSManagedObject* manual = menu.fetch("FanSet").first();
        const KLFanSpeeds speeds{{fans[0]->key(), 3333}, {fans[1]->key(), 4444}};
        manual->setValueForKey(NSKeyedArchiver::archivedDataWithRootObject(speeds), "value");
        ASSERT_TRUE(menu.context->save());
    }
    open();
    EXPECT_EQ(cell<KLFanSetDetailCellView>("fanControlTableView", 0)->forcedValue(), 3333);
    click("fanManualUtil100Button");  // fan 0, the selected one
    click("saveButton");
    StoreConnection store = otherProgram();
    const KLFanSpeeds saved =
        NSKeyedUnarchiver::unarchiveObjectWithData(store.fetch("FanSet").first()->valueForKey("value").toByteArray())
            .toMap();
    EXPECT_EQ(saved.value(fans[0]->key()).toInt(), int(fans[0]->maxValue()));
    EXPECT_EQ(saved.value(fans[1]->key()).toInt(), 4444);
}

TEST_F(FanRulesSheetTest, TheAppliedSetStaysAndOtherSetsTakeTheirConditions)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setFanControlMode(KLFanControlModeFanSet);
    settings.setFanSetName("Manual");
    open();
    click("addFanSetButton");
    // The applied set, even renamed first, cannot be removed.
    rename(0, "Daily");
    EXPECT_EQ(alertFrom([&] { cell<KLFanSetCellView>("fanSetsTableView", 0)->removeButton()->click(); }), "This fan set is in use. Choose System Control or another fan set before removing it.");
    EXPECT_EQ(setNames(), QStringList({"Daily", "Untitled Set"}));

    // A condition on the new set goes with it, at once.
    click("addFanConditionButton");
    click("addFanConditionButton");
    cell<KLFanConFanSetCellView>("autoBoostConditionTableView", 1, 3)->namePopUpButton()->activated(1);
    ASSERT_EQ(sheet->fanConditions()[1]->fanSet(), sheet->fanSets()[1]);
    cell<KLFanSetCellView>("fanSetsTableView", 1)->removeButton()->click();
    EXPECT_EQ(setNames(), QStringList({"Daily"}));
    ASSERT_EQ(sheet->fanConditions().size(), 1);
    EXPECT_EQ(table("autoBoostConditionTableView")->numberOfRows(), 1);

    // Saved, the mode follows the applied set's new name.
    click("saveButton");
    EXPECT_EQ(settings.fanSetName(), "Daily");
    StoreConnection store = otherProgram();
    EXPECT_EQ(storedNames(store), QStringList({"Daily"}));
    EXPECT_EQ(store.fetch("FanCondition").size(), 1);
}

// A program asked to end takes down what it shows: the sheet as by Cancel,
// a file chooser as cancelled, an open menu.
TEST_F(FanRulesSheetTest, EndingModalSessionsDismissesTheSheetWithoutSavingItsEdits)
{
    open();
    click("addFanSetButton");
    std::optional<NSModalResponse> chosen;
    NSOpenPanel::openPanel()->beginSheetModalForWindow(&presenter,
                                                       [&](NSModalResponse response) { chosen = response; });
    QMenu menu;
    menu.addAction(QStringLiteral("Item"));
    menu.popup(presenter.mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(waitUntil([&] { return menu.isVisible(); }));

    NSApplicationModal::abortModalSessions();
    drainMainQueue();
    EXPECT_EQ(sheet->presentingViewController(), nullptr);
    EXPECT_EQ(presenter.presentedViewController(), nullptr);
    EXPECT_EQ(presenter.saves, 0);
    EXPECT_EQ(chosen, NSModalResponseCancel);
    EXPECT_FALSE(menu.isVisible());
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_FALSE(window->isVisible() && window != &presenter) << window->metaObject()->className();
    StoreConnection store = otherProgram();
    EXPECT_EQ(storedNames(store), QStringList({"Manual"}));
}

// The same with an alert shown over the sheet: both go, the alert first.
TEST_F(FanRulesSheetTest, EndingModalSessionsTakesDownAnAlertOverTheSheet)
{
    open();
    QTimer watch;
    bool alertSeen = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            alertSeen = true;
            NSApplicationModal::abortModalSessions();
        }
    });
    watch.start(20);
    // A blank name: the sheet explains, a moment later, in an alert.
    rename(0, QString());
    EXPECT_TRUE(waitUntil([&] { return sheet->presentingViewController() == nullptr; }, 5000));
    EXPECT_TRUE(alertSeen);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(presenter.saves, 0);
}

}  // namespace
