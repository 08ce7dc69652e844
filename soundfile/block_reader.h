// What SoundFile and the Resampler read interleaved 16-bit PCM through: a PCM payload,
// an MP3 stream or a resampler in front of either.
#pragma once

#include <cstdint>

class BlockReader {
public:
    virtual ~BlockReader() = default;

    // out: room for one block (channels * kBlockFrames samples). Returns the frames
    // written, a short block zero-filled after them; 0 at the end (out untouched).
    virtual uint32_t ReadBlock(int16_t* out) = 0;
    // The unread samples when they lie in memory as they are, with their frame count in
    // `frames`; null when they must be decoded one piece at a time with DecodeNext.
    virtual const uint8_t* Unread(uint64_t& frames) const {
        frames = 0;
        return nullptr;
    }
    // Decodes the next piece (at most one MPEG-1 frame) into out; returns its bytes, 0
    // when the source runs out or fails.
    virtual uint32_t DecodeNext(int16_t* /*out*/) { return 0; }
};
