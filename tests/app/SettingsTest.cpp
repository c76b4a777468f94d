// The settings pane and its dropdown layout sheet, driven through their real
// widgets: what they store, the notices that go out and what they show back.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleOptionButton>
#include <gtest/gtest.h>

#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLDropdownSettingCellView.h"
#include "KLDropdownSettingsViewController.h"
#include "KLKelvara.h"
#include "KLMainStoryboard.h"
#include "KLSettingsViewController.h"
#include "KLSupportLinks.h"
#include "NSAlert.h"
#include "NSAppearance+Controls.h"
#include "NSAppearance.h"
#include "NSDistributedNotificationCenter.h"
#include "NSStoryboard.h"
#include "NSString+KLExtension.h"
#include "AnalyticsLog.h"
#include "AppTestSession.h"
#include "Contrast.h"
#include "PrivateBus.h"
#include "SUUpdater.h"
#include "QtApplication.h"
#include "TSSwitch.h"
#include "TestHome.h"

namespace {

QString keyOf(const QVariant& entry)
{
    const QVariantMap map = entry.toMap();
    return map.isEmpty() ? QString() : map.firstKey();
}

QStringList keysOf(const QVariantList& items)
{
    QStringList keys;
    for (const QVariant& item : items)
        keys << keyOf(item);
    return keys;
}

class SettingsScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The settings and the catalogue live in the home folder and notices go
        // over the bus: both the process's own, made before the first read.
        appTestSession();
        KLDataManager& data = KLDataManager::sharedInstance();
        data.setCurrentLanguage(QStringLiteral("en"));
        for (const char* notice : {KLDataManagerSettingsDidChangeNotification, KLDataManagerLanguageDidChangeNotification,
                                   KLDataManagerUpdateFrequencyDidChangeNotification}) {
            NSDistributedNotificationCenter::defaultCenter().addObserver(
                this, QString::fromLatin1(notice), [this](const NSNotification& note) { notices << note.name; });
        }
        drainMainQueue();
        notices.clear();
        KLSettingsViewController::setMenuComponentLoaderForTesting([this](bool force) { menuLoads << force; });
        KLSettingsViewController::setProcessStarterForTesting([this](const QString& program, const QStringList& args) {
            started << (QStringList{program} + args);
            return startSucceeds;
        });
        KLSettingsViewController::setURLOpenerForTesting([this](const QUrl& url) {
            opened << url;
            return true;
        });
        made.reset(KLMainStoryboard::storyboard().instantiateControllerWithIdentifier(
            QStringLiteral("settingsViewController")));
        screen = qobject_cast<KLSettingsViewController*>(made.get());
        ASSERT_NE(screen, nullptr);
        screen->resize(860, 700);
        screen->show();
        drainMainQueue();
    }
    void TearDown() override
    {
        made.reset();
        NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
        KLSettingsViewController::setMenuComponentLoaderForTesting({});
        KLSettingsViewController::setProcessStarterForTesting({});
        KLSettingsViewController::setURLOpenerForTesting({});
    }

    template <class T>
    T* child(const char* name)
    {
        T* found = screen->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // Pressed where the box and its title are, not in the empty rest of its row.
    static void press(QWidget* button) { QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2)); }
    bool heard(const char* notice)
    {
        return waitUntil([&] { return notices.contains(QString::fromLatin1(notice)); });
    }

    std::unique_ptr<NSViewController> made;
    KLSettingsViewController* screen = nullptr;
    QStringList notices;
    QList<bool> menuLoads;
    QList<QStringList> started;
    bool startSucceeds = true;
    QList<QUrl> opened;
};

