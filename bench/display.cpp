// One level update of the status panel as the shell runs it for every level message:
// SetMeterValues, DrawMeters and Visualiser::Draw, at the smallest window (688 x 302)
// and at 1920 x 1080, in both styles, next to one plain fill of the visualiser's area.
// Goal: a level update within 1.5 times the fill at both sizes.
//   build/bench/bench_display --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <cstdlib>

#include <benchmark/benchmark.h>
#include <QGuiApplication>

#include "display/status_panel.h"

namespace {

// Text needs a QGuiApplication. It is never destroyed: Qt cannot be torn down from the
// exit handlers, after main has returned.
void EnsureApp() {
    static int argc = 1;
    static char name[] = "bench_display";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = nullptr;
    if (app == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app = new QGuiApplication(argc, argv);
    }
}

void LevelUpdate(benchmark::State& state) {
    EnsureApp();
    ScreenImage screen(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    StatusPanel panel(&screen);
    panel.BuildAll();
    panel.GetVisualiser().SetPsychedelic(state.range(2) != 0);
    // A full history, so every column carries a bar.
    for (int i = 0; i < 4096; ++i) panel.SetMeterValues(false, 8000 + (i * 977) % 24000, 12000);
    int i = 0;
    for (auto _ : state) {
        // Levels that move the meters by a few LEDs, as music does.
        const int32_t left = 6000 + (i * 7919) % 26000;
        const int32_t right = 6000 + (i * 104729) % 26000;
        ++i;
        panel.SetMeterValues(false, left, right);
        panel.DrawMeters();
        panel.GetVisualiser().Draw(&panel.VisualiserRect());
        benchmark::DoNotOptimize(screen.Image().constBits());
    }
}

// The floor for the same sizes: one plain fill of the visualiser's area, the least any
// redraw of it costs on this machine. Compare LevelUpdate against it in the same run.
void FillVisualiserArea(benchmark::State& state) {
    EnsureApp();
    ScreenImage screen(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    StatusPanel panel(&screen);
    panel.BuildAll();
    const Rect& area = panel.VisualiserRect();
    uint32_t pixel = 0;
    for (auto _ : state) {
        FillRect(screen.Image(), Rect{area.left, area.top, area.right - 1, area.bottom}, ++pixel & 0xFF);
        benchmark::DoNotOptimize(screen.Image().constBits());
    }
}

}  // namespace

BENCHMARK(FillVisualiserArea)
    ->ArgNames({"width", "height"})
    ->Args({688, 302})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(LevelUpdate)
    ->ArgNames({"width", "height", "psychedelic"})
    ->Args({688, 302, 0})
    ->Args({688, 302, 1})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Unit(benchmark::kMicrosecond);
