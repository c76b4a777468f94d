// The popover's screen and its sensor detail popover, offscreen, with the
// settings and the store of the test's own: heights, hover, the fan box and the
// links handed to Kelvara (a stand-in owning Kelvara's bus name).
#include <QComboBox>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include "ClippedTexts.h"
#include "OverlappingControls.h"
#include "FreshState.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanControlLogic.h"
#include "KLFanController.h"
#include "KLFanSet.h"
#include "KLMenuBarController.h"
#include "KLMenuStoryboard.h"
#include "KLPopupDetailViewController.h"
#include "KLPopupSensorCellView.h"
#include "KLPopupViewController.h"
#include "KLSensor.h"
#include "KLSensorCellView.h"
#include "KLTrackingTableView.h"
#include "NSDistributedNotificationCenter.h"
#include "NSEvent.h"
#include "NSNotificationCenter.h"
#include "NSPopover.h"
#include "NSScreen.h"
#include "NSStoryboard.h"
#include "NSUserDefaults.h"
#include "QtApplication.h"
#include "SessionBus.h"
#include "StoreFixture.h"
#include "TSSwitch.h"
#include "TestHome.h"

namespace {

bool waitUntil(const std::function<bool()>& condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

// Kelvara as the menu program reaches it: the owner of its bus name, taking links.
class FakeKelvara : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.orvane.kelvara.Application")
public:
    QStringList links;
public slots:
    void OpenURL(const QString& url) { links.append(url); }
    void Activate() {}
};

class PopupScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(startAfresh());
        KLDataManager& settings = KLDataManager::sharedInstance();
        settings.setTempUnitCelsius(true);
        settings.setFanControlMode(KLFanControlModeSystem);
        settings.setManualLinkEnabled(false);
        temperatures = category(QStringLiteral("Popover Temperatures"), KLCategoryTypeTemperature, QStringLiteral("PT"), 8, 40, 0, 100);
        fans = category(QStringLiteral("Fan"), KLCategoryTypeFan, QStringLiteral("F"), 2, 2000, 1200, 6000);
        // Only the test's temperatures in the list.
        QVariantList items{QVariantMap{{QStringLiteral("Main"), true}}, QVariantMap{{QStringLiteral("Fans"), true}}};
        for (KLCategory* each : KLCategory::allObjects())
            items.append(QVariantMap{{each->name(), each->name() == QLatin1String("Popover Temperatures")}});
        settings.setDropdownItems(items);
        KLCoreDataHelper::sharedInstance().saveMasterContext();
        NSNotificationCenter::defaultCenter().addObserver(
            this, QString::fromLatin1(KLMenuBarControllerShouldClosePopupNotification),
            [this](const NSNotification&) { ++closeNotices; });
    }
    void TearDown() override
    {
        NSNotificationCenter::defaultCenter().removeObserver(this);
        NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
    }

    QList<KLSensor*> category(const QString& name, int type, const QString& prefix, int count, double value, double min,
                              double max)
    {
        KLCategory* made = KLCategory::categoryWithName(name);
        made->setType(type);
        QList<KLSensor*> sensors;
        for (int i = 0; i < count; ++i) {
            KLSensor* sensor = KLSensor::sensorWithKey(prefix + QString::number(i));
            sensor->setName(QStringLiteral("%1 %2").arg(name).arg(i));
            sensor->setValue(value + i);
            sensor->setMinValue(min);
            sensor->setMaxValue(max);
            sensor->setCategory(made);
            sensors.append(sensor);
        }
        return sensors;
    }

    // The screen in its popover below a top panel, as the status item shows it.
    KLPopupViewController* show()
    {
        auto* screen = dynamic_cast<KLPopupViewController*>(
            KLMenuStoryboard::storyboard().instantiateControllerWithIdentifier(QStringLiteral("popupViewController")));
        popover.setContentViewController(screen);
        const QRect area = NSScreen::visibleFrame(NSScreen::mainScreen());
        popover.showRelativeToRect(QRect(area.right() - 40, area.top() - 10, 1, 1), NSRectEdgeMinY);
        QCoreApplication::processEvents();
        return screen;
    }

    static KLTrackingTableView* list(KLPopupViewController* screen)
    {
        return screen->findChild<KLTrackingTableView*>(QStringLiteral("tableView"));
    }
    // A point of the list's visible part, in global coordinates.
    static QPoint at(KLPopupViewController* screen, int x, int y)
    {
        return list(screen)->viewport()->mapToGlobal(QPoint(x, y));
    }

    QList<KLSensor*> temperatures;
    QList<KLSensor*> fans;
    NSPopover popover;
    int closeNotices = 0;
};

