// The main window driven offscreen: the sidebar built from the catalogue as
// Kelvara builds it, panes swapped by click and arrow keys, the Language menu,
// and the links Kelvara Menu hands over.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QProcess>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLMainStoryboard.h"
#include "KLMasterViewController.h"
#include "KLMenuController.h"
#include "KLSensorCellView.h"
#include "KLWindowController.h"
#include "NSAlert.h"
#include "NSAppearance.h"
#include "NSDistributedNotificationCenter.h"
#include "NSImage.h"
#include "NSNotificationCenter.h"
#include "NSStoryboard.h"
#include "NSString+KLExtension.h"
#include "AppTestSession.h"
#include "ClippedTexts.h"
#include "OverlappingControls.h"
#include "Contrast.h"
#include "KLDetailViewController.h"
#include "KLDropdownSettingsViewController.h"
#include "KLSettingsViewController.h"
#include "KLMenuCollectionViewItem.h"
#include "KLSensor.h"
#include "KLSensorCellView.h"
#include "RZLineGraphGeometry.h"
#include "RZLineGraphView.h"
#include "TSSwitch.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "HeldAdministrator.h"
#include "TestAdministrator.h"
#include "TestHome.h"

namespace {

// A category screen that records what the sidebar tells it.
class RecordingDetail : public NSViewController {
    Q_OBJECT
public:
    Q_INVOKABLE void setCategory(KLCategory* category) { categories << category; }
    Q_INVOKABLE void handleDeepLink(const QString& path) { links << path; }
    QList<KLCategory*> categories;
    QStringList links;
};

QString text(const char* key)
{
    return KLExtension::localizedStringForKey(QString::fromLatin1(key));
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        appTestSession();
        removeInstalledTool();
        // The window opens at its first size, whatever size a case before closed it at.
        KLDataManager::sharedInstance().userDefaults().removeObjectForKey(KLMainWindowGeometryKey);
        // Creating the settings builds the catalogue from the simulated Mac.
        KLDataManager::sharedInstance().setCurrentLanguage(QStringLiteral("en"));
        drainMainQueue();
    }
    // Also when a case stops early: its observers capture the case's locals.
    void TearDown() override { NSDistributedNotificationCenter::defaultCenter().removeObserver(this); }

    void open()
    {
        window = std::make_unique<KLWindowController>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        master = window->masterViewController();
        table = master->tableView();
    }
    int rowOfType(unsigned type) const
    {
        for (int i = 0; i < int(master->menuItems().size()); ++i) {
            if (master->menuItems()[i].type == type)
                return i;
        }
        return -1;
    }
    void click(int row)
    {
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->rectOfRow(row).center());
    }
    void postLink(const QString& path)
    {
        NSNotificationCenter::defaultCenter().postNotificationName(
            QStringLiteral("KLApplicationDidReceiveDeepLinkNotification"), path);
    }
    // Counts Kelvara Menu's requests to open its popover from here on (TearDown stops).
    void countPopoverRequests()
    {
        NSDistributedNotificationCenter::defaultCenter().addObserver(
            this, "KLMenuBarControllerShouldOpenPopupNotification", [this](const NSNotification&) { ++popoverRequests; });
    }

    std::unique_ptr<KLWindowController> window;
    KLMasterViewController* master = nullptr;
    NSTableView* table = nullptr;
    int popoverRequests = 0;
};