TEST_F(SettingsScreenTest, LanguagePopUpStoresTheCodeAndTheScreenFollowsEveryChange)
{
    KLDataManager& data = KLDataManager::sharedInstance();
    auto* popUp = child<QComboBox>("languagePopUpButton");
    auto* title = child<QLabel>("settingsSectionField");
    ASSERT_EQ(popUp->count(), 5);
    EXPECT_EQ(popUp->currentText(), QStringLiteral("English"));
    EXPECT_EQ(title->text(), QStringLiteral("Settings"));
    EXPECT_EQ(child<QLabel>("versionField")->text(), QStringLiteral("Version 1.0.0 (1.0.0)"));

    // en, fr, de: two steps down is German.
    popUp->setFocus();
    QTest::keyClick(popUp, Qt::Key_Down);
    QTest::keyClick(popUp, Qt::Key_Down);
    EXPECT_EQ(data.userDefaults().stringForKey(KLCurrentLanguageKey), QStringLiteral("de"));
    ASSERT_TRUE(heard(KLDataManagerLanguageDidChangeNotification));
    EXPECT_TRUE(waitUntil([&] { return title->text() == QStringLiteral("Einstellungen"); }));
    EXPECT_EQ(child<QPushButton>("editMenuDropdownButton")->text(),
              KLExtension::localizedStringForKey(QStringLiteral("settings-screen-edit-dropdown-button"), "de"));

    // Chosen in another window: the pop-up and the texts follow.
    data.setCurrentLanguage(QStringLiteral("vi"));
    EXPECT_TRUE(waitUntil([&] { return popUp->currentText() == QStringLiteral("Vietnamese"); }));
    EXPECT_EQ(title->text(), QStringLiteral("Cài đặt"));
    // "&" in a title is shown, not taken as a shortcut.
    data.setCurrentLanguage(QStringLiteral("en"));
    EXPECT_TRUE(waitUntil([&] { return title->text() == QStringLiteral("Settings"); }));
    EXPECT_EQ(child<QPushButton>("rateAndReviewButton")->text(), QStringLiteral("Rate && Review"));

    // Chosen (in the application menu) while another screen was shown: the
    // pop-up shows it when the screen comes back.
    screen->hide();
    notices.clear();
    data.setCurrentLanguage(QStringLiteral("fr"));
    ASSERT_TRUE(heard(KLDataManagerLanguageDidChangeNotification));
    screen->show();
    drainMainQueue();
    EXPECT_EQ(popUp->currentText(), QStringLiteral("French"));
    EXPECT_EQ(title->text(), KLExtension::localizedStringForKey(QStringLiteral("settings-screen-settings-section-field"), "fr"));
    data.setCurrentLanguage(QStringLiteral("en"));
}

TEST_F(SettingsScreenTest, FahrenheitIsStoredAndCelsiusTurnsOffThroughTheNotice)
{
    KLDataManager& data = KLDataManager::sharedInstance();
    auto* celsius = child<QRadioButton>("celsiusButton");
    auto* fahrenheit = child<QRadioButton>("fahrenheitButton");
    ASSERT_TRUE(celsius->isChecked());
    ASSERT_FALSE(fahrenheit->isChecked());

    press(fahrenheit);
    EXPECT_FALSE(data.tempUnitCelsius());
    EXPECT_TRUE(fahrenheit->isChecked());
    EXPECT_TRUE(celsius->isChecked());  // not yet: the notice turns it off
    ASSERT_TRUE(heard(KLDataManagerSettingsDidChangeNotification));
    EXPECT_TRUE(waitUntil([&] { return !celsius->isChecked(); }));

    // Pressing the chosen unit again keeps it on.
    press(fahrenheit);
    EXPECT_TRUE(fahrenheit->isChecked());
    EXPECT_FALSE(data.tempUnitCelsius());

    press(celsius);
    EXPECT_TRUE(data.tempUnitCelsius());
    EXPECT_TRUE(waitUntil([&] { return celsius->isChecked() && !fahrenheit->isChecked(); }));
}

