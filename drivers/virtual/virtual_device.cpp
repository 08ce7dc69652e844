// The virtual device: a software-only driver that behaves as a sound card would,
// for machines without one and for tests.
//
// Each created channel owns two halves of bufferSize samples in the device's sample
// type. A buffer switch of half h (0, 1, 0, 1, ... from start) runs in four steps:
// fill the inputs of half h (loopback, silence or tone), call the host's bufferSwitch,
// "play" the outputs of half h by appending them to the capture file, then flip to the
// other half. Loopback copies output half 1 - h, which holds what the host wrote in
// the previous switch, into input half h; the first switch after start hears silence.
//
// Two clocks run the switches. The real-time clock is a thread that waits for absolute
// deadlines start + n * bufferSize / (rate * Speed), so rounding never accumulates; a
// clock that falls more than kMaxLagPeriods behind (a stalled host, a debugger) starts
// counting again from the present instead of firing a burst of late switches. The test
// clock has no thread: IVirtualDeviceClock::AdvanceBufferSwitches runs switches on the
// caller's thread.
//
// A switch runs under switchMutex_; stop, disposeBuffers and Release take it, so they
// wait for at most the switch in progress and never for a deadline.
#include "drivers/virtual/virtual_device.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <numbers>
#include <thread>

#include "drivers/virtual/capture_file.h"
#include "drivers/virtual/device_settings.h"
#include "drivers/virtual/sample_types.h"
#include "platform/com_object.h"
#include "platform/copy_text.h"
#include "platform/kernel.h"

namespace {

constexpr long kDriverVersion = 1;
constexpr double kToneHz = 997.0;
constexpr double kToneAmplitude = 0.50118723362727229;  // -6 dBFS: 10^(-6/20)
constexpr long long kMaxLagPeriods = 16;

class VirtualDevice final : public ComObject<IASIO, IVirtualDeviceClock> {
public:
    VirtualDevice(const CLSID& clsid, const DeviceSettings& settings)
        : ComObject(clsid, IID_IVirtualDeviceClock), settings_(settings) {}

    ASIOBool init(void*) override {
        if (initialized_) return ASIOTrue;
        if (settings_.failInit) return Fail(settings_.failInitMessage);
        if (settings_.error[0] != '\0') return Fail(settings_.error);
        initialized_ = true;
        return ASIOTrue;
    }

    void getDriverName(char* name) override { CopyTextTruncated(name, 32, settings_.name); }
    long getDriverVersion() override { return kDriverVersion; }
    void getErrorMessage(char* text) override { CopyTextTruncated(text, 128, errorMessage_); }

    ASIOError start() override {
        if (!buffersCreated_) return ASE_NotPresent;
        if (running_) return ASE_OK;
        {
            std::lock_guard<std::mutex> lock(switchMutex_);
            nextHalf_ = 0;
            switchesSinceStart_ = 0;
            tonePosition_ = 0;
            samplePosition_ = 0;
            running_ = true;
        }
        if (settings_.clock == ClockKind::RealTime && !StartClockThread()) {
            running_ = false;
            return ASE_HWMalfunction;
        }
        return ASE_OK;
    }

    ASIOError stop() override {
        if (OnSwitchThread()) return ASE_InvalidMode;  // would wait for itself
        StopClockThread();
        std::lock_guard<std::mutex> lock(switchMutex_);
        running_ = false;
        capture_.Finish();
        return ASE_OK;
    }

    ASIOError getChannels(long* numInputChannels, long* numOutputChannels) override {
        if (!initialized_) return ASE_NotPresent;
        if (numInputChannels == nullptr || numOutputChannels == nullptr) return ASE_InvalidParameter;
        *numInputChannels = settings_.inputs;
        *numOutputChannels = settings_.outputs;
        return ASE_OK;
    }