TEST_F(MainWindowTest, SidebarListsCategoriesWithSensorsThenTheFixedItemsAndSwapsPanes)
{
    open();
    EXPECT_EQ(window->windowTitle(), "Kelvara");
    EXPECT_EQ(window->size(), QSize(1100, 700));
    const auto label = [&](const char* name) { return master->findChild<QLabel*>(name); };
    EXPECT_FALSE(label("nameTextField")->text().isEmpty());
    EXPECT_EQ(label("deviceNoteTextField")->text(), "Simulated MacBookPro15,1");

    // Categories that have sensors, in type order, then the three fixed items.
    QStringList expected;
    int previousType = -1;
    for (KLCategory* category : KLCategory::allObjects()) {
        if (category->sensors().isEmpty())
            continue;
        EXPECT_GT(category->type(), previousType);
        previousType = category->type();
        expected << category->localizedName();
    }
    ASSERT_GE(expected.size(), 2);
    expected << "Notifications" << "File Logging" << "Settings";
    QStringList titles;
    for (const KLMenuItem& item : master->menuItems())
        titles << item.title;
    EXPECT_EQ(titles, expected);
    EXPECT_EQ(table->numberOfRows(), expected.size());

    // The first category is shown at start.
    NSViewController* detail = master->detailViewController();
    ASSERT_TRUE(detail);
    EXPECT_EQ(table->selectedRow(), 0);
    EXPECT_EQ(master->paneViewController(), detail);
    EXPECT_TRUE(detail->isVisible());

    // A click on Settings puts the settings screen in and hides the category.
    const int settings = rowOfType(KLMenuItemTypeSettings);
    click(settings);
    EXPECT_EQ(master->paneViewController(), master->settingsViewController());
    EXPECT_TRUE(master->settingsViewController()->isVisible());
    EXPECT_FALSE(detail->isVisible());

    // Arrow keys move the selection and the pane follows on the key's release.
    QTest::keyClick(table, Qt::Key_Up);
    EXPECT_EQ(table->selectedRow(), settings - 1);
    EXPECT_EQ(master->paneViewController(), master->fileLoggingViewController());
    EXPECT_FALSE(master->settingsViewController()->isVisible());
    QTest::keyClick(table, Qt::Key_Up);
    EXPECT_EQ(master->paneViewController(), master->notificationsViewController());
    QTest::keyClick(table, Qt::Key_Up);
    EXPECT_EQ(master->paneViewController(), detail);
    EXPECT_FALSE(master->notificationsViewController()->isVisible());

    // Out of range: the selection comes back and the pane stays.
    table->selectRowIndexes({1}, false);
    master->selectCellAtRow(int(expected.size()));
    EXPECT_EQ(table->selectedRow(), settings - 3);
    EXPECT_EQ(master->paneViewController(), detail);
}

TEST_F(MainWindowTest, LanguageMenuWritesTheSettingAndTextsFollow)
{
    // Cases after this one share the settings.
    const auto english = qScopeGuard([] { KLDataManager::sharedInstance().setCurrentLanguage(QStringLiteral("en")); });
    open();
    auto* menu = window->findChild<QMenu*>("languageMenu");
    ASSERT_TRUE(menu);
    const auto names = [&] {
        QStringList list;
        for (QAction* action : menu->actions())
            list << action->text() + (action->isChecked() ? "*" : "");
        return list;
    };
    EXPECT_EQ(names(), QStringList({"English*", "French", "German", "Spanish", "Vietnamese"}));
    EXPECT_EQ(menu->title(), "Language");
    // Choosing the language in use changes nothing and keeps its tick.
    menu->actions()[0]->trigger();
    drainMainQueue();
    EXPECT_EQ(names(), QStringList({"English*", "French", "German", "Spanish", "Vietnamese"}));

    menu->actions()[2]->trigger();
    EXPECT_EQ(KLDataManager::sharedInstance().userDefaults().stringForKey(KLCurrentLanguageKey), "de");
    ASSERT_TRUE(waitUntil([&] { return master->menuItems().last().title == "Einstellungen"; }));
    EXPECT_TRUE(waitUntil([&] { return names() == QStringList({"English", "French", "German*", "Spanish", "Vietnamese"}); }));
    EXPECT_EQ(menu->title(), "Sprache");
    EXPECT_EQ(window->findChild<QAction*>("quitAction")->text(), "Kelvara beenden");
    auto* cell = table->viewAtColumn(0, rowOfType(KLMenuItemTypeNotifications), false);
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->findChild<QLabel*>("textField")->text(), "Mitteilungen");
}

