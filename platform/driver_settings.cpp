#include "platform/driver_settings.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool KeyNamesClass(HKEY key, const CLSID& clsid) {
    char text[64];
    uint32_t type = REG_NONE;
    uint32_t bytes = sizeof text - 1;
    if (RegQueryValueEx(key, "clsid", &type, reinterpret_cast<uint8_t*>(text), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    text[bytes] = '\0';
    CLSID found{};
    return CLSIDFromString(text, &found) == S_OK && found == clsid;
}

}  // namespace

HKEY OpenDriverKey(const CLSID& clsid, char* keyName, uint32_t keyNameBytes) {
    HKEY asio = nullptr;
    if (RegOpenKey(HKEY_LOCAL_MACHINE, "software\\asio", &asio) != ERROR_SUCCESS) return nullptr;
    HKEY found = nullptr;
    char name[256];
    for (uint32_t index = 0; found == nullptr; ++index) {
        LSTATUS status = RegEnumKey(asio, index, name, sizeof name);
        if (status == ERROR_MORE_DATA) continue;  // a name too long to be a driver's
        if (status != ERROR_SUCCESS) break;
        HKEY key = nullptr;
        if (RegOpenKey(asio, name, &key) != ERROR_SUCCESS) continue;
        if (KeyNamesClass(key, clsid))
            found = key;
        else
            RegCloseKey(key);
    }
    RegCloseKey(asio);
    if (found != nullptr && keyName != nullptr && keyNameBytes > 0)
        std::snprintf(keyName, keyNameBytes, "%s", name);
    return found;
}

SettingRead ReadSettingString(HKEY key, const char* name, char* text, uint32_t textBytes) {
    if (textBytes == 0) return SettingRead::Unusable;
    uint32_t type = REG_NONE;
    uint32_t bytes = textBytes;
    LSTATUS status = RegQueryValueEx(key, name, &type, reinterpret_cast<uint8_t*>(text), &bytes);
    if (status == ERROR_FILE_NOT_FOUND) return SettingRead::Absent;
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        text[0] = '\0';
        return status == ERROR_MORE_DATA ? SettingRead::TooLong : SettingRead::Unusable;
    }
    text[bytes < textBytes ? bytes : textBytes - 1] = '\0';  // whatever the stored terminator
    return SettingRead::Ok;
}

void ReadSettingStringOrKeep(HKEY key, const char* name, char* text, uint32_t textBytes) {
    std::string read(textBytes, '\0');
    if (ReadSettingString(key, name, read.data(), textBytes) == SettingRead::Ok && read[0] != '\0')
        std::memcpy(text, read.data(), textBytes);
}

SettingRead ReadSettingDword(HKEY key, const char* name, uint32_t* value) {
    uint32_t type = REG_NONE;
    uint8_t data[4];
    uint32_t bytes = sizeof data;
    LSTATUS status = RegQueryValueEx(key, name, &type, data, &bytes);
    if (status == ERROR_FILE_NOT_FOUND) return SettingRead::Absent;
    if (status != ERROR_SUCCESS || type != REG_DWORD || bytes != 4) return SettingRead::Unusable;
    *value = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
             static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    return SettingRead::Ok;
}
