// The screen base, the palette, the light/dark answer with its notice, the
// shadow box and the status tile.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QImage>
#include <QSemaphore>
#include <QThread>
#include <QToolButton>
#include <QLabel>
#include <QLineEdit>
#include <QWhatsThis>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include "KLCategory.h"
#include "KLSensor.h"
#include "KLShadowBox.h"
#include "KLTempView.h"
#include "KLUtils.h"
#include "KLViewController.h"
#include "NSAppearance.h"
#include "NSBundle.h"
#include "NSColor+KLExtension.h"
#include "NSDistributedNotificationCenter.h"
#include "NSNotificationCenter.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "TestHome.h"

namespace {

QPalette paletteWithWindow(const QColor& window)
{
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::Base, window.lightness() < 128 ? QColor(30, 30, 30) : Qt::white);
    return palette;
}

// Observes one name on one of the centres with a counter of its own.
struct Probe {
    int heard = 0;
};

class CountingScreen : public KLViewController {
public:
    CountingScreen(Probe& local, Probe& distributed)
        : m_local(local)
        , m_distributed(distributed)
    {
    }
    int configured = 0;
    int localized = 0;
    int appearanceChanges = 0;

protected:
    void configureUI() override
    {
        ++configured;
        Probe* local = &m_local;
        Probe* distributed = &m_distributed;
        NSNotificationCenter::defaultCenter().addObserver(this, "ScreenBaseLocal", [local](auto&) { ++local->heard; });
        NSDistributedNotificationCenter::defaultCenter().addObserver(this, "ScreenBaseDistributed",
                                                                     [distributed](auto&) { ++distributed->heard; });
    }
    void localizeUI() override { ++localized; }
    void appearanceDidChange() override { ++appearanceChanges; }

private:
    Probe& m_local;
    Probe& m_distributed;
};

class ScreenBaseTest : public ::testing::Test {
protected:
    ~ScreenBaseTest() override
    {
        NSAppearance::forceDarkModeForTesting(std::nullopt);
        NSAppearance::resetPortalForTesting();
        QApplication::setPalette(QPalette());
    }
    // Posts a distributed marker and waits for it, so everything posted before has landed too.
    static bool distributedSettled()
    {
        bool heard = false;
        int marker = 0;
        NSDistributedNotificationCenter::defaultCenter().addObserver(&marker, "ScreenBaseMarker",
                                                                     [&heard](auto&) { heard = true; });
        NSDistributedNotificationCenter::defaultCenter().postNotificationName("ScreenBaseMarker");
        const bool settled = waitUntil([&] { return heard; });
        NSDistributedNotificationCenter::defaultCenter().removeObserver(&marker);
        return settled;
    }
    PrivateBus bus;
};

TEST_F(ScreenBaseTest, ScreenConfiguresOnceLocalizesEachTimeAndDropsObserversWhenHidden)
{
    Probe local, distributed;
    auto* screen = new CountingScreen(local, distributed);
    screen->resize(200, 100);
    screen->show();
    EXPECT_EQ(screen->configured, 1);
    EXPECT_EQ(screen->localized, 1);
    NSNotificationCenter::defaultCenter().postNotificationName("ScreenBaseLocal");
    NSDistributedNotificationCenter::defaultCenter().postNotificationName("ScreenBaseDistributed");
    ASSERT_TRUE(distributedSettled());
    EXPECT_EQ(local.heard, 1);
    EXPECT_EQ(distributed.heard, 1);

    // Minimised and restored: the window system's hide and show change nothing.
    screen->showMinimized();
    QApplication::processEvents();
    screen->showNormal();
    QApplication::processEvents();
    NSNotificationCenter::defaultCenter().postNotificationName("ScreenBaseLocal");
    EXPECT_EQ(local.heard, 2);
    EXPECT_EQ(screen->localized, 1);

    screen->hide();
    NSNotificationCenter::defaultCenter().postNotificationName("ScreenBaseLocal");
    NSDistributedNotificationCenter::defaultCenter().postNotificationName("ScreenBaseDistributed");
    ASSERT_TRUE(distributedSettled());
    EXPECT_EQ(local.heard, 2);
    EXPECT_EQ(distributed.heard, 1);

    for (int cycle = 0; cycle < 2; ++cycle) {
        screen->show();
        screen->hide();
    }
    EXPECT_EQ(screen->configured, 1);
    EXPECT_EQ(screen->localized, 3);
    EXPECT_EQ(screen->appearanceChanges, 0);
    // The appearance changed while hidden, when no theme notice reaches the
    // screen: it is told before it shows again, once.
    NSAppearance::forceDarkModeForTesting(!KLUtils::isDarkMode());
    screen->show();
    EXPECT_EQ(screen->appearanceChanges, 1);
    screen->hide();
    screen->show();
    screen->hide();
    EXPECT_EQ(screen->appearanceChanges, 1);

    // Going away drops what it observes even while shown.
    Probe again;
    screen->show();
    NSNotificationCenter::defaultCenter().addObserver(screen, "ScreenBaseLocal", [&again](auto&) { ++again.heard; });
    delete screen;
    NSNotificationCenter::defaultCenter().postNotificationName("ScreenBaseLocal");
    EXPECT_EQ(again.heard, 0);
}

