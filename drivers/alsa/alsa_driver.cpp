// The ALSA driver: one PCM device, played and recorded by a streaming thread of ours.
//
// init opens the device's playback side and settles its parameters: interleaved access,
// the first of S32_LE, S16_LE, S24_3LE and FLOAT_LE that the device takes (served to the
// host as ASIOSTInt32LSB, ASIOSTInt16LSB, ASIOSTInt24LSB and ASIOSTFloat32LSB, so the
// halves hold the device's own sample bytes and are only interleaved, never converted),
// two channels if it can, 48000 Hz or the nearest rate, and a period of the "BufferSize"
// setting, which is the host's buffer size. The capture side is opened with the same
// format, rate and period; where it cannot be, the inputs are silent and playback goes on.
//
// The streaming thread, at the best priority the system grants, runs one period per
// buffer switch: read a period of capture into input half `index`, call the host's
// bufferSwitch(index), write output half `index` as a period of playback, flip the index.
// The device's blocking paces it. Both sides are opened non-blocking and waited on in
// short steps, so stop never waits long for a device that has stalled. Under- and
// over-runs are recovered and counted; the thread writes nothing, not even on a
// failure, which the application thread logs when it stops the driver. Playback
// never waits on capture beyond the moment it would run dry: a capture period that is
// late by then is silence (counted once for each run of late periods), and a capture side
// that gives nothing for two seconds or fails for good is dropped and counted as an input
// loss (the application logs and shows it); the inputs are silent from then on and
// playback goes on. Playback that fails for good (unplugged, say) ends the thread and
// asks the host for a reset.
#include "drivers/alsa/alsa_driver.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "drivers/alsa/alsa_settings.h"
#include "drivers/streaming_driver.h"
#include "platform/kernel.h"

namespace {

constexpr unsigned kMaxChannels = 32;  // per direction
constexpr unsigned kWantedChannels = 2;
constexpr unsigned kWantedRateHz = 48000;
constexpr int kWaitStepMs = 100;       // how long a wait may keep stop waiting
constexpr int kStalledAfterMs = 2000;  // a device that takes or gives nothing this long has failed

struct FormatChoice {
    snd_pcm_format_t format;
    ASIOSampleType type;
    unsigned bytes;
};
// In order of preference.
constexpr FormatChoice kFormats[] = {
    {SND_PCM_FORMAT_S32_LE, ASIOSTInt32LSB, 4},
    {SND_PCM_FORMAT_S16_LE, ASIOSTInt16LSB, 2},
    {SND_PCM_FORMAT_S24_3LE, ASIOSTInt24LSB, 3},
    {SND_PCM_FORMAT_FLOAT_LE, ASIOSTFloat32LSB, 4},
};

// Parameters for an opened PCM. The playback side picks the format; the capture side
// must take the playback side's format, rate and period exactly.
struct PcmSetup {
    const FormatChoice* format = nullptr;
    unsigned channels = kWantedChannels;
    unsigned rateHz = kWantedRateHz;
    snd_pcm_uframes_t periodFrames = 0;
    snd_pcm_uframes_t ringFrames = 0;  // the device's whole buffer
};

// Applies hardware and software parameters; negative ALSA error, or 1 when the device
// takes none of our formats.
int Configure(snd_pcm_t* pcm, bool matchExactly, PcmSetup* setup) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    int error = snd_pcm_hw_params_any(pcm, hw);
    if (error < 0) return error;
    if ((error = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) return error;
    if (!matchExactly) {
        setup->format = nullptr;
        for (const FormatChoice& choice : kFormats) {
            if (snd_pcm_hw_params_test_format(pcm, hw, choice.format) == 0) {
                setup->format = &choice;
                break;
            }
        }
        if (setup->format == nullptr) return 1;
    }
    if ((error = snd_pcm_hw_params_set_format(pcm, hw, setup->format->format)) < 0) return error;
    unsigned channels = kWantedChannels;
    if ((error = snd_pcm_hw_params_set_channels_near(pcm, hw, &channels)) < 0) return error;
    if (channels > kMaxChannels) return -EINVAL;
    if (matchExactly) {
        if ((error = snd_pcm_hw_params_set_rate(pcm, hw, setup->rateHz, 0)) < 0) return error;
        if ((error = snd_pcm_hw_params_set_period_size(pcm, hw, setup->periodFrames, 0)) < 0) return error;
    } else {
        if ((error = snd_pcm_hw_params_set_rate_near(pcm, hw, &setup->rateHz, nullptr)) < 0) return error;
        if ((error = snd_pcm_hw_params_set_period_size_near(pcm, hw, &setup->periodFrames, nullptr)) < 0) return error;
    }
    snd_pcm_uframes_t ring = 2 * setup->periodFrames;
    if ((error = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &ring)) < 0) return error;
    if ((error = snd_pcm_hw_params(pcm, hw)) < 0) return error;
    snd_pcm_hw_params_get_channels(hw, &setup->channels);
    snd_pcm_hw_params_get_period_size(hw, &setup->periodFrames, nullptr);
    snd_pcm_hw_params_get_buffer_size(hw, &setup->ringFrames);
    if (setup->ringFrames < 2 * setup->periodFrames) return -EINVAL;

