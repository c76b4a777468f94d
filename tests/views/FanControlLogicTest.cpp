// The fan-control rules every fan box shares: pop-up, speeds, link, fan set.
#include <gtest/gtest.h>
#include <limits>

#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanControlLogic.h"
#include "KLFanSet.h"
#include "NSBundle.h"
#include "PrivateBus.h"
#include "TestHome.h"

namespace {

using namespace KLFanControlLogic;

TEST(FanControlLogicTest, SpeedsAreTruncatedAndHeldWithinTheFansRange)
{
    EXPECT_EQ(speedForFraction(0.25, 1200, 6000), 2400);
    EXPECT_EQ(speedForFraction(1.0, 1200, 6000), 6000);
    EXPECT_EQ(speedForFraction(0.0, 1200, 6000), 1200);
    EXPECT_EQ(speedForFraction(1.0 / 3, 1000, 2000), 1333);  // 1333.33 toward zero
    EXPECT_EQ(speedForFraction(1.7, 1200, 6000), 6000);
    EXPECT_EQ(speedForFraction(-0.5, 1200, 6000), 1200);
    // No width: the minimum, whatever the fraction, also when it is not a number.
    EXPECT_EQ(speedForFraction(0.8, 3000, 3000), 3000);
    EXPECT_EQ(speedForFraction(fractionForSpeed(3000, 3000, 3000), 3000, 3000), 3000);
    EXPECT_EQ(speedForFraction(std::nan(""), 1200, 6000), 1200);
    EXPECT_EQ(speedForFraction(1.0, 1200, 6000.7), 6000);
    EXPECT_EQ(speedForFraction(0.5, std::nan(""), 6000), 0);
    // A range another program stored beyond any speed holds at the largest one, never wraps.
    EXPECT_EQ(speedForFraction(0.5, 1e30, 1e30), std::numeric_limits<long long>::max());
    EXPECT_EQ(speedForFraction(1.0, 0, 1e30), std::numeric_limits<long long>::max());
    EXPECT_DOUBLE_EQ(fractionForSpeed(3600, 1200, 6000), 0.5);
}

TEST(FanControlLogicTest, TheLinkMovesEveryFanToTheSameShareOfItsOwnRange)
{
    // Fans without a key or without a usable range get nothing.
    const QList<Fan> fans{{"0", 1200, 6000}, {"1", 1000, 5000}, {"", 0, 100}, {"2", 5000, 1000}, {"3", std::nan(""), 100}};
    const KLFanSpeeds before{{"0", 2000}, {"1", 2000}, {"7", 4000}};
    const KLFanSpeeds linked = speedsWithFraction(before, fans, "1", 0.5, true);
    EXPECT_EQ(linked, (KLFanSpeeds{{"0", 3600}, {"1", 3000}, {"7", 4000}}));
    const KLFanSpeeds alone = speedsWithFraction(before, fans, "1", 0.5, false);
    EXPECT_EQ(alone, (KLFanSpeeds{{"0", 2000}, {"1", 3000}, {"7", 4000}}));
    // No fan selected and no link: nothing changes.
    EXPECT_EQ(speedsWithFraction(before, fans, QString(), 0.5, false), before);

    // The only speed of a fan without a range is no share of anything: with the
    // link on, the other fans keep their speeds.
    const QList<Fan> withFixed = fans + QList<Fan>{{"4", 3000, 3000}};
    EXPECT_EQ(speedsWithFraction(before, withFixed, "4", fractionForSpeed(3000, 3000, 3000), true),
              (KLFanSpeeds{{"0", 2000}, {"1", 2000}, {"4", 3000}, {"7", 4000}}));
    // A speed button still moves every fan, the fixed one to its only speed.
    EXPECT_EQ(speedsWithFraction(before, withFixed, "4", 1.0, true),
              (KLFanSpeeds{{"0", 6000}, {"1", 5000}, {"4", 3000}, {"7", 4000}}));
}

TEST(FanControlLogicTest, ThePopUpShowsTheStoredModeAndMapsChoicesBack)
{
    const QStringList sets{"Quiet", "Loud"};
    const QList<PopUpItem> items = popUpItems(sets);
    ASSERT_EQ(items.size(), 6);
    EXPECT_EQ(items[0].kind, PopUpItem::System);
    EXPECT_EQ(items[1].kind, PopUpItem::Separator);
    EXPECT_EQ(items[3].title, QStringLiteral("Loud"));
    EXPECT_EQ(items[4].kind, PopUpItem::Separator);
    EXPECT_EQ(items[5].kind, PopUpItem::AutoBoost);
    EXPECT_EQ(popUpItems({}).size(), 4);

    EXPECT_EQ(selectedPopUpIndex(KLFanControlModeSystem, "Loud", sets), 0);
    EXPECT_EQ(selectedPopUpIndex(KLFanControlModeFanSet, "Loud", sets), 3);
    EXPECT_EQ(selectedPopUpIndex(KLFanControlModeFanSet, "Gone", sets), 0);
    EXPECT_EQ(selectedPopUpIndex(KLFanControlModeFanSet, "Loud", {}), 0);
    EXPECT_EQ(selectedPopUpIndex(KLFanControlModeAutoBoost, "", sets), 5);
    EXPECT_EQ(selectedPopUpIndex(7, "Loud", sets), 3);

    EXPECT_EQ(choiceForPopUpIndex(0, 2).mode, unsigned(KLFanControlModeSystem));
    EXPECT_EQ(choiceForPopUpIndex(5, 2).mode, unsigned(KLFanControlModeAutoBoost));
    EXPECT_EQ(choiceForPopUpIndex(3, 2).fanSetIndex, 1);
    EXPECT_EQ(choiceForPopUpIndex(3, 0).mode, unsigned(KLFanControlModeAutoBoost));
    EXPECT_EQ(choiceForPopUpIndex(1, 2).fanSetIndex, -1);
}

TEST(FanControlLogicTest, SpeedsAreWrittenToTheSetTheNameSelectsAtTheWrite)
{
    static PrivateBus bus;
    static TestHome home;
    NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
    KLDataManager& settings = KLDataManager::sharedInstance();
    KLFanSet* a = KLFanSet::fanSetWithName("A", KLFanSpeeds{{"0", 1500}});
    KLFanSet* b = KLFanSet::fanSetWithName("B", std::nullopt);
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    const QList<Fan> fans{{"0", 1200, 6000}, {"1", 1000, 5000}};

    settings.setFanSetName("A");
    EXPECT_EQ(selectedFanSet(), a);
    ASSERT_TRUE(writeSpeedFraction(fans, "1", 0.25, false));
    EXPECT_EQ(a->valueDict(), (KLFanSpeeds{{"0", 1500}, {"1", 2000}}));

    settings.setFanSetName("B");
    ASSERT_TRUE(writeSpeedFraction(fans, "1", 1.0, true));
    EXPECT_EQ(b->valueDict(), (KLFanSpeeds{{"0", 6000}, {"1", 5000}}));
    EXPECT_EQ(a->valueDict(), (KLFanSpeeds{{"0", 1500}, {"1", 2000}}));

    // Deleted meanwhile: nothing is written and nothing is made.
    KLCoreDataHelper::sharedInstance().masterContext()->deleteObject(b);
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    EXPECT_EQ(selectedFanSet(), nullptr);
    EXPECT_FALSE(writeSpeedFraction(fans, "0", 0.5, true));
    EXPECT_EQ(fanSetNamed("B"), nullptr);
    EXPECT_EQ(fanSetNamed("A"), a);
    EXPECT_EQ(a->valueDict(), (KLFanSpeeds{{"0", 1500}, {"1", 2000}}));
    settings.setFanSetName("");
    EXPECT_EQ(selectedFanSet(), nullptr);
    NSBundle::setMainBundlePathForTesting({});
}

}  // namespace
