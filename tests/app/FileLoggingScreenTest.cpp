// The file-logging screen over a catalogue of the test's own, driven offscreen.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QScopeGuard>
#include <gtest/gtest.h>
#include <tuple>

#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLFileLoggingCategoryEnabledCellView.h"
#include "KLFileLoggingConfigViewController.h"
#include "KLFileLoggingSensorEnabledCellView.h"
#include "KLMainStoryboard.h"
#include "KLSensor.h"
#include "NSAppearance.h"
#include "NSDistributedNotificationCenter.h"
#include "NSOpenPanel.h"
#include "NSStoryboard.h"
#include "NSUserDefaults.h"
#include "NSWorkspace.h"
#include "AppTestSession.h"
#include "Contrast.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "TSSwitch.h"
#include "TestHome.h"

namespace {

class FileLoggingScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings().setupDatabase();
        drainMainQueue();
        temperature = KLCategory::allObjects().value(0);
        ASSERT_TRUE(temperature && temperature->sensors().size() >= 3);
        main = KLSensor::sensorWithKey(KLMainSensorKey);
        ASSERT_TRUE(main);
        settings().setFileLoggingEnabled(true);
        settings().setFileLoggingPath(home.path() + "/Kelvara Log.csv");
        NSDistributedNotificationCenter::defaultCenter().addObserver(
            this, QString::fromLatin1(KLDataManagerFileLoggingSensorKeysDidChangeNotification),
            [this](const NSNotification& notice) {
                ++notices;
                lastNoticeSeen = lastNoticeSeen || notice.object.toString() == "last";
            });
    }
    void TearDown() override { NSDistributedNotificationCenter::defaultCenter().removeObserver(this); }

    static KLDataManager& settings() { return KLDataManager::sharedInstance(); }
    QStringList temperatureKeys() const
    {
        QStringList keys;
        for (KLSensor* sensor : temperature->sensors())
            keys << sensor->key();
        return keys;
    }
    // Stored before the screen shows; its notice is in before the test counts.
    void startWith(const QStringList& keys)
    {
        settings().setFileLoggingSensorKeys(keys);
        ASSERT_TRUE(waitUntil([&] { return notices == 1; }));
        notices = 0;
    }
    // The list as another program would write it: stored, no notice yet.
    void storeBehindTheScreen(const QStringList& keys)
    {
        NSUserDefaults(QString::fromLatin1(KLAppGroupSuiteName))
            .setObject(QVariant(keys), QString::fromLatin1(KLFileLoggingSensorsKey));
    }

    void show()
    {
        screen.reset(dynamic_cast<KLFileLoggingConfigViewController*>(
            KLMainStoryboard::storyboard().instantiateControllerWithIdentifier("fileLoggingViewController")));
        ASSERT_TRUE(screen);
        screen->resize(640, 900);
        screen->show();
        drainMainQueue();
    }
    template <class Cell>
    Cell* checkCell(NSManagedObject* object)
    {
        NSOutlineView* outline = screen->outlineView();
        const int row = outline->rowForItem(object);
        outline->scrollRowToVisible(row);
        return row < 0 ? nullptr : qobject_cast<Cell*>(outline->viewAtColumn(1, row, true));
    }
    QCheckBox* sensorBox(KLSensor* sensor) { return checkCell<KLFileLoggingSensorEnabledCellView>(sensor)->checkButton(); }
    QCheckBox* categoryBox() { return checkCell<KLFileLoggingCategoryEnabledCellView>(temperature)->checkButton(); }
    template <class T>
    T* outlet(const char* name) { return screen->findChild<T*>(QString::fromLatin1(name)); }

    TestHome& home = appTestSession().home;
    KLCategory* temperature = nullptr;
    KLSensor* main = nullptr;
    int notices = 0;
    bool lastNoticeSeen = false;
    std::unique_ptr<KLFileLoggingConfigViewController> screen;
};

TEST_F(FileLoggingScreenTest, TickingWritesTheStoredListAndTheOutlineFollowsItsNotice)
{
    startWith(temperatureKeys() + QStringList{"0"});
    show();
    ASSERT_TRUE(categoryBox()->isChecked());
    // Every category and its sensors are shown, expanded.
    EXPECT_EQ(screen->outlineView()->numberOfRows(), KLCategory::allObjects().size() + KLSensor::allObjects().size());

    QTest::mouseClick(sensorBox(main), Qt::LeftButton);
    QStringList expected = temperatureKeys() + QStringList{"0"};
    expected.removeAll(KLMainSensorKey);
    EXPECT_EQ(settings().fileLoggingSensorKeys(), expected);
    ASSERT_TRUE(waitUntil([&] { return notices == 1 && !categoryBox()->isChecked(); }));

    // The category box adds only what is missing, at the end.
    QTest::mouseClick(categoryBox(), Qt::LeftButton);
    EXPECT_EQ(settings().fileLoggingSensorKeys(), expected + QStringList{KLMainSensorKey});
    ASSERT_TRUE(waitUntil([&] { return notices == 2 && sensorBox(main)->isChecked(); }));
    QTest::mouseClick(categoryBox(), Qt::LeftButton);
    EXPECT_EQ(settings().fileLoggingSensorKeys(), QStringList{"0"});

    // Logging off leaves only the reveal button to press.
    QTest::mouseClick(outlet<TSSwitch>("loggingEnabledSwitch"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !settings().fileLoggingEnabled(); }));
    EXPECT_FALSE(sensorBox(main)->isEnabled());
    EXPECT_FALSE(categoryBox()->isEnabled());
    EXPECT_FALSE(outlet<QPushButton>("chooseFolderButton")->isEnabled());
    EXPECT_FALSE(outlet<QWidget>("resetLogFileSegmentedControl")->isEnabled());
    EXPECT_TRUE(outlet<QPushButton>("revealButton")->isEnabled());
}