    // Playback starts once the ring is full; each wait wakes for one free period.
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if ((error = snd_pcm_sw_params_current(pcm, sw)) < 0) return error;
    if ((error = snd_pcm_sw_params_set_start_threshold(pcm, sw, setup->ringFrames)) < 0) return error;
    if ((error = snd_pcm_sw_params_set_avail_min(pcm, sw, setup->periodFrames)) < 0) return error;
    return snd_pcm_sw_params(pcm, sw);
}

class AlsaDriver final : public StreamingDriver {
public:
    explicit AlsaDriver(const CLSID& clsid) : StreamingDriver(clsid, "ALSA", "ALSA device") {}

    ASIOBool init(void*) override;
    ASIOError start() override;

    ASIOError stop() override {
        if (!Initialized()) return ASE_NotPresent;
        running_.store(false);
        if (thread_ != nullptr) thread_->Join();  // the thread waits at most one wait step
        thread_.reset();
        TellFailure();
        return ASE_OK;
    }

    ASIOError getLatencies(long* inputLatency, long* outputLatency) override {
        if (!Initialized()) return ASE_NotPresent;
        if (inputLatency == nullptr || outputLatency == nullptr) return ASE_InvalidParameter;
        // A captured period waits one period; a played one waits behind the full ring.
        *inputLatency = static_cast<long>(playbackSetup_.periodFrames);
        *outputLatency = static_cast<long>(playbackSetup_.ringFrames);
        return ASE_OK;
    }

    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;

    long long InputLosses() override { return inputLosses_.load(std::memory_order_relaxed); }

private:
    struct ActiveBuffer {
        bool isInput;
        long channel;
        uint8_t* halves[2];
    };

    ~AlsaDriver();
    bool Initialized() const override { return playback_ != nullptr; }
    // Without capture the inputs are still there, silent.
    long Inputs() const override {
        return static_cast<long>(capture_ != nullptr ? captureSetup_.channels : kWantedChannels);
    }
    long Outputs() const override { return static_cast<long>(playbackSetup_.channels); }
    // The period, settled at init.
    long BufferFrames() const override { return static_cast<long>(playbackSetup_.periodFrames); }
    ASIOSampleRate SampleRateHz() const override { return playbackSetup_.rateHz; }
    void CloseDevices();

    // The streaming thread's own.
    void Stream();
    bool StartDevices();
    // Fills input half `index` from a period of capture, or with silence; false when
    // stop was asked.
    bool TakeInput(long index);
    bool Play();
    // Waits in short steps until pcm can move frames: 1 ready, 0 stop was asked,
    // negative an ALSA error (-ETIMEDOUT: the device has stalled).
    int WaitReady(snd_pcm_t* pcm);
    // Waits until capture holds a whole period: 1 ready, 0 stop was asked, -EAGAIN
    // playback would run dry first, -ETIMEDOUT capture has stalled, other negative an
    // ALSA error.
    int WaitCapture();
    // Whether playback holds less than half a period still to play.
    bool PlaybackLow();
    // Drops the capture side for the rest of the run: inputs silent, counted once.
    void LoseCapture();
    // Brings pcm back after an xrun or a suspend; 0, or the error that could not be
    // recovered from. Unlike snd_pcm_recover it never waits longer than a stall.
    int Recover(snd_pcm_t* pcm, int error);
    void Fail(const char* what, int error);
    // Logs what Fail kept, once, on the application thread after the streaming thread
    // has been joined.
    void TellFailure();

