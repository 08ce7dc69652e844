// The host tests' fake driver as a plug-in, references counted; with FAKE_FACTORY_FAILS its factory refuses.
#include <atomic>

#include "tests/host/fake_driver.h"

namespace {

std::atomic<int> gLiveObjects{0};

class PluginDriver final : public FakeDriver {
public:
    explicit PluginDriver(const CLSID& clsid) : clsid_(clsid) { ++gLiveObjects; }
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = iid == clsid_ ? this : nullptr;
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    unsigned long AddRef() override { return ++references_; }
    unsigned long Release() override {
        const unsigned long left = --references_;
        if (left == 0) --gLiveObjects, delete this;
        return left;
    }

private:
    CLSID clsid_;
    std::atomic<unsigned long> references_{1};
};

}  // namespace

// How many of its objects are still alive.
extern "C" __attribute__((visibility("default"))) int FakeLiveObjects() { return gLiveObjects.load(); }

extern "C" __attribute__((visibility("default"))) int32_t DllGetClassObject(const CLSID* clsid, const IID* iid,
                                                                             void** object) {
    if (!clsid || !iid || !object) return E_POINTER;
    *object = nullptr;
#ifdef FAKE_FACTORY_FAILS
    return E_OUTOFMEMORY;
#else
    if (!(*iid == *clsid)) return E_NOINTERFACE;
    *object = static_cast<IASIO*>(new PluginDriver(*clsid));
    return S_OK;
#endif
}
