// The image set: every name the screens ask for loads in both appearances at
// both scales and draws something that stands out from the window behind it;
// no file lies there that no screen names.
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QSvgRenderer>
#include <gtest/gtest.h>

#include "Contrast.h"
#include "NSAppearance.h"
#include "NSImage.h"

namespace {

// Status tile backgrounds, by sensor status.
const QStringList kTiles = {"ico_normal", "ico_high", "ico_ok", "ico_max"};
// The sidebar's machine pictures.
const QStringList kMachines = {"ico_macbook", "ico_imac", "ico_macmini", "ico_macpro"};

// Every name a screen asks for: the tiles; the sensor rows' group icons; the
// sidebar's category and fixed items; the sidebar's machine by family; the
// fan link toggle; the menu-bar item.
const QStringList kNames = kTiles + kMachines + QStringList{
    "ico_cpu",     "ico_gpu",     "ico_ram",    "ico_motherboard", "ico_router",       "ico_ssd",
    "ico_hdd",     "ico_battery", "ico_power2", "ico_monitor",     "ico_fan2",         "ico_temp",
    "ico_fan",     "ico_voltage", "ico_current", "ico_power",      "ico_notification", "ico_log",
    "ico_settings", "ico_link", "ico_link_selected", "bar_icon"};

using Contrast::ratio;

// The colour the eye takes from the image: its pixels averaged by coverage.
QColor inkOf(const QImage& image, int* opaque)
{
    double r = 0, g = 0, b = 0, weight = 0;
    *opaque = 0;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QColor pixel = argb.pixelColor(x, y);
            if (pixel.alpha() == 255)
                ++*opaque;
            r += pixel.redF() * pixel.alphaF();
            g += pixel.greenF() * pixel.alphaF();
            b += pixel.blueF() * pixel.alphaF();
            weight += pixel.alphaF();
        }
    }
    return weight > 0 ? QColor::fromRgbF(float(r / weight), float(g / weight), float(b / weight)) : QColor();
}

struct AppearanceReset {
    ~AppearanceReset() { NSAppearance::forceDarkModeForTesting(std::nullopt); }
};

}  // namespace

TEST(Images, EveryNameLoadsAndReadsOnItsWindowInBothAppearancesAndScales)
{
    AppearanceReset reset;
    const QColor lightWindow(0xec, 0xec, 0xec), darkWindow(0x28, 0x28, 0x28);
    for (const bool dark : {false, true}) {
        NSAppearance::forceDarkModeForTesting(dark);
        for (const QString& name : kNames) {
            SCOPED_TRACE(qPrintable(name + (dark ? " dark" : " light")));
            EXPECT_FALSE(NSImage::imageNamed(name).isNull());
            const bool tile = kTiles.contains(name);
            const QSize size = tile ? QSize(260, 80) : kMachines.contains(name) ? QSize(64, 64) : QSize(20, 20);
            for (const int scale : {1, 2}) {
                const QPixmap pixmap = NSImage::pixmapNamed(name, size, scale);
                ASSERT_EQ(pixmap.size(), size * scale);
                // Drawn once per appearance and size: asked again, the same pixmap.
                EXPECT_EQ(NSImage::pixmapNamed(name, size, scale).cacheKey(), pixmap.cacheKey());
                int opaque = 0;
                const QColor ink = inkOf(pixmap.toImage(), &opaque);
                EXPECT_GT(opaque, 0) << "scale " << scale;
                // Icons stand out from the window; white text stands out from a tile.
                const QColor behind = tile ? QColor(Qt::white) : dark ? darkWindow : lightWindow;
                EXPECT_GE(ratio(ink, behind), 3.0) << "scale " << scale << " ink " << qPrintable(ink.name());
            }
        }
    }
    EXPECT_TRUE(NSImage::imageNamed(QStringLiteral("ico_none")).isNull());
}

TEST(Images, EveryFileParsesAndIsNamedByAScreen)
{
    QStringList expected = kNames;
    expected.sort();
    EXPECT_EQ(NSImage::allImageNames(), expected);
    const QStringList files = QDir(QStringLiteral(":/images/")).entryList(QDir::Files);
    for (const QString& file : files) {
        SCOPED_TRACE(qPrintable(file));
        EXPECT_TRUE(file.endsWith(QStringLiteral(".svg")));
        EXPECT_TRUE(QSvgRenderer(QStringLiteral(":/images/") + file).isValid());
        QString name = file.chopped(4);
        if (name.endsWith(QStringLiteral("-dark")))
            name.chop(5);
        EXPECT_TRUE(kNames.contains(name));
    }
}