    AlsaSettings settings_;

    snd_pcm_t* playback_ = nullptr;
    snd_pcm_t* capture_ = nullptr;
    PcmSetup playbackSetup_;
    PcmSetup captureSetup_;

    // Set up on the application thread before the streaming thread starts.
    uint8_t* memory_ = nullptr;
    uint8_t* playbackPeriod_ = nullptr;  // one interleaved period
    uint8_t* capturePeriod_ = nullptr;
    ActiveBuffer buffers_[2 * kMaxChannels] = {};
    long bufferCount_ = 0;
    ASIOCallbacks callbacks_ = {};

    std::unique_ptr<SuspendedThread> thread_;
    std::atomic<long long> inputLosses_{0};
    // The streaming thread's own while it runs.
    bool captureLive_ = false;
    bool captureLate_ = false;  // the last period's capture was late
    std::chrono::steady_clock::time_point lateSince_;
    // What ended the thread (Fail), read by TellFailure once the thread has been joined.
    const char* failedWhat_ = nullptr;
    int failedError_ = 0;
};

AlsaDriver::~AlsaDriver() {
    if (running_.load() || thread_ != nullptr) stop();
    if (memory_ != nullptr) disposeBuffers();
    CloseDevices();
}

void AlsaDriver::CloseDevices() {
    if (capture_ != nullptr) snd_pcm_close(capture_);
    if (playback_ != nullptr) snd_pcm_close(playback_);
    capture_ = playback_ = nullptr;
}