// Every pane of the window and the layout sheet, in every language: no text is
// wider than its control (pop-ups list every item), no control lies over
// another and no section title takes more than two lines, at the default size
// and at the pane's least size.
TEST_F(MainWindowTest, EveryPaneFitsItsTextsInEveryLanguage)
{
    const auto english = qScopeGuard([] { KLDataManager::sharedInstance().setCurrentLanguage(QStringLiteral("en")); });
    open();
    QStringList clipped;
    const auto overlapsAndLongTitles = [&] {
        QStringList found = OverlappingControls::find(window.get());
        for (const QLabel* title : window->findChildren<QLabel*>(QRegularExpression(QStringLiteral("SectionField$")))) {
            if (!title->isVisibleTo(window.get()) || !title->wordWrap())
                continue;
            const QFontMetrics metrics = title->fontMetrics();
            const int height = metrics.boundingRect(title->contentsRect(), Qt::TextWordWrap, title->text()).height();
            if (height > 5 * metrics.lineSpacing() / 2)
                found << QStringLiteral("%1 «%2» takes %3 points").arg(title->objectName(), title->text()).arg(height);
        }
        return found;
    };
    for (const QString& language : KLDataManager::sharedInstance().allLanguages()) {
        KLDataManager::sharedInstance().setCurrentLanguage(language);
        const QString settingsTitle = KLExtension::localizedStringForKey(QStringLiteral("side-bar-settings-item"));
        ASSERT_TRUE(waitUntil([&] { return master->menuItems().last().title == settingsTitle; })) << language.toStdString();
        for (int row = 0; row < table->numberOfRows(); ++row) {
            window->resize(1100, 700);
            click(row);
            drainMainQueue();
            for (const QString& found : ClippedTexts::find(window.get()) + overlapsAndLongTitles())
                clipped << QStringLiteral("%1 row %2: %3").arg(language).arg(row).arg(found);
            window->resize(1, 1);
            drainMainQueue();
            for (const QString& found : overlapsAndLongTitles())
                clipped << QStringLiteral("%1 row %2 at its least size: %3").arg(language).arg(row).arg(found);
        }
        window->resize(1100, 700);
        // The settings pane's sheet with its rows.
        auto* settings = qobject_cast<KLSettingsViewController*>(master->settingsViewController());
        ASSERT_TRUE(settings);
        settings->findChild<QPushButton*>(QStringLiteral("editMenuDropdownButton"))->click();
        KLDropdownSettingsViewController* sheet = settings->dropdownSettingsViewController();
        ASSERT_TRUE(sheet && sheet->presentingViewController() == settings);
        ASSERT_TRUE(waitUntil([&] { return sheet->dropDownItemsTableView()->numberOfRows() > 0; }));
        drainMainQueue();
        for (const QString& found : ClippedTexts::find(sheet) + OverlappingControls::find(sheet))
            clipped << QStringLiteral("%1 layout sheet: %2").arg(language, found);
        settings->dismissViewController(sheet);
    }
    clipped.removeDuplicates();
    EXPECT_TRUE(clipped.isEmpty()) << clipped.join(QLatin1Char('\n')).toStdString();
}

TEST_F(MainWindowTest, GrantedPrivilegeLinkAsksKelvaraMenuToOpenItsPopover)
{
    open();
    countPopoverRequests();
    TestAdministrator administrator(TestAdministrator::Run);
    postLink("/request_privilege_permission");
    EXPECT_TRUE(waitUntil([&] { return popoverRequests == 1; }, 15000));
    EXPECT_EQ(administrator.prompts, 1);
    EXPECT_FALSE(NSAlert::takeAskedForTesting());
}

