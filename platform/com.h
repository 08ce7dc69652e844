// A small stand-in for the parts of COM the host uses: class ids, reference-counted
// objects, and in-process servers loaded from shared objects named in the registry.
//
// A class's library is the default value of HKCR\clsid\{clsid}\InprocServer32. It
// exports
//     extern "C" int32_t DllGetClassObject(const CLSID* clsid, const IID* iid, void** object);
// which creates a new object with one reference (S_OK), or fails with a negative code.
// Libraries stay loaded until the process ends, so objects never outlive their code.
#pragma once

#include <cstdint>

using HRESULT = int32_t;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using CLSID = GUID;
using IID = GUID;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);
constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);

constexpr uint32_t CLSCTX_INPROC_SERVER = 1;

class IUnknown {
public:
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual unsigned long AddRef() = 0;
    virtual unsigned long Release() = 0;

protected:
    ~IUnknown() = default;  // objects end through Release
};

// Per-thread initialisation count, as COM keeps it. CoCreateInstance on a thread that
// has not initialised fails with CO_E_NOTINITIALIZED.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();

// Parses "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (either case). Returns S_OK, or
// CO_E_CLASSSTRING with *clsid zeroed for any other text.
HRESULT CLSIDFromString(const char* text, CLSID* clsid);

// Writes the canonical upper-case form with braces; text holds at least 39 bytes.
void StringFromCLSID(const CLSID& clsid, char* text);

// Finds the class's library in the registry, loads it and asks its DllGetClassObject
// for the object. REGDB_E_CLASSNOTREG when the class is not registered,
// CO_E_DLLNOTFOUND when the library will not load, CO_E_ERRORINDLL when it lacks the
// entry point; otherwise the factory's own result.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t context, const IID& iid, void** object);

// Whether the shared object at path would serve as a class library: S_OK when it loads
// and exports DllGetClassObject, CO_E_DLLNOTFOUND when it is missing or not a loadable
// library, CO_E_ERRORINDLL when it lacks the entry point. A library that loads stays
// loaded.
HRESULT CoCheckServerLibrary(const char* path);
