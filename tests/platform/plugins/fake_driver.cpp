// A minimal driver plug-in for the class loader and driver list tests. Built twice: as a
// working driver, and with FAKE_FACTORY_FAILS as one whose factory refuses.
#include <atomic>
#include <cstring>

#include "host/asio_driver.h"

namespace {

std::atomic<int> gLiveObjects{0};

class FakeDriver final : public IASIO {
public:
    explicit FakeDriver(const CLSID& clsid) : clsid_(clsid) { ++gLiveObjects; }
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
    ASIOBool init(void*) override { return ASIOTrue; }
    void getDriverName(char* name) override { std::strcpy(name, "Fake"); }
    long getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override { text[0] = '\0'; }
    ASIOError start() override { return ASE_OK; }
    ASIOError stop() override { return ASE_OK; }
    ASIOError getChannels(long*, long*) override { return ASE_NotPresent; }
    ASIOError getLatencies(long*, long*) override { return ASE_NotPresent; }
    ASIOError getBufferSize(long*, long*, long*, long*) override { return ASE_NotPresent; }
    ASIOError canSampleRate(ASIOSampleRate) override { return ASE_NoClock; }
    ASIOError getSampleRate(ASIOSampleRate*) override { return ASE_NotPresent; }
    ASIOError setSampleRate(ASIOSampleRate) override { return ASE_NoClock; }
    ASIOError getClockSources(ASIOClockSource*, long*) override { return ASE_NotPresent; }
    ASIOError setClockSource(long) override { return ASE_NotPresent; }
    ASIOError getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override { return ASE_NotPresent; }
    ASIOError getChannelInfo(ASIOChannelInfo*) override { return ASE_NotPresent; }
    ASIOError createBuffers(ASIOBufferInfo*, long, long, ASIOCallbacks*) override { return ASE_NoMemory; }
    ASIOError disposeBuffers() override { return ASE_OK; }
    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError future(long, void*) override { return ASE_NotPresent; }
    ASIOError outputReady() override { return ASE_NotPresent; }

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
    *object = static_cast<IASIO*>(new FakeDriver(*clsid));
    return S_OK;
#endif
}
