// Conversion throughput of one device buffer (512 samples) per device type and
// direction, in samples per second, with memcpy of the device's bytes for the same
// samples as the ceiling. After the usual table it prints each path's speed as a
// ratio of that memcpy. Goal: the 16-bit path at memcpy speed, the others at least 0.25.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host/buffer_switch.h"

namespace {

constexpr int kSamples = 512;

int Width(int formatClass) { return formatClass == kFormatInt16 ? 2 : formatClass == kFormatInt24 ? 3 : 4; }

const char* TypeName(int formatClass) {
    switch (formatClass) {
    case kFormatInt16: return "Int16LSB";
    case kFormatInt24: return "Int24LSB";
    case kFormatInt32: return "Int32LSB";
    default: return "Float32LSB";
    }
}

// A buffer on a 64-byte boundary, as drivers' areas and the host's segments are: the
// speed of memcpy, the ceiling, depends on where its buffers start.
class Buffer {
public:
    explicit Buffer(int bytes) : storage_(static_cast<size_t>(bytes) + 64), size_(static_cast<size_t>(bytes)) {}
    uint8_t* data() {
        const auto at = reinterpret_cast<uintptr_t>(storage_.data());
        return storage_.data() + ((64 - at % 64) % 64);
    }
    size_t size() const { return size_; }

private:
    std::vector<uint8_t> storage_;
    size_t size_;
};

// Application data: a ramp in whichever width the path reads.
Buffer Source(int bytes) {
    Buffer v(bytes);
    for (size_t i = 0; i < v.size(); ++i) v.data()[i] = static_cast<uint8_t>(i * 37 + 11);
    return v;
}

void Output(benchmark::State& state, int formatClass, bool native, int a) {
    const int srcWidth = native ? Width(formatClass) : 2;
    Buffer src = Source(srcWidth * kSamples);
    if (native && formatClass == kFormatFloat32)
        for (int i = 0; i < kSamples; ++i) {
            const float f = static_cast<float>(i) / kSamples - 0.5f;
            std::memcpy(src.data() + 4 * i, &f, 4);
        }
    Buffer dst(Width(formatClass) * kSamples);
    for (auto _ : state) {
        ConvertOutput(formatClass, native, a, src.data(), dst.data(), kSamples);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

void Input(benchmark::State& state, int formatClass) {
    Buffer src = Source(Width(formatClass) * kSamples);
    if (formatClass == kFormatFloat32)
        for (int i = 0; i < kSamples; ++i) {
            const float f = static_cast<float>(i) / kSamples - 0.5f;
            std::memcpy(src.data() + 4 * i, &f, 4);
        }
    Buffer dst(2 * kSamples);
    for (auto _ : state) {
        ConvertInput(formatClass, false, src.data(), dst.data(), kSamples);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

void Copy(benchmark::State& state, int width) {
    Buffer src = Source(width * kSamples);
    Buffer dst(static_cast<int>(src.size()));
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

// Keeps each run's samples per second for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.counters.count("items_per_second"))
                rates[r.benchmark_name()] = r.counters.at("items_per_second");
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

struct Path {
    std::string name;
    int width;  // device bytes per sample, naming the memcpy it is measured against
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<Path> paths;
    for (int width : {2, 3, 4}) {
        const std::string name = "memcpy/" + std::to_string(width) + "B";
        benchmark::RegisterBenchmark(name.c_str(), Copy, width);
    }
    for (int fc : {kFormatInt16, kFormatInt24, kFormatInt32, kFormatFloat32}) {
        for (int a : {0, 3}) {
            const std::string name = std::string("out/") + TypeName(fc) + "/16bit/a" + std::to_string(a);
            benchmark::RegisterBenchmark(name.c_str(), Output, fc, false, a);
            paths.push_back({name, Width(fc)});
        }
        if (fc != kFormatInt16) {
            const std::string name = std::string("out/") + TypeName(fc) + "/native/a3";
            benchmark::RegisterBenchmark(name.c_str(), Output, fc, true, 3);
            paths.push_back({name, Width(fc)});
        }
        const std::string name = std::string("in/") + TypeName(fc) + "/16bit";
        benchmark::RegisterBenchmark(name.c_str(), Input, fc);
        paths.push_back({name, Width(fc)});
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n%-32s %14s %10s\n", "path", "samples/s", "x memcpy");
    for (const Path& p : paths) {
        const auto rate = reporter.rates.find(p.name);
        const auto ceiling = reporter.rates.find("memcpy/" + std::to_string(p.width) + "B");
        if (rate == reporter.rates.end() || ceiling == reporter.rates.end() || ceiling->second <= 0) continue;
        std::printf("%-32s %14.3g %10.2f\n", p.name.c_str(), rate->second, rate->second / ceiling->second);
    }
    benchmark::Shutdown();
    return 0;
}
