// The RIFF/WAVE layout that the reader takes apart. All numbers are little-endian.
//
//   0 "RIFF"   4 size   8 "WAVE"   12 "fmt "   16 format chunk size
//   20 format tag (1 PCM, 85 MPEG Layer III)   22 channels   24 samples per second
//   28 bytes per second   32 block alignment   34 bits per sample
//   36 extra format bytes (tag 85 only), then further chunks, then "data", its size
//   and the payload.
#pragma once

#include <cstdint>

constexpr uint32_t kWavFormatPcm = 1;
constexpr uint32_t kWavFormatMpegLayer3 = 85;
// The "data" chunk is searched for up to this many bytes past where a bare header puts it.
constexpr uint32_t kWavDataSearchBytes = 4096;

// For MPEG data (tag 85) the frames decide channels, rate and length: channels and
// sampleRate are only what the header says, sourceFrames is 0.
struct WavLayout {
    uint32_t format = 0;       // kWavFormatPcm or kWavFormatMpegLayer3; 0 = refused
    uint32_t channels = 0;     // PCM: 1 or 2
    uint32_t sampleRate = 0;   // Hz, as the header says
    uint32_t sourceFrames = 0; // PCM: payload bytes / (channels * 2)
    uint32_t dataOffset = 0;   // first payload byte
    uint32_t dataBytes = 0;    // payload bytes present in the image
};

// Takes apart the header of a RIFF/WAVE image of size bytes. Refuses (false, format 0)
// a format tag other than 1 or 85, PCM that is not 16-bit, has zero or more than two
// channels or a rate of 0, and a missing or empty data chunk. Reads only inside the
// image, whatever it holds. For PCM the payload is cut to whole sample frames.
bool ParseWavHeader(const uint8_t* data, uint32_t size, WavLayout& layout);

inline uint32_t ReadLe16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