    ASIOError getLatencies(long* inputLatency, long* outputLatency) override {
        if (!initialized_) return ASE_NotPresent;
        if (inputLatency == nullptr || outputLatency == nullptr) return ASE_InvalidParameter;
        // A half is heard one switch after the host fills it.
        long samples = buffersCreated_ ? bufferSize_ : settings_.bufferSize;
        *inputLatency = samples;
        *outputLatency = samples;
        return ASE_OK;
    }

    ASIOError getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity) override {
        if (!initialized_) return ASE_NotPresent;
        if (minSize == nullptr || maxSize == nullptr || preferredSize == nullptr || granularity == nullptr)
            return ASE_InvalidParameter;
        *minSize = settings_.minSize;
        *maxSize = settings_.maxSize;
        *preferredSize = settings_.bufferSize;
        *granularity = settings_.granularity;
        return ASE_OK;
    }

    ASIOError canSampleRate(ASIOSampleRate sampleRate) override {
        if (!initialized_) return ASE_NotPresent;
        return sampleRate == settings_.sampleRateHz ? ASE_OK : ASE_NoClock;
    }

    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override {
        if (!initialized_) return ASE_NotPresent;
        if (sampleRate == nullptr) return ASE_InvalidParameter;
        *sampleRate = settings_.sampleRateHz;
        return ASE_OK;
    }

    ASIOError setSampleRate(ASIOSampleRate sampleRate) override {
        return canSampleRate(sampleRate);  // one fixed rate
    }

    ASIOError getClockSources(ASIOClockSource* clocks, long* numSources) override {
        if (!initialized_) return ASE_NotPresent;
        if (clocks == nullptr || numSources == nullptr || *numSources < 1) return ASE_InvalidParameter;
        std::memset(clocks, 0, sizeof *clocks);
        clocks->associatedChannel = -1;
        clocks->associatedGroup = -1;
        clocks->isCurrentSource = ASIOTrue;
        CopyTextTruncated(clocks->name, sizeof clocks->name, "Internal");
        *numSources = 1;
        return ASE_OK;
    }

    ASIOError setClockSource(long reference) override {
        if (!initialized_) return ASE_NotPresent;
        return reference == 0 ? ASE_OK : ASE_InvalidParameter;
    }

    ASIOError getSamplePosition(ASIOSamples* samplePosition, ASIOTimeStamp* timeStamp) override {
        if (samplePosition == nullptr || timeStamp == nullptr) return ASE_InvalidParameter;
        if (!running_) return ASE_SPNotAdvancing;
        auto samples = static_cast<unsigned long long>(samplePosition_.load());
        auto nanoseconds = static_cast<unsigned long long>(switchTimeNs_.load());
        samplePosition->hi = static_cast<unsigned long>(samples >> 32);
        samplePosition->lo = static_cast<unsigned long>(samples & 0xFFFFFFFFu);
        timeStamp->hi = static_cast<unsigned long>(nanoseconds >> 32);
        timeStamp->lo = static_cast<unsigned long>(nanoseconds & 0xFFFFFFFFu);
        return ASE_OK;
    }

    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        if (!initialized_) return ASE_NotPresent;
        if (info == nullptr) return ASE_InvalidParameter;
        bool input = info->isInput != ASIOFalse;
        long count = input ? settings_.inputs : settings_.outputs;
        if (info->channel < 0 || info->channel >= count) return ASE_InvalidParameter;
        info->isActive = buffersCreated_ && Half(input, info->channel, 0) != nullptr ? ASIOTrue : ASIOFalse;
        info->channelGroup = !input && info->channel >= settings_.firstGroupOutputs ? 1 : 0;
        info->type = settings_.sampleType;
        std::snprintf(info->name, sizeof info->name, "%s %ld", input ? "Input" : "Output", info->channel + 1);
        return ASE_OK;
    }

    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                            ASIOCallbacks* callbacks) override;

    ASIOError disposeBuffers() override {
        if (OnSwitchThread()) return ASE_InvalidMode;
        if (!buffersCreated_) return ASE_InvalidMode;
        stop();
        std::lock_guard<std::mutex> lock(switchMutex_);
        FreeBuffers();
        return ASE_OK;
    }

    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError future(long, void*) override { return ASE_InvalidParameter; }
    // The device plays a half when bufferSwitch returns; an early signal changes nothing.
    ASIOError outputReady() override { return ASE_OK; }

    long AdvanceBufferSwitches(long count) override {
        if (settings_.clock != ClockKind::Test) return 0;
        long done = 0;
        for (; done < count; ++done) {
            std::lock_guard<std::mutex> lock(switchMutex_);
            if (!running_) break;
            RunSwitch();
        }
        return done;
    }

    long long BufferSwitchCount() override { return switchCount_; }