TEST_F(MainWindowTest, RefusedPrivilegeLinkShowsTheCriticalAlertOnly)
{
    open();
    countPopoverRequests();
    TestAdministrator administrator(TestAdministrator::Refuse);
    NSAlert::setNextAnswerForTesting(NSAlertFirstButtonReturn);
    postLink("/request_privilege_permission");
    ASSERT_TRUE(waitUntil([] { return !NSAlert::hasPendingAnswerForTesting(); }, 15000));
    const auto asked = NSAlert::takeAskedForTesting();
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->style, NSAlertStyleCritical);
    EXPECT_EQ(asked->messageText, text("fan-control-authorization-failed-alert-title"));
    EXPECT_EQ(asked->informativeText, text("fan-control-authorization-failed-alert-message"));
    drainMainQueue();
    EXPECT_EQ(popoverRequests, 0);
}

// Any program on the session bus can send links. However many come while the
// administrator is being asked or the refusal is shown, they ask once and
// show one alert, never one inside another.
TEST_F(MainWindowTest, AFloodOfLinksAsksOnceAndShowsOneAlert)
{
    open();
    countPopoverRequests();
    HeldAdministrator administrator(TestAdministrator::Refuse);
    const auto flood = [&] {
        for (int i = 0; i < 50; ++i) {
            postLink("/request_privilege_permission");
            postLink("/fan_rule/2");
        }
    };
    flood();
    ASSERT_TRUE(waitUntil([&] { return administrator.asked > 0; }));
    drainMainQueue();

    // Each alert is answered as it comes; a second flood arrives while the first is up.
    int alerts = 0;
    int mostShown = 0;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        int shown = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            shown += qobject_cast<QMessageBox*>(widget) && widget->isVisible();
        mostShown = std::max(mostShown, shown);
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (++alerts == 1)
            flood();
        box->buttons().first()->click();
    });
    answerer.start(10);
    administrator.release();
    ASSERT_TRUE(waitUntil([&] { return alerts > 0 && !QApplication::activeModalWidget(); }, 15000));
    for (int i = 0; i < 5; ++i)
        drainMainQueue();
    EXPECT_EQ(alerts, 1);
    EXPECT_EQ(mostShown, 1);
    EXPECT_EQ(administrator.asked, 1);
    EXPECT_EQ(popoverRequests, 0);
    EXPECT_EQ(master->paneViewController(), master->detailViewController());
}

TEST_F(MainWindowTest, FanRuleLinkSelectsTheFanCategoryAndOtherPathsDoNothing)
{
    auto* detail = new RecordingDetail;
    const StoryboardStandIn<KLDetailViewController> details("detailViewController", [detail] { return detail; });
    open();
    ASSERT_EQ(master->detailViewController(), detail);
    qsizetype fan = -1;
    for (qsizetype i = 0; i < master->categories().size() && fan < 0; ++i) {
        if (master->categories()[i]->type() == KLCategoryTypeFan)
            fan = i;
    }
    ASSERT_GT(fan, 0);
    const int settings = rowOfType(KLMenuItemTypeSettings);
    click(settings);
    detail->categories.clear();

    postLink("/fan_rule/2");
    EXPECT_EQ(table->selectedRow(), fan);
    EXPECT_EQ(master->paneViewController(), detail);
    EXPECT_EQ(detail->categories, QList<KLCategory*>({master->categories()[fan]}));
    EXPECT_EQ(detail->links, QStringList({"/fan_rule/2"}));

    // Only whole components and known modes count; nothing else is asked for.
    click(settings);
    TestAdministrator administrator(TestAdministrator::Refuse);
    for (const char* path : {"/fan_rules", "/fan_rule/7", "/fan_rule/2/x", "/request_privilege_permission/",
                             "/request_privilege_permissions", "/other"})
        postLink(path);
    drainMainQueue();
    EXPECT_EQ(table->selectedRow(), settings);
    EXPECT_EQ(master->paneViewController(), master->settingsViewController());
    EXPECT_EQ(detail->links, QStringList({"/fan_rule/2"}));
    EXPECT_EQ(administrator.prompts, 0);
}

