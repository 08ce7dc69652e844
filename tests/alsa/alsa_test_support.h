// What the ALSA driver's tests share besides the sound drivers' own helpers: an ALSA
// configuration of the test's own devices, the driver on one of them, and the bytes a
// device should have been given.
#pragma once

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "drivers/alsa/alsa_driver.h"
#include "test_support.h"
#include "tests/jack/driver_test_support.h"

namespace alsa_test {

using testing_support::WaitUntil;

// Makes ALSA read, after its own configuration, `devices` (asoundrc text) from a file in
// the scope's work folder. The test plug-in is known as type "bwtest".
inline void UseAlsaDevices(const testing_support::IsolatedScope& scope, const std::string& devices) {
    const std::filesystem::path rc = scope.workDir() / "asoundrc";
    testing_support::WriteFile(rc, std::string("pcm_type.bwtest { lib \"") + ALSA_TEST_PLUGIN_PATH + "\" }\n" + devices);
    setenv("ALSA_CONFIG_PATH", (std::string(snd_config_topdir()) + "/alsa.conf:" + rc.string()).c_str(), 1);
}

using driver_test::BytesOf;
using driver_test::TestHost;

// The build's ALSA driver on `device` with the host's buffer size.
inline std::string AlsaEntry(const std::string& device, long bufferFrames) {
    return driver_test::DriverEntry(CLSID_AlsaDriver, "ALSA", ALSA_DRIVER_PATH,
                                    testing_support::Text("Device", device) + "\n" +
                                        testing_support::Dword("BufferSize", static_cast<uint32_t>(bufferFrames)));
}
inline void RegisterAlsa(const testing_support::IsolatedScope& scope, const std::string& device, long bufferFrames) {
    scope.WriteMachineHive("REGEDIT4\n\n" + AlsaEntry(device, bufferFrames));
}
inline IASIO* CreateDriver(const testing_support::IsolatedScope& scope, const std::string& device, long bufferFrames) {
    return driver_test::CreateDriver(scope, CLSID_AlsaDriver, AlsaEntry(device, bufferFrames));
}

// `silence` zero bytes, then switches [firstSwitch, endSwitch) of the host's pattern, two
// channels interleaved: what a device should have been given.
inline std::string ExpectedPlayback(ASIOSampleType type, long frames, size_t silence, long firstSwitch, long endSwitch) {
    const unsigned bytes = BytesOf(type);
    std::string out(silence, '\0');
    uint8_t sample[4];
    for (long long f = static_cast<long long>(firstSwitch) * frames; f < static_cast<long long>(endSwitch) * frames; ++f)
        for (int c = 0; c < 2; ++c) {
            driver_test::EncodeSample(type, f, c, sample);
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