ASIOBool AlsaDriver::init(void*) {
    if (Initialized()) return ASIOTrue;
    ReadAlsaSettings(ClassId(), &settings_);
    const char* device = settings_.device;

    int error = snd_pcm_open(&playback_, device, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (error < 0) {
        playback_ = nullptr;
        std::snprintf(error_, sizeof error_, "ALSA device \"%.48s\" cannot be opened: %.40s", device, snd_strerror(error));
        return ASIOFalse;
    }
    playbackSetup_ = PcmSetup{};
    playbackSetup_.periodFrames = static_cast<snd_pcm_uframes_t>(settings_.periodFrames);
    error = Configure(playback_, false, &playbackSetup_);
    if (error != 0) {
        if (error == 1)
            std::snprintf(error_, sizeof error_, "ALSA device \"%.60s\" takes none of S32_LE, S16_LE, S24_3LE, FLOAT_LE",
                          device);
        else
            std::snprintf(error_, sizeof error_, "ALSA device \"%.48s\" refused its settings: %.36s", device,
                          snd_strerror(error));
        CloseDevices();
        return ASIOFalse;
    }

    // Capture is optional: without it the inputs are silent and playback goes on.
    captureSetup_ = playbackSetup_;
    error = snd_pcm_open(&capture_, device, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (error < 0) {
        capture_ = nullptr;
    } else if ((error = Configure(capture_, true, &captureSetup_)) != 0) {
        snd_pcm_close(capture_);
        capture_ = nullptr;
    }
    if (capture_ == nullptr)
        std::fprintf(stderr, "ALSA driver: no capture on \"%s\" (%s); the inputs are silent\n", device,
                     error < 0 ? snd_strerror(error) : "format");
    error_[0] = '\0';
    return ASIOTrue;
}

ASIOError AlsaDriver::getChannelInfo(ASIOChannelInfo* info) {
    if (!Initialized()) return ASE_NotPresent;
    if (info == nullptr) return ASE_InvalidParameter;
    const bool isInput = info->isInput != ASIOFalse;
    const long count = isInput ? Inputs() : Outputs();
    if (info->channel < 0 || info->channel >= count) return ASE_InvalidParameter;
    info->isActive = ASIOFalse;
    for (long b = 0; b < bufferCount_; ++b)
        if (buffers_[b].isInput == isInput && buffers_[b].channel == info->channel) info->isActive = ASIOTrue;
    info->channelGroup = 0;
    info->type = playbackSetup_.format->type;
    std::snprintf(info->name, sizeof info->name, "%s %ld", isInput ? "Capture" : "Playback", info->channel + 1);
    return ASE_OK;
}

ASIOError AlsaDriver::createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                    ASIOCallbacks* callbacks) {
    const ASIOError refused = CheckBufferRequest(memory_ != nullptr, bufferInfos, numChannels, bufferSize, callbacks);
    if (refused != ASE_OK) return refused;
    if (!ChannelsUsable(bufferInfos, numChannels)) return ASE_InvalidParameter;

    const size_t bytes = playbackSetup_.format->bytes;
    const size_t halfBytes = static_cast<size_t>(bufferSize) * bytes;
    const size_t playbackBytes = halfBytes * playbackSetup_.channels;
    const size_t captureBytes = capture_ != nullptr ? halfBytes * captureSetup_.channels : 0;
    memory_ = new (std::nothrow) uint8_t[static_cast<size_t>(numChannels) * 2 * halfBytes + playbackBytes + captureBytes]();
    if (memory_ == nullptr) return ASE_NoMemory;
    for (long i = 0; i < numChannels; ++i) {
        ActiveBuffer& buffer = buffers_[i];
        buffer.isInput = bufferInfos[i].isInput != ASIOFalse;
        buffer.channel = bufferInfos[i].channelNum;
        buffer.halves[0] = memory_ + static_cast<size_t>(i) * 2 * halfBytes;
        buffer.halves[1] = buffer.halves[0] + halfBytes;
        bufferInfos[i].buffers[0] = buffer.halves[0];
        bufferInfos[i].buffers[1] = buffer.halves[1];
    }
    playbackPeriod_ = memory_ + static_cast<size_t>(numChannels) * 2 * halfBytes;
    capturePeriod_ = capture_ != nullptr ? playbackPeriod_ + playbackBytes : nullptr;
    bufferCount_ = numChannels;
    callbacks_ = *callbacks;
    return ASE_OK;
}

ASIOError AlsaDriver::disposeBuffers() {
    if (!Initialized()) return ASE_NotPresent;
    if (memory_ == nullptr) return ASE_InvalidMode;
    stop();
    delete[] memory_;
    memory_ = playbackPeriod_ = capturePeriod_ = nullptr;
    bufferCount_ = 0;
    callbacks_ = ASIOCallbacks{};
    return ASE_OK;
}

ASIOError AlsaDriver::start() {
    if (!Initialized()) return ASE_NotPresent;
    if (memory_ == nullptr) return ASE_InvalidMode;
    if (running_.load()) return ASE_OK;
    thread_.reset();  // a thread that ended by itself after a device failure
    TellFailure();
    thread_.reset(new (std::nothrow) SuspendedThread);
    running_.store(true);
    if (thread_ == nullptr || !thread_->Create([this] { Stream(); })) {
        running_.store(false);
        thread_.reset();
        std::snprintf(error_, sizeof error_, "Cannot start the ALSA streaming thread");
        return ASE_HWMalfunction;
    }
    ThreadPriority priority = thread_->RaisePriority();
    std::fprintf(stderr, "ALSA driver: streaming on \"%s\" at %s priority\n", settings_.device,
                 ThreadPriorityName(priority));
    thread_->Resume();
    return ASE_OK;
}

void AlsaDriver::Fail(const char* what, int error) {
    failedWhat_ = what;
    failedError_ = error;
    running_.store(false);
    if (callbacks_.asioMessage != nullptr) callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
}

void AlsaDriver::TellFailure() {
    if (failedWhat_ == nullptr) return;
    std::fprintf(stderr, "ALSA driver: %s on \"%s\" failed: %s; asked for a reset\n", failedWhat_, settings_.device,
                 snd_strerror(failedError_));
    failedWhat_ = nullptr;
}

int AlsaDriver::WaitReady(snd_pcm_t* pcm) {
    const auto stalledAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStalledAfterMs);
    while (running_.load()) {
        int ready = snd_pcm_wait(pcm, kWaitStepMs);
        if (ready < 0) return ready;
        if (ready > 0) {
            snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
            if (avail != 0) return avail < 0 ? static_cast<int>(avail) : 1;
            Sleep(1);  // ready by its poll, yet without room: do not spin
        }
        if (std::chrono::steady_clock::now() > stalledAt) return -ETIMEDOUT;
    }
    return 0;
}

