// The file-logging screen against a running Kelvara Helper: what is ticked on
// the screen is what the helper writes, where the screen says.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "HelperProcess.h"
#include "KLFileLoggingConfigViewController.h"
#include "KLFileLoggingSensorEnabledCellView.h"
#include "KLMainStoryboard.h"
#include "KLSensor.h"
#include "NSOpenPanel.h"
#include "NSStoryboard.h"

namespace {

// Screens need a widget application; it must exist before the helper's
// support makes a plain one.
struct WidgetApplication {
    WidgetApplication()
    {
        if (QCoreApplication::instance())
            return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kelvara-e2e";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
};

class FileLoggingScreenHelperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
            GTEST_SKIP() << "needs a process of its own to make a widget application";
        helper.buildCatalogue();
        ASSERT_TRUE(smc::VirtualSMC().setKeyValue("TC0P", 41.2));
        QDir().mkpath(folder());
        settings().setUpdateFrequency(2);  // 10 s: no timer tick within a test
        settings().setFileLoggingEnabled(true);
        settings().setFileLoggingPath(folder() + "/Kelvara Log.csv");
        settings().setFileLoggingSensorKeys({"TC0P"});
        helper.countTicks();
    }
    void TearDown() override
    {
        screen.reset();
        EXPECT_TRUE(helper.stop());
    }

    static KLDataManager& settings() { return KLDataManager::sharedInstance(); }
    QString folder() const { return helper.home.path() + "/logs"; }
    static QString header(const QString& path)
    {
        QFile file(path + "/Kelvara Log.csv");
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed() : QString();
    }
    // A frequency change restarts the helper's loop, which ticks at once.
    void tick()
    {
        const int before = helper.ticks;
        settings().setUpdateFrequency(settings().updateFrequency() == 2 ? 1 : 2);
        ASSERT_TRUE(helper.waitForTicks(before + 1));
    }
    void clickSensor(const QString& key)
    {
        NSOutlineView* outline = screen->outlineView();
        const int row = outline->rowForItem(static_cast<NSManagedObject*>(KLSensor::sensorWithKey(key)));
        ASSERT_GE(row, 0);
        outline->scrollRowToVisible(row);
        auto* cell = qobject_cast<KLFileLoggingSensorEnabledCellView*>(outline->viewAtColumn(1, row, true));
        ASSERT_TRUE(cell);
        QTest::mouseClick(cell->checkButton(), Qt::LeftButton);
    }

    WidgetApplication application;
    HelperProcess helper;
    std::unique_ptr<KLFileLoggingConfigViewController> screen;
};

const QString kTemperature = "CPU Proximity (°C) (TC0P)";
const QString kFan = "LeftSide (rpm) (0)";

TEST_F(FileLoggingScreenHelperTest, TickedSensorsAreTheColumnsAndTheChosenFolderTakesTheLog)
{
    helper.start();
    ASSERT_TRUE(waitUntil([&] { return header(folder()) == "Date,Time," + kTemperature; }, 15000));

    screen.reset(dynamic_cast<KLFileLoggingConfigViewController*>(
        KLMainStoryboard::storyboard().instantiateControllerWithIdentifier("fileLoggingViewController")));
    ASSERT_TRUE(screen);
    screen->resize(640, 900);
    screen->show();

    clickSensor("0");
    tick();
    EXPECT_TRUE(waitUntil([&] { return header(folder()) == "Date,Time," + kTemperature + "," + kFan; }, 15000))
        << qPrintable(header(folder()));
    clickSensor("TC0P");
    tick();
    EXPECT_TRUE(waitUntil([&] { return header(folder()) == "Date,Time," + kFan; }, 15000))
        << qPrintable(header(folder()));

    const QString chosen = helper.home.path() + "/chosen";
    QDir().mkpath(chosen);
    NSOpenPanel::setNextAnswerForTesting(NSModalResponseOK, chosen);
    QTest::mouseClick(screen->findChild<QPushButton*>("chooseFolderButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return settings().fileLoggingPath() == chosen + "/Kelvara Log.csv"; }));
    tick();
    EXPECT_TRUE(waitUntil([&] { return header(chosen) == "Date,Time," + kFan; }, 15000))
        << qPrintable(header(chosen));
}

}  // namespace
