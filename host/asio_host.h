// The host's process-wide state: the chosen driver, its ASIOBuffers, and the
// per-virtual-channel tables (paused flag, event, worker, segment size, sound buffer,
// WavBuf). Everything here is touched on the application's thread only, except where a
// field says otherwise.
#pragma once

#include "host/asio_buffers.h"
#include "host/audio_buffer.h"
#include "host/driver_list.h"
#include "host/host.h"
#include "platform/kernel.h"

class WavBuf;
struct WorkerControl;

struct HostState {
    bool initialized = false;
    bool primaryCreated = false;
    int numMonoOutputs = 0;
    int primaryBufferSamples = 0;
    int numVirtualChannels = 0;
    StreamMode mode = StreamMode::StereoDuplex;  // set by CreatePrimaryBuffers
    bool mono = false, inputEnabled = false, inputOnly = false;
    int requestedDriver = -1;
    int numDrivers = 0;
    int openResult = 1;  // 0 = open
    AsioDriverList* driverList = nullptr;
    ASIOBuffers* buffers = nullptr;

    // Per virtual channel, channelTables entries each (null when not created).
    int channelTables = 0;
    bool* paused = nullptr;
    AutoResetEvent** events = nullptr;
    WorkerControl** workers = nullptr;
    int* segmentSamples = nullptr;
    AudioBuffer** soundBuffers = nullptr;  // read by workers while they run
    WavBuf** wavBufs = nullptr;

    int wavBufSegments = 16;
};

HostState& Host();

// The opened driver (stored by the driver list when it opens one), or none.
inline IASIO* HostDriver() { return HostDriverReference(); }
