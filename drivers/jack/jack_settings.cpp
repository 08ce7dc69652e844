#include "drivers/jack/jack_settings.h"

#include "platform/driver_settings.h"
#include "platform/registry.h"

void ReadJackSettings(const CLSID& clsid, JackSettings* settings) {
    HKEY key = OpenDriverKey(clsid);
    if (key == nullptr) return;
    ReadSettingStringOrKeep(key, "ClientName", settings->clientName, sizeof settings->clientName);
    uint32_t connect = 0;
    if (ReadSettingDword(key, "ConnectPhysical", &connect) == SettingRead::Ok) settings->connectPhysical = connect != 0;
    RegCloseKey(key);
}
