// A small host for driver tests: registers a virtual device in the scope's hive, creates
// it through COM and drives it as the host library does. Its bufferSwitch hands the half
// to onSwitch (the host's part: writing outputs, reading inputs), then records it.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "drivers/virtual/virtual_device.h"
#include "test_support.h"

namespace small_host {

constexpr const char* kClsid = "{3D5E8F21-7A4B-4C9D-8E10-2F6A9B3C4D5E}";
constexpr const char* kClsidLower = "{3d5e8f21-7a4b-4c9d-8e10-2f6a9b3c4d5e}";

using testing_support::Dword;
using testing_support::Text;

class SmallHost {
public:
    // Registers a device with these values (on the test clock unless told) and creates it.
    SmallHost(const testing_support::IsolatedScope& scope, std::vector<std::string> values, bool testClock = true) {
        if (testClock) values.insert(values.begin(), Text("Clock", "test"));
        std::string hive = std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\asio\\Test Device]\n") + Text("clsid", kClsid) + "\n";
        for (const std::string& v : values) hive += v + "\n";
        scope.WriteMachineHive(hive + "\n[HKEY_CLASSES_ROOT\\clsid\\" + kClsidLower + "\\InprocServer32]\n@=\"" + BELLWAVE_VIRTUAL_DRIVER + "\"\n");
        current_ = this;
        CoInitialize(nullptr);
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromString(kClsid, &clsid), S_OK);
        created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, reinterpret_cast<void**>(&driver));
        if (driver) driver->QueryInterface(IID_IVirtualDeviceClock, reinterpret_cast<void**>(&clock));
    }
    ~SmallHost() {
        if (driver) {
            driver->stop();
            driver->disposeBuffers();
            driver->Release();
        }
        if (clock) clock->Release();
        current_ = nullptr;
        CoUninitialize();
    }

    // createBuffers for outputs 0..outputs-1 then inputs 0..inputs-1.
    ASIOError CreateBuffers(long outputs, long inputs, long samples) {
        infos.clear();
        for (long c = 0; c < outputs; ++c) infos.push_back({ASIOFalse, c, {nullptr, nullptr}});
        for (long c = 0; c < inputs; ++c) infos.push_back({ASIOTrue, c, {nullptr, nullptr}});
        return driver->createBuffers(infos.data(), static_cast<long>(infos.size()), samples, &callbacks);
    }

    // The halves switched so far, once there are count (waiting up to a failure time-out).
    std::vector<long> WaitForSwitches(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        EXPECT_TRUE(switched_.wait_for(lock, std::chrono::seconds(30), [&] { return halves_.size() >= count; }));
        return halves_;
    }
    std::vector<long> Halves() { return WaitForSwitches(0); }

    IASIO* driver = nullptr;
    IVirtualDeviceClock* clock = nullptr;
    HRESULT created = E_FAIL;
    std::vector<ASIOBufferInfo> infos;
    std::function<void(long half)> onSwitch;  // runs on the driver's thread
    ASIOCallbacks callbacks{&BufferSwitch, nullptr, nullptr, nullptr};

private:
    static void BufferSwitch(long half, ASIOBool) {
        SmallHost* host = current_;
        if (host->onSwitch) host->onSwitch(half);
        std::lock_guard<std::mutex> lock(host->mutex_);
        host->halves_.push_back(half);
        host->switched_.notify_all();
    }

    static inline SmallHost* current_ = nullptr;
    std::mutex mutex_;
    std::condition_variable switched_;
    std::vector<long> halves_;
};

}  // namespace small_host
