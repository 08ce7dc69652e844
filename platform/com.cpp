// In-process servers: a class id leads through the registry to a shared object whose
// DllGetClassObject makes the object. Loaded libraries are never unloaded.
#include "platform/com.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/registry.h"

namespace {

thread_local int tInitCount = 0;

using GetClassObjectFunction = int32_t (*)(const CLSID*, const IID*, void**);

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads count hex digits at text; false if any is not one.
bool ReadHex(const char* text, int count, uint32_t* value) {
    *value = 0;
    for (int i = 0; i < count; ++i) {
        int digit = HexValue(text[i]);
        if (digit < 0) return false;
        *value = *value * 16 + static_cast<uint32_t>(digit);
    }
    return true;
}

// The library's entry point, or null with *result telling why.
GetClassObjectFunction LoadEntryPoint(const char* path, HRESULT* result) {
    struct stat info;
    if (!path || !*path || stat(path, &info) != 0 || !S_ISREG(info.st_mode)) {
        *result = CO_E_DLLNOTFOUND;
        return nullptr;
    }
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        *result = CO_E_DLLNOTFOUND;
        return nullptr;
    }
    auto entry = reinterpret_cast<GetClassObjectFunction>(dlsym(library, "DllGetClassObject"));
    if (!entry) {
        *result = CO_E_ERRORINDLL;
        return nullptr;
    }
    *result = S_OK;
    return entry;
}

}  // namespace

HRESULT CoInitialize(void*) {
    return tInitCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (tInitCount > 0) --tInitCount;
}

HRESULT CLSIDFromString(const char* text, CLSID* clsid) {
    if (!clsid) return E_INVALIDARG;
    *clsid = CLSID{};
    // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
    if (!text || std::strlen(text) != 38 || text[0] != '{' || text[9] != '-' || text[14] != '-' ||
        text[19] != '-' || text[24] != '-' || text[37] != '}')
        return CO_E_CLASSSTRING;
    CLSID parsed{};
    uint32_t part = 0;
    if (!ReadHex(text + 1, 8, &parsed.Data1)) return CO_E_CLASSSTRING;
    if (!ReadHex(text + 10, 4, &part)) return CO_E_CLASSSTRING;
    parsed.Data2 = static_cast<uint16_t>(part);
    if (!ReadHex(text + 15, 4, &part)) return CO_E_CLASSSTRING;
    parsed.Data3 = static_cast<uint16_t>(part);
    static const int kByteOffsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text + kByteOffsets[i], 2, &part)) return CO_E_CLASSSTRING;
        parsed.Data4[i] = static_cast<uint8_t>(part);
    }
    *clsid = parsed;
    return S_OK;
}

void StringFromCLSID(const CLSID& clsid, char* text) {
    std::snprintf(text, 39, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", clsid.Data1, clsid.Data2,
                  clsid.Data3, clsid.Data4[0], clsid.Data4[1], clsid.Data4[2], clsid.Data4[3], clsid.Data4[4],
                  clsid.Data4[5], clsid.Data4[6], clsid.Data4[7]);
}

HRESULT CoCheckServerLibrary(const char* path) {
    HRESULT result = S_OK;
    LoadEntryPoint(path, &result);
    return result;
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t context, const IID& iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer || !(context & CLSCTX_INPROC_SERVER)) return E_INVALIDARG;  // no aggregation, in-process only
    if (tInitCount == 0) return CO_E_NOTINITIALIZED;

    char text[40];
    StringFromCLSID(clsid, text);
    for (char* c = text; *c; ++c) *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    std::string key = std::string("clsid\\") + text;
    char path[4096];
    long pathBytes = sizeof(path);
    if (RegQueryValue(HKEY_CLASSES_ROOT, (key + "\\InprocServer32").c_str(), path, &pathBytes) != ERROR_SUCCESS)
        return REGDB_E_CLASSNOTREG;

    HRESULT result = S_OK;
    GetClassObjectFunction entry = LoadEntryPoint(path, &result);
    if (!entry) return result;
    void* created = nullptr;
    result = entry(&clsid, &iid, &created);
    if (result < 0) {
        // A failing factory must not hand out an object; if it did, it is not ours to use.
        return result;
    }
    if (!created) return E_FAIL;  // success without an object is a broken factory
    *object = created;
    return result;
}
