// bellwave-cli tone: streams a sine through the host's WAV-buffer API (mode 6, two
// one-block segments) on both outputs of a device, for checking that a device plays.
// Without --device: the stored device, or on a first start the first that works.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "host/host.h"
#include "platform/audio_block.h"
#include "platform/kernel.h"
#include "player/start_device.h"

namespace {

constexpr double kAmplitude = 0.5;  // -6 dBFS

struct Tone {
    double step = 0.0;   // radians per frame
    double phase = 0.0;
    long long framesLeft = 0;  // tone frames still to write; silence after
};

// Fills one stereo segment: `bytes` of left samples, then as many of right ones.
void FillTone(void* data, int bytes, void* user) {
    Tone* tone = static_cast<Tone*>(user);
    int16_t* left = static_cast<int16_t*>(data);
    const int frames = bytes / 2;
    int16_t* right = left + frames;
    for (int i = 0; i < frames; ++i) {
        int16_t v = 0;
        if (tone->framesLeft > 0) {
            v = static_cast<int16_t>(std::lround(kAmplitude * 32767.0 * std::sin(tone->phase)));
            tone->phase += tone->step;
            if (tone->phase >= 2.0 * std::numbers::pi) tone->phase -= 2.0 * std::numbers::pi;
            --tone->framesLeft;
        }
        left[i] = v;
        right[i] = v;
    }
}

bool ParseNumber(const char* text, double* value) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

// A driver id, or the index of the driver with this name; -1 when there is none.
int FindDevice(const char* device) {
    char names[kDriverNamesBufferBytes] = {};
    const int count = GetASIODriverNames(names);
    char* end = nullptr;
    errno = 0;
    const long id = std::strtol(device, &end, 10);
    if (errno == 0 && end != device && *end == '\0') return id >= 0 && id < count ? static_cast<int>(id) : -1;
    const char* name = names;
    for (int i = 0; i < count && name < names + sizeof names && *name; ++i) {
        if (std::strcmp(name, device) == 0) return i;
        name += std::strlen(name) + 1;
    }
    return -1;
}

int Fail(const char* what) {
    std::fprintf(stderr, "bellwave-cli tone: %s (the host's log is CorvaneDbg.Log)\n", what);
    ASIOShutdown();
    return 1;
}

}  // namespace

int RunTone(int argc, char** argv) {
    const char* device = nullptr;
    double seconds = -1.0, freq = 440.0;
    bool usage = false;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--device") == 0 && hasValue) device = argv[++i];
        else if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) usage |= !ParseNumber(argv[++i], &seconds);
        else if (std::strcmp(argv[i], "--freq") == 0 && hasValue) usage |= !ParseNumber(argv[++i], &freq);
        else usage = true;
    }
    if (usage || seconds <= 0.0 || seconds > 3600.0 || freq <= 0.0) {
        std::fprintf(stderr, "usage: bellwave-cli tone [--device D] --seconds S [--freq HZ]\n");
        return 2;
    }
    std::vector<std::string> notes;
    int index = device != nullptr ? FindDevice(device) : ChooseStartDevice(notes);
    if (device != nullptr && index < 0) {
        std::fprintf(stderr, "bellwave-cli tone: no device '%s' (see bellwave-cli devices)\n", device);
        return 1;
    }

    const bool started = ASIOInit(&index, nullptr);
    LogStartNotes(notes);
    if (!started || !IsASIOInitialized()) return Fail("the device did not start");
    if (ASIOGetNumMonoOutputs() / 2 == 0) return Fail("the device has no pair of outputs");
    if (CreatePrimaryBuffers(6) != 1) return Fail("the device's buffers could not be created");
    SetWavBufSegments(2);
    const int rate = ASIOSetSampleRate();
    if (rate <= 0) return Fail("the device does not tell its sample rate");
    if (freq >= rate / 2.0) return Fail("the frequency must be below half the sample rate");

    Tone tone;
    tone.step = 2.0 * std::numbers::pi * freq / rate;
    const long long totalFrames = std::llround(seconds * rate);
    tone.framesLeft = totalFrames;
    WavSndParams params;
    params.nChannel = 0;
    params.nBufferSizeSamples = int(kBlockFrames);
    params.fnPlay = FillTone;
    params.pUser = &tone;
    if (!InitWavSnd(params)) {
        char why[80];
        std::snprintf(why, sizeof why, "the device's buffer size does not divide a %u-frame segment", kBlockFrames);
        return Fail(why);
    }
    if (!PrepareBuffers(0) || !StartPlay(0)) return Fail("streaming did not start");

    // Segments are counted as the worker hands them back; the tone has been played
    // once the position passes its last frame.
    int64_t lastPosition = -1;
    int stalledMs = 0;
    for (;;) {
        const int64_t position = GetWavSndPosition(0);
        if (position >= totalFrames) break;
        if (position == lastPosition) {
            stalledMs += 10;
            if (stalledMs >= 2000) return Fail("the device stopped calling back");
        } else {
            stalledMs = 0;
            lastPosition = position;
        }
        Sleep(10);
    }
    StopWavSnd(0);
    ReleaseWavSnd(0);
    ASIOShutdown();
    std::printf("played %.1f Hz for %.3f s at %d Hz\n", freq, static_cast<double>(totalFrames) / rate, rate);
    return 0;
}