TEST_F(PopupScreenTest, HeightsFollowTheLayoutAndTheScreen)
{
    // Forty rows on an 800-point screen beside the tile and a two-fan box in system mode.
    EXPECT_EQ(KLPopupViewController::tableBoxHeight(40, 800, 82, 144), 471);
    EXPECT_EQ(KLPopupViewController::tableBoxHeight(3, 800, 82, 144), 80);
    EXPECT_EQ(KLPopupViewController::tableBoxHeight(40, 800, -10, -10), 717);
    // A screen too low for the rest still leaves one row in view.
    EXPECT_EQ(KLPopupViewController::tableBoxHeight(40, 300, 82, 190), 40);

    KLPopupViewController* screen = show();
    EXPECT_EQ(screen->fanControlHeight(), 144);
    EXPECT_EQ(screen->fanControlTableViewHeightConstraint(), 62);
    // Header and eight sensors, as far as this screen allows.
    EXPECT_EQ(screen->dataDicts().size(), 9);
    EXPECT_TRUE(screen->dataDicts().first().header);
    EXPECT_EQ(screen->dataDicts().first().title, QStringLiteral("TEMPERATURE"));
    EXPECT_EQ(screen->tableBoxHeightConstraint(),
              KLPopupViewController::tableBoxHeight(9, NSScreen::mainScreenVisibleHeight(), 82, 144));
    // Each row's parts lie wholly inside its 20 points.
    QCoreApplication::processEvents();
    const QList<KLPopupSensorCellView*> rows = list(screen)->findChildren<KLPopupSensorCellView*>();
    ASSERT_FALSE(rows.isEmpty());
    for (KLPopupSensorCellView* row : rows) {
        EXPECT_LE(row->height(), 20);
        EXPECT_TRUE(row->rect().contains(row->titleField()->geometry()));
        EXPECT_TRUE(row->rect().contains(row->iconImageView()->geometry()));
    }

    KLDataManager::sharedInstance().setFanControlMode(KLFanControlModeFanSet);
    EXPECT_EQ(screen->fanControlHeight(), 190);
    // Only two sections: no list, its box and gap gone.
    QVariantList hidden{QVariantMap{{QStringLiteral("Main"), false}}, QVariantMap{{QStringLiteral("Fans"), false}}};
    for (KLCategory* each : KLCategory::allObjects())
        hidden.append(QVariantMap{{each->name(), false}});
    KLDataManager::sharedInstance().setDropdownItems(hidden);
    screen->reloadData();
    EXPECT_TRUE(screen->dataDicts().isEmpty());
    EXPECT_FALSE(screen->findChild<QWidget*>(QStringLiteral("tableBox"))->isVisible());
    EXPECT_EQ(screen->tableBoxTopConstraint(), -screen->findChild<QWidget*>(QStringLiteral("tableBox"))->height());
    EXPECT_FALSE(screen->findChild<QWidget*>(QStringLiteral("fanControlBox"))->isVisible());
    EXPECT_FALSE(screen->findChild<QWidget*>(QStringLiteral("cpuTempView"))->isVisible());
}