// Each write of the list makes Kelvara Helper set its log aside and start a
// new one, and another program may have written the list since the outline
// was drawn.
TEST_F(FileLoggingScreenTest, EditsStartFromTheStoredListAndWriteOnlyRealChanges)
{
    startWith(temperatureKeys());
    show();
    KLSensor* second = temperature->sensors().at(1);
    KLSensor* third = temperature->sensors().at(2);
    ASSERT_TRUE(sensorBox(second)->isChecked());
    ASSERT_TRUE(sensorBox(third)->isChecked());

    // Written elsewhere after the outline was drawn: the second sensor is gone
    // and a fan was added.
    QStringList elsewhere = temperatureKeys();
    elsewhere.removeAll(second->key());
    elsewhere << "0";
    // A sensor missing from the catalogue now (a disk not attached) keeps its place.
    storeBehindTheScreen(QStringList{"ZZ9Z"} + elsewhere);

    // Unticking the box of a sensor that is no longer logged changes nothing.
    QTest::mouseClick(sensorBox(second), Qt::LeftButton);
    EXPECT_EQ(settings().fileLoggingSensorKeys(), elsewhere);
    EXPECT_FALSE(sensorBox(second)->isChecked());

    // A real change keeps what was written elsewhere.
    QTest::mouseClick(sensorBox(third), Qt::LeftButton);
    QStringList expected = elsewhere;
    expected.removeAll(third->key());
    EXPECT_EQ(settings().fileLoggingSensorKeys(), expected);
    EXPECT_EQ(settings().userDefaults().objectForKey(KLFileLoggingSensorsKey).toStringList(),
              QStringList{"ZZ9Z"} + expected);
    ASSERT_TRUE(waitUntil([&] { return notices == 1 && !categoryBox()->isChecked(); }));

    // Ticking a category all of whose sensors are logged by now writes nothing either.
    storeBehindTheScreen(temperatureKeys());
    QTest::mouseClick(categoryBox(), Qt::LeftButton);
    EXPECT_TRUE(categoryBox()->isChecked());
    EXPECT_EQ(settings().fileLoggingSensorKeys(), temperatureKeys());

    // Notices arrive in the order posted: none came between the edit and this one.
    NSDistributedNotificationCenter::defaultCenter().postNotificationName(
        KLDataManagerFileLoggingSensorKeysDidChangeNotification, "last");
    ASSERT_TRUE(waitUntil([&] { return lastNoticeSeen; }));
    EXPECT_EQ(notices, 2);
}

TEST_F(FileLoggingScreenTest, OpenFileEnablesItselfOnceTheLogAppears)
{
    NSWorkspace::setRecordsOpensForTesting(true);
    show();
    auto* open = outlet<QPushButton>("openFileButton");
    EXPECT_FALSE(open->isEnabled());

    QFile log(home.path() + "/Kelvara Log.csv");
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.close();
    NSDistributedNotificationCenter::defaultCenter().postNotificationName(KLKelvaraTempDidChangeNotification);
    ASSERT_TRUE(waitUntil([&] { return open->isEnabled(); }));

    QTest::mouseClick(open, Qt::LeftButton);
    QTest::mouseClick(outlet<QPushButton>("revealButton"), Qt::LeftButton);
    EXPECT_EQ(NSWorkspace::takeOpenedURLsForTesting(),
              QList<QUrl>({QUrl::fromLocalFile(log.fileName()), QUrl::fromLocalFile(home.path())}));
    NSWorkspace::setRecordsOpensForTesting(false);
}

