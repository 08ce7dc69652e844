// What the ALSA driver's tests share: an ALSA configuration of the test's own devices,
// the driver created through the registry and COM as the host creates it, and a small
// host that writes a known pattern into the output halves in the device's sample type
// and keeps what arrives in the input halves.
#pragma once

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "drivers/alsa/alsa_driver.h"
#include "test_support.h"

namespace alsa_test {

using testing_support::Dword;
using testing_support::Text;
using testing_support::WaitUntil;

// Makes ALSA read, after its own configuration, `devices` (asoundrc text) from a file in
// the scope's work folder. The test plug-in is known as type "bwtest".
inline void UseAlsaDevices(const testing_support::IsolatedScope& scope, const std::string& devices) {
    std::filesystem::path rc = scope.workDir() / "asoundrc";
    testing_support::WriteFile(rc, std::string("pcm_type.bwtest { lib \"") + ALSA_TEST_PLUGIN_PATH + "\" }\n" + devices);
    std::string path = std::string(snd_config_topdir()) + "/alsa.conf:" + rc.string();
    setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
}

// The driver registered as "ALSA" on `device` with the host's buffer size.
inline void RegisterAlsa(const testing_support::IsolatedScope& scope, const std::string& device, long bufferFrames) {
    char clsid[40];
    StringFromCLSID(CLSID_AlsaDriver, clsid);
    scope.WriteMachineHive("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\asio\\ALSA]\n" + Text("clsid", clsid) + "\n" +
                           Text("description", "ALSA") + "\n" + Text("Device", device) + "\n" +
                           Dword("BufferSize", static_cast<uint32_t>(bufferFrames)) + "\n\n[HKEY_CLASSES_ROOT\\clsid\\" + clsid +
                           "\\InprocServer32]\n@=\"" + ALSA_DRIVER_PATH + "\"\n");
}

// The driver as the host gets it: registry entry, CoCreateInstance, one reference.
inline IASIO* CreateDriver(const testing_support::IsolatedScope& scope, const std::string& device, long bufferFrames) {
    RegisterAlsa(scope, device, bufferFrames);
    EXPECT_GE(CoInitialize(nullptr), 0);  // S_OK, or S_FALSE when already initialised
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_AlsaDriver, nullptr, CLSCTX_INPROC_SERVER, CLSID_AlsaDriver, &object), S_OK);
    return static_cast<IASIO*>(object);
}

inline unsigned BytesOf(ASIOSampleType type) {
    return type == ASIOSTInt16LSB ? 2 : type == ASIOSTInt24LSB ? 3 : 4;
}

// The pattern the host plays: frame f of the whole stream (switch s, frame i: f = s * N
// + i), channel c. Never zero, so silence is told apart; left positive, right negative.
inline int PatternValue(long long frame, int channel) {
    int magnitude = static_cast<int>(frame % 30000) + 1;
    return channel == 0 ? magnitude : -magnitude;
}

// A 16-bit value in the device's sample layout, little-endian, as ALSA's S16_LE, S24_3LE,
// S32_LE and FLOAT_LE formats lay it out; written out byte by byte.
inline void EncodeSample(ASIOSampleType type, int value16, uint8_t* out) {
    uint32_t bits = 0;
    switch (type) {
        case ASIOSTInt16LSB: bits = static_cast<uint32_t>(value16) & 0xffffu; break;
        case ASIOSTInt24LSB: bits = static_cast<uint32_t>(value16 * 256) & 0xffffffu; break;
        case ASIOSTInt32LSB: bits = static_cast<uint32_t>(value16) << 16; break;
        case ASIOSTFloat32LSB: {
            float f = static_cast<float>(value16) / 32768.0f;
            std::memcpy(&bits, &f, 4);
            break;
        }
        default: break;
    }
    for (unsigned b = 0; b < BytesOf(type); ++b) out[b] = static_cast<uint8_t>(bits >> (8 * b));
}

// The test's host. One instance at a time (the callbacks are plain functions).
struct TestHost {
    static inline TestHost* current = nullptr;

    TestHost() { current = this; }
    ~TestHost() { current = nullptr; }

    ASIOBufferInfo infos[4] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}, {ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}};
    ASIOCallbacks callbacks{BufferSwitch, SampleRateDidChange, AsioMessage, nullptr};
    long frames = 0;
    ASIOSampleType type = ASIOSTInt32LSB;
    // Past this many switches each one sleeps a millisecond, so that a device that does
    // not pace itself (null) does not keep a core busy while the test looks.
    long throttleAfter = 400;

    std::atomic<long> switches{0};
    std::atomic<long> wrongIndex{0};
    std::atomic<int> resetRequests{0};
    // The streaming thread's own while running: the first input halves it was given.
    long expectedIndex = 0;
    std::vector<uint8_t> inputs[2];
    size_t inputSwitchesToKeep = 0;

    // Creates two outputs and two inputs in the driver's sample type.
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
        for (long b = 0; b < 4; ++b) {
            const ASIOBufferInfo& info = host->infos[b];
            auto* half = static_cast<uint8_t*>(info.buffers[index]);
            if (info.isInput) {
                std::vector<uint8_t>& kept = host->inputs[info.channelNum];
                if (kept.size() < host->inputSwitchesToKeep * host->frames * bytes)
                    kept.insert(kept.end(), half, half + host->frames * bytes);
                continue;
            }
            for (long i = 0; i < host->frames; ++i)
                EncodeSample(host->type, PatternValue(first + i, static_cast<int>(info.channelNum)), half + i * bytes);
        }
        if (host->switches.fetch_add(1, std::memory_order_release) >= host->throttleAfter)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    static void SampleRateDidChange(ASIOSampleRate) {}
    static long AsioMessage(long selector, long value, void*, double*) {
        if (selector == kAsioSelectorSupported) return value == kAsioResetRequest;
        if (selector != kAsioResetRequest) return 0;
        current->resetRequests.fetch_add(1);
        return 1;
    }
};

// The bytes a device should have been given for switches [firstSwitch, endSwitch) of
// the host's pattern, two channels interleaved.
inline std::vector<uint8_t> ExpectedPlayback(ASIOSampleType type, long frames, long firstSwitch, long endSwitch) {
    const unsigned bytes = BytesOf(type);
    std::vector<uint8_t> out(static_cast<size_t>(endSwitch - firstSwitch) * frames * 2 * bytes);
    uint8_t* at = out.data();
    for (long long f = static_cast<long long>(firstSwitch) * frames; f < static_cast<long long>(endSwitch) * frames; ++f)
        for (int c = 0; c < 2; ++c, at += bytes) EncodeSample(type, PatternValue(f, c), at);
    return out;
}

// Where two byte strings first differ, for failure messages.
inline testing::AssertionResult SameBytes(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected) {
    size_t n = std::min(actual.size(), expected.size());
    for (size_t i = 0; i < n; ++i)
        if (actual[i] != expected[i])
            return testing::AssertionFailure() << "byte " << i << " is " << int(actual[i]) << ", expected "
                                               << int(expected[i]);
    if (actual.size() != expected.size())
        return testing::AssertionFailure() << actual.size() << " bytes, expected " << expected.size();
    return testing::AssertionSuccess();
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::string text = testing_support::ReadFile(path);
    return {text.begin(), text.end()};
}

}  // namespace alsa_test
