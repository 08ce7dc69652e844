// Sample-rate conversion in front of a PcmSource or an Mp3Source: each output sample is
// the cubic interpolation of four neighbouring source samples of its channel, after a
// short cosine-interpolated start where the cubic would need a sample before the first.
// PCM is read in place from the mapped image; MP3 PCM through a small window that is
// refilled one decoded frame at a time, carrying the last three source frames over.
#pragma once

#include <cstdint>
#include <memory>

#include "soundfile/block_reader.h"

class Resampler final : public BlockReader {
public:
    // Reads `source` (of `channels` channels), which must outlive the Resampler; call
    // Reset before the first ReadBlock.
    Resampler(BlockReader& source, uint32_t channels, double rateRatio, double stepRatio);
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Restarts the conversion at the source's current read position, from where
    // `remaining` source frames are left. False when the window cannot be allocated.
    bool Reset(uint32_t remaining);
    // Fills one block (channels * kBlockFrames samples); returns the output frames written, the
    // rest of a short block zeroed. 0 at the end, out untouched.
    uint32_t ReadBlock(int16_t* out) override;
    // Output frames to deliver since Reset.
    uint64_t TotalOut() const { return totalOut; }

private:
    int32_t Sample(int64_t frame, uint32_t channel) const;
    void Start(int16_t* out, uint32_t& k, uint32_t blockSamples);
    bool Refill();

    std::unique_ptr<int16_t[]> window;  // MP3 only: two MPEG-1 frames of channels samples
    BlockReader& source;
    uint32_t channels;
    double position = 0.0;       // source frames since Reset, with a fraction
    double step;                 // source frames per output frame
    double ratio;                // output frames per source frame
    const uint8_t* samples = nullptr;  // interleaved 16-bit source samples in use
    // The counts below are in sample frames.
    uint64_t consumed = 0;       // shifted out of the window since Reset
    uint64_t produced = 0;       // output frames since Reset
    uint64_t index = 0;          // in `samples`, of the current output frame's source frame
    uint64_t available = 0;      // largest index whose right-hand neighbours are in `samples`
    uint64_t filled = 0;         // frames present in `samples`
    uint64_t totalOut = 0;       // output frames to deliver since Reset
    uint32_t reserve = 3;        // frames carried over when the window is refilled
    bool sourceEnded = false;    // `samples` holds the last of the source
};
