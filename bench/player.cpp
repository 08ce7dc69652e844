// The player's whole playback path on the virtual device: a 44100 Hz stereo 128 kbit/s
// MP3 (made here by `lame`) decoded, resampled to the device's 48000 Hz, split into
// channels and converted to the device's 32-bit samples.
//
// PlaybackFullSpeed drives the device's test clock as fast as the player's worker keeps
// up and counts audio_s: seconds of audio played per CPU second of the whole process
// (the goal is 200 or more). PlaybackRealTime plays on the device's real-time clock for
// a few seconds and reports cpu_percent: the share of one core that costs.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "drivers/virtual/virtual_device.h"
#include "host/asio_host.h"
#include "host/wav_buf.h"
#include "player/player.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDeviceRate = 48000;
constexpr int kBufferFrames = 512;
constexpr int kTrackSeconds = 30;

// Counts the player's messages; the benchmark's thread waits on them without spinning.
class CountingWindow : public MessageWindow {
public:
    bool Post(uint32_t message, WPARAM, LPARAM) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (message == WMU_LEVELS) ++levels_;
        }
        changed_.notify_all();
        return true;
    }
    intptr_t Send(uint32_t, WPARAM, LPARAM) override { return 0; }
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        levels_ = 0;
    }
    // Waits until `levels` meter messages came, or done() holds; false after seconds
    // without either.
    template <class Done>
    bool WaitFor(long levels, Done done, int seconds = 10) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        std::unique_lock<std::mutex> lock(mutex_);
        while (levels_ < levels && !done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            changed_.wait_for(lock, std::chrono::milliseconds(1));
        }
        return true;
    }
    long Levels() {
        std::lock_guard<std::mutex> lock(mutex_);
        return levels_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    long levels_ = 0;
};

// A folder with the registry, the music and the logs; the process works in it.
struct Stage {
    explicit Stage(bool testClock) {
        char pattern[] = "/tmp/bellwave-bench-player-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        folder = pattern;
        std::FILE* hive = std::fopen((folder / "machine.reg").c_str(), "w");
        if (hive == nullptr) return;
        std::fprintf(hive,
                     "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\asio\\Bench]\n"
                     "\"clsid\"=\"{6a1f0c3e-2b7d-4e59-9c41-0d8e7f5abe11}\"\n\"BufferSize\"=dword:%08x\n%s\n"
                     "[HKEY_CLASSES_ROOT\\clsid\\{6a1f0c3e-2b7d-4e59-9c41-0d8e7f5abe11}\\InprocServer32]\n@=\"%s\"\n",
                     kBufferFrames, testClock ? "\"Clock\"=\"test\"\n" : "", BELLWAVE_VIRTUAL_DRIVER);
        std::fclose(hive);
        setenv("BELLWAVE_REGISTRY_DIR", folder.c_str(), 1);
        oldFolder = fs::current_path();
        fs::current_path(folder);
        ok = MakeMusic();
    }
    ~Stage() {
        if (folder.empty()) return;
        if (!oldFolder.empty()) fs::current_path(oldFolder);
        std::error_code error;
        fs::remove_all(folder, error);
    }

    bool MakeMusic() {
        const int frames = 44100 * kTrackSeconds;
        std::FILE* f = std::fopen("music.wav", "wb");
        if (f == nullptr) return false;
        auto put = [f](uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i) std::fputc(int(v >> (8 * i)) & 0xFF, f);
        };
        std::fwrite("RIFF", 1, 4, f);
        put(36 + frames * 4, 4);
        std::fwrite("WAVEfmt ", 1, 8, f);
        put(16, 4), put(1, 2), put(2, 2), put(44100, 4), put(44100 * 4, 4), put(4, 2), put(16, 2);
        std::fwrite("data", 1, 4, f);
        put(frames * 4, 4);
        for (int i = 0; i < frames; ++i) {
            const double t = double(i) / 44100;
            put(uint16_t(int16_t(9000 * std::sin(2 * M_PI * (440 + 30 * t) * t))), 2);
            put(uint16_t(int16_t(7000 * std::sin(2 * M_PI * 660 * t + 0.3))), 2);
        }
        std::fclose(f);
        return std::system("lame --quiet -b 128 music.wav music.mp3") == 0;
    }

    void Queue(Player& player) const {
        PlayEntry entry;
        MakePlayEntry(entry, "music.mp3", player.Directories().AddDirectory(folder.c_str()));
        player.Queue().Append(entry);
    }

    fs::path folder, oldFolder;
    bool ok = false;
};

