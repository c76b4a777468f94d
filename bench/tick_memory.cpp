// Kelvara Helper's resident memory after an hour of ticks at 2 s (1,800),
// run back to back over a store that already holds a full week of history.
// The history is written by a child process first, so this process starts
// as the helper does: with nothing of it in memory.
//   kelvara_tick_memory            prints the figures
//   kelvara_tick_memory --seed H   (internal) fills the store in home H
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

#include "AppDelegate.h"
#include "BenchHistory.h"
#include "BenchProcess.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLKelvara.h"
#include "KLSensor.h"
#include "NSBundle.h"

namespace {

int seed()
{
    KLDataManager::sharedInstance().setupDatabase();
    drainMainQueue();
    seedAWeekOfHistory();
    return KLCoreDataHelper::sharedInstance().masterContext()->hasChanges() ? 1 : 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    const bool seeding = argc == 3 && qstrcmp(argv[1], "--seed") == 0;
    QTemporaryDir home;
    qputenv("HOME", seeding ? QByteArray(argv[2]) : home.path().toLocal8Bit());
    NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR "/Contents/Components/Kelvara Helper.app"));
    QCoreApplication application(argc, argv);
    if (seeding)
        return seed();

    if (QProcess::execute(QCoreApplication::applicationFilePath(), {QStringLiteral("--seed"), home.path()}) != 0) {
        std::fprintf(stderr, "seeding the store failed\n");
        return 1;
    }
    KLDataManager::sharedInstance().setUpdateFrequency(KLUpdateFrequencyHigh);
    drainMainQueue();
    const long atStart = statusKiB("VmRSS:");

    // The helper's own start-up (loop, notices, log, fans), then the rest of
    // the hour's ticks without waiting for the timer.
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    drainMainQueue();
    for (int tick = 1; tick < 1800; ++tick) {
        KLKelvara::sharedInstance().fireTrackingTemp();
        drainMainQueue();
    }
    int sensors = 0;
    for (KLCategory* category : KLKelvara::sharedInstance().categories())
        sensors += static_cast<int>(category->sensors().size());
    const QString store = KLCoreDataHelper::sharedInstance().applicationDocumentsDirectory() + "/Database.sqlite";
    std::printf("sensors polled:            %d\n", sensors);
    std::printf("objects held by the store: %d\n", KLCoreDataHelper::sharedInstance().masterContext()->registeredObjectCount());
    std::printf("store file:                %.1f MiB\n", QFileInfo(store).size() / 1048576.0);
    std::printf("resident before start-up:  %.1f MiB\n", atStart / 1024.0);
    std::printf("resident after 1800 ticks: %.1f MiB\n", statusKiB("VmRSS:") / 1024.0);
    std::printf("peak resident:             %.1f MiB\n", statusKiB("VmHWM:") / 1024.0);
    return 0;
}
