#include "soundfile/mp3_decoder.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "platform/audio_block.h"

namespace {

// hip_decode1 returns at most one frame: an MPEG-1 frame's samples per channel.
constexpr int kMaxFrameSamples = kMpeg1FrameSamples;
// The largest frame PrimeReservoir makes: 320 kbit/s at 32000 Hz.
constexpr int kMaxSilentFrame = 144000 * 320 / 32000;

// The decoder's complaints (a reservoir it cannot step back into, a damaged frame) are
// expected on damaged or seeked streams; results carry what matters.
void Quiet(const char*, va_list) {}

// Bytes of a frame's header, CRC and side information: what comes before its main data.
int32_t SideInfoEnd(const uint8_t* frame) {
    const bool mpeg1 = (frame[1] & 0x08) != 0;
    const bool mono = (frame[3] >> 6) == 3;
    return 4 + ((frame[1] & 1) == 0 ? 2 : 0) + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
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

// A frame that carries only stream information ("Xing" or "Info" where the side
// information would be) is taken by the hip decoder without output. It is a frame of
// the index like any other, so it comes out as a frame of silence, and sample
// positions keep counting whole frames from the start of the stream.
bool IsInformationFrame(const uint8_t* frame, int32_t length) {
    if (length < 4) return false;
    const int32_t at = SideInfoEnd(frame);
    if (at + 4 > length) return false;
    return std::memcmp(frame + at, "Xing", 4) == 0 || std::memcmp(frame + at, "Info", 4) == 0;
}

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
    uint8_t silentFrame[kMaxSilentFrame];  // PrimeReservoir's frame
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
        channels < 1 || channels > 2 || (frameSamples != kMpeg1FrameSamples && frameSamples != kMpeg2FrameSamples))
        return nullptr;
    std::unique_ptr<Mp3DecoderContext> context(new (std::nothrow) Mp3DecoderContext);
    if (context == nullptr) return nullptr;
    context->hip = NewDecoder();
    if (context->hip == nullptr) return nullptr;
    context->data = data;
    context->frameOffsets = frameOffsets;
    context->frameLengths = frameLengths;
    context->readPositions = readPositions;
    context->channels = channels;
    context->frameSamples = frameSamples;
    return context.release();
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

bool Mp3Decoder::PrimeReservoir(Mp3DecoderContext* context, uint32_t frame) const {
    if (context == nullptr || context->hip == nullptr || context->fed || context->frameLengths[frame] < 8)
        return false;
    const uint8_t* h = context->data + context->frameOffsets[frame];
    static const int32_t kRates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
    const bool mpeg1 = (h[1] & 0x08) != 0;
    const int32_t rateIndex = (h[2] >> 2) & 3;
    if (rateIndex == 3 || (h[1] & 0x10) == 0) return false;  // reserved rate; MPEG-2.5
    // The largest frame of the stream's kind, without CRC or padding: bit-rate index 14
    // (320 kbit/s in MPEG-1, 160 in MPEG-2), the frame's own rate and mode. Its side
    // information is all zeros, so it uses no reservoir and decodes to silence.
    uint8_t* f = context->silentFrame;
    const int32_t size = (mpeg1 ? 144000 * 320 : 72000 * 160) / kRates[mpeg1][rateIndex];
    std::memset(f, 0, size_t(size));
    f[0] = 0xFF;
    f[1] = uint8_t(h[1] | 0x01);
    f[2] = uint8_t(14 << 4 | (h[2] & 0x0C));
    f[3] = h[3];
    // Its main data ends with the bytes that this frame's main data begins with: the
    // ends of the main data of the frames before it.
    const int32_t sideStart = (h[1] & 1) == 0 ? 6 : 4;
    int32_t need = mpeg1 ? (h[sideStart] << 1 | h[sideStart + 1] >> 7) : h[sideStart];
    int32_t end = size;
    for (uint32_t k = frame; k-- > 0 && need > 0;) {
        const uint8_t* p = context->data + context->frameOffsets[k];
        const int32_t length = context->frameLengths[k];
        if (length < 4) break;
        const int32_t mainData = length - SideInfoEnd(p);
        const int32_t take = std::min(need, std::min(mainData, end - SideInfoEnd(f)));
        if (take <= 0) break;
        std::memcpy(f + end - take, p + length - take, size_t(take));
        end -= take;
        need -= take;
    }
    // The decoder takes a first frame only together with the next: this one gives its
    // silence when `frame` is fed.
    mp3data_struct info;
    std::memset(&info, 0, sizeof info);
    if (hip_decode1_headers(context->hip, f, size_t(size), context->left, context->right, &info) < 0) return false;
    context->fed = true;
    return true;
}

void Mp3Decoder::DestroyContext(Mp3DecoderContext* context) const {
    if (context == nullptr) return;
    if (context->hip != nullptr) hip_decode_exit(context->hip);
    delete context;
}
