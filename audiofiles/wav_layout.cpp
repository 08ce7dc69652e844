#include "audiofiles/wav_layout.h"

#include <cstring>

namespace {

// Offset of the "data" chunk header: the expected place, else the first match of a
// byte-by-byte search over the next kWavDataSearchBytes positions. The 8-byte chunk
// header must end before the end of the image.
bool FindDataChunk(const uint8_t* data, uint32_t size, uint32_t expected, uint32_t& found) {
    for (uint32_t tries = 0; tries <= kWavDataSearchBytes; ++tries) {
        const uint64_t at = uint64_t(expected) + tries;
        if (at + 8 >= size) return false;
        if (std::memcmp(data + at, "data", 4) == 0) {
            found = uint32_t(at);
            return true;
        }
    }
    return false;
}

}  // namespace

bool ParseWavHeader(const uint8_t* data, uint32_t size, WavLayout& layout) {
    layout = WavLayout{};
    if (data == nullptr || size < 38) return false;
    const uint32_t tag = ReadLe16(data + 20);
    uint32_t extra = 0;
    if (tag == kWavFormatMpegLayer3) {
        extra = ReadLe16(data + 36);
    } else if (tag != kWavFormatPcm || ReadLe16(data + 34) != 16) {
        return false;
    }
    const uint32_t channels = ReadLe16(data + 22);
    const uint32_t sampleRate = ReadLe32(data + 24);
    // The PCM reader serves one or two channels; a count of 0 would also be divided by.
    // MPEG data says its own channels and rate, so its header fields are not checked.
    if (tag == kWavFormatPcm && (channels == 0 || channels > 2 || sampleRate == 0)) return false;

    uint32_t chunk = 0;
    if (!FindDataChunk(data, size, 36 + extra, chunk)) return false;
    const uint32_t declared = ReadLe32(data + chunk + 4);
    if (declared == 0) return false;
    const uint32_t start = chunk + 8;
    uint32_t bytes = declared < size - start ? declared : size - start;
    if (tag == kWavFormatPcm) bytes -= bytes % (channels * 2);
    if (bytes == 0) return false;

    layout.format = tag;
    layout.channels = channels;
    layout.sampleRate = sampleRate;
    layout.sourceFrames = tag == kWavFormatPcm ? bytes / (channels * 2) : 0;
    layout.dataOffset = start;
    layout.dataBytes = bytes;
    return true;
}