// No text of the popover is wider than its control and no control lies over
// another, in any language, in the system mode and with a fan set (speed
// buttons shown); the mode pop-up fits every item. The same for the detail
// popover of a hovered row.
TEST_F(PopupScreenTest, EveryTextFitsInEveryLanguage)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    const auto english = qScopeGuard([&] { settings.setCurrentLanguage(QStringLiteral("en")); });
    QStringList clipped;
    for (const QString& language : settings.allLanguages()) {
        settings.setCurrentLanguage(language);
        for (const unsigned mode : {unsigned(KLFanControlModeSystem), unsigned(KLFanControlModeFanSet)}) {
            settings.setFanControlMode(mode);
            KLPopupViewController* screen = show();
            QCoreApplication::processEvents();
            for (const QString& found : ClippedTexts::find(screen) + OverlappingControls::find(screen))
                clipped << QStringLiteral("%1 mode %2: %3").arg(language).arg(mode).arg(found);
            screen->trackingTableViewMouseMoved(at(screen, 40, list(screen)->rectOfRow(2).center().y()));
            EXPECT_TRUE(screen->detailPopover()->isShown()) << language.toStdString();
            QCoreApplication::processEvents();
            const QWidget* detail = screen->detailViewController();
            for (const QString& found : ClippedTexts::find(detail) + OverlappingControls::find(detail))
                clipped << QStringLiteral("%1 detail: %2").arg(language, found);
            popover.close();
        }
    }
    clipped.removeDuplicates();
    EXPECT_TRUE(clipped.isEmpty()) << clipped.join(QLatin1Char('\n')).toStdString();
}

// The language changes while the popover is closed (Kelvara writes it, this
// program reads the settings anew): the next opening is sized for it, the fan
// box's title and pop-up whole and inside the popover.
TEST_F(PopupScreenTest, AnOpeningAfterAChangeOfLanguageIsSizedForIt)
{
    const auto english = qScopeGuard([] { KLDataManager::sharedInstance().setCurrentLanguage(QStringLiteral("en")); });
    KLPopupViewController* screen = show();
    popover.close();
    NSUserDefaults(QString::fromLatin1(KLAppGroupSuiteName))
        .setObject(QStringLiteral("fr"), QString::fromLatin1(KLCurrentLanguageKey));
    const QRect area = NSScreen::visibleFrame(NSScreen::mainScreen());
    popover.showRelativeToRect(QRect(area.right() - 40, area.top() - 10, 1, 1), NSRectEdgeMinY);
    QCoreApplication::processEvents();
    auto* title = screen->findChild<QLabel*>(QStringLiteral("fanControlSectionField"));
    auto* mode = screen->findChild<QComboBox*>(QStringLiteral("fanControlModeButton"));
    EXPECT_EQ(title->text(), QStringLiteral("Contrôle des ventilateurs"));
    const QStringList clipped = ClippedTexts::find(screen);
    EXPECT_TRUE(clipped.isEmpty()) << clipped.join(QLatin1Char('\n')).toStdString();
    EXPECT_LE(mode->geometry().right(), screen->findChild<QWidget*>(QStringLiteral("fanControlBox"))->contentsRect().right());
}

// The list has room for the simulated Mac's longest sensor name: it shows
// whole, in English and Vietnamese, as does every other row's.
TEST_F(PopupScreenTest, TheLongestSensorNameShowsWhole)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    const auto english = qScopeGuard([&] { settings.setCurrentLanguage(QStringLiteral("en")); });
    temperatures[2]->setName(QStringLiteral("Platform Controller Hub Die"));
    for (const char* language : {"en", "vi"}) {
        SCOPED_TRACE(language);
        settings.setCurrentLanguage(QString::fromLatin1(language));
        KLPopupViewController* screen = show();
        QCoreApplication::processEvents();
        KLTrackingTableView* table = list(screen);
        int rows = 0;
        for (int row = 0; row < table->numberOfRows(); ++row) {
            auto* cell = qobject_cast<KLPopupSensorCellView*>(table->viewAtColumn(0, row, true));
            if (!cell)
                continue;
            ++rows;
            EXPECT_EQ(cell->titleField()->text().toStdString(), cell->sensor()->name().toStdString());
        }
        EXPECT_EQ(rows, temperatures.size());
        popover.close();
    }
}

