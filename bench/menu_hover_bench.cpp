// What a pointer move over the sensor list of Kelvara Menu's popover costs, with
// the catalogue of the simulated Mac and a week of history in a home of its own,
// offscreen: within one row (the detail popover already shows that row's sensor)
// and from one row to the next (the detail shows the other sensor: its tile,
// switch, graph and description, and moves beside it).
//   dbus-run-session -- build/bench/kelvara_menu_hover_bench
#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "BenchHistory.h"
#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLMenuStoryboard.h"
#include "KLPopupDetailViewController.h"
#include "KLPopupViewController.h"
#include "KLTrackingTableView.h"
#include "NSBundle.h"
#include "NSPopover.h"
#include "NSScreen.h"
#include "NSStoryboard.h"

namespace {

KLPopupViewController* g_screen = nullptr;

QPoint inRow(int row, int down)
{
    auto* table = g_screen->findChild<KLTrackingTableView*>(QStringLiteral("tableView"));
    // The screen probes ten points below the pointer: stay in the row's upper half.
    return table->viewport()->mapToGlobal(QPoint(40, table->rectOfRow(row).top() + down));
}

void BM_HoverWithinOneRow(benchmark::State& state)
{
    const QPoint a = inRow(2, 1), b = inRow(2, 8);
    g_screen->trackingTableViewMouseMoved(a);
    bool flip = false;
    for (auto _ : state) {
        g_screen->trackingTableViewMouseMoved((flip = !flip) ? b : a);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_HoverWithinOneRow)->Unit(benchmark::kMicrosecond);

void BM_HoverToAnotherRow(benchmark::State& state)
{
    const QPoint a = inRow(2, 1), b = inRow(3, 1);
    bool flip = false;
    for (auto _ : state) {
        g_screen->trackingTableViewMouseMoved((flip = !flip) ? b : a);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_HoverToAnotherRow)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    // Kelvara's own start builds the catalogue; the popover reads it as Kelvara Menu does.
    NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR));
    QApplication app(argc, argv);
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setupDatabase();
    seedAWeekOfHistory();
    QVariantList items{QVariantMap{{QStringLiteral("main_sensor"), true}}, QVariantMap{{QStringLiteral("fan_control"), true}}};
    for (KLCategory* category : KLCategory::allObjects())
        items.append(QVariantMap{{category->name(), true}});
    settings.setDropdownItems(items);

    NSPopover popover;
    g_screen = dynamic_cast<KLPopupViewController*>(
        KLMenuStoryboard::storyboard().instantiateControllerWithIdentifier(QStringLiteral("popupViewController")));
    popover.setContentViewController(g_screen);
    const QRect area = NSScreen::visibleFrame(NSScreen::mainScreen());
    popover.showRelativeToRect(QRect(area.right() - 40, area.top(), 1, 1), NSRectEdgeMinY);
    drainMainQueue();
    if (g_screen->dataDicts().size() < 4) {
        std::fprintf(stderr, "kelvara_menu_hover_bench: the popover lists no sensors\n");
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    popover.close();
    return 0;
}
