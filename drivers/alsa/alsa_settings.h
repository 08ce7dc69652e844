// The ALSA driver's settings, read from the HKLM\software\asio key whose "clsid" names
// the driver's class (the values are listed in alsa_driver.h).
#pragma once

#include "platform/com.h"

constexpr long kMinPeriodFrames = 16;
constexpr long kMaxPeriodFrames = 65536;

struct AlsaSettings {
    char device[256] = "default";
    long periodFrames = 512;  // within kMinPeriodFrames..kMaxPeriodFrames
};

// Missing or unusable values keep their defaults, and so does a period out of range;
// so does everything when no key names clsid.
void ReadAlsaSettings(const CLSID& clsid, AlsaSettings* settings);
