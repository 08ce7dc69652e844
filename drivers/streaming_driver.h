// What the ALSA and JACK drivers answer alike. Each has one clock (its device or its
// server), and one buffer size and one rate, settled at init; its own thread runs the
// buffer switches and records each in samplePosition_ and systemTimeNs_ (AdvancePosition),
// which the host reads on its application thread; it counts the cycles its device or
// server missed in xruns_.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "host/asio_driver.h"
#include "platform/com_object.h"
#include "platform/copy_text.h"

class StreamingDriver : public ComObject<IASIO, IDriverDropouts> {
public:
    void getDriverName(char* name) override { CopyTextTruncated(name, 32, name_); }
    long getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override { CopyTextTruncated(text, 128, error_); }

    ASIOError getChannels(long* numInputChannels, long* numOutputChannels) override {
        if (!Initialized()) return ASE_NotPresent;
        if (numInputChannels == nullptr || numOutputChannels == nullptr) return ASE_InvalidParameter;
        *numInputChannels = Inputs();
        *numOutputChannels = Outputs();
        return ASE_OK;
    }

    ASIOError getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity) override {
        if (!Initialized()) return ASE_NotPresent;
        if (minSize == nullptr || maxSize == nullptr || preferredSize == nullptr || granularity == nullptr)
            return ASE_InvalidParameter;
        *minSize = *maxSize = *preferredSize = BufferFrames();  // the only size on offer
        *granularity = 0;
        return ASE_OK;
    }

    ASIOError canSampleRate(ASIOSampleRate sampleRate) override {
        if (!Initialized()) return ASE_NotPresent;
        return sampleRate == SampleRateHz() ? ASE_OK : ASE_NoClock;
    }

    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override {
        if (!Initialized()) return ASE_NotPresent;
        if (sampleRate == nullptr) return ASE_InvalidParameter;
        *sampleRate = SampleRateHz();
        return ASE_OK;
    }

    ASIOError setSampleRate(ASIOSampleRate sampleRate) override { return canSampleRate(sampleRate); }

    ASIOError getClockSources(ASIOClockSource* clocks, long* numSources) override {
        if (!Initialized()) return ASE_NotPresent;
        if (clocks == nullptr || numSources == nullptr || *numSources < 1) return ASE_InvalidParameter;
        *clocks = ASIOClockSource{};
        clocks->associatedChannel = -1;
        clocks->associatedGroup = -1;
        clocks->isCurrentSource = ASIOTrue;
        CopyTextTruncated(clocks->name, sizeof clocks->name, clockName_);
        *numSources = 1;
        return ASE_OK;
    }

    ASIOError setClockSource(long reference) override {
        if (!Initialized()) return ASE_NotPresent;
        return reference == 0 ? ASE_OK : ASE_InvalidParameter;
    }

    ASIOError getSamplePosition(ASIOSamples* samplePosition, ASIOTimeStamp* timeStamp) override {
        if (!Initialized()) return ASE_NotPresent;
        if (samplePosition == nullptr || timeStamp == nullptr) return ASE_InvalidParameter;
        if (!running_.load()) return ASE_SPNotAdvancing;
        uint64_t position = samplePosition_.load(std::memory_order_relaxed);
        auto nanoseconds = static_cast<uint64_t>(systemTimeNs_.load(std::memory_order_relaxed));
        samplePosition->hi = static_cast<unsigned long>(position >> 32);
        samplePosition->lo = static_cast<unsigned long>(position & 0xffffffffu);
        timeStamp->hi = static_cast<unsigned long>(nanoseconds >> 32);
        timeStamp->lo = static_cast<unsigned long>(nanoseconds & 0xffffffffu);
        return ASE_OK;
    }

    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError future(long, void*) override { return ASE_InvalidParameter; }
    // The output half leaves when bufferSwitch returns; there is nothing to hurry.
    ASIOError outputReady() override { return ASE_NotPresent; }

    long long Xruns() override { return xruns_.load(std::memory_order_relaxed); }

protected:
    // name: the driver's name; clockName: its one clock source's.
    StreamingDriver(const CLSID& clsid, const char* name, const char* clockName)
        : ComObject(clsid, IID_IDriverDropouts), name_(name), clockName_(clockName) {}

    virtual bool Initialized() const = 0;
    virtual long Inputs() const = 0;
    virtual long Outputs() const = 0;
    virtual long BufferFrames() const = 0;
    virtual ASIOSampleRate SampleRateHz() const = 0;

    // createBuffers' first checks, in order: initialised, no buffers yet (created),
    // the arguments there, a channel count it has, its buffer size.
    ASIOError CheckBufferRequest(bool created, const ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                 const ASIOCallbacks* callbacks) const {
        if (!Initialized()) return ASE_NotPresent;
        if (created) return ASE_InvalidMode;  // dispose the old ones first
        if (bufferInfos == nullptr || callbacks == nullptr || callbacks->bufferSwitch == nullptr)
            return ASE_InvalidParameter;
        if (numChannels < 1 || numChannels > Inputs() + Outputs()) return ASE_InvalidParameter;
        if (bufferSize != BufferFrames()) return ASE_InvalidMode;
        return ASE_OK;
    }

    // createBuffers' check of the channels asked for: each within its direction's
    // channels, none asked for twice.
    bool ChannelsUsable(const ASIOBufferInfo* bufferInfos, long numChannels) const {
        for (long i = 0; i < numChannels; ++i) {
            const bool isInput = bufferInfos[i].isInput != ASIOFalse;
            const long channel = bufferInfos[i].channelNum;
            if (channel < 0 || channel >= (isInput ? Inputs() : Outputs())) return false;
            for (long j = 0; j < i; ++j)
                if (bufferInfos[j].channelNum == channel && (bufferInfos[j].isInput != ASIOFalse) == isInput)
                    return false;
        }
        return true;
    }

    // The streaming thread's record of a buffer switch of `frames` frames, done now.
    void AdvancePosition(uint64_t frames) {
        samplePosition_.fetch_add(frames, std::memory_order_relaxed);
        systemTimeNs_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::steady_clock::now().time_since_epoch()).count(),
                            std::memory_order_relaxed);
    }

    char error_[128] = "";
    std::atomic<bool> running_{false};
    std::atomic<long long> xruns_{0};
    std::atomic<uint64_t> samplePosition_{0};
    std::atomic<int64_t> systemTimeNs_{0};

private:
    const char* const name_;
    const char* const clockName_;
};