TEST_F(PopupScreenTest, HoverProbesTenPointsBelowAndExitsByTheMargins)
{
    KLPopupViewController* screen = show();
    KLTrackingTableView* table = list(screen);
    const QRect second = table->rectOfRow(2);
    // The last points of row 2 count as row 3.
    screen->trackingTableViewMouseMoved(at(screen, 40, second.bottom() - 5));
    EXPECT_EQ(screen->selectedSensor(), screen->dataDicts()[3].sensor);
    EXPECT_EQ(table->selectedRow(), 3);
    ASSERT_TRUE(screen->detailPopover()->isShown());
    EXPECT_EQ(screen->detailViewController()->sensor(), screen->dataDicts()[3].sensor);
    EXPECT_EQ(screen->detailPopover()->shownEdge(), NSRectEdgeMinX);

    // Out to the left between the margins: towards the detail popover, which stays.
    screen->trackingTableViewMouseExited(at(screen, -4, 40));
    EXPECT_TRUE(screen->detailPopover()->isShown());
    EXPECT_EQ(table->selectedRow(), 3);

    // Out through the top margin, the right side or the bottom margin: closed.
    const int visible = table->visibleRect().height();
    for (const QPoint out : {QPoint(40, 5), QPoint(table->width() + 11, 40), QPoint(40, visible - 15)}) {
        screen->trackingTableViewMouseMoved(at(screen, 40, second.top()));
        ASSERT_TRUE(screen->detailPopover()->isShown());
        screen->trackingTableViewMouseExited(at(screen, out.x(), out.y()));
        EXPECT_FALSE(screen->detailPopover()->isShown()) << out.x() << "," << out.y();
        EXPECT_EQ(screen->selectedSensor(), nullptr);
        EXPECT_EQ(table->selectedRow(), -1);
    }

    // The header row: nothing highlighted, no detail.
    screen->trackingTableViewMouseMoved(at(screen, 40, second.top()));
    screen->trackingTableViewMouseMoved(at(screen, 40, -8));
    EXPECT_FALSE(screen->detailPopover()->isShown());
    EXPECT_EQ(table->selectedRow(), -1);
}

TEST_F(PopupScreenTest, EachTickShowsWhatTheHelperSavedReadOnce)
{
    KLPopupViewController* screen = show();
    // Kelvara Helper saves a new reading through a connection of its own.
    StoreConnection helper(storeFile());
    drainMainQueue();  // the set-up's save is queued
    const auto found = helper.fetch("Sensor", NSPredicate::withFormat("key = %@", QStringLiteral("PT0")));
    ASSERT_FALSE(found.isEmpty());
    auto* saved = dynamic_cast<KLSensor*>(found.first());
    ASSERT_TRUE(saved);
    saved->setValue(55);
    ASSERT_TRUE(helper.context->save());
    NSDistributedNotificationCenter::defaultCenter().postNotificationName(KLKelvaraTempDidChangeNotification);
    auto valueShown = [&] {
        auto* row = dynamic_cast<KLSensorCellView*>(list(screen)->viewAtColumn(0, 1, false));
        return row ? row->valueField()->text() : QString();
    };
    EXPECT_TRUE(waitUntil([&] { return valueShown().startsWith(QStringLiteral("55")); })) << valueShown().toStdString();
    // The store context was refreshed once, before the list read it, not again after.
    drainMainQueue();
    EXPECT_FALSE(screen->dataDicts()[1].sensor->isFault());
}

// Counts the paints of one widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

