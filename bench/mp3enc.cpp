// Encoding speed of single frames: the whole pipeline, and its analysis and quantisation
// stages on their own.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "mp3enc/mp3enc.h"

namespace {

std::vector<int16_t> Signal(int frames) {
    std::vector<int16_t> pcm(2 * static_cast<size_t>(frames));
    unsigned seed = 1;
    for (int i = 0; i < frames; ++i) {
        seed = seed * 1103515245u + 12345u;
        const double noise = static_cast<double>((seed >> 16) & 0x7FFF) / 32768.0 - 0.5;
        const double t = static_cast<double>(i) / 44100;
        const double v = 0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 1330 * t) + 0.02 * noise;
        pcm[2 * i] = static_cast<int16_t>(32767 * v);
        pcm[2 * i + 1] = static_cast<int16_t>(32767 * v * 0.8);
    }
    return pcm;
}

void BM_EncodeFrame(benchmark::State& state) {
    const std::vector<int16_t> pcm = Signal(1152 * 64);
    std::FILE* sink = std::fopen("/dev/null", "wb");
    mp3enc::Mp3Encoder encoder(44100, 128, 2, sink);
    size_t frame = 0;
    for (auto _ : state) {
        encoder.EncodeFrame(2304, pcm.data() + 2304 * (frame++ % 64), false);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) * 1152 / 44100,
                                                      benchmark::Counter::kIsRate);
    std::fclose(sink);
}
BENCHMARK(BM_EncodeFrame);

void BM_QuantiseBlock(benchmark::State& state) {
    mp3enc::FrameSettings settings;
    settings.sampleRateIndex = 0;
    settings.bitRateIndex = 9;
    mp3enc::HuffTableSet tables;
    mp3enc::QuantLoop loop(settings, tables);
    std::vector<double> xr(576);
    for (int i = 0; i < 576; ++i) xr[i] = 0.3 * std::exp(-i / 60.0) * std::sin(i * 1.7);
    std::vector<int32_t> ix(576);
    mp3enc::GranuleInfo gi;
    for (auto _ : state) benchmark::DoNotOptimize(loop.QuantiseBlock(xr.data(), ix.data(), gi, 762));
}
BENCHMARK(BM_QuantiseBlock);

}  // namespace
