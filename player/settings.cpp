#include "player/settings.h"

#include <cstring>

#include "platform/registry.h"

std::atomic<bool> deviceUsable{false};
std::atomic<int32_t> selectedDevice{-1};

namespace {
const char kOptionsKey[] = "Software\\Marrow Lane Works\\Bellwave\\Options";
const char kDevnum[] = "Devnum";
}  // namespace

bool LoadDeviceNumber(int32_t& number) {
    HKEY key = nullptr;
    if (RegOpenKey(HKEY_CURRENT_USER, kOptionsKey, &key) != ERROR_SUCCESS) return false;
    uint8_t value[4] = {};
    uint32_t type = REG_NONE;
    uint32_t bytes = sizeof value;
    // The stored type is not looked at; any value of at most four bytes is taken.
    const bool ok = RegQueryValueEx(key, kDevnum, &type, value, &bytes) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!ok) return false;
    uint32_t raw = uint32_t(value[0]) | uint32_t(value[1]) << 8 | uint32_t(value[2]) << 16 |
                   uint32_t(value[3]) << 24;
    number = int32_t(raw);
    return true;
}

bool SaveDeviceNumber(int32_t number) {
    HKEY key = nullptr;
    if (RegOpenKey(HKEY_CURRENT_USER, kOptionsKey, &key) != ERROR_SUCCESS &&
        RegCreateKey(HKEY_CURRENT_USER, kOptionsKey, &key) != ERROR_SUCCESS)
        return false;
    const uint32_t raw = uint32_t(number);
    const uint8_t value[4] = {uint8_t(raw), uint8_t(raw >> 8), uint8_t(raw >> 16), uint8_t(raw >> 24)};
    const bool ok = RegSetValueEx(key, kDevnum, REG_DWORD, value, sizeof value) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}
