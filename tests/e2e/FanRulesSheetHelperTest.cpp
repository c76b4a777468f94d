// The fan rules sheet of Kelvara against the real Kelvara Helper: what the
// sheet saves is what the helper applies, and what Cancel drops never
// reaches the file.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>

#include "Authorization.h"
#include "Dispatch.h"
#include "FakeNotificationServer.h"
#include "HelperProcess.h"
#include "KLFanControlViewController.h"
#include "KLFanController.h"
#include "KLMainStoryboard.h"
#include "NSStoryboard.h"
#include "KLSensor.h"
#include "RZSMC.h"
#include "TestAdministrator.h"
#include "TSSwitch.h"

namespace {

// Widgets need the full application object, made before anything makes a plain one.
bool widgetsApplication()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "kelvara-e2e";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app != nullptr;
}

// What the detail screen does when the sheet saved: apply the mode, tell the helper.
class DetailScreen : public NSViewController, public KLFanControlViewDelegate {
public:
    void fanControlViewControllerDidSaveData(KLFanControlSheet* sheet) override
    {
        KLDataManager& settings = KLDataManager::sharedInstance();
        if (settings.fanControlMode() != sheet->preferredMode()) {
            settings.setFanControlMode(sheet->preferredMode());
            settings.setDidAutoBoost(false);
        }
        dispatch_async(dispatch_get_main_queue(), [] {
            NSDistributedNotificationCenter::defaultCenter().postNotificationName(
                QString::fromLatin1(KLFanControllerShouldUpdateNotification));
        });
    }
};