private:
    ~VirtualDevice() {
        StopClockThread();
        FreeBuffers();
    }

    ASIOBool Fail(const char* message) {
        CopyTextTruncated(errorMessage_, sizeof errorMessage_, message);
        return ASIOFalse;
    }

    bool OnSwitchThread() const { return switchThread_.load() == std::this_thread::get_id(); }

    uint8_t* Half(bool input, long channel, long half) const {
        uint8_t* const* halves = input ? inputHalves_.get() : outputHalves_.get();
        return halves == nullptr ? nullptr : halves[channel * 2 + half];
    }

    bool BufferSizeAllowed(long samples) const {
        if (samples == settings_.bufferSize) return true;
        if (samples < settings_.minSize || samples > settings_.maxSize) return false;
        if (settings_.granularity == -1) return (samples & (samples - 1)) == 0;
        if (settings_.granularity == 0) return false;
        if (settings_.granularity > 0) return samples % settings_.granularity == 0;
        return true;
    }

    void FreeBuffers() {
        capture_.Close();
        memory_.reset();
        outputHalves_.reset();
        inputHalves_.reset();
        tone_.reset();
        frames_.reset();
        buffersCreated_ = false;
    }

    bool StartClockThread();
    void StopClockThread();
    void ClockLoop();
    void RunSwitch();
    void FillInputs(long half);
    void CaptureOutputs(long half);

    const DeviceSettings settings_;
    char errorMessage_[128] = "";
    std::atomic<bool> initialized_{false};

    // Made by createBuffers, freed by disposeBuffers; read by switches.
    std::atomic<bool> buffersCreated_{false};
    long bufferSize_ = 0;  // samples in one half
    long halfBytes_ = 0;
    std::unique_ptr<uint8_t[]> memory_;          // every half of every created channel
    std::unique_ptr<uint8_t*[]> outputHalves_;   // [channel * 2 + half], null when not created
    std::unique_ptr<uint8_t*[]> inputHalves_;
    std::unique_ptr<float[]> tone_;    // one half of the tone
    std::unique_ptr<float[]> frames_;  // one half of interleaved capture frames
    ASIOCallbacks callbacks_{};
    CaptureFile capture_;

    std::mutex switchMutex_;  // held for a whole switch
    std::atomic<bool> running_{false};
    std::atomic<std::thread::id> switchThread_{};
    long nextHalf_ = 0;                  // under switchMutex_
    long long switchesSinceStart_ = 0;   // under switchMutex_
    long long tonePosition_ = 0;         // under switchMutex_, samples mod the rate
    std::atomic<long long> switchCount_{0};
    std::atomic<long long> samplePosition_{0};
    std::atomic<long long> switchTimeNs_{0};

    std::unique_ptr<SuspendedThread> clockThread_;
    std::mutex clockMutex_;
    std::condition_variable clockWake_;
    bool stopRequested_ = false;  // under clockMutex_
};