TEST_F(PopupScreenTest, MovesWithinARowRedrawNothingAndAnotherRowMovesTheDetail)
{
    KLPopupViewController* screen = show();
    const QRect third = list(screen)->rectOfRow(3);
    screen->trackingTableViewMouseMoved(at(screen, 40, third.top()));
    ASSERT_TRUE(screen->detailPopover()->isShown());
    QCoreApplication::processEvents();
    PaintCounter graph(screen->detailViewController()->findChild<QWidget*>(QStringLiteral("graphView")));
    const QRect placed = screen->detailPopover()->window()->geometry();

    for (int y = third.top() + 1; y < third.bottom() - 10; y += 2)
        screen->trackingTableViewMouseMoved(at(screen, 40 + y % 7, y));
    QCoreApplication::processEvents();
    EXPECT_EQ(graph.paints, 0);
    EXPECT_EQ(screen->detailViewController()->sensor(), screen->dataDicts()[3].sensor);

    // The next row: the detail shows its sensor, redrawn, one row lower.
    screen->trackingTableViewMouseMoved(at(screen, 40, third.bottom() - 5));
    QCoreApplication::processEvents();
    EXPECT_EQ(screen->detailViewController()->sensor(), screen->dataDicts()[4].sensor);
    EXPECT_EQ(list(screen)->selectedRow(), 4);
    EXPECT_GT(graph.paints, 0);
    EXPECT_EQ(screen->detailPopover()->window()->geometry(), placed.translated(0, third.height()));
}

TEST_F(PopupScreenTest, DetailPopoverGoesWithThePopoverAndOnlyWithClicksElsewhere)
{
    KLPopupViewController* screen = show();
    screen->trackingTableViewMouseMoved(at(screen, 40, list(screen)->rectOfRow(1).top()));
    ASSERT_TRUE(screen->detailPopover()->isShown());
    KLMenuBarController menu;

    // Clicks inside either popover close neither.
    QWidget* detail = screen->detailPopover()->window();
    auto* menuBarSwitch = detail->findChild<TSSwitch*>("menuBarSwitch");
    ASSERT_TRUE(menuBarSwitch);
    EXPECT_EQ(menuBarSwitch->trackSize(), QSizeF(38, 22));
    QTest::mouseClick(detail, Qt::LeftButton, {}, QPoint(detail->width() / 2, detail->height() - 12));
    QTest::mouseClick(popover.window(), Qt::LeftButton, {}, QPoint(20, popover.window()->height() - 5));
    QCoreApplication::processEvents();
    EXPECT_TRUE(screen->detailPopover()->isShown());
    EXPECT_TRUE(popover.isShown());

    // A click in another program closes the detail.
    NSEvent::deactivateApplicationForTesting();
    EXPECT_FALSE(screen->detailPopover()->isShown());
    EXPECT_EQ(screen->eventMonitor().monitor(), 0);

    // Closing the popover takes an open detail with it.
    screen->trackingTableViewMouseMoved(at(screen, 40, list(screen)->rectOfRow(1).top()));
    ASSERT_TRUE(screen->detailPopover()->isShown());
    popover.performClose();
    EXPECT_FALSE(screen->detailPopover()->isShown());
    EXPECT_EQ(screen->eventMonitor().monitor(), 0);
}

TEST_F(PopupScreenTest, FanBoxWritesTheSettingsAndTellsTheHelper)
{
    KLFanSet::fanSetWithName(QStringLiteral("Quiet"), KLFanSpeeds{});
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setFanSetName(QStringLiteral("Quiet"));
    settings.setFanControlMode(KLFanControlModeFanSet);
    int updates = 0;
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(KLFanControllerShouldUpdateNotification), [&updates](const NSNotification&) { ++updates; });
    KLPopupViewController* screen = show();
    screen->setToolInstalledCheck([] { return true; });

    // A quarter of 1200 to 6000 rpm for the selected fan alone, then for both.
    screen->findChild<QPushButton*>(QStringLiteral("fanManualUtil25Button"))->click();
    EXPECT_EQ(KLFanControlLogic::selectedFanSet()->valueDict().value_or(KLFanSpeeds{}),
              (KLFanSpeeds{{QStringLiteral("F0"), 2400}}));
    EXPECT_TRUE(waitUntil([&] { return updates == 1; }));
    screen->findChild<QToolButton*>(QStringLiteral("fanManualUtilLinkButton"))->click();
    EXPECT_TRUE(settings.manualLinkEnabled());
    screen->findChild<QPushButton*>(QStringLiteral("fanManualUtil50Button"))->click();
    EXPECT_EQ(KLFanControlLogic::selectedFanSet()->valueDict().value_or(KLFanSpeeds{}),
              (KLFanSpeeds{{QStringLiteral("F0"), 3600}, {QStringLiteral("F1"), 3600}}));
    EXPECT_TRUE(waitUntil([&] { return updates == 2; }));

    // The set in force chosen again stores its name again and tells Kelvara Helper to re-apply.
    auto* mode = screen->findChild<QComboBox*>(QStringLiteral("fanControlModeButton"));
    ASSERT_EQ(mode->currentText(), QStringLiteral("Quiet"));
    emit mode->activated(mode->currentIndex());
    EXPECT_TRUE(waitUntil([&] { return updates == 3; }));

    // Back to system control from the pop-up.
    settings.setDidAutoBoost(true);
    mode->setCurrentIndex(0);
    emit mode->activated(0);
    EXPECT_EQ(settings.fanControlMode(), unsigned(KLFanControlModeSystem));
    EXPECT_FALSE(settings.didAutoBoost());
    EXPECT_TRUE(waitUntil([&] { return updates == 4; }));
    EXPECT_EQ(closeNotices, 0);
}

