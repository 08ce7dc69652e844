// One loaded track: its mapping, its sound file and its read position in blocks. The
// player decodes four blocks at a time through DecodeBlocks: on the user-interface
// thread for a track's first blocks, on the host's worker thread while it plays.
#pragma once

#include <atomic>
#include <cstdint>

#include "audiofiles/mapped_file.h"
#include "soundfile/sound_file.h"

constexpr int kRefillBlocks = 4;  // blocks decoded in one refill

class TrackSource {
public:
    // Takes ownership of file (an open mapping); closes it when destroyed.
    explicit TrackSource(MappedFile* file);
    ~TrackSource();
    TrackSource(const TrackSource&) = delete;
    TrackSource& operator=(const TrackSource&) = delete;

    // Opens the sound file on the mapped bytes, delivering blocks at rateHz (0: the
    // file's own rate). False when memory runs out, the file is not readable or it
    // holds no block; the sound file is then closed (the mapping stays until the
    // TrackSource is destroyed).
    bool Open(uint32_t rateHz);
    // Fills kRefillBlocks blocks of BlockBytes() each into out, one after the other,
    // zero-filling what lies past the end. At the end of the track: false without loop,
    // a rewind with it. True when at least one block came from the file (a block read
    // again after a rewind does not count); false once a refill has found the file cut
    // short under its mapping (logged once).
    bool DecodeBlocks(int16_t* out, bool loop);
    // Splits the samples between begin and end (a buffer sized for stereo blocks) into
    // one buffer per channel, each getting half as many samples: stereo pairs go left
    // and right; mono blocks, which fill the first half, are copied to both. A null
    // destination is skipped.
    void SplitChannels(int16_t* left, int16_t* right, const int16_t* begin, const int16_t* end) const;

    // Rewind at the next DecodeBlocks (blocksRead counts from 0 again).
    void RequestRewind();
    // Asks DecodeBlocks to continue from block (any thread). 0 rewinds.
    void RequestSeek(int32_t block);

    const char* Path() const { return path_; }
    uint32_t Channels() const { return channels_; }
    uint32_t BlockBytes() const { return blockBytes_; }
    uint32_t TotalBytes() const { return totalBytes_; }
    int32_t BlockCount() const { return blockCount_; }
    int32_t BlocksRead() const { return blocksRead_; }

private:
    char path_[260] = {};
    Mp3Decoder* decoder_ = nullptr;
    SoundFile* soundFile_ = nullptr;
    MappedFile* file_ = nullptr;
    uint32_t totalBytes_ = 0;  // channels x totalFrames x 2 at the device rate
    uint32_t blockBytes_ = 0;  // channels x kBlockBytesPerChannel
    uint32_t channels_ = 0;
    int32_t blocksRead_ = 0;   // since the last rewind or seek; the decoding thread's
    std::atomic<int32_t> seekTarget_{0};
    int32_t blockCount_ = 0;
    std::atomic<bool> seekPending_{false};  // set by the user-interface thread
    bool cutReported_ = false;  // the log has said that the file was cut short
};
