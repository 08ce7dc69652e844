#include "drivers/alsa/alsa_settings.h"

#include <cstdio>

#include "platform/driver_settings.h"
#include "platform/registry.h"

void ReadAlsaSettings(const CLSID& clsid, AlsaSettings* settings) {
    HKEY key = OpenDriverKey(clsid);
    if (key == nullptr) return;
    char text[sizeof settings->device];
    if (ReadSettingString(key, "Device", text, sizeof text) == SettingRead::Ok && text[0] != '\0')
        std::snprintf(settings->device, sizeof settings->device, "%s", text);
    uint32_t frames = 0;
    if (ReadSettingDword(key, "BufferSize", &frames) == SettingRead::Ok && frames >= kMinPeriodFrames &&
        frames <= kMaxPeriodFrames)
        settings->periodFrames = frames;
    RegCloseKey(key);
}
