// What one poll tick costs the status item when one value changed: its square
// drawn in every size handed to hosts (the pixmaps a host then fetches).
#include <QApplication>
#include <benchmark/benchmark.h>

#include "NSStatusItem.h"
#include "StatusNotifierItem.h"

namespace {

void ensureApplication()
{
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kelvara_status_item_bench";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    Q_UNUSED(app);
}

void BM_ChangedValueSquare(benchmark::State& state)
{
    ensureApplication();
    int reading = 40;
    qsizetype bytes = 0;
    for (auto _ : state) {
        const NSStatusItem::Cell cell{QString(), QStringLiteral("%1°").arg(reading++ % 60 + 40)};
        for (int side : NSStatusItem::kIconSizes)
            bytes += StatusNotifierItem::pixmapFromImage(NSStatusItem::renderCell(cell, side, 1, false)).bytes.size();
    }
    state.counters["bytes_per_change"] = double(bytes) / double(state.iterations());
}
BENCHMARK(BM_ChangedValueSquare)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