// A new catalogue keeps the item a link or the user chose, and the pane
// always shows the highlighted item.
TEST_F(MainWindowTest, CatalogueNoticeKeepsTheChosenItemOnShow)
{
    auto* detail = new RecordingDetail;
    const StoryboardStandIn<KLDetailViewController> details("detailViewController", [detail] { return detail; });
    open();
    int fan = -1;
    for (int i = 0; i < int(master->categories().size()) && fan < 0; ++i)
        if (master->categories()[i]->type() == KLCategoryTypeFan)
            fan = i;
    ASSERT_GT(fan, 0);
    const auto catalogueBuilt = [] {
        NSNotificationCenter::defaultCenter().postNotificationName(
            QString::fromLatin1(KLDataManagerDidGenerateDatasetNotification));
    };

    postLink("/fan_rule/1");
    detail->categories.clear();
    catalogueBuilt();
    EXPECT_EQ(table->selectedRow(), fan);
    EXPECT_EQ(master->selectedRow(), fan);
    EXPECT_EQ(master->paneViewController(), detail);
    ASSERT_FALSE(detail->categories.isEmpty());
    EXPECT_EQ(detail->categories.last()->type(), KLCategoryTypeFan);

    const int settings = rowOfType(KLMenuItemTypeSettings);
    click(settings);
    catalogueBuilt();
    EXPECT_EQ(table->selectedRow(), settings);
    EXPECT_EQ(master->paneViewController(), master->settingsViewController());

    // A selection made in code highlights its row too.
    master->selectCellAtRow(0);
    EXPECT_EQ(table->selectedRow(), 0);
    EXPECT_EQ(master->paneViewController(), detail);
}

