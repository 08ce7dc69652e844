#include "host/driver_list.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <string>

#include "platform/registry.h"

namespace {

constexpr int kClassTextBytes = 256;
constexpr int kAsioKeyNameBytes = 128;
constexpr int kClassKeyNameBytes = 512;
constexpr size_t kDriverPathLimit = 128;  // asioGetDriverPath's buffer

std::string Lower(const char* text) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// Reads a string value whole; false when it is missing or not a string.
bool ReadString(HKEY key, const char* name, std::string* text) {
    uint32_t type = REG_NONE, bytes = 0;
    if (RegQueryValueEx(key, name, &type, nullptr, &bytes) != ERROR_SUCCESS || type != REG_SZ || bytes == 0)
        return false;
    std::string data(bytes, '\0');
    if (RegQueryValueEx(key, name, &type, reinterpret_cast<uint8_t*>(data.data()), &bytes) != ERROR_SUCCESS)
        return false;
    text->assign(data.c_str());
    return true;
}

// The library registered for the class whose text is lowerText: the first subkey of
// HKCR\clsid whose lower-cased name matches, its InprocServer32 default value, and a
// file that exists there and loads as a class library.
bool FindLibrary(const std::string& lowerText, char* dllPath) {
    HKEY classes = nullptr;
    if (RegOpenKey(HKEY_CLASSES_ROOT, "clsid", &classes) != ERROR_SUCCESS) return false;
    bool found = false;
    char name[kClassKeyNameBytes];
    for (uint32_t index = 0;; ++index) {
        LSTATUS status = RegEnumKey(classes, index, name, sizeof(name));
        if (status == ERROR_MORE_DATA) continue;  // too long to be the one we look for
        if (status != ERROR_SUCCESS) break;
        if (Lower(name) != lowerText) continue;
        HKEY classKey = nullptr;
        if (RegOpenKey(classes, name, &classKey) == ERROR_SUCCESS) {
            long bytes = kDriverPathBytes;
            struct stat info;
            found = RegQueryValue(classKey, "InprocServer32", dllPath, &bytes) == ERROR_SUCCESS &&
                    stat(dllPath, &info) == 0 && S_ISREG(info.st_mode) && CoCheckServerLibrary(dllPath) == S_OK;
            RegCloseKey(classKey);
        }
        break;  // the first match decides, whatever its outcome
    }
    RegCloseKey(classes);
    return found;
}

}  // namespace

IASIO*& HostDriverReference() {
    static IASIO* driver = nullptr;
    return driver;
}

AsioDriverList::AsioDriverList() {
    HKEY asio = nullptr;
    if (RegOpenKey(HKEY_LOCAL_MACHINE, "software\\asio", &asio) != ERROR_SUCCESS) return;
    char keyName[kAsioKeyNameBytes];
    for (uint32_t index = 0;; ++index) {
        LSTATUS status = RegEnumKey(asio, index, keyName, sizeof(keyName));
        if (status == ERROR_MORE_DATA) continue;  // one over-long name must not hide the drivers after it
        if (status != ERROR_SUCCESS) break;

        HKEY key = nullptr;
        if (RegOpenKey(asio, keyName, &key) != ERROR_SUCCESS) continue;
        char classText[kClassTextBytes];
        uint32_t type = REG_NONE, bytes = sizeof(classText);
        AsioDriverRecord record;
        if (RegQueryValueEx(key, "clsid", &type, reinterpret_cast<uint8_t*>(classText), &bytes) != ERROR_SUCCESS ||
            type != REG_SZ || !FindLibrary(Lower(classText), record.dllPath)) {
            RegCloseKey(key);
            continue;
        }
        record.id = Count();
        CLSIDFromString(classText, &record.clsid);  // zero when it does not parse
        std::string name;
        if (!ReadString(key, "description", &name)) name = keyName;
        std::strncpy(record.name, name.c_str(), kDriverNameBytes - 1);  // longer names keep 127 characters
        RegCloseKey(key);
        records_.push_back(record);
    }
    RegCloseKey(asio);
    if (!records_.empty()) {
        CoInitialize(nullptr);
        comInitialised_ = true;
    }
}

AsioDriverList::~AsioDriverList() {
    for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
        if (!it->driver) continue;
        if (HostDriverReference() == it->driver) HostDriverReference() = nullptr;
        it->driver->Release();
        it->driver = nullptr;
    }
    if (comInitialised_) CoUninitialize();
}

long AsioDriverList::asioOpenDriver(int id) {
    if (id < 0 || id >= Count()) return DRVERR_DEVICE_NOT_FOUND;
    AsioDriverRecord& record = records_[static_cast<size_t>(id)];
    if (record.driver) return DRVERR_DEVICE_ALREADY_OPEN;
    void* object = nullptr;
    HRESULT result = CoCreateInstance(record.clsid, nullptr, CLSCTX_INPROC_SERVER, record.clsid, &object);
    if (result < 0 || !object) return result < 0 ? result : E_FAIL;
    record.driver = static_cast<IASIO*>(object);
    HostDriverReference() = record.driver;
    return DRVERR_OK;
}

long AsioDriverList::asioGetDriverName(int id, char* buffer, int size) {
    if (!buffer) return DRVERR_INVALID_PARAM;
    if (id < 0 || id >= Count()) return DRVERR_DEVICE_NOT_FOUND;
    if (size <= 0) return DRVERR_INVALID_PARAM;
    const char* name = records_[static_cast<size_t>(id)].name;
    size_t length = std::strlen(name);
    size_t room = static_cast<size_t>(size);
    if (length < room) {
        std::memcpy(buffer, name, length + 1);
    } else if (room >= 4) {
        std::memcpy(buffer, name, room - 4);
        std::memcpy(buffer + room - 4, "...", 4);
    } else {
        // Too small even for the ellipsis: as much of the name as fits.
        std::memcpy(buffer, name, room - 1);
        buffer[room - 1] = '\0';
    }
    return DRVERR_OK;
}

long AsioDriverList::asioGetDriverPath(int id, char* buffer) {
    if (!buffer) return DRVERR_INVALID_PARAM;
    if (id < 0 || id >= Count()) return DRVERR_DEVICE_NOT_FOUND;
    const char* path = records_[static_cast<size_t>(id)].dllPath;
    if (std::strlen(path) >= kDriverPathLimit) {
        buffer[0] = '\0';
        return DRVERR_INVALID_PARAM;
    }
    std::strcpy(buffer, path);
    return DRVERR_OK;
}

int GetASIODriverNames(char* buffer) {
    if (!buffer) return 0;
    AsioDriverList list;
    int count = list.Count();
    size_t used = 0;
    for (int id = 0; id < count; ++id) {
        char name[255];
        if (list.asioGetDriverName(id, name, sizeof(name)) != DRVERR_OK) break;
        size_t length = std::strlen(name);
        if (used + length >= static_cast<size_t>(kDriverNamesBufferBytes)) break;
        std::memcpy(buffer + used, name, length + 1);
        used += length + 1;
    }
    return count;
}
