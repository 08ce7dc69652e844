// What the ALSA driver's tests share: an ALSA configuration of the test's own devices,
// the driver created through the registry and COM as the host creates it, and a small
// host that writes a known pattern into the output halves in the device's sample type
// and keeps what arrives in the input halves.
#pragma once

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <algorithm>
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

using testing_support::WaitUntil;

// Makes ALSA read, after its own configuration, `devices` (asoundrc text) from a file in
// the scope's work folder. The test plug-in is known as type "bwtest".
inline void UseAlsaDevices(const testing_support::IsolatedScope& scope, const std::string& devices) {
    const std::filesystem::path rc = scope.workDir() / "asoundrc";
    testing_support::WriteFile(rc, std::string("pcm_type.bwtest { lib \"") + ALSA_TEST_PLUGIN_PATH + "\" }\n" + devices);
    setenv("ALSA_CONFIG_PATH", (std::string(snd_config_topdir()) + "/alsa.conf:" + rc.string()).c_str(), 1);
}

// The driver registered as "ALSA" on `device` with the host's buffer size.
inline void RegisterAlsa(const testing_support::IsolatedScope& scope, const std::string& device, long bufferFrames) {
    using testing_support::Text;
    char clsid[40];
    StringFromCLSID(CLSID_AlsaDriver, clsid);
    scope.WriteMachineHive("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\asio\\ALSA]\n" + Text("clsid", clsid) + "\n" +
                           Text("description", "ALSA") + "\n" + Text("Device", device) + "\n" +
                           testing_support::Dword("BufferSize", static_cast<uint32_t>(bufferFrames)) +
                           "\n\n[HKEY_CLASSES_ROOT\\clsid\\" + clsid + "\\InprocServer32]\n@=\"" ALSA_DRIVER_PATH "\"\n");
}

// The driver as the host gets it: registry entry, CoCreateInstance, one reference.
inline IASIO* CreateDriver(const testing_support::IsolatedScope& scope, const std::string& device, long bufferFrames) {
    RegisterAlsa(scope, device, bufferFrames);
    EXPECT_GE(CoInitialize(nullptr), 0);  // S_OK, or S_FALSE when already initialised
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_AlsaDriver, nullptr, CLSCTX_INPROC_SERVER, CLSID_AlsaDriver, &object), S_OK);
    return static_cast<IASIO*>(object);
}

inline unsigned BytesOf(ASIOSampleType type) { return type == ASIOSTInt16LSB ? 2 : type == ASIOSTInt24LSB ? 3 : 4; }

// Frame f of the host's pattern (switch s, frame i: f = s * N + i), channel c, in the
// device's sample layout as ALSA's S16_LE, S24_3LE, S32_LE and FLOAT_LE lay it out,
// written byte by byte. Never zero; left positive, right negative.
inline void EncodeSample(ASIOSampleType type, long long frame, int channel, uint8_t* out) {
    const int value16 = (channel == 0 ? 1 : -1) * static_cast<int>(frame % 30000 + 1);
    const float f = static_cast<float>(value16) / 32768.0f;
    uint32_t bits = type == ASIOSTInt16LSB   ? static_cast<uint32_t>(value16) & 0xffffu
                    : type == ASIOSTInt24LSB ? static_cast<uint32_t>(value16 * 256) & 0xffffffu
                                             : static_cast<uint32_t>(value16) << 16;
    if (type == ASIOSTFloat32LSB) std::memcpy(&bits, &f, 4);
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
    std::atomic<long> switches{0}, wrongIndex{0};
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
        // Past 400 switches each one sleeps a millisecond, so that a device that does not
        // pace itself does not keep a core busy while the test looks.
        if (host->switches.fetch_add(1, std::memory_order_release) >= 400)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    static void SampleRateDidChange(ASIOSampleRate) {}
    static long AsioMessage(long selector, long value, void*, double*) {
        if (selector == kAsioSelectorSupported) return value == kAsioResetRequest;
        if (selector == kAsioResetRequest) current->resetRequests.fetch_add(1);
        return selector == kAsioResetRequest;
    }
};

// `silence` zero bytes, then switches [firstSwitch, endSwitch) of the host's pattern, two
// channels interleaved: what a device should have been given.
inline std::string ExpectedPlayback(ASIOSampleType type, long frames, size_t silence, long firstSwitch, long endSwitch) {
    const unsigned bytes = BytesOf(type);
    std::string out(silence, '\0');
    uint8_t sample[4];
    for (long long f = static_cast<long long>(firstSwitch) * frames; f < static_cast<long long>(endSwitch) * frames; ++f)
        for (int c = 0; c < 2; ++c) {
            EncodeSample(type, f, c, sample);
            out.append(reinterpret_cast<const char*>(sample), bytes);
        }
    return out;
}

// Where two byte strings first differ, for failure messages.
inline testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
    const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (a == actual.end() && e == expected.end()) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "first difference at byte " << (a - actual.begin()) << " of "
                                       << actual.size() << " (expected " << expected.size() << ")";
}

}  // namespace alsa_test