// The look follows a change of appearance: the rows a table made before it and
// a screen hidden during it, as the program applies it.
TEST_F(MainWindowTest, ScreensFollowAChangeOfAppearance)
{
    const auto backToLight = qScopeGuard([] {
        NSAppearance::forceDarkModeForTesting(std::nullopt);
        NSAppearance::applyApplicationPalette();
    });
    const auto change = [](bool dark) {
        NSAppearance::forceDarkModeForTesting(dark);
        NSAppearance::applyApplicationPalette();
        NSDistributedNotificationCenter::defaultCenter().postLocalNotificationName(
            NSAppearance::themeChangedNotification());
        drainMainQueue();
    };
    const auto tick = [] {
        NSDistributedNotificationCenter::defaultCenter().postNotificationName(
            QString::fromLatin1(KLKelvaraTempDidChangeNotification));
    };
    change(false);
    open();
    NSViewController* detail = master->detailViewController();
    ASSERT_TRUE(detail && detail->isVisible());
    const QList<KLSensorCellView*> rows = detail->findChildren<KLSensorCellView*>();
    ASSERT_GE(rows.size(), 8);
    const auto image = [](const QIcon& icon) { return icon.pixmap(QSize(20, 20), 1.0).toImage(); };
    const auto iconsFollow = [&] {
        return std::all_of(rows.begin(), rows.end(), [&](KLSensorCellView* row) {
            return !row->sensor()
                   || image(row->icon())
                          == image(NSImage::imageNamed(KLSensorCellView::iconNameForGroup(row->sensor()->group())));
        });
    };
    const QImage lightCpu = image(NSImage::imageNamed("ico_cpu"));
    EXPECT_TRUE(iconsFollow());

    // Told only by the notice, as when the palette stays: the rows change at the next tick.
    NSAppearance::forceDarkModeForTesting(true);
    NSDistributedNotificationCenter::defaultCenter().postLocalNotificationName(NSAppearance::themeChangedNotification());
    ASSERT_NE(image(NSImage::imageNamed("ico_cpu")), lightCpu);
    tick();
    EXPECT_TRUE(waitUntil(iconsFollow));

    // With the palette, as the programs change: the table turns dark, and its rows change at once.
    change(true);
    change(false);
    EXPECT_TRUE(iconsFollow());
    EXPECT_EQ(image(rows.first()->icon()), lightCpu);
    change(true);
    EXPECT_TRUE(iconsFollow());
    QWidget* sensors = detail->findChild<QWidget*>("tableView");
    ASSERT_TRUE(sensors);
    EXPECT_LT(sensors->palette().color(QPalette::Base).lightness(), 60);
    EXPECT_GT(sensors->palette().color(QPalette::Text).lightness(), 200);

    // Changed back while another screen is shown: the chip box is light when the category comes back.
    auto* chips = detail->findChild<QWidget*>("menuBarContainerView");
    ASSERT_TRUE(chips);
    const auto chipBox = [chips] { return chips->grab().toImage().pixelColor(3, chips->height() / 2).lightness(); };
    EXPECT_LT(chipBox(), 60);
    click(rowOfType(KLMenuItemTypeSettings));
    ASSERT_FALSE(detail->isVisible());
    change(false);
    click(0);
    ASSERT_TRUE(detail->isVisible());
    EXPECT_GT(chipBox(), 128);
    EXPECT_GT(sensors->palette().color(QPalette::Base).lightness(), 200);

    // The maker's link reads at 4.5:1 on the window as drawn, in either appearance.
    click(rowOfType(KLMenuItemTypeSettings));
    auto* maker = master->settingsViewController()->findChild<QPushButton*>("nudraButton");
    ASSERT_TRUE(maker && maker->isVisible());
    for (const bool dark : {true, false}) {
        change(dark);
        const QImage drawn = window->grab(QRect(maker->mapTo(window.get(), QPoint()), maker->size())).toImage();
        const QColor behind = drawn.pixelColor(0, 0);
        double strongest = 0;
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x)
                strongest = std::max(strongest, Contrast::ratio(drawn.pixelColor(x, y), behind));
        }
        EXPECT_GE(strongest, 4.5) << (dark ? "dark" : "light");
    }
}

TEST_F(MainWindowTest, WindowComesBackAtItsSizeAfterClosing)
{
    open();
    window->resize(960, 620);
    window->close();
    open();
    EXPECT_EQ(window->size(), QSize(960, 620));
}