// In dark, as the programs draw: an unticked box and an unselected radio
// button stand out 3:1 from what is behind them.
TEST_F(SettingsScreenTest, UntickedBoxesAndUnselectedRadioButtonsShowInDark)
{
    const auto light = qScopeGuard([] {
        NSAppearance::forceDarkModeForTesting(std::nullopt);
        NSAppearance::applyApplicationPalette();
    });
    NSAppearanceControls::install();
    NSAppearance::forceDarkModeForTesting(true);
    NSAppearance::applyApplicationPalette();
    child<QCheckBox>("autoCheckUpdateButton")->setChecked(false);
    drainMainQueue();
    for (const char* name : {"autoCheckUpdateButton", "fahrenheitButton"}) {
        auto* button = child<QAbstractButton>(name);
        ASSERT_FALSE(button->isChecked());
        QStyleOptionButton option;
        option.initFrom(button);
        const QRect box = button->style()->subElementRect(
            qobject_cast<QCheckBox*>(button) ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator, &option, button);
        const QImage drawn = screen->grab(QRect(button->mapTo(screen, QPoint()), button->size())).toImage();
        // Behind it: between the box and the title.
        EXPECT_GE(Contrast::strongest(drawn, box, drawn.pixelColor(box.right() + 2, box.center().y())), 3.0) << name;
    }
    // A push button's text keeps some room from its frame on either side.
    for (const char* name : {"checkUpdatesButton", "mediumSegment", "sendFeedbackButton"}) {
        auto* button = child<QPushButton>(name);
        const int text = button->fontMetrics().horizontalAdvance(button->text());
        EXPECT_GE(button->width() - text, 16) << name;
    }
}

TEST_F(SettingsScreenTest, UpdateFrequencyIsStoredAndTheHelperLoopRestartsOnIt)
{
    KLDataManager& data = KLDataManager::sharedInstance();
    data.setUpdateFrequency(KLUpdateFrequencyHigh);
    drainMainQueue();
    KLKelvara loop;
    loop.startTimer();
    ASSERT_EQ(loop.timer()->interval(), 2000);
    notices.clear();

    QTest::mouseClick(child<QPushButton>("slowSegment"), Qt::LeftButton);
    EXPECT_EQ(data.userDefaults().integerForKey(KLUpdateFrequencyKey), 2);
    EXPECT_EQ(screen->selectedUpdateFrequencySegment(), 2);
    ASSERT_TRUE(heard(KLDataManagerUpdateFrequencyDidChangeNotification));
    EXPECT_TRUE(waitUntil([&] { return loop.timer()->isActive() && loop.timer()->interval() == 10000; }));
    loop.stopTimer();

    // Changed by another program: shown after the next settings notice.
    data.setUpdateFrequency(KLUpdateFrequencyMedium);
    data.setShowIconInMenu(true);
    EXPECT_TRUE(waitUntil([&] { return screen->selectedUpdateFrequencySegment() == 1; }));
}

TEST_F(SettingsScreenTest, CheckBoxesStoreAtOnceAndOpenAtLoginRestartsKelvaraMenu)
{
    KLDataManager& data = KLDataManager::sharedInstance();
    NSUserDefaults& suite = data.userDefaults();
    const struct {
        const char* button;
        const char* key;
    } boxes[] = {{"openAtLoginButton", KLOpenAtLoginKey},
                 {"autoCheckUpdateButton", KLAutoCheckUpdateKey},
                 {"showTempInMenuButton", KLShowTempInMenuKey},
                 {"showIconInMenuButton", KLShowIconInMenuKey}};
    for (const auto& box : boxes) {
        auto* button = child<QCheckBox>(box.button);
        ASSERT_TRUE(button->isChecked()) << box.button;
        press(button);
        EXPECT_EQ(suite.objectForKey(box.key), QVariant(false)) << box.button;
    }
    EXPECT_EQ(menuLoads, QList<bool>({false}));
    ASSERT_TRUE(heard(KLDataManagerSettingsDidChangeNotification));
    // The updater is told at once, both ways.
    EXPECT_FALSE(SUUpdater::sharedUpdater().automaticallyChecksForUpdates());
    press(child<QCheckBox>("autoCheckUpdateButton"));
    EXPECT_TRUE(SUUpdater::sharedUpdater().automaticallyChecksForUpdates());

    press(child<QCheckBox>("openAtLoginButton"));
    EXPECT_TRUE(data.openAtLogin());
    EXPECT_EQ(menuLoads, QList<bool>({false, false}));

    // Check for Updates says there is nothing to ask.
    NSAlert::setNextAnswerForTesting(NSAlertFirstButtonReturn);
    QTest::mouseClick(child<QPushButton>("checkUpdatesButton"), Qt::LeftButton);
    const auto asked = NSAlert::takeAskedForTesting();
    ASSERT_TRUE(asked.has_value());
    EXPECT_EQ(asked->messageText, QStringLiteral("No update feed is configured"));
}

