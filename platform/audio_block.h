// The block: the unit of audio that the sound file reader, the player, the host's
// segments, the recorder and the JACK driver's buffer size are built around. A block is
// kBlockFrames sample frames of signed 16-bit little-endian PCM: four MPEG-1 Layer III
// frames, or eight MPEG-2 frames.
//
// The reader delivers blocks interleaved (mono or stereo); the host's segments hold the
// same frames planar, all left samples then all right ones, and its callbacks are given
// the bytes of one channel.
#pragma once

#include <cstdint>

// Sample frames of one MPEG Layer III frame.
constexpr uint32_t kMpeg1FrameSamples = 1152;
constexpr uint32_t kMpeg2FrameSamples = 576;

constexpr uint32_t kBlockFrames = 4608;
static_assert(kBlockFrames == 4 * kMpeg1FrameSamples && kBlockFrames == 8 * kMpeg2FrameSamples);

constexpr uint32_t kBlockBytesPerChannel = kBlockFrames * 2;   // 9216: mono, or one side of a segment
constexpr uint32_t kStereoBlockBytes = 2 * kBlockBytesPerChannel;  // 18432: interleaved stereo
