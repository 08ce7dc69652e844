#include "host/asio_buffers.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "host/asio_messages.h"
#include "host/buffer_switch.h"
#include "host/debug_log.h"

namespace {

std::atomic<DeviceRecord*> gDeviceRecord{nullptr};

// The requested buffer size; this host always asks for 0, so the preferred size serves.
constexpr int kRequestedBufferSamples = 0;

void LogProcessCommandLine() {
    char line[1024] = {};
    FILE* f = std::fopen("/proc/self/cmdline", "rb");
    if (f) {
        size_t n = std::fread(line, 1, sizeof line - 1, f);
        std::fclose(f);
        while (n > 0 && line[n - 1] == '\0') --n;
        for (size_t i = 0; i < n; ++i)
            if (line[i] == '\0') line[i] = ' ';
        line[n] = '\0';
    }
    DebugLog(line);
}

// The "ASIO sample type: <name>" tail of a channel line, after `prefix`.
void LogTypeLine(const char* prefix, ASIOSampleType type) {
    char line[256];
    std::snprintf(line, sizeof line, "%sASIO sample type: %s", prefix, SampleTypeName(type));
    DebugLog(line);
}

// True when exactly one of the bits 2^0 .. 2^15 not above maxSize is set in r.
bool OnePowerOfTwo(int r, int maxSize) {
    int bits = 0;
    for (int k = 0; k <= 15; ++k) {
        const int bit = 1 << k;
        if (bit > maxSize) break;
        if (r & bit) ++bits;
    }
    return bits == 1;
}

}  // namespace

DeviceRecord* CurrentDeviceRecord() { return gDeviceRecord.load(std::memory_order_acquire); }

const char* SampleTypeName(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16MSB: return "ASIOSTInt16MSB";
    case ASIOSTInt24MSB: return "ASIOSTInt24MSB";
    case ASIOSTInt32MSB: return "ASIOSTInt32MSB";
    case ASIOSTFloat32MSB: return "ASIOSTFloat32MSB";
    case ASIOSTFloat64MSB: return "ASIOSTFloat64MSB";
    case ASIOSTInt32MSB16: return "ASIOSTInt32MSB16";
    case ASIOSTInt32MSB18: return "ASIOSTInt32MSB18";
    case ASIOSTInt32MSB20: return "ASIOSTInt32MSB20";
    case ASIOSTInt32MSB24: return "ASIOSTInt32MSB24";
    case ASIOSTInt16LSB: return "ASIOSTInt16LSB";
    case ASIOSTInt24LSB: return "ASIOSTInt24LSB";
    case ASIOSTInt32LSB: return "ASIOSTInt32LSB";
    case ASIOSTFloat32LSB: return "ASIOSTFloat32LSB";
    case ASIOSTFloat64LSB: return "ASIOSTFloat64LSB";
    case ASIOSTInt32LSB16: return "ASIOSTInt32LSB16";
    case ASIOSTInt32LSB18: return "ASIOSTInt32LSB18";
    case ASIOSTInt32LSB20: return "ASIOSTInt32LSB20";
    case ASIOSTInt32LSB24: return "ASIOSTInt32LSB24";
    default: return "Unknown format";
    }
}

ASIOBuffers::ASIOBuffers(IASIO* drv, MessageWindow* window) : windowHandle(window), driver(drv) {
    bInitSuccess = Query();
}

