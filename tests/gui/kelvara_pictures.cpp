// kelvara_pictures <folder> [light|dark 1|2]: renders the windowed programs'
// widgets offscreen into PNG files, in light and dark and at scale 1 and 2 (or
// in the one palette and scale given, so that runs can share the work), from a store of its
// own that Kelvara's catalogue and an hour of Kelvara Helper's real ticks fill
// (plus a generated week of fan history), in a temporary home. Each picture
// set (the *Pictures.cpp files beside this one) registers itself.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLGraphPoint.h"
#include "KLKelvara.h"
#include "KLSensor.h"
#include "NSAppearance+Controls.h"
#include "NSAppearance.h"
#include "NSBundle.h"
#include "Pictures.h"
#include "VirtualSMC.h"

namespace {

constexpr double kHour = 3600;

// A week of fan speeds every 30 minutes: faster in working hours, with the
// odd busy spell, between the fan's limits.
void seedWeekOfFanSpeeds(KLSensor* fan, double now)
{
    const double low = fan->minValue() > 0 ? fan->minValue() : 1200;
    const double high = fan->maxValue() > low ? fan->maxValue() : 6000;
    for (KLGraphPoint* old : fan->weekGraphPoints())
        KLCoreDataHelper::sharedInstance().masterContext()->deleteObject(old);
    for (int i = 336; i > 0; --i) {
        const double x = now - i * 1800.0;
        const double hourOfDay = std::fmod(x / 3600.0, 24.0);
        const double day = std::clamp(std::sin((hourOfDay - 7) / 14 * M_PI), 0.0, 1.0);
        const double busy = (i % 47 < 3) ? 0.35 : 0;
        const double share = std::clamp(0.1 + 0.35 * day + busy + 0.05 * std::sin(i * 1.3), 0.0, 1.0);
        KLGraphPoint* point = KLGraphPoint::newGraphPoint();
        point->setPointX(x);
        point->setPointY(std::round(low + share * (high - low)));
        point->setTimeRange(KLGraphTimeRangeWeek);
        point->setSensor(fan);
        fan->addGraphPointsObject(point);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const QList<QByteArray> palettes = argc == 4 ? QList<QByteArray>{argv[2]} : QList<QByteArray>{"light", "dark"};
    const QList<QByteArray> scales = argc == 4 ? QList<QByteArray>{argv[3]} : QList<QByteArray>{"1", "2"};
    if ((argc != 2 && argc != 4) || !QList<QByteArray>{"light", "dark"}.contains(palettes.first()) ||
        !QList<QByteArray>{"1", "2"}.contains(scales.first())) {
        std::fprintf(stderr, "usage: kelvara_pictures <folder> [light|dark 1|2]\n");
        return 2;
    }
    // Before anything reads the home folder: the store, settings and the
    // simulated Mac are this run's own.
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "kelvara_pictures: cannot make a temporary home\n");
        return 1;
    }
    qputenv("HOME", home.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR));
    QApplication app(argc, argv);
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "kelvara_pictures: cannot make %s\n", qPrintable(folder));
        return 1;
    }

    // The catalogue as Kelvara builds it at start, then an hour of the
    // helper's ticks at 10 s on the simulated Mac under a changing load.
    KLDataManager& data = KLDataManager::sharedInstance();
    data.setUpdateFrequency(KLUpdateFrequencyLow);
    drain();
    const QDateTime now = QDateTime::currentDateTime();
    const double end = static_cast<double>(now.toMSecsSinceEpoch()) / 1000.0;
    double clock = end - kHour;
    smc::VirtualSMC smc;
    KLKelvara kelvara;
    kelvara.setClockForTesting([&clock] { return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(clock * 1000)); });
    for (int tick = 0; clock <= end; ++tick, clock += 10) {
        smc.freezeClock(clock);
        const double noise = std::fmod(std::abs(std::sin(tick * 12.9898) * 43758.5453), 1.0) - 0.5;
        const double load = 0.3 + 0.25 * std::sin(tick / 40.0) + 0.3 * (tick % 90 > 70) + 0.03 * noise;
        smc.setLoad(std::clamp(load, 0.0, 1.0));
        kelvara.fireTrackingTemp();
        drain();
    }
    KLSensor* temperature = data.mainSensor();
    QList<KLSensor*> fans = KLSensor::objectsWhere(NSPredicate::withFormat(QStringLiteral("key = '0'")));
    if (!temperature || fans.isEmpty()) {
        std::fprintf(stderr, "kelvara_pictures: the catalogue has no CPU temperature or fan\n");
        return 1;
    }
    KLSensor* fan = fans.first();
    seedWeekOfFanSpeeds(fan, end);
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    drain();

    const PictureScene scene{temperature, fan, now};
    Pictures pictures(folder);
    bool ok = true;
    // The programs' own controls, as each installs them before its first window.
    NSAppearanceControls::install();
    for (const QByteArray& palette : palettes) {
        const bool dark = palette == "dark";
        // As the programs do when the desktop asks for either.
        NSAppearance::forceDarkModeForTesting(dark);
        NSAppearance::applyApplicationPalette();
        for (const QByteArray& scaleText : scales) {
            const int scale = scaleText.toInt();
            for (const auto& [name, set] : pictureSets()) {
                if (!set(pictures, scene, dark, scale)) {
                    std::fprintf(stderr, "kelvara_pictures: the %s pictures failed\n", qPrintable(name));
                    ok = false;
                }
            }
        }
    }
    std::printf("kelvara_pictures: %d pictures in %s\n", pictures.count(), qPrintable(folder));
    return ok ? 0 : 1;
}