// The window's least size is what its screens need: every sensor name shows
// whole and the history graph keeps its axes, in English and in French, with
// chips in several rows and a description of several lines.
TEST_F(MainWindowTest, AtItsLeastSizeNamesShowWholeAndTheGraphKeepsItsAxes)
{
    // Every fan and the first temperatures in the menu bar.
    QStringList chips;
    for (KLCategory* category : KLCategory::allObjects()) {
        const QList<KLSensor*> sensors = category->sensors();
        if (category->type() == KLCategoryTypeFan)
            for (KLSensor* sensor : sensors)
                chips << sensor->key();
        if (category->type() == KLCategoryTypeTemperature)
            for (KLSensor* sensor : sensors.mid(0, 4))
                chips << sensor->key();
    }
    ASSERT_GE(chips.size(), 6);
    const QStringList before = KLDataManager::sharedInstance().menuSensors().value_or(QStringList{});
    const auto restore = qScopeGuard([&] { KLDataManager::sharedInstance().setMenuSensors(before); });
    // Not cut by any box around it.
    const auto whole = [](const QWidget* widget) {
        for (QRect rect = widget->rect(); widget->parentWidget(); widget = widget->parentWidget()) {
            rect.translate(widget->pos());
            if (!widget->parentWidget()->rect().contains(rect))
                return false;
        }
        return true;
    };
    for (const char* language : {"en", "fr"}) {
        SCOPED_TRACE(language);
        KLDataManager::sharedInstance().setMenuSensors(chips);
        KLDataManager::sharedInstance().setCurrentLanguage(QString::fromLatin1(language));
        drainMainQueue();
        open();
        click(rowOfType(KLMenuItemTypeTemperature));
        drainMainQueue();
        window->resize(1, 1);  // as small as it lets itself be
        drainMainQueue();
        NSViewController* detail = master->paneViewController();
        ASSERT_TRUE(detail);
        ASSERT_TRUE(window->rect().contains(QRect(detail->mapTo(window.get(), QPoint()), detail->size())));

        auto* sensors = detail->findChild<NSTableView*>(QStringLiteral("tableView"));
        ASSERT_TRUE(sensors);
        ASSERT_GT(sensors->numberOfRows(), 5);
        int longestDescription = 0;
        qsizetype longestLength = 0;
        for (int row = 0; row < sensors->numberOfRows(); ++row) {
            auto* cell = qobject_cast<KLSensorCellView*>(sensors->viewAtColumn(0, row, true));
            ASSERT_TRUE(cell);
            const QString name = cell->sensor()->name();
            if (name.size() <= KLSensorCellView::kWholeNameLength)
                EXPECT_EQ(cell->titleField()->text(), name);
            else
                EXPECT_FALSE(cell->titleField()->text().isEmpty()) << name.toStdString();
            if (cell->sensor()->sensorDescription().size() > longestLength) {
                longestLength = cell->sensor()->sensorDescription().size();
                longestDescription = row;
            }
        }

        auto* detailScreen = qobject_cast<KLDetailViewController*>(detail);
        ASSERT_TRUE(detailScreen);
        auto* description = detail->findChild<QLabel*>(QStringLiteral("descriptionValueTextField"));
        ASSERT_TRUE(description);
        auto* graph = detail->findChild<RZLineGraphView*>(QStringLiteral("graphView"));
        ASSERT_TRUE(graph);
        // As it opened, then with the longest description and one more chip
        // (the window grows with them).
        for (bool more : {false, true}) {
            SCOPED_TRACE(more ? "one more chip" : "as opened");
            if (more) {
                sensors->selectRowIndexes({longestDescription}, false);
                detailScreen->tableViewSelected();
                auto* menuBarSwitch = detail->findChild<TSSwitch*>(QStringLiteral("menuBarSwitch"));
                ASSERT_TRUE(menuBarSwitch);
                ASSERT_FALSE(menuBarSwitch->isChecked());
                menuBarSwitch->toggleByUser();
                drainMainQueue();
            }
            // The chips in several rows and the description on several lines, whole.
            EXPECT_TRUE(whole(description));
            EXPECT_GE(description->height(), description->heightForWidth(description->width()));
            if (QString::fromLatin1(language) == QLatin1String("fr")) {
                EXPECT_GT(description->heightForWidth(description->width()),
                          3 * description->fontMetrics().lineSpacing() / 2);
            }
            ASSERT_EQ(detailScreen->menuBarItems().size(), chips.size() + (more ? 1 : 0));
            QSet<int> rows;
            for (const QWidget* chip : detailScreen->menuBarItems()) {
                EXPECT_TRUE(whole(chip));
                rows << chip->y();
            }
            EXPECT_GE(rows.size(), 3);

            // The graph whole, with its base line and time labels that do not touch.
            EXPECT_GE(graph->height(), graph->minimumHeight());
            EXPECT_TRUE(whole(graph));
            graph->repaint();
            EXPECT_TRUE(graph->lineLayer(RZLineGraphView::XAxisZero).made);
            const QFontMetricsF metrics(graph->graphLayout().xAxisLabelFont());
            std::optional<double> rightEdge;
            int shown = 0;
            for (const auto& label : graph->xAxisLabels()) {
                if (!label.made || label.hidden)
                    continue;
                ++shown;
                const double width = std::min(metrics.horizontalAdvance(label.text), label.frame.width());
                if (rightEdge) {
                    EXPECT_GE(label.frame.center().x() - width / 2, *rightEdge + RZLineGraphGeometry::kXLabelGap)
                        << label.text.toStdString();
                }
                rightEdge = label.frame.center().x() + width / 2;
            }
            EXPECT_GE(shown, 3);
        }
        window->close();
    }
    KLDataManager::sharedInstance().setCurrentLanguage(QStringLiteral("en"));
}