TEST_F(ScreenBaseTest, HexColoursReadAsAScannerReadsAHexNumber)
{
    const QColor orange = KLExtension::colorWithHexString("FF8000");
    EXPECT_EQ(orange, QColor(255, 128, 0));
    EXPECT_NEAR(orange.greenF(), 0.502, 0.001);
    EXPECT_EQ(KLExtension::colorWithHexString("0xFF8000"), orange);
    EXPECT_EQ(KLExtension::colorWithHexString(" ff8000;"), orange);
    EXPECT_EQ(KLExtension::colorWithHexString("464646"), QColor(70, 70, 70));
    EXPECT_EQ(KLExtension::colorWithHexString("#FF8000"), QColor(Qt::black));
    EXPECT_EQ(KLExtension::colorWithHexString(QString()), QColor(Qt::black));
    EXPECT_EQ(KLExtension::colorWithHexString("1FFFFFFFF"), QColor(Qt::white));  // saturates
}

// The desktop's settings portal, on a connection and thread of its own so
// that a blocking read from the main thread gets its answer.
class FakePortal : public QThread {
public:
    explicit FakePortal(uint scheme)
        : m_scheme(scheme)
    {
        start();
        m_ready.acquire();
    }
    ~FakePortal() override
    {
        quit();
        wait();
    }
    bool registered = false;

    void changeTo(uint scheme)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, "SettingChanged");
        signal << QString("org.freedesktop.appearance") << QString("color-scheme")
               << QVariant::fromValue(QDBusVariant(scheme));
        QDBusConnection(m_name).send(signal);
    }

private:
    static constexpr QLatin1StringView kPath{"/org/freedesktop/portal/desktop"};
    static constexpr QLatin1StringView kInterface{"org.freedesktop.portal.Settings"};

    class Settings : public QDBusVirtualObject {
    public:
        explicit Settings(uint scheme)
            : m_scheme(scheme)
        {
        }
        QString introspect(const QString&) const override { return {}; }
        bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
        {
            const QList<QVariant> args = message.arguments();
            if (message.member() != "Read" || args.value(0) != "org.freedesktop.appearance"
                || args.value(1) != "color-scheme")
                return false;
            // Read answers a variant holding the value's variant.
            const QVariant inner = QVariant::fromValue(QDBusVariant(m_scheme));
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(inner))));
        }

    private:
        uint m_scheme;
    };

    void run() override
    {
        {
            QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_name);
            Settings settings(m_scheme);
            registered = bus.registerVirtualObject(kPath, &settings)
                         && bus.registerService("org.freedesktop.portal.Desktop");
            m_ready.release();
            exec();
            bus.unregisterService("org.freedesktop.portal.Desktop");
            bus.unregisterObject(kPath);
        }
        QDBusConnection::disconnectFromBus(m_name);
    }

    uint m_scheme;
    QString m_name = QStringLiteral("fake-portal-%1").arg(quintptr(this));
    QSemaphore m_ready;
};

