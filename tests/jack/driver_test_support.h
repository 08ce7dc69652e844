// What the sound drivers' tests (JACK, ALSA, PipeWire) share: a driver's registry entry,
// the driver created through COM as the host creates it, and a host that writes a
// pattern into the output halves and keeps what arrives in the input halves.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/asio_driver.h"
#include "test_support.h"

namespace driver_test {

// A driver's hive entry: its key under `description` with these REGEDIT4 value lines.
inline std::string DriverEntry(const CLSID& clsid, const char* description, const char* library,
                               const std::string& values = "") {
    char id[40];
    StringFromCLSID(clsid, id);
    return std::string("[HKEY_LOCAL_MACHINE\\software\\asio\\") + description + "]\n" + testing_support::Text("clsid", id) +
           "\n" + testing_support::Text("description", description) + "\n" + values + "\n\n[HKEY_CLASSES_ROOT\\clsid\\" +
           id + "\\InprocServer32]\n@=\"" + library + "\"\n\n";
}

// The driver of `entry` as the only device, as the host gets it.
inline IASIO* CreateDriver(const testing_support::IsolatedScope& scope, const CLSID& clsid, const std::string& entry) {
    scope.WriteMachineHive("REGEDIT4\n\n" + entry);
    EXPECT_GE(CoInitialize(nullptr), 0);  // S_OK, or S_FALSE when already initialised
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object), S_OK);
    return static_cast<IASIO*>(object);
}

inline unsigned BytesOf(ASIOSampleType type) { return type == ASIOSTInt16LSB ? 2 : type == ASIOSTInt24LSB ? 3 : 4; }

// Frame f of the host's pattern (switch s, frame i: f = s * N + i), channel c, in the
// driver's sample type. Never zero; left positive, right negative.
inline void EncodeSample(ASIOSampleType type, long long frame, int channel, uint8_t* out) {
    const int value16 = (channel == 0 ? 1 : -1) * static_cast<int>(frame % 30000 + 1);
    const float f = static_cast<float>(value16) / 32768.0f;
    uint32_t bits = type == ASIOSTInt16LSB   ? static_cast<uint32_t>(value16) & 0xffffu
                    : type == ASIOSTInt24LSB ? static_cast<uint32_t>(value16 * 256) & 0xffffffu
                                             : static_cast<uint32_t>(value16) << 16;
    if (type == ASIOSTFloat32LSB) std::memcpy(&bits, &f, 4);
    for (unsigned b = 0; b < BytesOf(type); ++b) out[b] = static_cast<uint8_t>(bits >> (8 * b));
}

// A driver's answers to the host's device query: two channels each way, `frames` its
// only buffer size, 48000 Hz its only rate.
inline void ExpectStereoAt48k(IASIO* driver, long frames) {
    long channels[2] = {-1, -1}, sizes[4] = {-1, -1, -1, -1};
    ASIOSampleRate rate = 0;
    ASSERT_EQ(driver->getChannels(&channels[0], &channels[1]), ASE_OK);
    ASSERT_EQ(driver->getBufferSize(&sizes[0], &sizes[1], &sizes[2], &sizes[3]), ASE_OK);
    ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(std::vector<long>({channels[0], channels[1], sizes[0], sizes[1], sizes[2], sizes[3]}),
              std::vector<long>({2, 2, frames, frames, frames, 0}));
    EXPECT_EQ(rate, 48000.0);
    EXPECT_EQ(driver->canSampleRate(48000.0), ASE_OK);
    EXPECT_EQ(driver->canSampleRate(44100.0), ASE_NoClock);
}

// The test's host, one at a time (the callbacks are plain functions).
struct TestHost {
    static inline TestHost* current = nullptr;
    TestHost() { current = this; }
    ~TestHost() { current = nullptr; }

    ASIOBufferInfo infos[4] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}, {ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}};
    ASIOCallbacks callbacks{BufferSwitch, SampleRateDidChange, AsioMessage, nullptr};
    long frames = 0;  // 0: halves are left alone
    ASIOSampleType type = ASIOSTInt32LSB;
    std::atomic<long> switches{0}, wrongIndex{0};
    std::atomic<int> resetRequests{0}, latencyNotices{0};
    long expectedIndex = 0;  // the streaming thread's while running, as are the inputs
    std::vector<uint8_t> inputs[2];
    size_t inputSwitchesToKeep = 0;

    // Creates two outputs and two inputs of `bufferFrames` in the driver's sample type.
    ASIOError Create(IASIO* driver, long bufferFrames) {
        ASIOChannelInfo info{0, ASIOFalse, -1, -1, -1, ""};
        if (driver->getChannelInfo(&info) != ASE_OK) return ASE_NotPresent;
        type = info.type;
        frames = bufferFrames;
        for (auto& kept : inputs) kept.reserve(inputSwitchesToKeep * frames * BytesOf(type));
        return driver->createBuffers(infos, 4, bufferFrames, &callbacks);
    }

    static void BufferSwitch(long index, ASIOBool) {
        TestHost* host = current;
        if (index != host->expectedIndex) host->wrongIndex.fetch_add(1);
        host->expectedIndex = 1 - index;
        const unsigned bytes = BytesOf(host->type);
        const long long first = static_cast<long long>(host->switches.load(std::memory_order_relaxed)) * host->frames;
        for (const ASIOBufferInfo& info : host->infos) {
            auto* half = static_cast<uint8_t*>(info.buffers[index]);
            std::vector<uint8_t>& kept = host->inputs[info.channelNum];
            if (!info.isInput) {
                for (long i = 0; i < host->frames; ++i)
                    EncodeSample(host->type, first + i, static_cast<int>(info.channelNum), half + i * bytes);
            } else if (kept.size() < host->inputSwitchesToKeep * host->frames * bytes) {
                kept.insert(kept.end(), half, half + host->frames * bytes);
            }
        }
        host->switches.fetch_add(1, std::memory_order_release);
    }
    static void SampleRateDidChange(ASIOSampleRate) {}
    static long AsioMessage(long selector, long value, void*, double*) {
        if (selector == kAsioSelectorSupported) return value == kAsioResetRequest;
        if (selector == kAsioLatenciesChanged) current->latencyNotices.fetch_add(1);
        if (selector == kAsioResetRequest) current->resetRequests.fetch_add(1);
        return selector == kAsioResetRequest;
    }
};

}  // namespace driver_test
