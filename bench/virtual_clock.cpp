// Runs the virtual device's real-time clock for a few seconds at Speed 1 and 10 and
// prints the measured buffer-switch rate against the expected rate (rate x Speed /
// buffer size) as a ratio, plus the latest switch relative to its ideal time.
//
//   build/bench/bench_virtual_clock [seconds per run, default 3]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "drivers/virtual/virtual_device.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kRateHz = 48000;
constexpr long kSamples = 512;
constexpr long kMaxSwitches = 1 << 16;

Clock::time_point gTimes[kMaxSwitches];
std::atomic<long> gCount{0};

void BufferSwitch(long, ASIOBool) {
    long n = gCount.load(std::memory_order_relaxed);
    if (n < kMaxSwitches) gTimes[n] = Clock::now();
    gCount.store(n + 1, std::memory_order_release);
}

bool Run(const char* clsidText, long speed, double seconds) {
    CLSID clsid{};
    CLSIDFromString(clsidText, &clsid);
    IASIO* driver = nullptr;
    HRESULT created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, reinterpret_cast<void**>(&driver));
    if (created != S_OK || driver->init(nullptr) != ASIOTrue) {
        std::fprintf(stderr, "bench_virtual_clock: cannot open the virtual device (0x%08x)\n",
                     static_cast<unsigned>(created));
        if (driver) driver->Release();
        return false;
    }
    ASIOBufferInfo infos[2] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
    ASIOCallbacks callbacks{&BufferSwitch, nullptr, nullptr, nullptr};
    gCount = 0;
    bool ok = driver->createBuffers(infos, 2, kSamples, &callbacks) == ASE_OK && driver->start() == ASE_OK;
    if (ok) usleep(static_cast<useconds_t>(seconds * 1e6));
    driver->stop();
    driver->disposeBuffers();
    driver->Release();
    long count = std::min(gCount.load(std::memory_order_acquire), kMaxSwitches);
    if (!ok || count < 2) {
        std::fprintf(stderr, "bench_virtual_clock: the clock did not run\n");
        return false;
    }
    double expected = static_cast<double>(kRateHz) * speed / kSamples;
    double elapsed = std::chrono::duration<double>(gTimes[count - 1] - gTimes[0]).count();
    double measured = (count - 1) / elapsed;
    double latest = 0;  // against the schedule fixed by the first switch
    for (long n = 1; n < count; ++n) {
        double ideal = n / expected;
        latest = std::max(latest, std::chrono::duration<double>(gTimes[n] - gTimes[0]).count() - ideal);
    }
    std::printf("virtual clock, Speed %2ld: %ld switches, expected %.3f/s, measured %.3f/s, ratio %.5f, "
                "latest switch %.3f ms behind\n",
                speed, count, expected, measured, measured / expected, latest * 1e3);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    if (!(seconds > 0 && seconds < 600)) seconds = 3.0;
    char folder[] = "/tmp/bellwave-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    setenv("BELLWAVE_REGISTRY_DIR", folder, 1);
    const char* devices[] = {"{7E1D0A52-5C3B-4F0E-9D21-6A4B8C2E1F01}", "{7E1D0A52-5C3B-4F0E-9D21-6A4B8C2E1F0A}"};
    std::string hive = "REGEDIT4\n";
    for (int i = 0; i < 2; ++i) {
        std::string lower = devices[i];
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        hive += std::string("\n[HKEY_LOCAL_MACHINE\\software\\asio\\Clock ") + std::to_string(i) + "]\n\"clsid\"=\"" +
                lower + "\"\n\"Speed\"=dword:" + (i == 0 ? "00000001" : "0000000a") +
                "\n\n[HKEY_CLASSES_ROOT\\clsid\\" + lower + "\\InprocServer32]\n@=\"" + BELLWAVE_VIRTUAL_DRIVER + "\"\n";
    }
    FILE* file = std::fopen((std::string(folder) + "/machine.reg").c_str(), "w");
    if (file == nullptr) return 1;
    std::fputs(hive.c_str(), file);
    std::fclose(file);

    CoInitialize(nullptr);
    bool ok = Run(devices[0], 1, seconds) && Run(devices[1], 10, seconds);
    CoUninitialize();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return ok ? 0 : 1;
}