TEST_F(ScreenBaseTest, DarkModeFollowsTheDesktopPreferenceElseThePalette)
{
    const QPalette light = paletteWithWindow(QColor(236, 236, 236));
    const QPalette dark = paletteWithWindow(QColor(40, 40, 40));
    // No portal on the bus: the palette decides.
    QApplication::setPalette(light);
    EXPECT_FALSE(KLUtils::isDarkMode());
    QApplication::setPalette(dark);
    EXPECT_TRUE(KLUtils::isDarkMode());

    const struct {
        uint scheme;
        const QPalette& palette;
        bool dark;
    } answers[] = {{1, light, true}, {2, dark, false}, {0, dark, true}, {0, light, false}};
    for (const auto& answer : answers) {
        FakePortal portal(answer.scheme);
        ASSERT_TRUE(portal.registered);
        QApplication::setPalette(answer.palette);
        NSAppearance::resetPortalForTesting();
        EXPECT_EQ(KLUtils::isDarkMode(), answer.dark) << "portal answers " << answer.scheme;
    }

    int notices = 0;
    int owner = 0;
    NSDistributedNotificationCenter::defaultCenter().addObserver(&owner, "AppleInterfaceThemeChangedNotification",
                                                                 [&notices](auto&) { ++notices; });
    FakePortal portal(2);
    NSAppearance::resetPortalForTesting();
    EXPECT_FALSE(KLUtils::isDarkMode());
    ASSERT_TRUE(distributedSettled());
    notices = 0;
    portal.changeTo(1);
    EXPECT_TRUE(waitUntil([] { return KLUtils::isDarkMode(); }));
    EXPECT_TRUE(waitUntil([&] { return notices == 1; }));
    NSAppearance::forceDarkModeForTesting(false);
    EXPECT_FALSE(KLUtils::isDarkMode());
    NSAppearance::forceDarkModeForTesting(std::nullopt);

    // Back to no preference: the palette again, and its change is a notice too.
    portal.changeTo(0);
    EXPECT_TRUE(waitUntil([] { return !KLUtils::isDarkMode(); }));
    EXPECT_TRUE(waitUntil([&] { return notices == 2; }));
    QApplication::setPalette(dark);
    EXPECT_TRUE(KLUtils::isDarkMode());
    EXPECT_TRUE(waitUntil([&] { return notices == 3; }));
    NSDistributedNotificationCenter::defaultCenter().removeObserver(&owner);
}

// The programs' palette: the dark one while the desktop prefers dark, from the
// start and at each change, set before the notice goes out; the desktop's own
// otherwise. Fields in table rows keep standing out from the table.
TEST_F(ScreenBaseTest, FollowingTheDesktopSetsTheDarkPaletteAndGivesTheDesktopsBack)
{
    const QPalette desktop = QApplication::palette();
    const QPalette dark = NSAppearance::darkPalette();
    ASSERT_NE(desktop.color(QPalette::Base), dark.color(QPalette::Base));
    {
        FakePortal already(1);
        ASSERT_TRUE(already.registered);
        NSAppearance::resetPortalForTesting();
        NSAppearance::followDesktopAppearance();
        EXPECT_EQ(QApplication::palette().color(QPalette::Base), dark.color(QPalette::Base));
        NSAppearance::resetPortalForTesting();
        QApplication::setPalette(QPalette());
    }

    FakePortal portal(2);
    NSAppearance::resetPortalForTesting();
    NSAppearance::followDesktopAppearance();
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), desktop.color(QPalette::Window));
    QWidget window;
    auto* field = new QLineEdit(&window);
    auto* rowField = new QLineEdit(&window);
    KLExtension::setTableFieldColors(rowField);
    window.show();
    EXPECT_EQ(rowField->palette().color(QPalette::Base), desktop.color(QPalette::Base));

    QColor seen;
    int owner = 0;
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        &owner, "AppleInterfaceThemeChangedNotification", [&](auto&) { seen = field->palette().color(QPalette::Base); });
    const auto changeTo = [&](uint scheme, const QPalette& expected) {
        seen = QColor();
        portal.changeTo(scheme);
        return waitUntil([&] { return seen.isValid(); }) && seen == expected.color(QPalette::Base);
    };
    EXPECT_TRUE(changeTo(1, dark));
    EXPECT_EQ(field->palette().color(QPalette::Text), dark.color(QPalette::Text));
    EXPECT_EQ(rowField->palette().color(QPalette::Base), dark.color(QPalette::Button));
    EXPECT_EQ(rowField->palette().color(QPalette::Text), dark.color(QPalette::Text));
    // No preference: the desktop decides, with its own palette.
    EXPECT_TRUE(changeTo(0, desktop));
    EXPECT_FALSE(KLUtils::isDarkMode());
    EXPECT_EQ(rowField->palette().color(QPalette::Base), desktop.color(QPalette::Base));
    EXPECT_TRUE(changeTo(1, dark));
    EXPECT_TRUE(changeTo(2, desktop));
    EXPECT_EQ(QApplication::palette().color(QPalette::Text), desktop.color(QPalette::Text));
    EXPECT_EQ(rowField->palette().color(QPalette::Text), desktop.color(QPalette::Text));
    NSDistributedNotificationCenter::defaultCenter().removeObserver(&owner);
}