bool ASIOBuffers::Query() {
    char title[256] = {};
    if (windowHandle) windowHandle->GetTitle(title, sizeof title);
    DebugLog(title);
    LogProcessCommandLine();
    if (!driver) return false;

    if (driver->init(windowHandle) == ASIOFalse) {
        driver->getErrorMessage(errorMessage);
        errorMessage[sizeof errorMessage - 1] = '\0';
        DebugLog(errorMessage);
        return false;
    }
    driver->getDriverName(driverName);
    driverName[sizeof driverName - 1] = '\0';
    DebugLog(driverName);
    driverVersion = static_cast<int>(driver->getDriverVersion());
    DebugLogValue("lnDrvrVer", driverVersion);

    record_ = new (std::nothrow) DeviceRecord;
    if (!record_) return false;
    DeviceRecord& d = *record_;
    d.windowHandle = windowHandle;
    d.driver = driver;
    SetResetWindow(windowHandle);

    long inputs = 0, outputs = 0;
    driver->getChannels(&inputs, &outputs);
    d.inputChannels = static_cast<int>(inputs);
    d.outputChannels = static_cast<int>(outputs);
    DebugLogPair("numInputChannels", d.inputChannels, "numOutputChannels", d.outputChannels);
    long inLatency = 0, outLatency = 0;
    driver->getLatencies(&inLatency, &outLatency);
    d.inputLatency = static_cast<int>(inLatency);
    d.outputLatency = static_cast<int>(outLatency);
    DebugLogPair("inputLatency", d.inputLatency, "outputLatency", d.outputLatency);
    long minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    d.minSize = static_cast<int>(minSize);
    d.maxSize = static_cast<int>(maxSize);
    d.preferredSize = static_cast<int>(preferred);
    d.granularity = static_cast<int>(granularity);
    DebugLogPair("minSize", d.minSize, "maxSize", d.maxSize);
    DebugLogPair("preferredSize", d.preferredSize, "granularity", d.granularity);

    const int r = kRequestedBufferSamples;
    if (!(d.minSize > r || d.maxSize < r)) {
        // A size of 0 is no size at all: taking it would ask the driver for empty buffers.
        bool taken = false;
        if (r <= 0) taken = false;
        else if (d.granularity > 0) taken = r % d.granularity == 0;
        else taken = OnePowerOfTwo(r, d.maxSize);
        if (taken) d.preferredSize = r;
        else DebugLog("Buffer size requested not supported. Using preferred size.");
    }

    ASIOSampleRate rate = 0.0;
    driver->getSampleRate(&rate);
    d.sampleRate = rate;
    d.sampleRateHz = static_cast<int>(rate);
    DebugLogValue("sampleRate", d.sampleRateHz);

    DebugLog("Channels available...");
    int count = 0;
    long firstGroup = 0;
    for (long c = 0; c < outputs; ++c) {
        ASIOChannelInfo info = {};
        info.channel = c;
        info.isInput = ASIOFalse;
        if (driver->getChannelInfo(&info) != ASE_OK) break;
        info.name[sizeof info.name - 1] = '\0';
        if (c == 0) {
            firstGroup = info.channelGroup;
            firstGroupType = info.type;
        }
        if (info.channelGroup == firstGroup) ++count;
        DebugLogValueInline("Channel", static_cast<int>(c));
        DebugLogValueInline("Group", static_cast<int>(info.channelGroup));
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "%s, ", info.name);
        LogTypeLine(prefix, info.type);
    }
    if (count == 0) {
        DebugLog("There doesn't seem to be any analog I/O channels!");
        return false;
    }
    DebugLogValue("Num first group output channels", count);
    LogTypeLine("First group output ", firstGroupType);

    formatClass = FormatClassOf(firstGroupType);
    if (formatClass == FormatClass::None) {
        DebugLog("Can't support sound card's internal format!");
        return false;
    }
    d.numOutputs = count;
    DebugLogValue("Hardware output channels", count);
    callbacks.bufferSwitch = bufferSwitch;
    callbacks.sampleRateDidChange = sampleRateDidChange;
    callbacks.asioMessage = asioMessage;
    callbacks.bufferSwitchTimeInfo = nullptr;
    return true;
}