TEST_F(FileLoggingScreenTest, TheChosenFolderKeepsTheFileNameAndTheResetModeIsTheSegment)
{
    show();
    const QString folder = home.path() + "/chosen";
    QDir().mkpath(folder);

    NSOpenPanel::setNextAnswerForTesting(NSModalResponseCancel);
    QTest::mouseClick(outlet<QPushButton>("chooseFolderButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([] { return !NSOpenPanel::hasPendingAnswerForTesting(); }));
    EXPECT_EQ(NSOpenPanel::takeAskedDirectoryForTesting(), QUrl::fromLocalFile(home.path()));

    NSOpenPanel::setNextAnswerForTesting(NSModalResponseOK, folder);
    QTest::mouseClick(outlet<QPushButton>("chooseFolderButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return settings().fileLoggingPath() == folder + "/Kelvara Log.csv"; }))
        << "the cancelled panel changed the path, or the chosen one was not stored";
    EXPECT_EQ(outlet<QLabel>("pathControl")->toolTip(), QDir::toNativeSeparators(folder + "/Kelvara Log.csv"));

    // A stored path that names no file never makes a folder the log: the file
    // gets the default name.
    QDir().mkpath(home.path() + "/logs");
    for (const auto& [stored, chosen, name] :
         {std::tuple<QString, QString, QString>{"", folder, "Kelvara Log.csv"}, {"/", folder, "Kelvara Log.csv"},
          {"/var/log/..", folder, "Kelvara Log.csv"}, {home.path() + "/logs/", folder, "Kelvara Log.csv"},
          {home.path() + "/logs/", home.path(), "Kelvara Log.csv"}, {home.path() + "/logs", folder, "Kelvara Log.csv"},
          {home.path() + "/old.csv", folder, "old.csv"}}) {
        settings().setFileLoggingPath(stored);
        NSOpenPanel::setNextAnswerForTesting(NSModalResponseOK, chosen);
        QTest::mouseClick(outlet<QPushButton>("chooseFolderButton"), Qt::LeftButton);
        EXPECT_TRUE(waitUntil([&] { return settings().fileLoggingPath() == chosen + "/" + name; }))
            << stored.toStdString() << " gave " << settings().fileLoggingPath().toStdString();
    }

    QTest::mouseClick(outlet<QPushButton>("resetEveryDaySegment"), Qt::LeftButton);
    EXPECT_EQ(settings().fileLoggingResetMode(), KLFileLoggingResetModeDaily);
    QTest::mouseClick(outlet<QPushButton>("resetNeverSegment"), Qt::LeftButton);
    EXPECT_EQ(settings().fileLoggingResetMode(), KLFileLoggingResetModeNever);
}

// A heading longer in another language widens its column to show it whole.
TEST_F(FileLoggingScreenTest, TheCheckColumnFitsItsHeading)
{
    settings().setCurrentLanguage(QStringLiteral("de"));
    const auto english = qScopeGuard([this] { settings().setCurrentLanguage(QStringLiteral("en")); });
    show();
    NSOutlineView* outline = screen->outlineView();
    const auto& columns = outline->tableColumns();
    ASSERT_EQ(columns.size(), 2);
    const int heading = QFontMetrics(outline->font()).horizontalAdvance(columns[1]->title());
    EXPECT_GT(heading, 64);
    EXPECT_GE(outline->viewport()->width() - columns[0]->width(), heading);
}

// The tree's groups are named in the chosen language, with the popover's names.
TEST_F(FileLoggingScreenTest, GroupsAreNamedInTheChosenLanguage)
{
    settings().setCurrentLanguage(QStringLiteral("fr"));
    const auto english = qScopeGuard([this] { settings().setCurrentLanguage(QStringLiteral("en")); });
    show();
    for (KLCategory* category : KLCategory::allObjects()) {
        QWidget* cell = screen->outlineView()->viewAtColumn(0, screen->outlineView()->rowForItem(category), true);
        ASSERT_TRUE(cell);
        EXPECT_EQ(cell->findChild<QLabel*>("textField")->text().toStdString(), category->localizedName().toStdString());
    }
    EXPECT_EQ(temperature->localizedName(), QStringLiteral("Température"));
}

// With logging off the reset segments are disabled: in dark each title reads
// at least as well as in light.
TEST_F(FileLoggingScreenTest, DisabledSegmentsReadInDarkAsInLight)
{
    settings().setFileLoggingEnabled(false);
    settings().setFileLoggingResetMode(KLFileLoggingResetModeNever);  // one chosen, two not
    const auto light = qScopeGuard([] {
        NSAppearance::forceDarkModeForTesting(std::nullopt);
        NSAppearance::applyApplicationPalette();
    });
    show();
    QList<double> read;  // light, then dark
    for (const bool dark : {false, true}) {
        NSAppearance::forceDarkModeForTesting(dark);
        NSAppearance::applyApplicationPalette();
        drainMainQueue();
        for (const char* name : {"resetNeverSegment", "resetOnStartupSegment", "resetEveryDaySegment"}) {
            auto* segment = outlet<QPushButton>(name);
            ASSERT_FALSE(segment->isEnabled());
            const QImage drawn = screen->grab(QRect(segment->mapTo(screen.get(), QPoint()), segment->size())).toImage();
            // Against the face above the title, inside the border.
            read << Contrast::strongest(drawn, drawn.rect().adjusted(3, 3, -3, -3), drawn.pixelColor(drawn.width() / 2, 2));
        }
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_GE(read[3 + i], read[i]) << i;
}

}  // namespace