// The worker has handed back `segments` output segments and queued every header again.
// (A meter message alone is not enough: the worker serves the inputs after the outputs,
// so an input header may still be on its way back.)
bool WorkerIdle(int segments) {
    const WavBuf* wb = Host().wavBufs[0];
    if (Host().workers[0]->segmentCounter.load() < segments) return false;
    for (int i = 0; i < wb->Segments(); ++i)
        if ((wb->OutHeader(i).state.load() & WHDR_DONE) || (wb->InHeader(i).state.load() & WHDR_DONE)) return false;
    return true;
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void PlaybackFullSpeed(benchmark::State& state) {
    Stage stage(true);
    if (!stage.ok) {
        state.SkipWithError("cannot make the stage (is lame installed?)");
        return;
    }
    CountingWindow window;
    Player player(&window, stage.folder.c_str(), 0);
    IVirtualDeviceClock* clock = nullptr;
    if (!player.DeviceReady() || HostDriver() == nullptr ||
        HostDriver()->QueryInterface(IID_IVirtualDeviceClock, reinterpret_cast<void**>(&clock)) != 0) {
        state.SkipWithError("the virtual device did not open");
        return;
    }
    stage.Queue(player);
    const long switchesPerSegment = kSegmentFrames / kBufferFrames;
    double audioSeconds = 0;
    for (auto _ : state) {
        player.Stop();
        window.Reset();
        player.PlayPause();  // loads the entry the first time, then rewinds
        long segments = 0;
        bool stalled = false;
        while (!stalled && !player.EndOfTrack()) {
            clock->AdvanceBufferSwitches(switchesPerSegment);
            ++segments;
            // The worker has served this segment; sleep (not spin) until it is idle.
            bool served = window.WaitFor(2 + segments, [&] { return player.EndOfTrack(); });
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (served && !player.EndOfTrack() && !WorkerIdle(int(segments))) {
                if (std::chrono::steady_clock::now() > deadline) served = false;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
            if (!served) {
                const WavBuf* wb = Host().wavBufs[0];
                char why[256];
                std::snprintf(why, sizeof why,
                              "stalled at segment %ld: %ld meter messages, worker count %d, out states %u %u, in "
                              "states %u %u, dropped %u",
                              segments, window.Levels(), Host().workers[0]->segmentCounter.load(),
                              wb->OutHeader(0).state.load(), wb->OutHeader(1).state.load(),
                              wb->InHeader(0).state.load(), wb->InHeader(1).state.load(),
                              CurrentDeviceRecord()->soundBuffers[0]->DroppedBuffers());
                state.SkipWithError(why);
                stalled = true;
            }
        }
        if (stalled) break;
        audioSeconds += double(segments) * kSegmentFrames / kDeviceRate;
    }
    player.Stop();
    state.counters["audio_s"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.counters["dropped"] = double(CurrentDeviceRecord()->soundBuffers[0]->DroppedBuffers());
    clock->Release();
}
BENCHMARK(PlaybackFullSpeed)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

void PlaybackRealTime(benchmark::State& state) {
    Stage stage(false);
    if (!stage.ok) {
        state.SkipWithError("cannot make the stage (is lame installed?)");
        return;
    }
    CountingWindow window;
    Player player(&window, stage.folder.c_str(), 0);
    if (!player.DeviceReady()) {
        state.SkipWithError("the virtual device did not open");
        return;
    }
    stage.Queue(player);
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double cpu0 = ProcessCpuSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        player.PlayPause();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        player.Stop();
        cpu += ProcessCpuSeconds() - cpu0;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    }
    state.counters["cpu_percent"] = 100.0 * cpu / wall;
    state.counters["dropped"] = double(CurrentDeviceRecord()->soundBuffers[0]->DroppedBuffers());
}
BENCHMARK(PlaybackRealTime)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