ASIOError VirtualDevice::createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                       ASIOCallbacks* callbacks) {
    if (!initialized_) return ASE_NotPresent;
    if (buffersCreated_) return ASE_InvalidMode;  // disposeBuffers first
    if (bufferInfos == nullptr || callbacks == nullptr || callbacks->bufferSwitch == nullptr)
        return ASE_InvalidParameter;
    if (numChannels <= 0 || numChannels > settings_.inputs + settings_.outputs) return ASE_InvalidParameter;
    if (!BufferSizeAllowed(bufferSize)) return ASE_InvalidMode;
    long sampleBytes = BytesPerSample(settings_.sampleType);
    if (sampleBytes == 0) return ASE_InvalidMode;

    std::lock_guard<std::mutex> lock(switchMutex_);
    bufferSize_ = bufferSize;
    halfBytes_ = bufferSize * sampleBytes;
    memory_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(numChannels) * 2 * halfBytes_]());
    outputHalves_.reset(new (std::nothrow) uint8_t*[settings_.outputs * 2 + 1]());
    inputHalves_.reset(new (std::nothrow) uint8_t*[settings_.inputs * 2 + 1]());
    tone_.reset(new (std::nothrow) float[bufferSize]());
    bool capturing = settings_.capturePath[0] != '\0' && settings_.outputs > 0;
    if (capturing) frames_.reset(new (std::nothrow) float[static_cast<size_t>(bufferSize) * settings_.outputs]());
    if (!memory_ || !outputHalves_ || !inputHalves_ || !tone_ || (capturing && !frames_)) {
        FreeBuffers();
        return ASE_NoMemory;
    }

    for (long i = 0; i < numChannels; ++i) {
        ASIOBufferInfo& info = bufferInfos[i];
        bool input = info.isInput != ASIOFalse;
        long count = input ? settings_.inputs : settings_.outputs;
        uint8_t** halves = input ? inputHalves_.get() : outputHalves_.get();
        if (info.channelNum < 0 || info.channelNum >= count || halves[info.channelNum * 2] != nullptr) {
            FreeBuffers();  // out of range, or asked twice
            return ASE_InvalidParameter;
        }
        uint8_t* first = memory_.get() + static_cast<size_t>(i) * 2 * halfBytes_;
        halves[info.channelNum * 2] = first;
        halves[info.channelNum * 2 + 1] = first + halfBytes_;
    }

    if (capturing && !capture_.Open(settings_.capturePath, settings_.outputs, settings_.sampleRateHz)) {
        std::snprintf(errorMessage_, sizeof errorMessage_, "Cannot create the capture file %.90s", settings_.capturePath);
        FreeBuffers();
        return ASE_HWMalfunction;
    }

    for (long i = 0; i < numChannels; ++i) {
        ASIOBufferInfo& info = bufferInfos[i];
        info.buffers[0] = Half(info.isInput != ASIOFalse, info.channelNum, 0);
        info.buffers[1] = Half(info.isInput != ASIOFalse, info.channelNum, 1);
    }
    callbacks_ = *callbacks;
    buffersCreated_ = true;
    return ASE_OK;
}

bool VirtualDevice::StartClockThread() {
    {
        std::lock_guard<std::mutex> lock(clockMutex_);
        stopRequested_ = false;
    }
    clockThread_.reset(new (std::nothrow) SuspendedThread);
    if (!clockThread_ || !clockThread_->Create([this] { ClockLoop(); })) {
        clockThread_.reset();
        return false;
    }
    clockThread_->RaisePriority();
    clockThread_->Resume();
    return true;
}

void VirtualDevice::StopClockThread() {
    if (!clockThread_) return;
    {
        std::lock_guard<std::mutex> lock(clockMutex_);
        stopRequested_ = true;
    }
    clockWake_.notify_all();
    clockThread_->Join();
    clockThread_.reset();
}

