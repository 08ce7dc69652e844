// The JACK driver's settings, read from the HKLM\software\asio key whose "clsid" names
// the driver's class (the values are listed in jack_driver.h).
#pragma once

#include "platform/com.h"

struct JackSettings {
    char clientName[64] = "Bellwave";
    bool connectPhysical = true;
};

// Missing or unusable values keep their defaults; so does everything when no key names
// clsid.
void ReadJackSettings(const CLSID& clsid, JackSettings* settings);
