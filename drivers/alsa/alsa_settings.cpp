#include "drivers/alsa/alsa_settings.h"

#include "platform/driver_settings.h"
#include "platform/registry.h"

void ReadAlsaSettings(const CLSID& clsid, AlsaSettings* settings) {
    HKEY key = OpenDriverKey(clsid);
    if (key == nullptr) return;
    ReadSettingStringOrKeep(key, "Device", settings->device, sizeof settings->device);
    uint32_t frames = 0;
    if (ReadSettingDword(key, "BufferSize", &frames) == SettingRead::Ok && frames >= kMinPeriodFrames &&
        frames <= kMaxPeriodFrames)
        settings->periodFrames = frames;
    RegCloseKey(key);
}