TEST_F(PopupScreenTest, LinksGoToTheRunningKelvara)
{
    QDBusConnection bus = SessionBus::connection();
    FakeKelvara kelvara;
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/com/orvane/kelvara/Application"), &kelvara, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(QStringLiteral("com.orvane.kelvara")));
    KLPopupViewController* screen = show();
    auto* mode = screen->findChild<QComboBox*>(QStringLiteral("fanControlModeButton"));

    // Without the tool, the mode already in force chosen again asks nobody for anything.
    screen->setToolInstalledCheck([] { return false; });
    ASSERT_EQ(mode->currentIndex(), 0);
    emit mode->activated(0);
    EXPECT_TRUE(kelvara.links.isEmpty());
    EXPECT_EQ(closeNotices, 0);

    // Any other choice asks Kelvara to install it, and nothing changes here.
    mode->setCurrentIndex(mode->count() - 1);
    emit mode->activated(mode->count() - 1);
    EXPECT_EQ(kelvara.links, QStringList{QStringLiteral("kelvara://request_privilege_permission")});
    EXPECT_EQ(KLDataManager::sharedInstance().fanControlMode(), unsigned(KLFanControlModeSystem));
    EXPECT_EQ(mode->currentIndex(), 0);
    EXPECT_EQ(closeNotices, 1);

    // Auto boost without a condition: Kelvara's fan rules in auto-boost mode.
    kelvara.links.clear();
    screen->setToolInstalledCheck([] { return true; });
    mode->setCurrentIndex(mode->count() - 1);
    emit mode->activated(mode->count() - 1);
    EXPECT_EQ(kelvara.links, QStringList{QStringLiteral("kelvara://fan_rule/2")});
    EXPECT_EQ(KLDataManager::sharedInstance().fanControlMode(), unsigned(KLFanControlModeSystem));
    EXPECT_EQ(mode->currentIndex(), 0);

    // The edit button: the rules of the current mode.
    kelvara.links.clear();
    screen->findChild<QPushButton*>(QStringLiteral("fanControlEditButton"))->click();
    EXPECT_EQ(kelvara.links, QStringList{QStringLiteral("kelvara://fan_rule/0")});
    EXPECT_EQ(closeNotices, 3);

    // A stored mode the fan controller drives as auto boost opens the auto-boost rules.
    KLDataManager::sharedInstance().userDefaults().setInteger(3, KLFanControllerModeKey);
    kelvara.links.clear();
    screen->findChild<QPushButton*>(QStringLiteral("fanControlEditButton"))->click();
    EXPECT_EQ(kelvara.links, QStringList{QStringLiteral("kelvara://fan_rule/2")});
    KLDataManager::sharedInstance().setFanControlMode(KLFanControlModeSystem);
    bus.unregisterService(QStringLiteral("com.orvane.kelvara"));
}

}  // namespace

#include "PopupScreenTest.moc"