TEST_F(ScreenBaseTest, ShadowBoxCastsItsShadowOnlyInTheLightAppearance)
{
    const QColor window(236, 236, 236);
    KLShadowBox box;
    box.resize(100, 60);
    EXPECT_EQ(box.customCornerRadius(), 5);
    box.setProperty("customCornerRadius", 8.0);  // as an interface file sets it
    EXPECT_EQ(box.customCornerRadius(), 8);
    const auto render = [&] {
        QImage image(box.size(), QImage::Format_ARGB32);
        image.fill(window);
        box.render(&image, {}, {}, QWidget::DrawChildren);
        return image;
    };
    // Just below the box, in the room it keeps for the shadow.
    const QPoint below(50, qRound(box.boxRect().bottom()));
    NSAppearance::forceDarkModeForTesting(true);
    EXPECT_EQ(render().pixelColor(below), window);
    NSAppearance::forceDarkModeForTesting(false);
    const QImage lit = render();
    EXPECT_LT(lit.pixelColor(below).lightness(), window.lightness() - 10);
    EXPECT_EQ(lit.pixelColor(50, 30), box.palette().color(QPalette::Base));
}

class TempViewTest : public ScreenBaseTest {
protected:
    void SetUp() override { NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR); }
    void TearDown() override { NSBundle::setMainBundlePathForTesting({}); }
    KLSensor* sensor(const QString& key, int type, double value, double min = 0, double max = 0)
    {
        KLSensor* made = KLSensor::sensorWithKey(key);
        KLCategory* category = KLCategory::categoryWithName(QString("Type %1").arg(type));
        category->setType(type);
        made->setCategory(category);
        made->setMinValue(min);
        made->setMaxValue(max);
        made->setValue(value);
        return made;
    }
    static int trailingGap(KLTempView& tile)
    {
        QWidget* field = tile.shortDescriptionField();
        return tile.width() - field->mapTo(&tile, QPoint(field->width(), 0)).x();
    }
    TestHome home;
};

TEST_F(TempViewTest, TileShowsTheSensorWithItsStatusPictureAndRule)
{
    KLTempView tile;
    tile.resize(220, 116);
    tile.show();

    KLSensor* cpu = sensor("TC0P", KLCategoryTypeTemperature, 45);
    cpu->setFullName("CPU Proximity");
    tile.setSensor(cpu);
    QApplication::processEvents();
    EXPECT_EQ(tile.cpuTempTitleField()->text(), "CPU Proximity");
    EXPECT_EQ(tile.cpuTempValueField()->text(), "45°");
    EXPECT_EQ(tile.shortDescriptionField()->text(), cpu->statusDisplay());
    EXPECT_EQ(tile.backgroundImageName(), "ico_normal");
    EXPECT_FALSE(tile.infoButton()->isHidden());
    EXPECT_EQ(tile.infoButton()->toolTip(), "Sensor Temperature < 66°");
    EXPECT_EQ(tile.shortDescriptionFieldTrailingConstant(), 34);
    EXPECT_EQ(trailingGap(tile), 34);

    // The rule shows as help where the pointer is.
    QTest::mouseClick(tile.infoButton(), Qt::LeftButton);
    EXPECT_NE(QApplication::activePopupWidget(), nullptr);
    QWhatsThis::hideText();

    // Cannot be read: no rule, so no button and the text reaches further.
    KLSensor* unread = sensor("TC1C", KLCategoryTypeTemperature, -128);
    unread->setFullName(QString());
    tile.setSensor(unread);
    QApplication::processEvents();
    EXPECT_EQ(tile.cpuTempTitleField()->text(), "--");
    EXPECT_EQ(tile.cpuTempValueField()->text(), "-");
    EXPECT_EQ(tile.backgroundImageName(), "ico_max");
    EXPECT_TRUE(tile.infoButton()->isHidden());
    EXPECT_EQ(tile.shortDescriptionFieldTrailingConstant(), 15);
    EXPECT_EQ(trailingGap(tile), 15);
    QTest::mouseClick(tile.infoButton(), Qt::LeftButton);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    tile.setSensor(sensor("TC0P", KLCategoryTypeTemperature, 70));
    EXPECT_EQ(tile.backgroundImageName(), "ico_high");
    tile.setSensor(sensor("0", KLCategoryTypeFan, 0, 1200, 6200));
    EXPECT_EQ(tile.backgroundImageName(), "ico_normal");
    tile.setSensor(sensor("0", KLCategoryTypeFan, 5000, 1200, 6200));
    EXPECT_EQ(tile.backgroundImageName(), "ico_high");
    tile.setSensor(sensor("VP0R", 2, 12.1));
    EXPECT_EQ(tile.backgroundImageName(), "ico_ok");
    tile.setSensor(nullptr);
    EXPECT_EQ(tile.cpuTempValueField()->text(), "--");
    for (const int status : {-1, 0, 3, 7, 9, 10, 14, 15})
        EXPECT_EQ(KLTempView::backgroundImageNameForStatus(status), status == 9 ? "ico_ok" : "ico_max") << status;
}

}  // namespace
