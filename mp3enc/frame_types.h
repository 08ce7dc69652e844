// The per-frame records the encoder's stages hand each other: the frame settings that
// the header is built from, and the side information the quantiser fills and the
// formatter writes.
#pragma once

#include <cstdint>

#include "platform/audio_block.h"

namespace mp3enc {

constexpr int kFrameSamples = int(kMpeg1FrameSamples);  // per channel
constexpr int kGranuleLines = kFrameSamples / 2;        // two granules a frame

struct FrameSettings {
    int32_t version = 1;  // MPEG-1
    int32_t mode = 2;     // 2 dual channel, 3 single channel
    int32_t bitRate = 128;  // kbit/s
    int32_t emphasis = 0;
    int32_t padding = 0;  // of the frame being encoded
    int32_t samplesPerFrame = kFrameSamples;
    int32_t bitsPerFrame = 0;  // of the frame being encoded
    int32_t bitsPerSlot = 8;
    int32_t bitRateIndex = -1;
    int32_t sampleRateIndex = -1;  // 0 44100, 1 48000, 2 32000
    int32_t errorProtection = 0;
    int32_t privateBit = 0;
    int32_t modeExtension = 0;
    int32_t copyright = 0;
    int32_t original = 1;
};

struct GranuleInfo {
    int32_t table_select[3] = {0, 0, 0};
    int32_t part2_3_length = 0;
    int32_t big_values = 0;
    int32_t count1 = 0;
    int32_t global_gain = 0;
    int32_t scalefac_compress = 0;
    int32_t region0_count = 0;
    int32_t region1_count = 0;
    int32_t preflag = 0;
    int32_t scalefac_scale = 0;
    int32_t count1table_select = 0;
    int32_t part2_length = 0;
    int32_t region1start = 0;
    int32_t region2start = 0;
    int32_t bigvalues_region = 0;
    double step = 0.0;  // quantiser step exponent
};

struct SideInfo {
    GranuleInfo granules[4];  // granule * 2 + channel
    int32_t scfsi[2][4] = {{0, 0, 0, 0}, {0, 0, 0, 0}};
    int32_t main_data_begin = 0;
    int32_t private_bits = 0;
    GranuleInfo& at(int granule, int channel) { return granules[granule * 2 + channel]; }
    const GranuleInfo& at(int granule, int channel) const { return granules[granule * 2 + channel]; }
};

// Position in the MPEG-1 Layer III bit-rate table (1..14), -1 when not in it.
int32_t BitRateIndex(int32_t kbitPerSecond);
// Sampling-frequency code: 44100 -> 0, 48000 -> 1, 32000 -> 2, anything else -1.
int32_t SampleRateIndex(int32_t sampleRateHz);

}  // namespace mp3enc
