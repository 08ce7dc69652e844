// Arbitrary bytes as machine.reg, read as the settings of the virtual device, the JACK
// driver and the ALSA driver under their built class ids. Whatever the hive holds, each
// reader must leave its texts terminated and its numbers in the ranges the drivers rely
// on; a virtual device whose settings report no fault has consistent buffer sizes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "drivers/alsa/alsa_driver.h"
#include "drivers/alsa/alsa_settings.h"
#include "drivers/jack/jack_driver.h"
#include "drivers/jack/jack_settings.h"
#include "drivers/virtual/device_settings.h"
#include "fuzz/machine_hive.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

template <size_t N>
bool Terminated(const char (&text)[N]) {
    return std::memchr(text, '\0', N) != nullptr;
}

void CheckVirtualDevice(const CLSID& clsid) {
    DeviceSettings s;
    if (!ReadDeviceSettings(clsid, &s)) return;
    Check(Terminated(s.name) && Terminated(s.capturePath) && Terminated(s.failInitMessage) && Terminated(s.error));
    Check(s.outputs >= 0 && s.outputs <= kMaxChannels && s.inputs >= 0 && s.inputs <= kMaxChannels);
    Check(s.firstGroupOutputs >= 0 && s.firstGroupOutputs <= kMaxChannels);
    Check(s.sampleRateHz >= 1 && s.sampleRateHz <= kMaxSampleRateHz && s.speed >= 1 && s.speed <= kMaxSpeed);
    for (long size : {s.bufferSize, s.minSize, s.maxSize}) Check(size >= 1 && size <= kMaxBufferSamples);
    if (s.error[0] == '\0') Check(s.minSize <= s.bufferSize && s.bufferSize <= s.maxSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CLSID virtualDevice{};
    static const bool parsed = CLSIDFromString(BELLWAVE_VIRTUAL_CLSID, &virtualDevice) == S_OK;
    Check(parsed);
    if (!fuzz::WriteMachineHive(data, size)) return 0;

    CheckVirtualDevice(virtualDevice);
    JackSettings jack;
    ReadJackSettings(CLSID_JackDriver, &jack);
    Check(Terminated(jack.clientName) && jack.clientName[0] != '\0');
    AlsaSettings alsa;
    ReadAlsaSettings(CLSID_AlsaDriver, &alsa);
    Check(Terminated(alsa.device) && alsa.device[0] != '\0');
    Check(alsa.periodFrames >= kMinPeriodFrames && alsa.periodFrames <= kMaxPeriodFrames);
    return 0;
}
