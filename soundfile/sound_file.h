// The sound file reader: turns the memory image of a 16-bit PCM WAV, an MP3-in-WAV
// (format tag 85) or a bare MP3 file into blocks of kBlockFrames sample frames of
// interleaved 16-bit PCM at the rate the caller asks for.
//
// The image is borrowed and must outlive the SoundFile. Nothing is copied as a whole:
// PCM blocks come straight out of the image, MP3 frames are decoded straight into the
// caller's block. One thread at a time; no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/audio_block.h"
#include "soundfile/block_reader.h"
#include "soundfile/mp3_decoder.h"
#include "soundfile/resampler.h"

// Serves blocks straight out of the mapped WAV payload; owns no sample memory.
struct PcmSource final : BlockReader {
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t frames = 0;
    uint32_t format = 0;
    const uint8_t* start = nullptr;    // first payload byte
    const uint8_t* current = nullptr;  // read position
    const uint8_t* end = nullptr;      // one past the last payload byte (whole frames)

    // Fills out (one block) and returns the frames copied; the rest of a short last
    // block is zeroed. At the end returns 0 and leaves out untouched.
    uint32_t ReadBlock(int16_t* out) override;
    const uint8_t* Unread(uint64_t& frames) const override;
};

class Mp3Source final : public BlockReader {
public:
    explicit Mp3Source(const Mp3Decoder& decoder) : decoder(decoder) {}
    ~Mp3Source();
    Mp3Source(const Mp3Source&) = delete;
    Mp3Source& operator=(const Mp3Source&) = delete;

    // Indexes the MP3 data and makes a decoder context over it. False when no frame is
    // found, the stream is MPEG-2.5, or memory runs out.
    bool Open(const uint8_t* mp3Data, uint32_t bytes);
    uint32_t ReadBlock(int16_t* out) override;
    // Back to the first frame (resets the decoder only when it has been fed).
    void Rewind();
    // Positions the decoder so that the next read starts at the first sample of the frame
    // holding `position` (in source sample frames); returns the source frames the reads
    // will still deliver from there.
    uint32_t SeekToFrame(uint64_t position);
    // Feeds frames from nextFrame on until one yields PCM into buffer (one frame); returns
    // its bytes, 0 when the frames run out or the decoder fails.
    uint32_t DecodeNext(int16_t* buffer) override;
    uint32_t FrameSamples() const { return sampleRate < 32000 ? kMpeg2FrameSamples : kMpeg1FrameSamples; }

    // What Open found: frames in the index, the stream's shape and its length in sample
    // frames; the format is always MPEG Layer III.
    uint32_t FrameCount() const { return frameCount; }
    uint32_t Channels() const { return channels; }
    uint32_t SampleRate() const { return sampleRate; }
    uint32_t SourceFrames() const { return sourceFrames; }
    uint32_t Format() const { return format; }
    // Bytes held by the frame index (its three arrays).
    size_t IndexBytes() const {
        return size_t(capacity) * (sizeof frameOffsets[0] + sizeof frameLengths[0] + sizeof frameReadPositions[0]);
    }

private:
    void ResetDecoder();

    const Mp3Decoder& decoder;
    uint32_t frameCount = 0;
    uint32_t nextFrame = 0;
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t sourceFrames = 0;
    uint32_t format = 0;
    const uint8_t* data = nullptr;        // the MP3 data the offsets count from
    std::unique_ptr<uint32_t[]> frameOffsets;  // start of each frame's header, from data
    std::unique_ptr<int32_t[]> frameLengths;   // bytes, header included
    std::unique_ptr<int32_t[]> frameReadPositions;
    Mp3DecoderContext* context = nullptr;
    uint32_t capacity = 0;                // entries in each array
};

class SoundFile {
public:
    SoundFile() = default;
    ~SoundFile() = default;
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    // data: the whole file image of size bytes; targetRate: Hz of the blocks wanted.
    // Success is `ready`.
    void Open(const uint8_t* data, uint32_t size, uint32_t targetRate, const Mp3Decoder& decoder);
    void Rewind();
    // The next ReadBlock starts at (MP3: at the frame boundary just before) `block`.
    // Blocks of 0 or less rewind; later blocks are limited to blockCount - 4, and a file
    // too short for that limit rewinds.
    void SeekToBlock(int32_t block);
    // out: room for one block (channels * kBlockFrames samples). Returns the frames
    // written; a short block is zero-filled after them; 0 at the end (out untouched).
    uint32_t ReadBlock(int16_t* out);
    // Frees the sources and the resampler; the SoundFile is then not ready.
    void Close();

    // What Open found; all 0 (false) until it succeeds.
    bool Ready() const { return ready; }
    uint32_t Channels() const { return channels; }
    uint32_t SampleRate() const { return sampleRate; }
    uint32_t SourceFrames() const { return sourceFrames; }
    uint32_t Format() const { return format; }
    uint32_t BlockCount() const { return blockCount; }
    uint32_t TotalFrames() const { return totalFrames; }
    bool Resampling() const { return resampling; }
    double StepRatio() const { return stepRatio; }

private:
    uint32_t channels = 0;
    uint32_t sampleRate = 0;      // the file's own rate
    uint32_t sourceFrames = 0;    // at the file's rate
    uint32_t format = 0;          // 0 not recognised, 1 PCM, 85 MPEG Layer III
    BlockReader* reader = nullptr;  // the source, or the resampler in front of it
    std::unique_ptr<PcmSource> pcmSource;
    std::unique_ptr<Mp3Source> mp3Source;
    std::unique_ptr<Resampler> resampler;
    double rateRatio = 1.0;       // requested rate / file rate
    double stepRatio = 1.0;       // file rate / requested rate
    uint32_t blockCount = 0;
    uint32_t totalFrames = 0;     // at the requested rate
    bool resampling = false;
    bool ready = false;
};