bool ASIOBuffers::CreatePrimaryBuffers(int mode) {
    if (!record_ || !bInitSuccess) return false;
    // Any other number would describe no channel layout.
    StreamMode streamMode;
    if (!StreamModeOf(mode, &streamMode)) return false;
    if (record_->bufferInfos) return false;  // the driver's buffers exist already
    DeviceRecord& d = *record_;
    const StreamLayout layout = LayoutOf(streamMode);
    d.mode = streamMode;
    d.mono = layout.mono;
    d.inputEnabled = layout.input;
    d.inputOnly = layout.inputOnly;
    d.duplex = layout.duplex;
    d.formatClass = formatClass;

    const int most = d.mono ? 1 : 2;
    if (d.numOutputs > most) d.numOutputs = most;
    int count = d.numOutputs;
    if (d.duplex) {
        if (d.numOutputs > d.inputChannels) {
            DebugLog("CreatePrimaryBuffers: There were more outputs than inputs!");
            d.numOutputs = d.inputChannels;
        }
        count = 2 * d.numOutputs;
    }

    d.bufferInfos = new (std::nothrow) ASIOBufferInfo[count > 0 ? count : 1]();
    d.channelInfos = new (std::nothrow) ASIOChannelInfo[count > 0 ? count : 1]();
    if (!d.bufferInfos || !d.channelInfos) {
        delete[] d.bufferInfos;
        delete[] d.channelInfos;
        d.bufferInfos = nullptr;
        d.channelInfos = nullptr;
        return false;
    }
    d.bufferCount = count;
    const int n = d.numOutputs;
    if (d.inputOnly) {
        for (int i = 0; i < n; ++i) {
            d.bufferInfos[i].isInput = ASIOTrue;
            d.bufferInfos[i].channelNum = i;
        }
        DebugLogValue("CreatePrimaryBuffers: input buffers to activate", n);
    } else {
        for (int i = 0; i < n; ++i) {
            d.bufferInfos[i].isInput = ASIOFalse;
            d.bufferInfos[i].channelNum = i;
        }
        DebugLogValue("CreatePrimaryBuffers: output buffers to activate", n);
        if (d.duplex) {
            for (int i = 0; i < n; ++i) {
                d.bufferInfos[n + i].isInput = ASIOTrue;
                d.bufferInfos[n + i].channelNum = i;
            }
            DebugLogValue("CreatePrimaryBuffers: input buffers to activate", n);
        }
    }

    // The buffer switch may run as soon as the driver has buffers and is started.
    gDeviceRecord.store(record_, std::memory_order_release);
    if (driver->createBuffers(d.bufferInfos, count, d.preferredSize, &callbacks) != ASE_OK) {
        DebugLog("ASIO->createBuffers failed!");
        return false;
    }
    driverHasBuffers_ = true;

    if (driver->outputReady() == ASE_OK) {
        d.bOutputReady = true;
        DebugLog("bOutputReady = true");
    } else {
        d.bOutputReady = false;
        DebugLog("bOutputReady = false");
    }

    int passed = 0;
    for (int i = 0; i < count; ++i) {
        ASIOChannelInfo& info = d.channelInfos[i];
        info.channel = d.bufferInfos[i].channelNum;
        info.isInput = d.bufferInfos[i].isInput;
        if (driver->getChannelInfo(&info) != ASE_OK || info.isActive == ASIOFalse) break;
        buffersCreated = true;
        if (info.type != firstGroupType) {
            DebugLog("Internal format of these buffers didn't turn out to be what we thought!");
            break;
        }
        ++passed;
    }
    if (passed < count) {
        DebugLog("We failed to create all the buffers we asked for, there was some problem.");
        return false;
    }

    d.bytesPerBuffer = d.preferredSize * BytesPerDeviceSample(formatClass);
    for (int i = 0; i < count; ++i)
        for (int h = 0; h < 2; ++h)
            if (d.bufferInfos[i].buffers[h]) std::memset(d.bufferInfos[i].buffers[h], 0, static_cast<size_t>(d.bytesPerBuffer));

    long inLatency = 0, outLatency = 0;
    driver->getLatencies(&inLatency, &outLatency);
    d.inputLatency = static_cast<int>(inLatency);
    d.outputLatency = static_cast<int>(outLatency);
    return true;
}

int ASIOBuffers::GetSampleRate() {
    if (!driver || !record_) return 0;
    ASIOSampleRate rate = 0.0;
    const ASIOError e = driver->getSampleRate(&rate);
    if (e == ASE_OK) {
        record_->sampleRate = rate;
        return static_cast<int>(rate);
    }
    if (e == ASE_NotPresent) DebugLog("Failed: GetSampleRate - No external clock I/O");
    else DebugLog("Failed: function GetSampleRate - Reason unknown");
    DebugLogValue("Last known sample rate", static_cast<int>(record_->sampleRate));
    return 0;
}

