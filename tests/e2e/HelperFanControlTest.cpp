#include <QDBusMessage>
#include <QDBusMetaType>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "Authorization.h"
#include "HelperProcess.h"
#include "KLFanCondition.h"
#include "KLFanController.h"
#include "KLFanSet.h"
#include "KLSensor.h"
#include "NSRunningApplication.h"
#include "RZSMC.h"
#include "SessionBus.h"
#include "TestAdministrator.h"
#include "ToolRuns.h"

namespace {

// "Kelvara SMC" -k KEY -w HEX for a fan target on the default simulated Mac.
QString targetRun(int fan, float rpm)
{
    uint8_t bytes[4];
    std::memcpy(bytes, &rpm, sizeof bytes);
    return QString::asprintf("-k F%dTg -w %02x%02x%02x%02x", fan, bytes[0], bytes[1], bytes[2], bytes[3]);
}
QString modeRun(int fan, bool automatic)
{
    return QString::asprintf("-k F%dMd -w %s", fan, automatic ? "00" : "01");
}

class HelperFanControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        helper.buildCatalogue();
        // A stand-in for the privileged tool that notes each command line.
        QFile tool(RZSMC::smcToolPath());
        ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
        tool.write(QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\n").arg(log()).toUtf8());
        tool.close();
        tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Owned by root and the administrators with mode 6555: what the controller trusts.
    void markToolInstalled()
    {
        ASSERT_TRUE(TestAdministrator::giveToAdministrator(RZSMC::smcToolPath()));
        ASSERT_TRUE(KLFanController(false).isSMCBinaryInstalled());
    }
    QString log() const { return helper.home.path() + "/tool-runs.txt"; }

    QStringList loggedRuns() const
    {
        QFile file(log());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                              : QStringList();
    }
    // The tool runs seen so far, sorted (the runs are started without waiting,
    // so their order in the log is not theirs), once the count is reached, the
    // helper has finished the work that started them, and every run has ended;
    // then the log starts again.
    QStringList takeRuns(int expected)
    {
        EXPECT_TRUE(waitUntil([&] { return loggedRuns().size() >= expected; }, 30000));
        EXPECT_TRUE(helperTurned());
        EXPECT_TRUE(waitUntil([] { return toolRunsEnded(RZSMC::smcToolPath()); }, 30000));
        QStringList lines = loggedRuns();
        QFile::remove(log());
        lines.sort();
        return lines;
    }
    // The helper's event loop has answered a call: it has done what it had queued before the call came.
    bool helperTurned()
    {
        for (const NSRunningApplication& running :
             NSRunningApplication::runningApplicationsWithBundleIdentifier(QStringLiteral("com.orvane.kelvara.helper")))
            if (running.processIdentifier() == helper.process.processId())
                return running.activateAndWait();
        return false;
    }
    // The helper applies the rules half a second after an update notice. The
    // notice went ahead of the first call on this connection; a call that comes
    // once that half second is over is taken in a turn that also runs the due
    // application, if it has not run before, so the call after it is answered
    // after the application.
    void waitForTheUpdate()
    {
        ASSERT_TRUE(helperTurned());
        QElapsedTimer clock;
        clock.start();
        waitUntil([&] { return clock.elapsed() > 500; }, 1000);
        ASSERT_TRUE(helperTurned());
        ASSERT_TRUE(helperTurned());
    }
    static QStringList sorted(QStringList lines)
    {
        lines.sort();
        return lines;
    }
    // What the main program does after changing the fan rules; sent on the
    // connection that holds the main program's name, which the calls to the helper take too.
    void tellHelperToUpdate()
    {
        using UserInfo = QMap<QString, QString>;
        qDBusRegisterMetaType<UserInfo>();
        QDBusMessage post = QDBusMessage::createSignal(QStringLiteral("/com/orvane/kelvara/DistributedNotifications"),
                                                       QStringLiteral("com.orvane.kelvara.DistributedNotifications"),
                                                       QStringLiteral("Post"));
        post << QString::fromLatin1(KLFanControllerShouldUpdateNotification) << QString() << QVariant::fromValue(UserInfo());
        ASSERT_TRUE(SessionBus::connection().send(post));
    }
    void save()
    {
        KLCoreDataHelper::sharedInstance().saveMasterContext();
        drainMainQueue();
    }
    HelperProcess helper;
};

TEST_F(HelperFanControlTest, ModesDriveTheFansThroughTheInstalledTool)
{
    markToolInstalled();
    KLDataManager& settings = KLDataManager::sharedInstance();
    // Fan 1 is not in the set: it keeps whatever it runs at, never 0 rpm.
    KLFanSet::fanSetWithName("Quiet", KLFanSpeeds{{"0", 3000}});
    save();
    settings.setUpdateFrequency(2);
    settings.setFanControlMode(KLFanControlModeFanSet);
    settings.setFanSetName("Quiet");
    settings.setDidAutoBoost(false);

    helper.start();  // applies the stored mode once
    EXPECT_EQ(takeRuns(2), sorted({modeRun(0, false), targetRun(0, 3000)}));

    // Back to the system: each fan gets its minimum in automatic mode.
    settings.setFanControlMode(KLFanControlModeSystem);
    tellHelperToUpdate();
    EXPECT_EQ(takeRuns(4), sorted({modeRun(0, true), targetRun(0, 2160), modeRun(1, true), targetRun(1, 2000)}));

    // Auto boost: the CPU passes its condition, the set goes on and is announced.
    KLFanSet* max = KLFanSet::fanSetWithName("Max", KLFanSpeeds{{"0", 5927}, {"1", 6449}});  // 6449 is past fan 1's range
    KLSensor* cpu = KLSensor::sensorWithKey("TC0P");
    ASSERT_NE(KLFanCondition::fanConditionWithFanSet(max, cpu, 80, 0, KLCoreDataHelper::sharedInstance().masterContext()),
              nullptr);
    save();
    QMap<QString, QString> announced;
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(KLFanControllerAutoBoostActiveNotification),
        [&](const NSNotification& notice) {
            for (auto it = notice.userInfo.cbegin(); it != notice.userInfo.cend(); ++it)
                announced.insert(it.key(), it.value().toString());
        });
    smc::VirtualSMC smc;
    ASSERT_TRUE(smc.setKeyValue("TC0P", 85));
    helper.countTicks();
    settings.setFanControlMode(KLFanControlModeAutoBoost);
    settings.setUpdateFrequency(1);  // restarts the loop: the helper reads 85 °C at once
    ASSERT_TRUE(helper.waitForTicks(1));
    tellHelperToUpdate();
    EXPECT_EQ(takeRuns(2), sorted({modeRun(0, false), targetRun(0, 5927)}));
    ASSERT_TRUE(waitUntil([&] { return !announced.isEmpty(); }));
    EXPECT_EQ(announced.value("fanSetName"), "Max");
    EXPECT_EQ(announced.value("sensorName"), cpu->name());
    EXPECT_EQ(announced.value("sensorValue"), QStringLiteral("85°"));
    EXPECT_TRUE(settings.didAutoBoost());

