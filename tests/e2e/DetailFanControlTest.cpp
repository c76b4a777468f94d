// The detail screen's fan box against the real Kelvara Helper and the
// virtual SMC: the screen installs the tool through a stand-in administrator
// (the tool's own install mode when run as root), writes the rules, and the
// helper drives the simulated fans.
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

#include "HelperProcess.h"
#include "KLAnimation.h"
#include "KLCategory.h"
#include "KLDetailViewController.h"
#include "KLFanControlLogic.h"
#include "KLFanController.h"
#include "KLFanSet.h"
#include "KLMainStoryboard.h"
#include "KLSensor.h"
#include "NSStoryboard.h"
#include "TestAdministrator.h"

namespace {

// Screens need a widget application, made before the helper's support code
// would make a plain one.
QApplication& widgetApplication()
{
    static int argc = 1;
    static char name[] = "kelvara-e2e";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

class RecordingSheet : public NSViewController, public KLFanControlSheet {
public:
    unsigned preferredMode() const override { return mode; }
    void setPreferredMode(unsigned preferred) override { mode = preferred; }
    void setFanControlDelegate(KLFanControlViewDelegate*) override {}
    unsigned mode = 99;
};

class DetailFanControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KLAnimation::setImmediateForTesting(true);
        helper.buildCatalogue();
        KLMainStoryboard::storyboard().registerController(QStringLiteral("fanControlViewController"), [this] {
            sheet = new RecordingSheet;
            return sheet;
        });
    }
    void TearDown() override { KLAnimation::setImmediateForTesting(false); }

    bool targetsReach(const QList<double>& expected)
    {
        return waitUntil(
            [&] {
                for (qsizetype fan = 0; fan < expected.size(); ++fan)
                    if (std::abs(smc.fanTarget(int(fan)) - expected[fan]) > 0.5)
                        return false;
                return true;
            },
            15000);
    }
    QString targets()
    {
        return QStringLiteral("%1 %2").arg(smc.fanTarget(0)).arg(smc.fanTarget(1));
    }

    QApplication& app = widgetApplication();
    HelperProcess helper;
    TestAdministrator administrator;  // grants and installs
    smc::VirtualSMC smc;
    RecordingSheet* sheet = nullptr;
};

TEST_F(DetailFanControlTest, TheBoxDrivesTheSimulatedFansThroughTheHelper)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    KLFanSet::fanSetWithName("Quiet", KLFanSpeeds{{"0", 3000}, {"1", 3200}});
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    settings.setManualLinkEnabled(true);
    KLCategory* fans = nullptr;
    for (KLCategory* category : KLCategory::allObjects())
        if (category->type() == KLCategoryTypeFan)
            fans = category;
    ASSERT_NE(fans, nullptr);
    ASSERT_GE(fans->sensors().size(), 2);
    const QList<double> systemTargets{smc.fanTarget(0), smc.fanTarget(1)};
    helper.countTicks();
    helper.start();
    ASSERT_TRUE(helper.waitForTicks(1));

    KLDetailViewController screen;
    screen.resize(860, 700);
    screen.setCategory(fans);
    screen.show();
    drainMainQueue();
    auto* modes = screen.findChild<QComboBox*>("fanControlModeButton");
    ASSERT_NE(modes, nullptr);
    const int quiet = modes->findText("Quiet");
    ASSERT_GE(quiet, 2);

    // A fan set: the tool is installed first, then the helper sets the targets.
    modes->setCurrentIndex(quiet);
    emit modes->activated(quiet);
    EXPECT_TRUE(targetsReach({3000, 3200})) << targets().toStdString();
    ASSERT_TRUE(KLFanController(false).isSMCBinaryInstalled());

    // A speed button moves both linked fans to a quarter of their ranges.
    QList<double> quarter;
    for (KLSensor* fan : screen.sensors())
        quarter << double(KLFanControlLogic::speedForFraction(0.25, fan->minValue(), fan->maxValue()));
    QTest::mouseClick(screen.findChild<QPushButton*>("fanManualUtil25Button"), Qt::LeftButton);
    EXPECT_TRUE(targetsReach(quarter.mid(0, 2))) << targets().toStdString();

    // System control takes them back.
    modes->setCurrentIndex(0);
    emit modes->activated(0);
    EXPECT_TRUE(targetsReach(systemTargets)) << targets().toStdString();
    EXPECT_EQ(settings.fanControlMode(), unsigned(KLFanControlModeSystem));

    // What a "kelvara://fan_rule/2" link comes to on this screen.
    screen.handleDeepLink(QStringLiteral("/fan_rule/2"));
    ASSERT_TRUE(waitUntil([&] { return screen.presentedViewController() != nullptr; }));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->mode, unsigned(KLFanControlModeAutoBoost));
    screen.dismissViewController(sheet);
    EXPECT_TRUE(helper.stop());
}

}  // namespace