TEST_F(SettingsScreenTest, FeedbackMailCarriesTheWindowAndFallsBackToAMailLink)
{
    // Pictures of earlier presses go once they are a day old.
    const QString folder = KLSettingsViewController::feedbackSnapshotFolder();
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString stale = folder + "/Kelvara Feedback old.png", recent = folder + "/Kelvara Feedback new.png";
    for (const QString& path : {stale, recent}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(path == stale ? -25 * 3600 : -23 * 3600),
                                     QFileDevice::FileModificationTime));
    }
    QTest::mouseClick(child<QPushButton>("sendFeedbackButton"), Qt::LeftButton);
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFile::remove(recent));
    ASSERT_EQ(started.size(), 1);
    const QStringList mail = started.first();
    EXPECT_EQ(mail.first(), QStringLiteral("xdg-email"));
    EXPECT_EQ(mail.last(), QString::fromLatin1(KLSupportMailAddress));
    EXPECT_EQ(mail.value(mail.indexOf("--subject") + 1), QStringLiteral("[Feedback][Kelvara 1.0.0 (1.0.0)]"));
    const QString body = mail.value(mail.indexOf("--body") + 1);
    EXPECT_TRUE(body.startsWith(QStringLiteral("\n\n\n\n\n") + QString(32, '-') + "\nModel: ")) << body.toStdString();
    const QString picture = mail.value(mail.indexOf("--attach") + 1);
    const QImage snapshot(picture);
    EXPECT_EQ(snapshot.size(), screen->window()->size() * screen->devicePixelRatio());
    // Kept in a folder of ours that nobody else can read.
    EXPECT_EQ(QFileInfo(picture).absolutePath(), folder);
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x0077, QFile::Permissions());
    QFile::remove(picture);

    // No mail helper: a mail link with the same words, no picture left behind.
    startSucceeds = false;
    started.clear();
    QTest::mouseClick(child<QPushButton>("sendFeedbackButton"), Qt::LeftButton);
    ASSERT_EQ(started.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(started.first().value(started.first().indexOf("--attach") + 1)));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first().scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(opened.first().path(), QString::fromLatin1(KLSupportMailAddress));
    const QUrlQuery query(opened.first());
    EXPECT_EQ(query.queryItemValue("subject", QUrl::FullyDecoded), QStringLiteral("[Feedback][Kelvara 1.0.0 (1.0.0)]"));
    EXPECT_EQ(query.queryItemValue("body", QUrl::FullyDecoded), body);

    opened.clear();
    for (const char* link : {"supportButton", "rateAndReviewButton", "nudraButton"})
        QTest::mouseClick(child<QPushButton>(link), Qt::LeftButton);
    EXPECT_EQ(opened, QList<QUrl>({QUrl(KLSupportWebAddress), QUrl(KLRateAndReviewWebAddress), QUrl(KLMakerWebAddress)}));
}

// The sheet as the settings pane presents it.
class DropdownSheetTest : public SettingsScreenTest {
protected:
    void SetUp() override
    {
        SettingsScreenTest::SetUp();
        ASSERT_FALSE(KLCategory::allObjects().isEmpty());
        MSAppCenter::start(QStringLiteral("tests"), {QStringLiteral("analytics")});
        const qsizetype edits = loggedEvents("Settings Tap Edit Dropdown Button").size();
        QTest::mouseClick(child<QPushButton>("editMenuDropdownButton"), Qt::LeftButton);
        const QList<QJsonObject> logged = loggedEvents("Settings Tap Edit Dropdown Button");
        ASSERT_EQ(logged.size(), edits + 1);
        EXPECT_TRUE(logged.last().isEmpty());
        sheet = screen->dropdownSettingsViewController();
        ASSERT_NE(sheet, nullptr);
        ASSERT_EQ(sheet->presentingViewController(), screen);
        table = sheet->dropDownItemsTableView();
        ASSERT_TRUE(waitUntil([&] { return table->numberOfRows() > 0; }));
    }

