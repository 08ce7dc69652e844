#include "player/recorder.h"

#include <unistd.h>

#include <cstring>
#include <new>

#include "audiofiles/wav_writer.h"
#include "mp3enc/frame_types.h"
#include "mp3enc/mp3enc.h"

Recorder::~Recorder() { Stop(); }

bool Recorder::Start(const char* path, int32_t rateHz, bool mp3) {
    if (ring_ != nullptr || path == nullptr) return false;
    // Refused before the file is touched: an earlier recording of that name survives.
    if (mp3 && mp3enc::SampleRateIndex(rateHz) < 0) return false;
    uint8_t* ring = new (std::nothrow) uint8_t[kRecordRingBytes]();
    if (ring == nullptr) return false;
    for (auto& state : slotState_) state.store(SlotState::Free);
    writeIndex_ = 0;
    readIndex_ = 0;
    filled_.store(0);
    dropped_.store(0);
    written_.store(0);
    if (mp3) {
        mp3File_ = std::fopen(path, "wb");
        if (mp3File_ == nullptr) {
            delete[] ring;
            return false;
        }
        if (!InitMp3Encoder(rateHz, mp3File_)) {
            std::fclose(mp3File_);
            mp3File_ = nullptr;
            std::remove(path);
            delete[] ring;
            return false;
        }
        mp3_ = true;
    } else {
        if (!WavOpenForWrite(path, uint32_t(rateHz))) {
            delete[] ring;
            return false;
        }
        mp3_ = false;
        wavOpen_ = true;
    }
    ring_ = ring;
    lastSync_ = std::chrono::steady_clock::now();

    thread_ = new (std::nothrow) SuspendedThread;
    if (thread_ != nullptr && thread_->Create([this] { WriterLoop(); })) {
        running_.store(true);
        thread_->Resume();
    } else {
        delete thread_;
        thread_ = nullptr;
    }
    return true;
}

void Recorder::PushBlock(const void* block) {
    if (ring_ == nullptr || block == nullptr) return;
    for (uint32_t look = 0; look < kRecordSlots; ++look) {
        const SlotState state = slotState_[writeIndex_].load(std::memory_order_acquire);
        if (state == SlotState::Filled || state == SlotState::Writing) {
            if (filled_.load() == kRecordSlots) break;
            writeIndex_ = (writeIndex_ + 1) % kRecordSlots;
            continue;
        }
        slotState_[writeIndex_].store(SlotState::Filling, std::memory_order_relaxed);
        std::memcpy(ring_ + size_t(writeIndex_) * kRecordSlotBytes, block, kRecordSlotBytes);
        slotState_[writeIndex_].store(SlotState::Filled, std::memory_order_release);
        writeIndex_ = (writeIndex_ + 1) % kRecordSlots;
        filled_.fetch_add(1);
        event_.Set();
        return;
    }
    dropped_.fetch_add(1);
    event_.Set();
}

void Recorder::WriterLoop() {
    while (running_.load()) {
        event_.Wait();
        if (!hold_.load()) DrainRing();
    }
    // A block pushed while the last pass was finishing is still written.
    DrainRing();
}

void Recorder::DrainRing() {
    if (ring_ == nullptr) return;
    while (slotState_[readIndex_].load(std::memory_order_acquire) == SlotState::Filled) {
        slotState_[readIndex_].store(SlotState::Writing, std::memory_order_relaxed);
        const uint8_t* block = ring_ + size_t(readIndex_) * kRecordSlotBytes;
        if (mp3_) {
            EncodeMp3(reinterpret_cast<const int16_t*>(block), int32_t(kRecordSlotBytes / 4));
            std::fflush(mp3File_);  // the block's frames leave the stream's buffer now
            written_.fetch_add(1);
        } else if (wavOpen_) {
            uint32_t written = 0;
            const int result = WavWriteData(block, kRecordSlotBytes, written);
            if (result != kWavWriteOk || written != kRecordSlotBytes) {
                // A write error or the size limit: the file is completed now and the
                // later blocks are discarded.
                WavCloseForWrite();
                wavOpen_ = false;
            }
            if (result == kWavWriteOk && written == kRecordSlotBytes) written_.fetch_add(1);
        }
        slotState_[readIndex_].store(SlotState::Written, std::memory_order_release);
        readIndex_ = (readIndex_ + 1) % kRecordSlots;
        filled_.fetch_sub(1);
    }
    // About once a second what reached the file is made durable, so that a power cut
    // loses at most the last second.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSync_ < std::chrono::seconds(1)) return;
    lastSync_ = now;
    if (mp3_) fdatasync(fileno(mp3File_));
    else if (wavOpen_) WavSyncToDisk();
}

void Recorder::HoldWriter(bool hold) {
    hold_.store(hold);
    if (!hold) event_.Set();
}

void Recorder::Stop() {
    if (ring_ == nullptr) return;
    hold_.store(false);
    if (thread_ != nullptr) {
        thread_->RaisePriority();
        running_.store(false);
        event_.Set();
        Sleep(100);
        thread_->Join();
        delete thread_;
        thread_ = nullptr;
    } else {
        DrainRing();  // no writer ever ran: what the ring holds is still written
    }
    CloseOutput();
    delete[] ring_;
    ring_ = nullptr;
}

void Recorder::CloseOutput() {
    if (mp3_) {
        CloseMp3Encoder();
        std::fclose(mp3File_);
        mp3File_ = nullptr;
        mp3_ = false;
    } else if (wavOpen_) {
        WavCloseForWrite();
        wavOpen_ = false;
    }
}
