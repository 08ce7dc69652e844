// What a plug-in library needs to serve one object through platform/com: the reference
// counting and interface lookup every driver object shares, and the body of the
// library's DllGetClassObject.
#pragma once

#include <atomic>
#include <cstdint>
#include <new>

#include "platform/com.h"

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// An object serving two interfaces: Main under its class id and as IUnknown, Extra under
// extraIid. It starts with one reference and deletes itself at the last Release, on
// whichever thread that comes.
template <class Main, class Extra>
class ComObject : public Main, public Extra {
public:
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == clsid_ || iid == kIidUnknown) {
            *object = static_cast<Main*>(this);
        } else if (iid == extraIid_) {
            *object = static_cast<Extra*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    unsigned long AddRef() override { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }

    unsigned long Release() override {
        // acq_rel: whatever a thread did with the object happens before its deletion.
        const unsigned long left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

protected:
    ComObject(const CLSID& clsid, const IID& extraIid) : clsid_(clsid), extraIid_(extraIid) {}
    virtual ~ComObject() = default;  // objects end through Release

    const CLSID& ClassId() const { return clsid_; }

private:
    const CLSID clsid_;
    const IID extraIid_;
    std::atomic<unsigned long> references_{1};
};

// The one symbol a plug-in library exports (platform/com.h); the library defines it,
// usually as a call to ServeClassObject.
extern "C" __attribute__((visibility("default"))) int32_t DllGetClassObject(const CLSID* clsid, const IID* iid,
                                                                            void** object);

// DllGetClassObject's work: checks the arguments, then create(clsid, &result) makes the
// object with one reference, or returns null with the reason in result (left at
// E_OUTOFMEMORY for a failed allocation). The caller gets the interface iid names, or
// null with the failure.
template <class Create>
HRESULT ServeClassObject(const CLSID* clsid, const IID* iid, void** object, Create create) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (clsid == nullptr || iid == nullptr) return E_POINTER;
    HRESULT result = E_OUTOFMEMORY;
    auto* created = create(*clsid, &result);
    if (created == nullptr) return result;
    result = created->QueryInterface(*iid, object);
    created->Release();
    return result;
}

// DllGetClassObject for a library that serves one class: a new Object(clsid) for that
// class, CLASS_E_CLASSNOTAVAILABLE for any other.
template <class Object>
HRESULT ServeOneClass(const CLSID& served, const CLSID* clsid, const IID* iid, void** object) {
    return ServeClassObject(clsid, iid, object, [&served](const CLSID& id, HRESULT* result) -> Object* {
        if (!(id == served)) {
            *result = CLASS_E_CLASSNOTAVAILABLE;
            return nullptr;
        }
        return new (std::nothrow) Object(id);
    });
}