// At the default size the sensor table has room: the catalogue's longest
// name shows whole, in English and Vietnamese.
TEST_F(MainWindowTest, AtTheDefaultSizeTheLongestSensorNameShowsWhole)
{
    const auto english = qScopeGuard([] { KLDataManager::sharedInstance().setCurrentLanguage(QStringLiteral("en")); });
    const KLSensorCellView measure;
    const QFontMetrics metrics(measure.titleField()->font());
    KLSensor* longest = nullptr;
    for (KLCategory* category : KLCategory::allObjects())
        for (KLSensor* sensor : category->sensors())
            if (!longest || metrics.horizontalAdvance(sensor->name()) > metrics.horizontalAdvance(longest->name()))
                longest = sensor;
    ASSERT_TRUE(longest);
    ASSERT_GT(longest->name().size(), KLSensorCellView::kWholeNameLength);
    for (const char* language : {"en", "vi"}) {
        SCOPED_TRACE(language);
        KLDataManager::sharedInstance().setCurrentLanguage(QString::fromLatin1(language));
        drainMainQueue();
        open();
        ASSERT_EQ(window->size(), QSize(1100, 700));
        click(int(master->categories().indexOf(longest->category())));
        drainMainQueue();
        auto* sensors = master->paneViewController()->findChild<NSTableView*>(QStringLiteral("tableView"));
        ASSERT_TRUE(sensors);
        KLSensorCellView* cell = nullptr;
        for (int row = 0; row < sensors->numberOfRows() && !(cell && cell->sensor() == longest); ++row)
            cell = qobject_cast<KLSensorCellView*>(sensors->viewAtColumn(0, row, true));
        ASSERT_TRUE(cell && cell->sensor() == longest);
        EXPECT_EQ(cell->titleField()->text().toStdString(), longest->name().toStdString());
        window->close();
    }
}

// At the least size of every pane, every table's last column can be brought
// into view (it fits, or the table scrolls sideways to it), and the sidebar
// shows all its items.
TEST_F(MainWindowTest, AtEachPanesLeastSizeEveryColumnIsInReach)
{
    open();
    for (int row = 0; row < table->numberOfRows(); ++row) {
        SCOPED_TRACE(master->menuItems()[row].title.toStdString());
        window->resize(1100, 700);
        click(row);
        drainMainQueue();
        window->resize(1, 1);
        drainMainQueue();
        int tables = 0;
        for (NSTableView* each : window->findChildren<NSTableView*>()) {
            if (!each->isVisibleTo(window.get()))
                continue;
            ++tables;
            int columns = 0;
            for (const auto& column : each->tableColumns())
                columns += column->width();
            const QScrollBar* sideways = each->horizontalScrollBar();
            EXPECT_GE(each->viewport()->width() + (sideways->isVisibleTo(window.get()) ? sideways->maximum() : 0), columns)
                << each->objectName().toStdString();
            EXPECT_GE(each->viewport()->height(), std::min<int>(each->rowHeight(), each->rectOfRow(0).height()))
                << each->objectName().toStdString();
        }
        EXPECT_GT(tables, 0);
        EXPECT_GE(table->viewport()->height(), table->rectOfRow(table->numberOfRows() - 1).bottom() + 1);
        EXPECT_GE(master->width(), master->minimumWidth());
    }
}

}  // namespace

#include "MainWindowTest.moc"