// Every row of every table of the store file, in row order.
QStringList storeRows(const QString& path)
{
    SQLite::Database db(path.toStdString(), SQLite::OPEN_READWRITE);
    db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    QStringList rows;
    SQLite::Statement tables(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    while (tables.executeStep()) {
        const std::string table = tables.getColumn(0).getString();
        SQLite::Statement select(db, "SELECT * FROM \"" + table + "\" ORDER BY rowid");
        while (select.executeStep()) {
            QString row = QString::fromStdString(table);
            for (int i = 0; i < select.getColumnCount(); ++i)
                row += '|' + QString::fromStdString(select.getColumn(i).getString());
            rows << row;
        }
    }
    return rows;
}

class FanRulesSheetHelperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        helper.buildCatalogue();
        screen.resize(700, 700);
        screen.show();
        sheet = dynamic_cast<KLFanControlViewController*>(
            KLMainStoryboard::storyboard().instantiateControllerWithIdentifier("fanControlViewController"));
        ASSERT_NE(sheet, nullptr);
        sheet->setDelegate(&screen);
    }
    void TearDown() override { delete sheet; }

    void open(unsigned mode)
    {
        sheet->setPreferredMode(mode);
        screen.presentViewControllerAsSheet(sheet);
        drainMainQueue();
    }
    template <class T>
    T* child(const char* name) { return sheet->findChild<T*>(name); }
    template <class T>
    T* cell(const char* table, int row, int column = 0)
    {
        return dynamic_cast<T*>(child<NSTableView>(table)->viewAtColumn(column, row, true));
    }
    void click(const char* button) { child<QAbstractButton>(button)->click(); }
    void type(QLineEdit* field, const QString& text)
    {
        field->setText(text);
        emit field->editingFinished();
    }

    // A stand-in for the privileged tool, trusted as installed, that notes each command line.
    void installTool()
    {
        QFile tool(RZSMC::smcToolPath());
        ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
        tool.write(QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\n").arg(log()).toUtf8());
        tool.close();
        ASSERT_TRUE(TestAdministrator::giveToAdministrator(RZSMC::smcToolPath()));
        ASSERT_TRUE(KLFanController(false).isSMCBinaryInstalled());
    }
    QString log() const { return helper.home.path() + "/tool-runs.txt"; }
    QString toolRuns() const
    {
        QFile file(log());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    bool app = widgetsApplication();
    HelperProcess helper;
    FakeNotificationServer server;
    DetailScreen screen;
    KLFanControlViewController* sheet = nullptr;
};

TEST_F(FanRulesSheetHelperTest, ASavedConditionMakesTheHelperApplyItsSetAndSayIt)
{
    ASSERT_TRUE(server.registered);
    installTool();
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setFanControlMode(KLFanControlModeSystem);
    settings.setDidAutoBoost(false);
    settings.setAutoBoostNotificationEnabled(false);
    settings.setManualLinkEnabled(true);
    settings.setUpdateFrequency(KLUpdateFrequencyHigh);
    smc::VirtualSMC smc;
    ASSERT_TRUE(smc.setKeyValue("TC0P", 85));
    helper.countTicks();
    helper.start();
    ASSERT_TRUE(helper.waitForTicks(1));

    open(KLFanControlModeAutoBoost);
    child<TSSwitch>("autoBoostNotiSwitch")->toggleByUser();
    click("addFanSetButton");
    click("fanManualUtil100Button");  // linked: every fan at its maximum
    click("addFanConditionButton");
    const QList<KLSensor*> temps = KLSensor::tempSensors().value_or(QList<KLSensor*>());
    const qsizetype cpu = std::find_if(temps.begin(), temps.end(), [](KLSensor* s) { return s->key() == "TC0P"; }) -
                          temps.begin();
    ASSERT_LT(cpu, temps.size());
    emit cell<KLFanConSensorCellView>("autoBoostConditionTableView", 0, 0)->namePopUpButton()->activated(int(cpu) + 2);
    type(cell<KLFanConThresholdCellView>("autoBoostConditionTableView", 0, 1)->thresholdTextField(), "80");
    emit cell<KLFanConFanSetCellView>("autoBoostConditionTableView", 0, 3)->namePopUpButton()->activated(1);
    click("saveButton");
    EXPECT_EQ(sheet->presentingViewController(), nullptr);
    EXPECT_TRUE(settings.autoBoostNotificationEnabled());

    const QList<KLSensor*> fans = KLSensor::fanSensors().value_or(QList<KLSensor*>());
    const auto target = [](int fan, float rpm) {
        uint8_t bytes[4];
        std::memcpy(bytes, &rpm, sizeof bytes);
        return QString::asprintf("-k F%dTg -w %02x%02x%02x%02x", fan, bytes[0], bytes[1], bytes[2], bytes[3]);
    };
    ASSERT_TRUE(waitUntil([&] { return server.notices.size() >= 1; }, 15000));
    EXPECT_EQ(server.notices.first().summary, "Auto Boost Activated");
    EXPECT_TRUE(server.notices.first().body.contains(QStringLiteral("“Untitled Set”")));
    EXPECT_TRUE(waitUntil([&] {
        const QString runs = toolRuns();
        return runs.contains(target(0, float(fans[0]->maxValue()))) && runs.contains(target(1, float(fans[1]->maxValue())));
    })) << toolRuns().toStdString();
    EXPECT_TRUE(settings.didAutoBoost());
}

TEST_F(FanRulesSheetHelperTest, CancelLeavesTheStoreAsItWas)
{
    const QString file = KLCoreDataHelper::sharedInstance().applicationDocumentsDirectory() + "/Database.sqlite";
    KLDataManager::sharedInstance().setFanControlMode(KLFanControlModeSystem);
    open(KLFanControlModeFanSet);
    click("addFanConditionButton");
    click("saveButton");
    const QStringList before = storeRows(file);
    ASSERT_FALSE(before.filter(QRegularExpression("^ZFANCONDITION|^FanCondition", QRegularExpression::CaseInsensitiveOption)).isEmpty());

    open(KLFanControlModeFanSet);
    click("addFanSetButton");
    type(cell<KLFanSetCellView>("fanSetsTableView", 0)->nameTextField(), "Renamed");
    click("fanManualUtil75Button");
    type(cell<KLFanConThresholdCellView>("autoBoostConditionTableView", 0, 1)->thresholdTextField(), "99");
    click("addFanConditionButton");
    cell<KLFanConDeleteCellView>("autoBoostConditionTableView", 0, 4)->deleteButton()->click();
    cell<KLFanSetCellView>("fanSetsTableView", 1)->removeButton()->click();
    click("cancelButton");
    drainMainQueue();
    EXPECT_EQ(storeRows(file), before);
}

}  // namespace
