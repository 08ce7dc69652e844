#include "drivers/jack/jack_settings.h"

#include <cstdio>

#include "platform/driver_settings.h"
#include "platform/registry.h"

void ReadJackSettings(const CLSID& clsid, JackSettings* settings) {
    HKEY key = OpenDriverKey(clsid);
    if (key == nullptr) return;
    char text[sizeof settings->clientName];
    if (ReadSettingString(key, "ClientName", text, sizeof text) == SettingRead::Ok && text[0] != '\0')
        std::snprintf(settings->clientName, sizeof settings->clientName, "%s", text);
    uint32_t connect = 0;
    if (ReadSettingDword(key, "ConnectPhysical", &connect) == SettingRead::Ok) settings->connectPhysical = connect != 0;
    RegCloseKey(key);
}
