// The JACK driver: one JACK client whose process callback runs the device's buffer
// switches.
//
// The server owns the clock, the period and the rate; the driver serves
// ASIOSTFloat32LSB, JACK's own sample format, so samples are copied and never converted.
// The host's buffer size is fixed at init: the server's period when that divides the
// player's block (kBlockFrames) into two or more buffers, else the largest such size that
// divides the period (512 at 1024, 2048 or 4096), so any period works. Between the ports
// and the halves stand two FIFOs, one per direction. Each process cycle appends the
// input ports to the input FIFO; for every whole host buffer it holds, it copies one into
// input half `index`, runs the host's bufferSwitch(index), appends output half `index`
// to the output FIFO and flips the index; then the cycle's frames leave the output FIFO
// for the output ports. When the host's size divides the period the FIFOs stay empty
// between cycles and the host's output leaves in the same cycle.
//
// The frames held in the two FIFOs together stay the same from cycle to cycle: the
// driver's added latency. It starts at what the period at start needs (0 when the host's
// size divides it). A later period that needs more (the server went from 256 to 128
// frames, say) gets one switch early, its input completed with silence: the outputs go
// on without a gap, the inputs gain that silence once, and the latency stays the larger.
// So the server may change its period at any time without a reset, up to
// kMaxServerFrames, for which the FIFOs are sized when the buffers are created.
//
// Threads. The host's methods run on its application thread. JACK runs the process
// callback on its real-time thread and the other callbacks on its notification thread.
// The process callback only copies between preallocated memory and the ports; it
// allocates, locks and logs nothing. A server that goes away, changes its rate or its
// period beyond what the FIFOs hold raises a flag and posts a semaphore (both
// async-signal-safe); a small notifier thread of ours then sends kAsioResetRequest
// through the host's asioMessage, so no JACK callback ever calls into the host. A change
// of latency is told the same way, with kAsioLatenciesChanged.
//
// The client is activated by start and deactivated by stop: deactivation returns only
// after the process thread has left the callback, so disposeBuffers can free the halves.
// After the server has gone, stop, disposeBuffers and Release still return at once.
#include "drivers/jack/jack_driver.h"

#include <jack/jack.h>
#include <jack/thread.h>
#include <sched.h>
#include <semaphore.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <new>

#include "drivers/jack/jack_settings.h"
#include "drivers/streaming_driver.h"
#include "host/asio_driver.h"
#include "platform/audio_block.h"
#include "platform/kernel.h"

namespace {

constexpr long kChannels = 2;  // per direction
constexpr long kMaxBuffers = 2 * kChannels;
const char* const kOutputNames[kChannels] = {"out_1", "out_2"};
const char* const kInputNames[kChannels] = {"in_1", "in_2"};

// The longest period the FIFOs take: jackd's and PipeWire's largest.
constexpr long kMaxServerFrames = 8192;

// The host's buffer size for a server period: the period itself when it divides the
// block at least twice; else the largest size that divides both the block (at least
// twice) and the period, when that is still 32 frames or more; else (a period like 1000
// frames) a size near the period, the FIFOs making up the difference.
long HostFramesFor(long period) {
    long frames = std::gcd(period, kBlockFrames);
    while (frames > kBlockFrames / 2) frames /= 2;
    if (frames == period || frames >= 32) return frames;
    for (frames = period < 512 ? period : 512; kBlockFrames % frames != 0; --frames) {
    }
    return frames;
}

using AsioMessageFunction = long (*)(long selector, long value, void* message, double* opt);

class JackDriver final : public StreamingDriver {
public:
    explicit JackDriver(const CLSID& clsid) : StreamingDriver(clsid, "JACK", "JACK server") {}

    ASIOBool init(void*) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getLatencies(long* inputLatency, long* outputLatency) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;

    long long InputLosses() override { return 0; }  // the ports are there while the server is

private:
    struct ActiveBuffer {
        bool isInput;
        long channel;
        float* halves[2];
    };

    ~JackDriver();

