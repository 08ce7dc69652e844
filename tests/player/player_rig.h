// A player on a virtual device on its test clock, the test thread its user-interface thread: it
// runs the switches, keeps what was played and heard, and waits on counters for the worker's refills.
#pragma once

#include <gtest/gtest.h>

#include "host/asio_host.h"
#include "host/wav_buf.h"
#include "player/player.h"
#include "player/settings.h"
#include "tests/host/virtual_devices.h"
#include "tests/soundfile/sound_fixtures.h"

namespace player_test {

using host_test::Dword;
using host_test::Text;
using host_test::VirtualDeviceSpec;
using testing_support::IsolatedScope;

constexpr int kSegment = 4608;
constexpr int kBlockBytes = 18432;

// A device on the test clock with 16-bit samples (ASIOSTInt16LSB); values override or add settings.
inline VirtualDeviceSpec Device(const std::string& name, int bufferFrames = 256, std::vector<std::string> values = {}) {
    values.insert(values.begin(), {Text("Clock", "test"), Dword("SampleType", 16), Dword("BufferSize", bufferFrames),
                                   Dword("MinSize", 16), Dword("MaxSize", 8192), Dword("Granularity", 0)});
    return {name, values};
}

inline std::vector<int16_t> Channel(const std::vector<int16_t>& interleaved, int channels, int channel) {
    std::vector<int16_t> out;
    for (size_t i = size_t(channel); i < interleaved.size(); i += size_t(channels)) out.push_back(interleaved[i]);
    return out;
}

// Writes a 16-bit PCM WAV whose samples are a ramp distinct per channel.
inline std::vector<int16_t> WriteRampWav(const std::filesystem::path& path, uint32_t frames, uint32_t channels,
                                         uint32_t rate) {
    std::vector<int16_t> s(size_t(frames) * channels);
    for (uint32_t i = 0; i < frames; ++i) {
        s[size_t(i) * channels] = int16_t(i * 7 + 1);
        if (channels == 2) s[size_t(i) * 2 + 1] = int16_t(~(i * 3));
    }
    fixtures::WriteBytes(path, fixtures::MakeWav(1, channels, rate, 16, fixtures::Samples(s)));
    return s;
}

// The samples of a recorded file as our reader reads it (empty when it cannot).
inline std::vector<int16_t> Recorded(const std::filesystem::path& path, uint32_t rate) {
    const fixtures::Bytes image = fixtures::ReadBytes(path);
    SoundFile file;
    fixtures::Open(file, image, rate);
    return file.Ready() ? fixtures::ReadAll(file) : std::vector<int16_t>{};
}

class Rig {
public:
    // devices: registered in this order (driver ids follow the names' order).
    explicit Rig(const std::vector<VirtualDeviceSpec>& devices = {Device("Bellwave Virtual Device")},
                 int32_t device = kStoredDevice) {
        scope.WriteMachineHive(host_test::MachineHive(devices));
        deviceUsable.store(false);
        selectedDevice.store(-1);
        player = std::make_unique<Player>(&window, scope.workDir().c_str(), device);
        ReachClock();
    }

    std::filesystem::path Work(const std::string& name) const { return scope.workDir() / name; }

    void Queue(const std::string& name) {
        PlayEntry entry;
        ASSERT_TRUE(MakePlayEntry(entry, name.c_str(), player->Directories().AddDirectory(scope.workDir().c_str())));
        ASSERT_TRUE(player->Queue().Append(entry));
    }

    // The device opened anew (a ChangeDevice, a return): its clock is a new object.
    void ReachClock() {
        clock = std::make_unique<host_test::TestClock>();
        clock_switches = 0;
    }

    // Runs switches, keeping the outputs and inputs of each.
    void Run(int switches) {
        const DeviceRecord* d = CurrentDeviceRecord();
        ASSERT_NE(d, nullptr);
        const int frames = ASIOGetPrimaryBufferSizeSamples();
        for (int i = 0; i < switches; ++i, ++clock_switches) {
            ASSERT_EQ(clock->Advance(1), 1);
            std::vector<int16_t>* to[] = {&outLeft, &outRight, &inLeft, &inRight};
            for (int c = 0; c < 4; ++c) {
                const auto* area = static_cast<const int16_t*>(d->bufferInfos[c].buffers[clock_switches % 2]);
                to[c]->insert(to[c]->end(), area, area + frames);
            }
        }
    }

    static bool WaitForWorker(int segments) { return host_test::WaitForWorker(segments); }

    // Plays whole segments, each followed by the worker's refill.
    void RunSegments(int segments) {
        for (int i = 0; i < segments; ++i) {
            ASSERT_TRUE(Host().workers && Host().workers[0]) << "the device is not streaming";
            const int done = Host().workers[0]->segmentCounter.load();
            Run(kSegment / ASIOGetPrimaryBufferSizeSamples());
            ASSERT_TRUE(WaitForWorker(done + 1)) << "the worker did not serve segment " << i;
        }
    }

    void Clear() {
        for (auto* v : {&outLeft, &outRight, &inLeft, &inRight}) v->clear();
        window.Clear();
    }

    std::vector<testing_support::RecordedMessage> Messages(uint32_t message) const {
        std::vector<testing_support::RecordedMessage> some;
        for (const auto& m : window.Messages())
            if (m.message == message) some.push_back(m);
        return some;
    }
    std::vector<std::string> Log() const { return host_test::ReadLines(scope.workDir() / "CorvaneDbg.Log"); }

    IsolatedScope scope;
    testing_support::RecordingWindow window;
    std::unique_ptr<Player> player;
    std::unique_ptr<host_test::TestClock> clock;  // holds the driver: it goes before the player
    long long clock_switches = 0;
    std::vector<int16_t> outLeft, outRight, inLeft, inRight;
};

}  // namespace player_test
