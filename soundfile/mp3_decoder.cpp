#include "soundfile/mp3_decoder.h"

#include <lame/lame.h>

#include <cstdarg>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// hip_decode1 returns at most one frame: 1152 samples per channel.
constexpr int kMaxFrameSamples = 1152;

// The decoder's complaints (a reservoir it cannot step back into, a damaged frame) are
// expected on damaged or seeked streams; results carry what matters.
void Quiet(const char*, va_list) {}

// A frame that carries only stream information ("Xing" or "Info" where the side
// information would be) is taken by the hip decoder without output. It is a frame of
// the index like any other, so it comes out as a frame of silence, and sample
// positions keep counting whole frames from the start of the stream.
bool IsInformationFrame(const uint8_t* frame, int32_t length) {
    if (length < 4) return false;
    const bool mpeg1 = (frame[1] & 0x08) != 0;
    const bool mono = (frame[3] >> 6) == 3;
    const int32_t sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const int32_t at = 4 + ((frame[1] & 1) == 0 ? 2 : 0) + sideInfo;
    if (at + 4 > length) return false;
    return std::memcmp(frame + at, "Xing", 4) == 0 || std::memcmp(frame + at, "Info", 4) == 0;
}

hip_t NewDecoder() {
    hip_t hip = hip_decode_init();
    if (hip != nullptr) {
        hip_set_errorf(hip, Quiet);
        hip_set_debugf(hip, Quiet);
        hip_set_msgf(hip, Quiet);
    }
    return hip;
}

}  // namespace

struct Mp3DecoderContext {
    hip_t hip = nullptr;
    const uint8_t* data = nullptr;
    const uint32_t* frameOffsets = nullptr;
    const int32_t* frameLengths = nullptr;
    int32_t* readPositions = nullptr;
    uint32_t channels = 0;
    uint32_t frameSamples = 0;
    bool fed = false;  // a frame has been fed since creation or reset
    short left[kMaxFrameSamples];
    short right[kMaxFrameSamples];
};

void InitMp3Tables() {
    // The hip library builds its tables when a decoder is first made.
    static std::once_flag once;
    std::call_once(once, [] {
        hip_t hip = hip_decode_init();
        if (hip != nullptr) hip_decode_exit(hip);
    });
}

Mp3DecoderContext* Mp3Decoder::CreateContext(const uint8_t* data, const uint32_t* frameOffsets,
                                             const int32_t* frameLengths, int32_t* readPositions,
                                             uint32_t channels, uint32_t frameSamples) const {
    if (data == nullptr || frameOffsets == nullptr || frameLengths == nullptr || readPositions == nullptr ||
        channels < 1 || channels > 2 || (frameSamples != 1152 && frameSamples != 576))
        return nullptr;
    Mp3DecoderContext* context = new (std::nothrow) Mp3DecoderContext;
    if (context == nullptr) return nullptr;
    context->hip = NewDecoder();
    if (context->hip == nullptr) {
        delete context;
        return nullptr;
    }
    context->data = data;
    context->frameOffsets = frameOffsets;
    context->frameLengths = frameLengths;
    context->readPositions = readPositions;
    context->channels = channels;
    context->frameSamples = frameSamples;
    return context;
}

bool Mp3Decoder::ResetContext(Mp3DecoderContext* context) const {
    if (context == nullptr) return false;
    // A fresh decoder state is the only way the hip interface offers to drop its
    // buffered input and bit reservoir.
    if (context->hip != nullptr) hip_decode_exit(context->hip);
    context->hip = NewDecoder();
    context->fed = false;
    return context->hip != nullptr;
}

int Mp3Decoder::DecodeFrame(Mp3DecoderContext* context, uint32_t frame, int16_t* out, uint32_t& bytes) const {
    bytes = 0;
    if (context == nullptr || context->hip == nullptr || out == nullptr) return -1;
    const int32_t length = context->frameLengths[frame];
    if (length <= 0) return -1;  // a zero length would ask the decoder to flush
    unsigned char* frameBytes = const_cast<unsigned char*>(context->data + context->frameOffsets[frame]);
    mp3data_struct info;
    std::memset(&info, 0, sizeof info);
    const int samples = hip_decode1_headers(context->hip, frameBytes, size_t(length), context->left,
                                            context->right, &info);
    context->readPositions[frame] = length;
    const bool first = !context->fed;
    context->fed = true;
    if (samples < 0) return -1;
    const uint32_t total = context->frameSamples * context->channels;
    if (samples == 0) {
        if (first || frame == 0) return first ? 1 : 0;
        const uint32_t previous = frame - 1;  // frames come in order, so this one was fed last
        if (IsInformationFrame(context->data + context->frameOffsets[previous], context->frameLengths[previous])) {
            std::memset(out, 0, total * sizeof(int16_t));
            bytes = total * 2;
        }
        return 0;
    }

    // Shape the output as the index says, whatever the decoder made of the bytes.
    const uint32_t produced = uint32_t(samples) < context->frameSamples ? uint32_t(samples) : context->frameSamples;
    const bool decodedStereo = info.stereo == 2;
    if (context->channels == 2) {
        for (uint32_t i = 0; i < produced; ++i) {
            out[2 * i] = context->left[i];
            out[2 * i + 1] = decodedStereo ? context->right[i] : context->left[i];
        }
    } else {
        std::memcpy(out, context->left, produced * sizeof(int16_t));
    }
    std::memset(out + produced * context->channels, 0, (total - produced * context->channels) * sizeof(int16_t));
    bytes = total * 2;
    return 0;
}

void Mp3Decoder::DestroyContext(Mp3DecoderContext* context) const {
    if (context == nullptr) return;
    if (context->hip != nullptr) hip_decode_exit(context->hip);
    delete context;
}