int AlsaDriver::Recover(snd_pcm_t* pcm, int error) {
    if (error == -ESTRPIPE) {
        // Suspended: resume when the device allows, else start it over.
        for (int steps = 0; (error = snd_pcm_resume(pcm)) == -EAGAIN; ++steps) {
            if (steps * kWaitStepMs >= kStalledAfterMs || !running_.load()) return -ESTRPIPE;
            Sleep(kWaitStepMs);
        }
        return error < 0 ? snd_pcm_prepare(pcm) : 0;
    }
    if (error == -EPIPE || error == -EINTR) return snd_pcm_prepare(pcm);
    return error;
}

bool AlsaDriver::StartDevices() {
    // A full ring of silence starts playback; capture starts beside it.
    snd_pcm_drop(playback_);
    int error = snd_pcm_prepare(playback_);
    const size_t frameBytes = playbackSetup_.format->bytes * playbackSetup_.channels;
    std::memset(playbackPeriod_, 0, playbackSetup_.periodFrames * frameBytes);
    for (snd_pcm_uframes_t queued = 0; error >= 0 && queued < playbackSetup_.ringFrames;) {
        snd_pcm_uframes_t frames = playbackSetup_.ringFrames - queued;
        if (frames > playbackSetup_.periodFrames) frames = playbackSetup_.periodFrames;
        snd_pcm_sframes_t written = snd_pcm_writei(playback_, playbackPeriod_, frames);
        if (written == -EAGAIN) {
            error = WaitReady(playback_);
            if (error == 0) return false;
            continue;
        }
        if (written < 0) error = static_cast<int>(written);
        else queued += static_cast<snd_pcm_uframes_t>(written);
    }
    if (error < 0) {
        Fail("starting playback", error);
        return false;
    }
    // Each start tries capture again, even after it was lost.
    captureLive_ = capture_ != nullptr;
    captureLate_ = false;
    if (captureLive_) {
        snd_pcm_drop(capture_);
        if ((error = snd_pcm_prepare(capture_)) < 0 || (error = snd_pcm_start(capture_)) < 0)
            LoseCapture();
    }
    return true;
}

void AlsaDriver::LoseCapture() {
    if (!captureLive_) return;
    captureLive_ = false;
    snd_pcm_drop(capture_);
    inputLosses_.fetch_add(1, std::memory_order_relaxed);
}

bool AlsaDriver::PlaybackLow() {
    if (snd_pcm_state(playback_) != SND_PCM_STATE_RUNNING) return false;
    const snd_pcm_sframes_t room = snd_pcm_avail_update(playback_);
    if (room < 0) return true;  // its own write will tell what happened
    const snd_pcm_sframes_t queued = static_cast<snd_pcm_sframes_t>(playbackSetup_.ringFrames) - room;
    return queued < static_cast<snd_pcm_sframes_t>(playbackSetup_.periodFrames / 2);
}

int AlsaDriver::WaitCapture() {
    // Short steps, so that playback is looked at several times a period.
    const long periodMs = static_cast<long>(1000 * playbackSetup_.periodFrames / playbackSetup_.rateHz);
    const int stepMs = periodMs >= 8 ? static_cast<int>(periodMs / 4) : 1;
    const auto stalledAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStalledAfterMs);
    while (running_.load()) {
        const snd_pcm_sframes_t avail = snd_pcm_avail_update(capture_);
        if (avail < 0) return static_cast<int>(avail);
        if (static_cast<snd_pcm_uframes_t>(avail) >= playbackSetup_.periodFrames) return 1;
        if (PlaybackLow()) return -EAGAIN;
        if (std::chrono::steady_clock::now() > stalledAt) return -ETIMEDOUT;
        const int ready = snd_pcm_wait(capture_, stepMs);
        if (ready < 0) return ready;
        if (ready > 0 && snd_pcm_avail_update(capture_) == avail) Sleep(1);  // ready by its poll, yet no more: do not spin
    }
    return 0;
}

