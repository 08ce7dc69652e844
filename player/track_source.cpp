#include "player/track_source.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "host/debug_log.h"

namespace {

std::atomic<bool> gTablesReady{false};

}  // namespace

TrackSource::TrackSource(MappedFile* file) : file_(file) {
    if (file_ != nullptr) std::memcpy(path_, file_->path, sizeof path_);
    path_[sizeof path_ - 1] = '\0';
}

TrackSource::~TrackSource() {
    delete soundFile_;
    delete decoder_;
    delete file_;
}

bool TrackSource::Open(uint32_t rateHz) {
    if (file_ == nullptr || file_->size == 0) return false;
    decoder_ = new (std::nothrow) Mp3Decoder;
    if (decoder_ == nullptr) return false;
    if (!gTablesReady.exchange(true)) InitMp3Tables();
    soundFile_ = new (std::nothrow) SoundFile;
    if (soundFile_ != nullptr) soundFile_->Open(file_->view, file_->size, rateHz, *decoder_);
    if (soundFile_ == nullptr || !soundFile_->Ready() || soundFile_->BlockCount() == 0) {
        delete soundFile_;
        soundFile_ = nullptr;
        delete decoder_;
        decoder_ = nullptr;
        return false;
    }
    channels_ = soundFile_->Channels();
    blockCount_ = int32_t(soundFile_->BlockCount());
    blocksRead_ = 0;
    seekTarget_.store(0);
    seekPending_.store(false);
    totalBytes_ = channels_ * soundFile_->TotalFrames() * 2;
    blockBytes_ = channels_ * kBlockBytesPerChannel;
    return true;
}

void TrackSource::RequestRewind() {
    seekTarget_.store(0, std::memory_order_relaxed);
    seekPending_.store(true, std::memory_order_release);
    blocksRead_ = 0;
}

void TrackSource::RequestSeek(int32_t block) {
    seekTarget_.store(block, std::memory_order_relaxed);
    seekPending_.store(true, std::memory_order_release);
}

bool TrackSource::DecodeBlocks(int16_t* out, bool loop) {
    if (soundFile_ == nullptr || out == nullptr) return false;
    // Another process cut the file short: the last refill read up to its new end, then
    // zeros. The track ends there, also with loop: there is nothing left to go round.
    if (file_->CutShort()) {
        if (!cutReported_) {
            cutReported_ = true;
            char line[sizeof path_ + 64];
            std::snprintf(line, sizeof line, "Track file cut short while playing, the track ends: %s", path_);
            DebugLog(line);
        }
        return false;
    }
    if (blocksRead_ >= blockCount_) {
        if (!loop) return false;
        soundFile_->Rewind();
        blocksRead_ = 0;
    }
    // Taking the flag first means a seek asked for while this runs is kept for the
    // next refill, never lost.
    if (seekPending_.exchange(false, std::memory_order_acquire)) {
        const int32_t target = seekTarget_.load(std::memory_order_relaxed);
        if (target <= 0) {
            soundFile_->Rewind();
            blocksRead_ = 0;
        } else {
            soundFile_->SeekToBlock(target);
            // The sound file never starts later than four blocks before its end; count
            // from where it really went, so the track still plays to its last block.
            const int32_t limit = blockCount_ - kRefillBlocks;
            blocksRead_ = target > limit ? (limit > 0 ? limit : 0) : target;
        }
    }
    const size_t samplesPerBlock = blockBytes_ / 2;
    bool productive = false;
    for (int b = 0; b < kRefillBlocks; ++b) {
        int16_t* block = out + size_t(b) * samplesPerBlock;
        if (blocksRead_ < blockCount_) {
            if (soundFile_->ReadBlock(block) > 0) {
                ++blocksRead_;
                productive = true;
            } else if (loop) {
                soundFile_->Rewind();
                if (soundFile_->ReadBlock(block) == 0) std::memset(block, 0, blockBytes_);
                blocksRead_ = 1;
            } else {
                std::memset(block, 0, blockBytes_);
                ++blocksRead_;
            }
        } else {
            std::memset(block, 0, blockBytes_);
        }
    }
    return productive;
}

void TrackSource::SplitChannels(int16_t* left, int16_t* right, const int16_t* begin, const int16_t* end) const {
    if (begin == nullptr || end <= begin) return;
    const size_t samples = size_t(end - begin);
    if (channels_ == 1) {
        // Mono blocks fill the first half of a buffer sized for stereo ones.
        const size_t monoBytes = samples / 2 * 2;
        if (left != nullptr) std::memcpy(left, begin, monoBytes);
        if (right != nullptr) std::memcpy(right, begin, monoBytes);
        return;
    }
    for (size_t i = 0; i + 1 < samples; i += 2) {
        if (left != nullptr) *left++ = begin[i];
        if (right != nullptr) *right++ = begin[i + 1];
    }
}
