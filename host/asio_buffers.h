// ASIOBuffers: initialises the opened driver, learns the device (channels, latencies,
// buffer sizes, rate, the sample type of its first channel group), decides whether the
// host can serve it, and creates the driver's double buffers for a streaming mode. It
// owns the device record that the buffer switch and the sound buffers work from.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "host/asio_driver.h"
#include "host/audio_buffer.h"
#include "host/stream_format.h"
#include "platform/messages.h"

class MessageWindow;

// The device record: one, process-wide, from the ASIOBuffers constructor to its
// destruction. Fields below `lock` other than the sound-buffer table are written on the
// application's thread before the driver starts calling back, and only read afterwards.
struct DeviceRecord {
    AudioBuffer** soundBuffers = nullptr;  // numOutputs entries once created
    void* channelPointers[4] = {};         // out left, out right, in left, in right
    int inputChannels = 0;
    int outputChannels = 0;
    int numOutputs = 0;  // first-group outputs; after buffer creation, outputs activated
    int minSize = 0, maxSize = 0, preferredSize = 0, granularity = 0;
    MessageWindow* windowHandle = nullptr;
    StreamMode mode = StreamMode::StereoDuplex;  // set by CreatePrimaryBuffers
    double sampleRate = 0.0;
    int sampleRateHz = 0;
    bool bOutputReady = false;
    int inputLatency = 0, outputLatency = 0;
    int bufferCount = 0;
    ASIOBufferInfo* bufferInfos = nullptr;
    ASIOChannelInfo* channelInfos = nullptr;
    FormatClass formatClass = FormatClass::None;
    std::mutex lock;  // guards soundBuffers and countAudioBuffers
    int bytesPerBuffer = 0;
    int16_t countAudioBuffers = 0;
    bool mono = false, inputEnabled = false, inputOnly = false, duplex = false;
    IASIO* driver = nullptr;
};

// The record the buffer switch serves, or none.
DeviceRecord* CurrentDeviceRecord();

// The standard's name of a sample type, or "Unknown format".
const char* SampleTypeName(ASIOSampleType type);

class ASIOBuffers {
public:
    // Performs the device query on `driver`; the caller reads InitSuccess().
    ASIOBuffers(IASIO* driver, MessageWindow* windowHandle);
    ~ASIOBuffers();
    ASIOBuffers(const ASIOBuffers&) = delete;
    ASIOBuffers& operator=(const ASIOBuffers&) = delete;

    bool CreatePrimaryBuffers(int mode);
    // The driver's current rate rounded down; 0 (and log lines) when it cannot tell.
    int GetSampleRate();
    AudioBuffer* CreateSoundBuffer(int channel, AutoResetEvent* event);
    void ReleaseSoundBuffer(AudioBuffer* lpAudioBuffer);

    DeviceRecord* Record() const { return record_; }
    bool InitSuccess() const { return bInitSuccess; }
    // The format class of the device's first channel group (None until the query succeeded).
    FormatClass Format() const { return formatClass; }

private:
    bool Query();
    void DestroySoundBuffers();

    char errorMessage[128] = {};
    bool bInitSuccess = false;
    bool started = false;
    bool buffersCreated = false;
    FormatClass formatClass = FormatClass::None;
    char driverName[128] = {};
    MessageWindow* windowHandle = nullptr;
    int driverVersion = 0;
    ASIOSampleType firstGroupType = 0;
    ASIOCallbacks callbacks = {};
    IASIO* driver = nullptr;
    DeviceRecord* record_ = nullptr;
    bool driverHasBuffers_ = false;  // createBuffers succeeded: disposeBuffers is owed
};
