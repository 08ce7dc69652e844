// Registers built virtual devices in a test's machine hive and reaches their test
// clock, and reads the debug log back as lines.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "drivers/virtual/virtual_device.h"
#include "host/asio_host.h"
#include "host/wav_buf.h"
#include "tests/support/test_support.h"

namespace host_test {

struct VirtualDeviceSpec {
    std::string name;
    std::vector<std::string> values;  // REGEDIT4 value lines, e.g. "\"Outputs\"=dword:00000008"
};

using testing_support::Dword;
using testing_support::Text;

inline std::string VirtualDeviceLibrary() { return (testing_support::BuildDir() / "lib/bellwave/drivers/virtual.so").string(); }

// Each device gets its own class id registered to the built virtual device library.
inline std::string MachineHive(const std::vector<VirtualDeviceSpec>& devices) {
    const std::string library = VirtualDeviceLibrary();
    std::string hive = "REGEDIT4\n";
    int index = 0;
    for (const VirtualDeviceSpec& d : devices) {
        char clsid[64];
        std::snprintf(clsid, sizeof clsid, "{6a1f0c3e-2b7d-4e59-9c41-0d8e7f5a%04x}", ++index);
        hive += "\n[HKEY_LOCAL_MACHINE\\software\\asio\\" + d.name + "]\n";
        hive += Text("clsid", clsid) + "\n" + Text("description", d.name) + "\n";
        for (const std::string& v : d.values) hive += v + "\n";
        hive += "\n[HKEY_CLASSES_ROOT\\clsid\\" + std::string(clsid) + "\\InprocServer32]\n";
        hive += "@=\"" + library + "\"\n";
    }
    return hive;
}

// The opened driver's test clock; released by the destructor.
class TestClock {
public:
    TestClock() {
        IASIO* driver = HostDriver();
        if (driver) driver->QueryInterface(IID_IVirtualDeviceClock, reinterpret_cast<void**>(&clock_));
    }
    ~TestClock() { if (clock_) clock_->Release(); }
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;
    bool Valid() const { return clock_ != nullptr; }
    long Advance(long count) { return clock_ ? clock_->AdvanceBufferSwitches(count) : 0; }

private:
    IVirtualDeviceClock* clock_ = nullptr;
};

// True once the first device's worker has served `segments` segments since it started and
// queued every header again. The worker signals nothing a test could wait on, so this polls
// the states (bounded, in case the worker never gets there).
inline bool WaitForWorker(int segments) {
    const WavBuf* wb = Host().wavBufs ? Host().wavBufs[0] : nullptr;
    const WorkerControl* w = Host().workers ? Host().workers[0] : nullptr;
    if (wb == nullptr || w == nullptr) return false;
    return testing_support::WaitUntil(
        [&] {
            if (w->segmentCounter.load() < segments) return false;
            for (int i = 0; i < wb->Segments(); ++i)
                if ((wb->OutHeader(i).state.load() & WHDR_DONE) || (wb->InHeader(i).state.load() & WHDR_DONE)) return false;
            return true;
        },
        30.0);
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(testing_support::ReadFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
    return lines;
}

inline int FindLine(const std::vector<std::string>& lines, const std::string& line, int from = 0) {
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < lines.size(); ++i)
        if (lines[i] == line) return static_cast<int>(i);
    return -1;
}

inline std::string Dump(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
}

// Expects every line, in this order (others may come between).
inline void ExpectInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& ordered) {
    int at = 0;
    for (const std::string& line : ordered) {
        const int found = FindLine(lines, line, at);
        ASSERT_GE(found, 0) << "missing or out of order: \"" << line << "\"\n" << Dump(lines);
        at = found + 1;
    }
}

}  // namespace host_test