    // Still holding: nothing is written again.
    tellHelperToUpdate();
    waitForTheUpdate();
    EXPECT_EQ(takeRuns(0), QStringList());

    // Cooled down: the fans go back to the system.
    ASSERT_TRUE(smc.setKeyValue("TC0P", 50));
    settings.setUpdateFrequency(2);  // a tick at once; at 10 s every tick re-evaluates auto boost
    EXPECT_EQ(takeRuns(4), sorted({modeRun(0, true), targetRun(0, 2160), modeRun(1, true), targetRun(1, 2000)}));
    EXPECT_FALSE(settings.didAutoBoost());

    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
    EXPECT_TRUE(helper.stop());
}

// A tool anyone could have put there is never started.
TEST_F(HelperFanControlTest, AToolThatIsNotInstalledIsNeverRun)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    KLFanSet::fanSetWithName("Quiet", KLFanSpeeds{{"0", 3000}, {"1", 3000}});
    save();
    settings.setFanControlMode(KLFanControlModeFanSet);
    settings.setFanSetName("Quiet");
    helper.countTicks();
    helper.start();
    ASSERT_TRUE(helper.waitForTicks(1));
    settings.setFanControlMode(KLFanControlModeSystem);
    tellHelperToUpdate();
    waitForTheUpdate();
    EXPECT_EQ(takeRuns(0), QStringList());
    EXPECT_TRUE(helper.stop());
}

}  // namespace
