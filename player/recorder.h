// The recorder's ring and writer thread. The host's worker thread pushes one
// interleaved stereo block per recorded segment into a ring of 16 slots and never
// waits; the writer thread empties the ring into the WAV writer or the MP3 encoder.
// Each block is in the file when the writer has taken it (a WAV's header sizes too), and
// about once a second the writer makes the file durable, so a recording survives the
// process dying. Start and Stop run on the user-interface thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "platform/audio_block.h"
#include "platform/kernel.h"

enum class SlotState : int32_t { Free = 0, Filling = 1, Filled = 2, Writing = 3, Written = 4 };

constexpr uint32_t kRecordSlotBytes = kStereoBlockBytes;  // one interleaved stereo block
constexpr uint32_t kRecordSlots = 16;
constexpr uint32_t kRecordRingBytes = kRecordSlots * kRecordSlotBytes;

class Recorder {
public:
    Recorder() = default;
    ~Recorder();  // ends a running recording first
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Opens path (MP3: fopen plus the encoder; else the WAV writer) at rateHz, resets
    // the ring and starts the writer thread. False, with nothing created or replaced,
    // when the ring cannot be allocated, the encoder cannot code rateHz, or the file
    // cannot be opened. A writer thread that cannot start leaves the recording open:
    // blocks fill the ring and are then dropped.
    bool Start(const char* path, int32_t rateHz, bool mp3);
    // Copies one block (kRecordSlotBytes) into a free slot and wakes the writer; a
    // full ring drops the block. Worker thread; never waits.
    void PushBlock(const void* block);
    // Lets the writer drain every filled slot, joins it, then completes and closes the
    // file and frees the ring. Does nothing when no recording runs.
    void Stop();

    bool Running() const { return ring_ != nullptr; }
    uint32_t DroppedBlocks() const { return dropped_.load(); }
    uint32_t WrittenBlocks() const { return written_.load(); }

    // Tests: while held, the writer thread takes nothing from the ring (a stalled disk).
    void HoldWriter(bool hold);

private:
    void WriterLoop();
    void DrainRing();
    void CloseOutput();

    SuspendedThread* thread_ = nullptr;
    AutoResetEvent event_;
    uint8_t* ring_ = nullptr;
    std::atomic<SlotState> slotState_[kRecordSlots] = {};
    std::FILE* mp3File_ = nullptr;
    uint32_t writeIndex_ = 0;  // the producer's
    uint32_t readIndex_ = 0;   // the writer's
    std::atomic<uint32_t> filled_{0};
    std::atomic<bool> running_{false};
    bool mp3_ = false;
    bool wavOpen_ = false;     // the writer thread's while it runs
    std::chrono::steady_clock::time_point lastSync_;  // the writer thread's: last fdatasync
    std::atomic<bool> hold_{false};
    std::atomic<uint32_t> dropped_{0};
    std::atomic<uint32_t> written_{0};
};
