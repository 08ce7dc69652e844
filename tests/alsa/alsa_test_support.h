// What the ALSA driver's tests share besides the sound drivers' own helpers: an ALSA
// configuration of the test's own devices and the driver on one of them.
#pragma once

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <string>

#include "drivers/alsa/alsa_driver.h"
#include "test_support.h"
#include "tests/jack/driver_test_support.h"

namespace alsa_test {

using driver_test::BytesOf;
using driver_test::TestHost;
using testing_support::WaitUntil;

// Makes ALSA read, after its own configuration, `devices` (asoundrc text) from a file in
// the scope's work folder. The test plug-in is known as type "bwtest".
inline void UseAlsaDevices(const testing_support::IsolatedScope& scope, const std::string& devices) {
    const std::filesystem::path rc = scope.workDir() / "asoundrc";
    testing_support::WriteFile(rc, std::string("pcm_type.bwtest { lib \"") + ALSA_TEST_PLUGIN_PATH + "\" }\n" + devices);
    setenv("ALSA_CONFIG_PATH", (std::string(snd_config_topdir()) + "/alsa.conf:" + rc.string()).c_str(), 1);
}

// The build's ALSA driver on `device` with the host's buffer size, as the only device.
inline std::string AlsaEntry(const std::string& device, long bufferFrames) {
    return driver_test::DriverEntry(CLSID_AlsaDriver, "ALSA", ALSA_DRIVER_PATH,
                                    testing_support::Text("Device", device) + "\n" +
                                        testing_support::Dword("BufferSize", static_cast<uint32_t>(bufferFrames)));
}
inline IASIO* CreateDriver(const testing_support::IsolatedScope& scope, const std::string& device, long bufferFrames) {
    return driver_test::CreateDriver(scope, CLSID_AlsaDriver, AlsaEntry(device, bufferFrames));
}

}  // namespace alsa_test