void VirtualDevice::ClockLoop() {
    using Clock = std::chrono::steady_clock;
    const double periodNs = 1e9 * static_cast<double>(bufferSize_) /
                            (static_cast<double>(settings_.sampleRateHz) * settings_.speed);
    auto deadlineOf = [periodNs](Clock::time_point origin, long long n) {
        return origin + std::chrono::nanoseconds(std::llround(static_cast<double>(n) * periodNs));
    };
    Clock::time_point origin = Clock::now();
    long long n = 0;
    std::unique_lock<std::mutex> lock(clockMutex_);
    for (;;) {
        Clock::time_point deadline = deadlineOf(origin, ++n);
        if (clockWake_.wait_until(lock, deadline, [this] { return stopRequested_; })) return;
        lock.unlock();
        {
            std::lock_guard<std::mutex> switchLock(switchMutex_);
            RunSwitch();
        }
        lock.lock();
        Clock::time_point now = Clock::now();
        if (now > deadlineOf(deadline, kMaxLagPeriods)) {
            origin = now;  // too late to catch up: count again from here
            n = 0;
        }
    }
}

void VirtualDevice::RunSwitch() {
    long half = nextHalf_;
    FillInputs(half);
    samplePosition_ = switchesSinceStart_ * bufferSize_;
    switchTimeNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    switchThread_ = std::this_thread::get_id();
    callbacks_.bufferSwitch(half, ASIOTrue);
    switchThread_ = std::thread::id();
    CaptureOutputs(half);
    ++switchesSinceStart_;
    ++switchCount_;
    nextHalf_ = 1 - half;
}

void VirtualDevice::FillInputs(long half) {
    const ASIOSampleType type = settings_.sampleType;
    const long sampleBytes = BytesPerSample(type);
    if (settings_.input == InputSource::Tone) {
        const double step = 2.0 * std::numbers::pi * kToneHz / settings_.sampleRateHz;
        for (long i = 0; i < bufferSize_; ++i) {
            tone_[i] = static_cast<float>(kToneAmplitude * std::sin(step * static_cast<double>(tonePosition_)));
            if (++tonePosition_ == settings_.sampleRateHz) tonePosition_ = 0;  // a whole number of cycles
        }
    }
    for (long channel = 0; channel < settings_.inputs; ++channel) {
        uint8_t* to = Half(true, channel, half);
        if (to == nullptr) continue;
        const uint8_t* heard = nullptr;
        if (settings_.input == InputSource::Loopback && switchesSinceStart_ > 0 && channel < settings_.outputs)
            heard = Half(false, channel, 1 - half);
        if (settings_.input == InputSource::Tone) {
            for (long i = 0; i < bufferSize_; ++i) FloatToSample(type, tone_[i], to + i * sampleBytes);
        } else if (heard != nullptr) {
            std::memcpy(to, heard, halfBytes_);
        } else {
            std::memset(to, 0, halfBytes_);
        }
    }
}

void VirtualDevice::CaptureOutputs(long half) {
    if (!capture_.IsOpen()) return;
    const ASIOSampleType type = settings_.sampleType;
    const long sampleBytes = BytesPerSample(type);
    const long outputs = settings_.outputs;
    for (long channel = 0; channel < outputs; ++channel) {
        const uint8_t* from = Half(false, channel, half);
        for (long i = 0; i < bufferSize_; ++i)
            frames_[i * outputs + channel] = from ? SampleToFloat(type, from + i * sampleBytes) : 0.0f;
    }
    capture_.Write(frames_.get(), static_cast<uint32_t>(bufferSize_));
}

}  // namespace

// Creates a device for any class registered to this library; its settings come from
// the HKLM\software\asio key that names the class.
int32_t DllGetClassObject(const CLSID* clsid, const IID* iid, void** object) {
    return ServeClassObject(clsid, iid, object, [](const CLSID& id, HRESULT* result) -> VirtualDevice* {
        // Any class registered with a key of settings is a virtual device.
        auto settings = std::unique_ptr<DeviceSettings>(new (std::nothrow) DeviceSettings);
        if (!settings) return nullptr;
        if (!ReadDeviceSettings(id, settings.get())) {
            *result = CLASS_E_CLASSNOTAVAILABLE;
            return nullptr;
        }
        return new (std::nothrow) VirtualDevice(id, *settings);
    });
}