    KLDropdownSettingCellView* cell(int row)
    {
        return dynamic_cast<KLDropdownSettingCellView*>(table->viewAtColumn(0, row, true));
    }
    QStringList shownKeys()
    {
        QStringList keys;
        for (int row = 0; row < table->numberOfRows(); ++row)
            keys << cell(row)->itemKey();
        return keys;
    }
    QPoint aboveRow(int row) { return QPoint(20, table->rectOfRow(row).top() + 1 - table->visibleRect().top()); }
    // A drag of the row's category entering, moving over and dropping at the point.
    bool drop(const QString& name, QPoint at)
    {
        auto data = NSTableView::pasteboardItem(QString::fromLatin1(KLDropdownCategoryDragType), name);
        QDragEnterEvent enter(at, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(table->viewport(), &enter);
        QDragMoveEvent move(at, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(table->viewport(), &move);
        if (!move.isAccepted())
            return false;
        QDropEvent dropEvent(at, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(table->viewport(), &dropEvent);
        return dropEvent.isAccepted();
    }

    KLDropdownSettingsViewController* sheet = nullptr;
    NSTableView* table = nullptr;
};

TEST_F(DropdownSheetTest, RowsShareTheHeightAndALongLayoutScrolls)
{
    const QStringList stored = keysOf(KLDataManager::sharedInstance().dropdownItems());
    ASSERT_EQ(stored.size(), 7);
    EXPECT_EQ(shownKeys(), stored);
    EXPECT_EQ(table->rowHeight(), 50);
    EXPECT_EQ(cell(0)->nameTextField()->text(), QStringLiteral("Main Sensor"));
    EXPECT_EQ(cell(2)->nameTextField()->text(), KLCategory::getCategoryWithName(stored[2])->localizedName());
    // The first two rows cannot be dragged.
    EXPECT_EQ(sheet->pasteboardWriterForRow(table, 1), nullptr);
    ASSERT_NE(sheet->pasteboardWriterForRow(table, 2), nullptr);

    // Twelve rows would be 29 points each: they keep a usable height instead.
    // Five more categories, none with sensors; a name no category has is no row.
    // Both go again afterwards: later cases share the store.
    const QVariantList original = KLDataManager::sharedInstance().dropdownItems();
    QList<KLCategory*> extras;
    const auto restore = qScopeGuard([&] {
        for (KLCategory* category : extras)
            category->managedObjectContext()->deleteObject(category);
        KLDataManager::sharedInstance().setDropdownItems(original);
    });
    for (int i = 0; i < 5; ++i) {
        extras << KLCategory::categoryWithName(QStringLiteral("Extra %1").arg(i));
        extras.last()->setType(9);
    }
    QVariantList longer = KLDataManager::sharedInstance().dropdownItems();
    longer << QVariantMap{{QStringLiteral("No such category"), true}};
    KLDataManager::sharedInstance().setDropdownItems(longer);
    sheet->updateUI();
    EXPECT_EQ(table->numberOfRows(), 12);
    EXPECT_EQ(table->rowHeight(), KLDropdownSettingsViewController::kMinimumRowHeight);
    EXPECT_EQ(cell(11)->nameTextField()->text(), QStringLiteral("Extra 4"));
    EXPECT_FALSE(cell(11)->switchControl()->isEnabled());
    EXPECT_FALSE(cell(11)->switchControl()->isChecked());

    QTest::mouseClick(sheet->findChild<QPushButton*>("closeButton"), Qt::LeftButton);
    EXPECT_EQ(sheet->presentingViewController(), nullptr);
}

TEST_F(DropdownSheetTest, DraggingACategoryReordersTheTableAndTheStoredLayout)
{
    KLDataManager& data = KLDataManager::sharedInstance();
    const QStringList before = keysOf(data.dropdownItems());
    notices.clear();

    // Row 2 dropped above row 5: rows 3 and 4 move up and it lands at 4.
    ASSERT_TRUE(drop(before[2], aboveRow(5)));
    const QStringList expected{before[0], before[1], before[3], before[4], before[2], before[5], before[6]};
    EXPECT_EQ(keysOf(data.userDefaults().objectForKey(KLDropdownItemsKey).toList()), expected);
    EXPECT_EQ(shownKeys(), expected);
    EXPECT_TRUE(heard(KLDataManagerSettingsDidChangeNotification));

    // Above its own row or the next one: no change. Above rows 0 and 1, or onto a row: refused.
    EXPECT_TRUE(drop(expected[4], aboveRow(4)));
    EXPECT_TRUE(drop(expected[4], aboveRow(5)));
    EXPECT_FALSE(drop(expected[4], aboveRow(1)));
    const auto dragged = NSTableView::pasteboardItem(QString::fromLatin1(KLDropdownCategoryDragType), expected[4]);
    EXPECT_EQ(sheet->validateDrop(table, NSDraggingInfo(dragged.get(), table), 3, NSTableViewDropOn), NSDragOperationNone);
    // The two fixed entries never move, whatever a drag names.
    EXPECT_FALSE(drop(expected[0], aboveRow(5)));
    EXPECT_FALSE(drop(expected[1], aboveRow(3)));
    const auto fixed = NSTableView::pasteboardItem(QString::fromLatin1(KLDropdownCategoryDragType), expected[1]);
    EXPECT_FALSE(sheet->acceptDrop(table, NSDraggingInfo(fixed.get(), table), 4, NSTableViewDropAbove));
    EXPECT_FALSE(sheet->acceptDrop(table, NSDraggingInfo(dragged.get(), table), 1, NSTableViewDropAbove));
    EXPECT_EQ(keysOf(data.dropdownItems()), expected);
    EXPECT_EQ(shownKeys(), expected);

    // Upwards: the last category dropped above row 2 lands at 2.
    ASSERT_TRUE(drop(expected[6], aboveRow(2)));
    const QStringList moved{expected[0], expected[1], expected[6], expected[2], expected[3], expected[4], expected[5]};
    EXPECT_EQ(keysOf(data.dropdownItems()), moved);
    EXPECT_EQ(shownKeys(), moved);
}

TEST_F(DropdownSheetTest, SwitchesStoreTheirEntryAtOnce)
{
    KLDataManager& data = KLDataManager::sharedInstance();
    notices.clear();
    TSSwitch* mainSensor = cell(0)->switchControl();
    ASSERT_TRUE(mainSensor->isChecked());
    QTest::mouseClick(mainSensor, Qt::LeftButton);
    EXPECT_EQ(data.userDefaults().objectForKey(KLDropdownItemsKey).toList().value(0),
              QVariant(QVariantMap{{QStringLiteral("main_sensor"), false}}));
    EXPECT_TRUE(heard(KLDataManagerSettingsDidChangeNotification));

    // A category row writes the entry of its own name, wherever it is.
    const QString name = cell(4)->itemKey();
    ASSERT_TRUE(cell(4)->switchControl()->isEnabled());
    QTest::mouseClick(cell(4)->switchControl(), Qt::LeftButton);
    const QVariantList stored = data.userDefaults().objectForKey(KLDropdownItemsKey).toList();
    EXPECT_EQ(stored.value(4), QVariant(QVariantMap{{name, false}}));
    EXPECT_EQ(stored.value(0), QVariant(QVariantMap{{QStringLiteral("main_sensor"), false}}));
    EXPECT_EQ(stored.value(2).toMap().first(), true);
}

}  // namespace
