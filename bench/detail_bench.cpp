// The sensor detail screen's own cost, shown offscreen on the temperature
// category in a home of its own (the main window and sidebar around it are
// not part of this measurement):
//   kelvara_detail_bench cpu [seconds]   the screen's CPU share while the real
//       Kelvara Helper polls at 2 s and every poll notice redraws the screen
//   kelvara_detail_bench settings [seconds]  the whole main window's CPU share
//       with the settings screen shown while the real Kelvara Helper polls at 2 s
//   kelvara_detail_bench memory [hours]  resident memory over hours of 2 s
//       ticks on a compressed clock: a helper loop in this process writes and
//       purges the history, the screen redraws on each tick
// Run it through bench/detail-cost.sh, which gives it a home and a session bus.
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <sys/resource.h>

#include "BenchProcess.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLDetailViewController.h"
#include "KLKelvara.h"
#include "KLMainStoryboard.h"
#include "KLMasterViewController.h"
#include "KLMenuItem.h"
#include "KLSensor.h"
#include "KLWindowController.h"
#include "NSBundle.h"
#include "NSDistributedNotificationCenter.h"
#include "VirtualSMC.h"

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

KLCategory* temperatureCategory()
{
    for (KLCategory* category : KLCategory::allObjects())
        if (category->type() == KLCategoryTypeTemperature && !category->sensors().isEmpty())
            return category;
    return nullptr;
}

int measureCPU(const QString& shown, double seconds)
{
    int redraws = 0;
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        &redraws, QString::fromLatin1(KLKelvaraTempDidChangeNotification), [&redraws](const NSNotification&) { ++redraws; });
    QProcess helper;
    helper.start(QStringLiteral(KELVARA_APP_DIR "/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper"), {});
    if (!helper.waitForStarted(5000)) {
        std::fprintf(stderr, "kelvara_detail_bench: Kelvara Helper did not start\n");
        return 1;
    }
    runFor(6);  // start-up is not part of the steady state
    const int redrawsBefore = redraws;
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds);
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = wall.elapsed() / 1000.0;
    helper.terminate();
    helper.waitForFinished(5000);
    std::printf("%s: wall %.1f s, %d poll notices, CPU %.2f s, share %.3f %% of one core, resident %.1f MiB\n",
                qPrintable(shown), elapsed, redraws - redrawsBefore, cpu, 100 * cpu / elapsed, statusKiB() / 1024.0);
    NSDistributedNotificationCenter::defaultCenter().removeObserver(&redraws);
    return 0;
}

int measureMemory(KLDetailViewController& screen, int hours)
{
    // Hours of 2 s ticks on a simulated Mac whose clock follows the ticks.
    double clock = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    smc::VirtualSMC smc;
    KLKelvara kelvara;
    kelvara.setClockForTesting([&clock] { return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(clock * 1000)); });
    std::printf("hour  resident MiB  (anonymous, file)  history points of the shown sensor\n");
    const long start = statusKiB();
    for (int hour = 1; hour <= hours; ++hour) {
        for (int tick = 0; tick < 1800; ++tick) {
            clock += 2;
            smc.freezeClock(clock);
            smc.setLoad(0.3 + 0.2 * ((tick / 60) % 3));
            kelvara.fireTrackingTemp();
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            if (!qEnvironmentVariableIsSet("BENCH_NO_SCREEN"))
                screen.kelvaraTempDidChangeNotification();
        }
        // What the allocator keeps of freed memory is not the screen's.
        malloc_trim(0);
        KLSensor* shown = screen.selectedSensor();
        std::printf("%4d %13.1f   (%6.1f, %6.1f) %8lld\n", hour, statusKiB() / 1024.0, statusKiB("RssAnon:") / 1024.0,
                    statusKiB("RssFile:") / 1024.0,
                    static_cast<long long>(shown ? shown->graphPoints().size() : 0));
        std::fflush(stdout);
    }
    std::printf("resident after start-up %.1f MiB, peak %.1f MiB\n", start / 1024.0, statusKiB("VmHWM:") / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const QByteArray what = argc > 1 ? QByteArray(argv[1]) : QByteArray("cpu");
    if (what != "cpu" && what != "memory" && what != "settings") {
        std::fprintf(stderr, "usage: kelvara_detail_bench cpu [seconds] | settings [seconds] | memory [hours]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR));
    QApplication app(argc, argv);
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setupDatabase();
    settings.setUpdateFrequency(KLUpdateFrequencyHigh);  // a poll every 2 s
    runFor(1.5);
    KLMainStoryboard::storyboard();
    KLCategory* temperature = temperatureCategory();
    if (!temperature) {
        std::fprintf(stderr, "kelvara_detail_bench: the catalogue has no temperature sensors\n");
        return 1;
    }
    if (what == "settings") {
        KLWindowController window;
        window.resize(1100, 700);
        window.show();
        KLMasterViewController* sidebar = window.masterViewController();
        const QList<KLMenuItem>& items = sidebar->menuItems();
        for (int row = 0; row < int(items.size()); ++row)
            if (items[row].type == KLMenuItemTypeSettings)
                sidebar->selectCellAtRow(row);
        QCoreApplication::processEvents();
        return measureCPU(QStringLiteral("main window (settings screen)"), argc > 2 ? std::atof(argv[2]) : 120);
    }
    KLDetailViewController screen;
    screen.resize(860, 700);
    screen.setCategory(temperature);
    screen.show();
    QCoreApplication::processEvents();
    if (what == "cpu")
        return measureCPU(QStringLiteral("detail screen (temperature, %1 sensors)").arg(screen.sensors().size()),
                          argc > 2 ? std::atof(argv[2]) : 120);
    return measureMemory(screen, argc > 2 ? std::atoi(argv[2]) : 3);
}