AudioBuffer* ASIOBuffers::CreateSoundBuffer(int channel, AutoResetEvent* event) {
    if (!record_) return nullptr;
    DeviceRecord& d = *record_;
    const bool valid = d.mono ? (channel >= 0 && channel < d.numOutputs)
                              : (channel >= 0 && 2 * channel + 1 < d.numOutputs);
    if (!valid) {
        DebugLogValue("Error CreateSoundBuffer - invalid requested nChannel", channel);
        return nullptr;
    }
    AudioBuffer* made = nullptr;
    if (!d.soundBuffers) {
        d.soundBuffers = new (std::nothrow) AudioBuffer*[d.numOutputs]();
        if (!d.soundBuffers) return nullptr;
    } else if (d.duplex) {
        std::lock_guard<std::mutex> table(d.lock);
        for (int i = 0; i < d.countAudioBuffers; ++i)
            if (d.soundBuffers[i] && d.soundBuffers[i]->GetChannel() == channel) return d.soundBuffers[i];
    }
    // A full table has no place for another buffer.
    if (d.countAudioBuffers < d.numOutputs) {
        made = new (std::nothrow) AudioBuffer(channel, event, static_cast<int>(d.mode), static_cast<int>(formatClass),
                                              d.preferredSize);
        if (!made) {
            DebugLog("Error CreateSoundBuffer - create failed!");
        } else {
            {
                std::lock_guard<std::mutex> table(d.lock);
                d.soundBuffers[d.countAudioBuffers] = made;
                ++d.countAudioBuffers;
            }
            DebugLogValue("Success - ASIOBuffers::CreateSoundBuffer, countAudioBuffers", d.countAudioBuffers);
        }
    }
    if (!made) {
        DebugLog("Error CreateSoundBuffer - No buffers available!");
        return nullptr;
    }
    if (!started) {
        if (driver->start() != ASE_OK) {
            DebugLog("Error CreateSoundBuffer - ptrASIO->start() failed!");
            return nullptr;
        }
        started = true;
        DebugLog("Success: CreateSoundBuffer - ptrASIO->start()");
    }
    DebugLogValue("Success - ASIOBuffers::CreateSoundBuffer for virtual channel", channel);
    return made;
}

void ASIOBuffers::ReleaseSoundBuffer(AudioBuffer* lpAudioBuffer) {
    if (!record_ || !record_->soundBuffers) return;
    DeviceRecord& d = *record_;
    int at = -1;
    for (int i = 0; i < d.numOutputs; ++i)
        if (lpAudioBuffer && d.soundBuffers[i] == lpAudioBuffer) at = i;
    if (at < 0) {
        DebugLog("ReleaseSoundBuffer - can't find location of lpAudioBuffer!");
        return;
    }
    std::lock_guard<std::mutex> table(d.lock);
    delete lpAudioBuffer;
    d.soundBuffers[at] = nullptr;
    --d.countAudioBuffers;
    if (d.countAudioBuffers > 0) {
        // Close the gap so that the buffer switch finds every buffer before the first empty entry.
        const int span = d.countAudioBuffers + 1 < d.numOutputs ? d.countAudioBuffers + 1 : d.numOutputs;
        int to = 0;
        for (int from = 0; from < span; ++from) {
            AudioBuffer* b = d.soundBuffers[from];
            d.soundBuffers[from] = nullptr;
            if (b) d.soundBuffers[to++] = b;
        }
    }
}

void ASIOBuffers::DestroySoundBuffers() {
    DeviceRecord& d = *record_;
    if (!d.soundBuffers) return;
    std::lock_guard<std::mutex> table(d.lock);
    for (int i = 0; i < d.numOutputs; ++i) {
        delete d.soundBuffers[i];
        d.soundBuffers[i] = nullptr;
    }
    delete[] d.soundBuffers;
    d.soundBuffers = nullptr;
    d.countAudioBuffers = 0;
}

ASIOBuffers::~ASIOBuffers() {
    if (driver && started) driver->stop();
    started = false;
    // The driver calls back no more once stopped; its buffers go before what the buffer
    // switch reads.
    if (driver && driverHasBuffers_) driver->disposeBuffers();
    driverHasBuffers_ = false;
    buffersCreated = false;
    DeviceRecord* expected = record_;
    gDeviceRecord.compare_exchange_strong(expected, nullptr);
    if (!record_) return;
    SetResetWindow(nullptr);  // the window may go before the next device comes
    delete[] record_->bufferInfos;
    delete[] record_->channelInfos;
    record_->bufferInfos = nullptr;
    record_->channelInfos = nullptr;
    DestroySoundBuffers();
    delete record_;
    record_ = nullptr;
}
