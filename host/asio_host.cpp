// The host's front door: chooses and opens the driver, creates ASIOBuffers and the
// per-channel tables, and tears everything down again.
#include "host/asio_host.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "host/debug_log.h"
#include "host/driver_list.h"
#include "host/wav_buf.h"
#include "platform/com.h"
#include "platform/registry.h"

namespace {

HostState gHost;

constexpr const char* kFallbackKey = "Software\\Marrow Lane Works\\Tamber\\Options";

// The fallback device number under the current user's key; true when it was read.
bool ReadRegistryDevnum(int* index) {
    HKEY key = nullptr;
    if (RegOpenKey(HKEY_CURRENT_USER, kFallbackKey, &key) != ERROR_SUCCESS) return false;
    uint8_t data[4] = {};
    uint32_t type = 0;
    uint32_t bytes = sizeof data;
    const LSTATUS status = RegQueryValueEx(key, "Devnum", &type, data, &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    // Whatever the value's type, its first four bytes (zero-padded) are the index.
    int32_t value = 0;
    std::memcpy(&value, data, sizeof value);
    *index = value;
    return true;
}

void DestroyDriverList() {
    HostState& s = gHost;
    delete s.driverList;
    s.driverList = nullptr;
    HostDriverReference() = nullptr;
    s.openResult = 1;
}

void FreeChannelTables() {
    HostState& s = gHost;
    // Workers end before the tables they read go away.
    if (s.workers) {
        for (int i = 0; i < s.channelTables; ++i) EndWorker(i);
    }
    if (s.wavBufs)
        for (int i = 0; i < s.channelTables; ++i) delete s.wavBufs[i];
    delete[] s.wavBufs;
    delete[] s.soundBuffers;
    delete[] s.paused;
    delete[] s.segmentSamples;
    delete[] s.workers;
    if (s.events)
        for (int i = 0; i < s.channelTables; ++i) delete s.events[i];
    delete[] s.events;
    s.wavBufs = nullptr;
    s.soundBuffers = nullptr;
    s.paused = nullptr;
    s.segmentSamples = nullptr;
    s.workers = nullptr;
    s.events = nullptr;
    s.channelTables = 0;
}

bool AllocateChannelTables(int count) {
    HostState& s = gHost;
    const int n = count > 0 ? count : 1;
    s.channelTables = n;
    s.paused = new (std::nothrow) bool[n]();
    s.events = new (std::nothrow) AutoResetEvent*[n]();
    s.workers = new (std::nothrow) WorkerControl*[n]();
    s.segmentSamples = new (std::nothrow) int[n]();
    s.soundBuffers = new (std::nothrow) AudioBuffer*[n]();
    s.wavBufs = new (std::nothrow) WavBuf*[n]();
    if (!s.paused || !s.events || !s.workers || !s.segmentSamples || !s.soundBuffers || !s.wavBufs) return false;
    for (int i = 0; i < n; ++i) {
        s.events[i] = new (std::nothrow) AutoResetEvent;
        if (!s.events[i]) return false;
    }
    return true;
}

}  // namespace

HostState& Host() { return gHost; }

bool ASIOInit(int* driverIndex, MessageWindow* window) {
    HostState& s = gHost;
    if (s.initialized || !driverIndex) return false;

    // A failed earlier start-up may have left its list and buffers; they are not
    // forgotten but torn down, so no driver object is leaked.
    delete s.buffers;
    s.buffers = nullptr;
    DestroyDriverList();
    s.numDrivers = 0;
    s.openResult = 1;
    DebugLogOpen();
    DebugLog("Corvane 3rd Edition version 1.25 w/32 bit float support");

    s.driverList = new (std::nothrow) AsioDriverList;
    if (!s.driverList) {
        DebugLog("Failed to create AsioDriverList!");
        return false;
    }
    s.numDrivers = s.driverList->Count();
    if (s.numDrivers == 0) {
        DebugLog("Couldn't find any ASIO drivers!");
        DestroyDriverList();
        return false;
    }

    s.requestedDriver = -1;
    if (*driverIndex >= 0) {
        s.requestedDriver = *driverIndex;
    } else if (ReadRegistryDevnum(&s.requestedDriver)) {
        DebugLog("Got ASIO Configuration from registry!");
    } else if (FILE* f = std::fopen("ASIOConfig.txt", "r")) {
        DebugLog("Found ASIO Configuration file!");
        const int c = std::fgetc(f);
        std::fclose(f);
        // Only one character is read: the file names drivers 0 to 9.
        const int value = c - '0';
        if (value < 0) DebugLog("Error reading configuration file!");
        else s.requestedDriver = value;
    }
    const int n = s.numDrivers;
    DebugLogPair("nRequestedDrvNum", s.requestedDriver, "Num devices", n);
    if (s.requestedDriver >= n) {
        DebugLogValue("nRequestedDrvNum > lnumDevs!", n);
        return false;
    }
    if (s.requestedDriver < 0) {
        if (n != 1) {
            DebugLog("Unable to find preferred device in either the registry or in a configuration file!");
            return false;
        }
        DebugLog("Unable to find preferred device in either the registry or in a configuration file. Trying the "
                 "only device available...");
        s.requestedDriver = 0;
    }

    s.openResult = s.driverList->asioOpenDriver(s.requestedDriver);
    if (s.openResult == 0 && HostDriver()) {
        DebugLog("asioOpenDriver success!");
        if (*driverIndex < 0) *driverIndex = s.requestedDriver;
    } else {
        DebugLog("asioOpenDriver failed!");
        DestroyDriverList();
        return false;
    }
    if (!s.driverList || !HostDriver() || s.openResult != 0) {
        DebugLog("ptrASIO == NULL");
        return false;
    }
    DebugLogValue("Total num devices found", n);
    DebugLog("Diver selected...");
    char name[128] = {};
    s.driverList->asioGetDriverName(s.requestedDriver, name, sizeof name);
    DebugLog(name);
    char path[128] = {};
    if (s.driverList->asioGetDriverPath(s.requestedDriver, path) != 0) path[0] = '\0';
    DebugLog(path);
    DebugLog("");

    s.buffers = new (std::nothrow) ASIOBuffers(HostDriver(), window);
    if (!s.buffers) {
        DebugLog("pASIOBuffers == NULL");
        return false;
    }
    if (!s.buffers->InitSuccess()) {
        DebugLog("ASIOBuffers Initialization failure");
        delete s.buffers;
        s.buffers = nullptr;
        return false;
    }
    DebugLog("pASIOBuffers->bInitSuccess");
    s.numMonoOutputs = ASIOGetNumMonoOutputs();
    s.primaryBufferSamples = ASIOGetPrimaryBufferSizeSamples();
    s.initialized = s.numMonoOutputs != 0 && s.primaryBufferSamples != 0;
    return true;
}

int ASIOGetNumMonoOutputs() {
    HostState& s = gHost;
    if (!s.buffers || !s.buffers->InitSuccess()) {
        DebugLog("Failed: ASIOGetNumMonoOutputs - ASIO system not initialized!");
        return 0;
    }
    if (!HostDriver() || !s.buffers->Record()) return 0;
    return s.buffers->Record()->numOutputs;
}

int ASIOGetPrimaryBufferSizeSamples() {
    HostState& s = gHost;
    if (!s.buffers || !s.buffers->InitSuccess()) {
        DebugLog("Failed: ASIOGetPrimaryBufferSizeSamples - ASIO system not initialized!");
        return 0;
    }
    if (!HostDriver() || !s.buffers->Record()) return 0;
    return s.buffers->Record()->preferredSize;
}

int ASIOSetSampleRate() {
    HostState& s = gHost;
    if (!s.buffers || !s.buffers->InitSuccess()) {
        DebugLog("Failed: ASIOSetSampleRate - ASIO system not initialized!");
        return 0;
    }
    return s.buffers->GetSampleRate();
}

int CreatePrimaryBuffers(int mode) {
    HostState& s = gHost;
    if (!s.initialized || !s.buffers) return 0;
    if (!s.buffers->CreatePrimaryBuffers(mode)) return 0;
    DebugLog("CreatePrimaryBuffers success!");
    s.numMonoOutputs = ASIOGetNumMonoOutputs();
    // Fixed anew for every device: a stale format class would size native segments
    // for another device's sample width.
    StreamModeOf(mode, &s.mode);  // a mode the buffers took
    FixWavBufConfig(s.mode, s.buffers->Format());
    const StreamLayout layout = LayoutOf(s.mode);
    s.mono = layout.mono;
    s.inputEnabled = layout.input;
    s.inputOnly = layout.inputOnly;
    s.numVirtualChannels = s.mono ? s.numMonoOutputs : s.numMonoOutputs / 2;

    FreeChannelTables();
    if (!AllocateChannelTables(s.numVirtualChannels)) return 0;
    for (int i = 0; i < s.numVirtualChannels; ++i) {
        s.soundBuffers[i] = s.buffers->CreateSoundBuffer(i, s.events[i]);
        if (!s.soundBuffers[i]) return 0;
    }
    s.primaryCreated = true;
    return s.numVirtualChannels;
}

void ASIOShutdown() {
    HostState& s = gHost;
    if (s.soundBuffers) {
        for (int i = 0; i < s.numVirtualChannels && i < s.channelTables; ++i) {
            if (s.primaryCreated && s.wavBufs && s.wavBufs[i]) ReleaseWavSnd(i);
            if (AudioBuffer* sb = s.soundBuffers[i]) {
                sb->Stop();
                if (s.buffers && s.buffers->Record()) s.buffers->ReleaseSoundBuffer(sb);
                s.soundBuffers[i] = nullptr;
            }
        }
    }
    delete s.buffers;  // stops the driver and disposes its buffers
    s.buffers = nullptr;
    DestroyDriverList();
    DebugLogClose();
    s.initialized = false;
    FreeChannelTables();
}

bool IsASIOInitialized() { return gHost.initialized; }
bool IsPrimaryBuffersCreated() { return gHost.primaryCreated; }
int NumMonoOutputs() { return gHost.numMonoOutputs; }
int NumVirtualChannels() { return gHost.numVirtualChannels; }

bool GetDropoutCounts(int channel, DropoutCounts* counts) {
    if (!counts) return false;
    *counts = DropoutCounts{};
    HostState& s = gHost;
    IASIO* driver = HostDriver();
    if (!s.initialized || !driver) return false;
    void* object = nullptr;
    if (driver->QueryInterface(IID_IDriverDropouts, &object) == S_OK && object) {
        auto* dropouts = static_cast<IDriverDropouts*>(object);
        counts->xruns = dropouts->Xruns();
        counts->inputLosses = dropouts->InputLosses();
        dropouts->Release();
    }
    if (s.primaryCreated && s.soundBuffers && channel >= 0 && channel < s.numVirtualChannels &&
        channel < s.channelTables && s.soundBuffers[channel]) {
        counts->droppedBuffers = s.soundBuffers[channel]->DroppedBuffers();
        counts->failedBuffers = s.soundBuffers[channel]->FailedBuffers();
    }
    return true;
}