    static int OnProcess(jack_nframes_t frames, void* arg) {
        return static_cast<JackDriver*>(arg)->Process(frames);
    }
    static int OnBufferSize(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<JackDriver*>(arg);
        if (frames > kMaxServerFrames) self->RequestReset();
        else if (self->serverFrames_.exchange(frames) != frames) self->RequestLatencyNotice();
        return 0;
    }
    static int OnSampleRate(jack_nframes_t rate, void* arg) {
        auto* self = static_cast<JackDriver*>(arg);
        if (rate != self->sampleRate_.load()) self->RequestReset();
        return 0;
    }
    static int OnXrun(void* arg) {
        static_cast<JackDriver*>(arg)->xruns_.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    static void OnShutdown(jack_status_t, const char*, void* arg) {
        auto* self = static_cast<JackDriver*>(arg);
        self->serverGone_.store(true);
        self->RequestReset();
    }

    int Process(jack_nframes_t frames);
    // One buffer switch on the host's buffer at inFifo_ + offset; its output joins the
    // output FIFO.
    void Switch(long offset);
    void SilenceOutputs(jack_nframes_t frames);
    // Async-signal-safe: callable from any JACK callback.
    void RequestReset();
    void RequestLatencyNotice();
    void NotifierLoop();
    bool Initialized() const override { return client_ != nullptr; }
    long Inputs() const override { return kChannels; }
    long Outputs() const override { return kChannels; }
    // Chosen at init for the server's period then.
    long BufferFrames() const override { return hostFrames_; }
    ASIOSampleRate SampleRateHz() const override { return sampleRate_.load(); }
    void ConnectPhysicalPorts();
    void SetError(const char* text) { CopyTextTruncated(error_, sizeof error_, text); }

    JackSettings settings_;

    jack_client_t* client_ = nullptr;
    jack_port_t* outputPorts_[kChannels] = {};
    jack_port_t* inputPorts_[kChannels] = {};
    long hostFrames_ = 0;  // fixed at init
    std::atomic<jack_nframes_t> serverFrames_{0};
    std::atomic<double> sampleRate_{0};

    // Written on the application thread while the client is inactive; the process
    // thread reads them after seeing running_ set.
    float* memory_ = nullptr;
    ActiveBuffer buffers_[kMaxBuffers] = {};
    long bufferCount_ = 0;
    ASIOCallbacks callbacks_ = {};
    // The FIFOs, kMaxServerFrames + 2 host buffers per channel, frames from the front;
    // set up by start, then the process thread's own.
    float* inFifo_[kChannels] = {};
    float* outFifo_[kChannels] = {};
    long inFill_ = 0;
    long outFill_ = 0;
    long index_ = 0;  // the due half
    std::atomic<long> fifoFrames_{0};  // inFill_ + outFill_ between cycles
    std::atomic<bool> active_{false};
    std::atomic<uint64_t> cycles_{0};  // released by each cycle, acquired by stop

    // Messages to the host: raised by JACK's threads, sent by the notifier thread.
    std::atomic<bool> serverGone_{false};
    std::atomic<bool> resetRaised_{false};   // at most one request per set of buffers
    std::atomic<bool> resetPending_{false};  // raised, not yet sent
    std::atomic<bool> latencyPending_{false};
    std::atomic<bool> quit_{false};
    std::atomic<AsioMessageFunction> asioMessage_{nullptr};
    sem_t wake_;
    bool semaphoreMade_ = false;
    SuspendedThread notifier_;
};

JackDriver::~JackDriver() {
    if (running_.load()) stop();
    if (memory_ != nullptr) disposeBuffers();
    // Closing first means no JACK callback can post the semaphore after it is destroyed.
    if (client_ != nullptr) jack_client_close(client_);
    client_ = nullptr;
    if (notifier_.Created()) {
        quit_.store(true);
        sem_post(&wake_);
        notifier_.Join();
    }
    if (semaphoreMade_) sem_destroy(&wake_);
}

ASIOBool JackDriver::init(void*) {
    if (Initialized()) return ASIOTrue;
    ReadJackSettings(ClassId(), &settings_);

    jack_status_t status{};
    // JackNoStartServer: a driver must never spawn a server of its own.
    client_ = jack_client_open(settings_.clientName, JackNoStartServer, &status);
    if (client_ == nullptr) {
        const char* server = std::getenv("JACK_DEFAULT_SERVER");
        if (server == nullptr || server[0] == '\0') server = "default";
        if (status & JackServerFailed)
            std::snprintf(error_, sizeof error_, "No JACK server is running (server \"%s\")", server);
        else if (status & JackNameNotUnique)
            std::snprintf(error_, sizeof error_, "JACK refused the client name \"%s\"", settings_.clientName);
        else
            std::snprintf(error_, sizeof error_, "Cannot open a JACK client (status 0x%x)", static_cast<unsigned>(status));
        return ASIOFalse;
    }

    const jack_nframes_t period = jack_get_buffer_size(client_);
    serverFrames_.store(period);
    sampleRate_.store(jack_get_sample_rate(client_));
    bool ok = period > 0 && sampleRate_.load() > 0;
    if (ok && period > kMaxServerFrames) {
        SetError("The JACK server's period is longer than 8192 frames");
        ok = false;
    } else if (!ok) {
        SetError("The JACK server tells no period or rate");
    }
    if (ok) hostFrames_ = HostFramesFor(static_cast<long>(period));
    for (long c = 0; ok && c < kChannels; ++c) {
        outputPorts_[c] = jack_port_register(client_, kOutputNames[c], JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        inputPorts_[c] = jack_port_register(client_, kInputNames[c], JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        if (outputPorts_[c] == nullptr || inputPorts_[c] == nullptr) {
            SetError("The JACK server refused the driver's ports");
            ok = false;
        }
    }
    if (ok && (jack_set_process_callback(client_, OnProcess, this) != 0 ||
               jack_set_buffer_size_callback(client_, OnBufferSize, this) != 0 ||
               jack_set_sample_rate_callback(client_, OnSampleRate, this) != 0 ||
               jack_set_xrun_callback(client_, OnXrun, this) != 0)) {
        SetError("The JACK server refused the driver's callbacks");
        ok = false;
    }
    if (ok) {
        jack_on_info_shutdown(client_, OnShutdown, this);
        semaphoreMade_ = sem_init(&wake_, 0, 0) == 0;
        if (semaphoreMade_ && notifier_.Create([this] { NotifierLoop(); })) {
            notifier_.Resume();
        } else {
            SetError("Cannot create the driver's notifier");
            ok = false;
        }
    }
    if (!ok) {
        jack_client_close(client_);
        client_ = nullptr;
        return ASIOFalse;
    }
    error_[0] = '\0';
    return ASIOTrue;
}

void JackDriver::RequestReset() {
    if (resetRaised_.exchange(true)) return;
    resetPending_.store(true);
    sem_post(&wake_);
}

void JackDriver::RequestLatencyNotice() {
    latencyPending_.store(true);
    sem_post(&wake_);
}

void JackDriver::NotifierLoop() {
    while (!quit_.load()) {
        if (sem_wait(&wake_) != 0 && errno == EINTR) continue;
        if (quit_.load()) break;
        AsioMessageFunction message = asioMessage_.load();
        const bool reset = resetPending_.exchange(false);
        const bool latency = latencyPending_.exchange(false);
        if (message == nullptr) continue;
        if (reset) message(kAsioResetRequest, 0, nullptr, nullptr);
        else if (latency) message(kAsioLatenciesChanged, 0, nullptr, nullptr);
    }
}

void JackDriver::SilenceOutputs(jack_nframes_t frames) {
    for (jack_port_t* port : outputPorts_)
        std::memset(jack_port_get_buffer(port, frames), 0, frames * sizeof(float));
}

void JackDriver::Switch(long offset) {
    const long index = index_;
    const size_t bytes = static_cast<size_t>(hostFrames_) * sizeof(float);
    for (long b = 0; b < bufferCount_; ++b) {
        const ActiveBuffer& buffer = buffers_[b];
        if (buffer.isInput) std::memcpy(buffer.halves[index], inFifo_[buffer.channel] + offset, bytes);
    }
    callbacks_.bufferSwitch(index, ASIOTrue);
    bool outputWritten[kChannels] = {};
    for (long b = 0; b < bufferCount_; ++b) {
        const ActiveBuffer& buffer = buffers_[b];
        if (buffer.isInput) continue;
        std::memcpy(outFifo_[buffer.channel] + outFill_, buffer.halves[index], bytes);
        outputWritten[buffer.channel] = true;
    }
    for (long c = 0; c < kChannels; ++c)
        if (!outputWritten[c]) std::memset(outFifo_[c] + outFill_, 0, bytes);
    outFill_ += hostFrames_;
    index_ = 1 - index;
}

int JackDriver::Process(jack_nframes_t frames) {
    if (!running_.load(std::memory_order_acquire)) {
        SilenceOutputs(frames);
        return 0;
    }
    const long n = static_cast<long>(frames);
    if (n > kMaxServerFrames) {
        // More than the FIFOs hold: silence until the host has reset us.
        SilenceOutputs(frames);
        RequestReset();
        return 0;
    }
    const long h = hostFrames_;
    for (long c = 0; c < kChannels; ++c)
        std::memcpy(inFifo_[c] + inFill_, jack_port_get_buffer(inputPorts_[c], frames), n * sizeof(float));
    inFill_ += n;
    long taken = 0;
    for (; inFill_ - taken >= h; taken += h) Switch(taken);
    if (outFill_ < n) {
        // This period needs more latency than the FIFOs hold: one switch now, on the
        // input there is and silence after it.
        for (long c = 0; c < kChannels; ++c)
            std::memset(inFifo_[c] + inFill_, 0, static_cast<size_t>(taken + h - inFill_) * sizeof(float));
        inFill_ = taken + h;
        Switch(taken);
        taken += h;
        RequestLatencyNotice();
    }
    inFill_ -= taken;
    outFill_ -= n;
    for (long c = 0; c < kChannels; ++c) {
        std::memmove(inFifo_[c], inFifo_[c] + taken, static_cast<size_t>(inFill_) * sizeof(float));
        std::memcpy(jack_port_get_buffer(outputPorts_[c], frames), outFifo_[c], n * sizeof(float));
        std::memmove(outFifo_[c], outFifo_[c] + n, static_cast<size_t>(outFill_) * sizeof(float));
    }
    fifoFrames_.store(inFill_ + outFill_, std::memory_order_relaxed);
    AdvancePosition(frames);
    cycles_.fetch_add(1, std::memory_order_release);
    return 0;
}

ASIOError JackDriver::getLatencies(long* inputLatency, long* outputLatency) {
    if (!Initialized()) return ASE_NotPresent;
    if (inputLatency == nullptr || outputLatency == nullptr) return ASE_InvalidParameter;
    // One period of our own, plus what the ports we are connected to add; the frames the
    // FIFOs hold count on the output side (before start: what the period needs).
    jack_latency_range_t capture{}, playback{};
    jack_port_get_latency_range(inputPorts_[0], JackCaptureLatency, &capture);
    jack_port_get_latency_range(outputPorts_[0], JackPlaybackLatency, &playback);
    const long period = static_cast<long>(serverFrames_.load());
    const long fifo = running_.load() ? fifoFrames_.load() : hostFrames_ - std::gcd(hostFrames_, period);
    *inputLatency = period + static_cast<long>(capture.max);
    *outputLatency = period + fifo + static_cast<long>(playback.max);
    return ASE_OK;
}

ASIOError JackDriver::getChannelInfo(ASIOChannelInfo* info) {
    if (!Initialized()) return ASE_NotPresent;
    if (info == nullptr || info->channel < 0 || info->channel >= kChannels) return ASE_InvalidParameter;
    const bool isInput = info->isInput != ASIOFalse;
    info->isActive = ASIOFalse;
    for (long b = 0; b < bufferCount_; ++b)
        if (buffers_[b].isInput == isInput && buffers_[b].channel == info->channel) info->isActive = ASIOTrue;
    info->channelGroup = 0;
    info->type = ASIOSTFloat32LSB;
    std::snprintf(info->name, sizeof info->name, "%s", isInput ? kInputNames[info->channel] : kOutputNames[info->channel]);
    return ASE_OK;
}

ASIOError JackDriver::createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                    ASIOCallbacks* callbacks) {
    const ASIOError refused = CheckBufferRequest(memory_ != nullptr, bufferInfos, numChannels, bufferSize, callbacks);
    if (refused != ASE_OK) return refused;
    if (serverGone_.load()) {
        SetError("The JACK server has gone away");
        return ASE_HWMalfunction;
    }
    if (!ChannelsUsable(bufferInfos, numChannels)) return ASE_InvalidParameter;
    const size_t halves = static_cast<size_t>(numChannels) * 2 * static_cast<size_t>(bufferSize);
    const size_t fifo = kMaxServerFrames + 2 * static_cast<size_t>(bufferSize);
    memory_ = new (std::nothrow) float[halves + 2 * kChannels * fifo]();
    if (memory_ == nullptr) return ASE_NoMemory;
    for (long c = 0; c < kChannels; ++c) {
        inFifo_[c] = memory_ + halves + static_cast<size_t>(c) * fifo;
        outFifo_[c] = inFifo_[c] + kChannels * fifo;
    }
    for (long i = 0; i < numChannels; ++i) {
        ActiveBuffer& buffer = buffers_[i];
        buffer.isInput = bufferInfos[i].isInput != ASIOFalse;
        buffer.channel = bufferInfos[i].channelNum;
        buffer.halves[0] = memory_ + static_cast<size_t>(i) * 2 * static_cast<size_t>(bufferSize);
        buffer.halves[1] = buffer.halves[0] + bufferSize;
        bufferInfos[i].buffers[0] = buffer.halves[0];
        bufferInfos[i].buffers[1] = buffer.halves[1];
    }
    bufferCount_ = numChannels;
    callbacks_ = *callbacks;
    resetRaised_.store(false);
    resetPending_.store(false);
    asioMessage_.store(callbacks->asioMessage);
    return ASE_OK;
}

ASIOError JackDriver::disposeBuffers() {
    if (!Initialized()) return ASE_NotPresent;
    if (memory_ == nullptr) return ASE_InvalidMode;
    if (running_.load()) stop();
    asioMessage_.store(nullptr);
    delete[] memory_;
    memory_ = nullptr;
    for (long c = 0; c < kChannels; ++c) inFifo_[c] = outFifo_[c] = nullptr;
    bufferCount_ = 0;
    callbacks_ = ASIOCallbacks{};
    return ASE_OK;
}

void JackDriver::ConnectPhysicalPorts() {
    // Our outputs feed the physical playback ports, which are JACK inputs, and the
    // physical capture ports (JACK outputs) feed our inputs, pair by pair.
    const char** playback = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    for (long c = 0; playback != nullptr && c < kChannels && playback[c] != nullptr; ++c)
        jack_connect(client_, jack_port_name(outputPorts_[c]), playback[c]);
    if (playback != nullptr) jack_free(playback);
    const char** capture = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsOutput);
    for (long c = 0; capture != nullptr && c < kChannels && capture[c] != nullptr; ++c)
        jack_connect(client_, capture[c], jack_port_name(inputPorts_[c]));
    if (capture != nullptr) jack_free(capture);
}

ASIOError JackDriver::start() {
    if (!Initialized()) return ASE_NotPresent;
    if (memory_ == nullptr) return ASE_InvalidMode;
    if (running_.load()) return ASE_OK;
    if (serverGone_.load()) {
        SetError("The JACK server has gone away");
        return ASE_HWMalfunction;
    }
    // The FIFOs start with the latency the period needs, as silence on the output side.
    const long period = static_cast<long>(jack_get_buffer_size(client_));
    index_ = 0;
    inFill_ = 0;
    outFill_ = hostFrames_ - std::gcd(hostFrames_, period);
    for (long c = 0; c < kChannels; ++c) std::memset(outFifo_[c], 0, static_cast<size_t>(outFill_) * sizeof(float));
    fifoFrames_.store(outFill_);
    samplePosition_.store(0);
    running_.store(true, std::memory_order_release);
    if (jack_activate(client_) != 0) {
        running_.store(false);
        SetError("The JACK server refused to activate the driver");
        return ASE_HWMalfunction;
    }
    active_.store(true);
    // A server without real-time scheduling leaves our process thread at normal priority,
    // behind any busy thread and the host's own workers: lift it above those where the
    // system allows (a real-time server has done so already).
    if (!jack_is_realtime(client_))
        jack_acquire_real_time_scheduling(jack_client_thread_id(client_), sched_get_priority_min(SCHED_FIFO) + 2);
    if (settings_.connectPhysical) ConnectPhysicalPorts();
    return ASE_OK;
}

ASIOError JackDriver::stop() {
    if (!Initialized()) return ASE_NotPresent;
    if (!running_.load()) return ASE_OK;
    running_.store(false);
    // Deactivation waits for the process thread to leave its callback; on a server that
    // has gone it fails at once, the process thread having already ended itself.
    if (active_.exchange(false)) jack_deactivate(client_);
    cycles_.load(std::memory_order_acquire);  // every cycle's writes are ours from here
    return ASE_OK;
}

}  // namespace

// Creating the object touches no server: a machine without JACK can still list us.
int32_t DllGetClassObject(const CLSID* clsid, const IID* iid, void** object) {
    return ServeOneClass<JackDriver>(CLSID_JackDriver, clsid, iid, object);
}