bool AlsaDriver::TakeInput(long index) {
    const size_t bytes = playbackSetup_.format->bytes;
    const snd_pcm_uframes_t period = playbackSetup_.periodFrames;
    auto silence = [&] {
        for (long b = 0; b < bufferCount_; ++b)
            if (buffers_[b].isInput) std::memset(buffers_[b].halves[index], 0, period * bytes);
    };
    if (!captureLive_) {
        silence();
        return true;
    }
    int ready = WaitCapture();
    if (ready == 0) return false;
    if (ready == -EAGAIN) {
        // Late: this period's input is silence, and what capture holds waits for the
        // next one. A late run that lasts is a stall.
        const auto now = std::chrono::steady_clock::now();
        if (!captureLate_) {
            captureLate_ = true;
            lateSince_ = now;
            xruns_.fetch_add(1, std::memory_order_relaxed);
        } else if (now - lateSince_ > std::chrono::milliseconds(kStalledAfterMs)) {
            LoseCapture();
        }
        silence();
        return true;
    }
    captureLate_ = false;
    if (ready == -ETIMEDOUT) {
        LoseCapture();
        silence();
        return true;
    }
    const size_t frameBytes = bytes * captureSetup_.channels;
    snd_pcm_sframes_t read = ready > 0 ? snd_pcm_readi(capture_, capturePeriod_, period) : ready;
    if (read == -EAGAIN) read = 0;  // nothing after all: silence
    if (read < 0) {
        if (read == -EPIPE) xruns_.fetch_add(1, std::memory_order_relaxed);
        int error = Recover(capture_, static_cast<int>(read));
        if (error >= 0 && snd_pcm_state(capture_) == SND_PCM_STATE_PREPARED) error = snd_pcm_start(capture_);
        if (error < 0) LoseCapture();
        // What was lost stays lost: this period is silence.
        silence();
        return true;
    }
    // A short read leaves silence after what came.
    const snd_pcm_uframes_t got = static_cast<snd_pcm_uframes_t>(read);
    if (got < period) std::memset(capturePeriod_ + got * frameBytes, 0, (period - got) * frameBytes);
    for (long b = 0; b < bufferCount_; ++b) {
        const ActiveBuffer& buffer = buffers_[b];
        if (!buffer.isInput) continue;
        const uint8_t* from = capturePeriod_ + static_cast<size_t>(buffer.channel) * bytes;
        uint8_t* to = buffer.halves[index];
        for (snd_pcm_uframes_t i = 0; i < period; ++i, from += frameBytes, to += bytes) std::memcpy(to, from, bytes);
    }
    return true;
}

bool AlsaDriver::Play() {
    const size_t frameBytes = playbackSetup_.format->bytes * playbackSetup_.channels;
    const snd_pcm_uframes_t period = playbackSetup_.periodFrames;
    snd_pcm_uframes_t done = 0;
    while (done < period) {
        snd_pcm_sframes_t written = snd_pcm_writei(playback_, playbackPeriod_ + done * frameBytes, period - done);
        if (written >= 0) {
            done += static_cast<snd_pcm_uframes_t>(written);
            continue;
        }
        if (written == -EAGAIN) {
            int ready = WaitReady(playback_);
            if (ready > 0) continue;
            if (ready == 0) return false;
            written = ready;
        }
        if (written == -EPIPE) xruns_.fetch_add(1, std::memory_order_relaxed);
        // Prepared again, playback restarts once the ring has filled up.
        if (int error = Recover(playback_, static_cast<int>(written)); error < 0) {
            Fail("playback", error);
            return false;
        }
    }
    return true;
}

void AlsaDriver::Stream() {
    if (!StartDevices()) return;
    const size_t bytes = playbackSetup_.format->bytes;
    const size_t frameBytes = bytes * playbackSetup_.channels;
    const snd_pcm_uframes_t period = playbackSetup_.periodFrames;
    long index = 0;
    while (running_.load(std::memory_order_acquire)) {
        if (!TakeInput(index)) break;
        callbacks_.bufferSwitch(index, ASIOFalse);
        for (long b = 0; b < bufferCount_; ++b) {
            const ActiveBuffer& buffer = buffers_[b];
            if (buffer.isInput) continue;
            const uint8_t* from = buffer.halves[index];
            uint8_t* to = playbackPeriod_ + static_cast<size_t>(buffer.channel) * bytes;
            for (snd_pcm_uframes_t i = 0; i < period; ++i, from += bytes, to += frameBytes) std::memcpy(to, from, bytes);
        }
        if (!Play()) break;
        index = 1 - index;
        AdvancePosition(period);
    }
    snd_pcm_drop(playback_);
    if (captureLive_) snd_pcm_drop(capture_);
}

}  // namespace

// Creating the object opens no device: that waits for init.
int32_t DllGetClassObject(const CLSID* clsid, const IID* iid, void** object) {
    return ServeOneClass<AlsaDriver>(CLSID_AlsaDriver, clsid, iid, object);
}
