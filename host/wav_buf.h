// WavBuf: streams one virtual channel through a ring of equal segments. The
// application's callbacks fill each output segment and take each recorded input
// segment; the buffer switch plays and records the segments in turn; a worker thread
// per channel, woken by the channel's event, hands used segments back to the
// application and queues them again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "host/audio_buffer.h"
#include "host/host.h"
#include "platform/kernel.h"

// Fixed by CreatePrimaryBuffers from the mode and the device's format class.
struct WavBufConfig {
    bool fixed = false;
    StreamMode mode = StreamMode::StereoDuplex;
    FormatClass formatClass = FormatClass::None;
    bool mono = false, output = false, input = false, inputOnly = false;
};

const WavBufConfig& GetWavBufConfig();
void FixWavBufConfig(StreamMode mode, FormatClass formatClass);

// The worker's messages, in the shape of a wave device's callback.
enum : uint32_t {
    kWomDone = 0x3BD,  // an output segment finished playing
    kWimData = 0x3C0,  // an input segment was filled
};

class WavBuf {
public:
    // Builds the header tables for `segments` segments; buildFailed stays set when the
    // configuration is not fixed or memory is short.
    WavBuf(int channel, int sampleRate, int segments);
    WavBuf(const WavBuf&) = delete;
    WavBuf& operator=(const WavBuf&) = delete;

    bool CreateMemory(const WavSndParams& params);
    // Called by the channel's worker thread.
    void WaveCallback(int channelId, uint32_t message, WaveHeader* header);
    // PrepareBuffers' work on the channel's sound buffer `sb`: zeroes the samples, then
    // prepares and queues every segment (each output segment filled by fnPlay first).
    bool Prepare(AudioBuffer* sb);
    // StartPlay's checks, logged when they fail (not created, already started, nothing
    // prepared); then each direction of the mode is marked started.
    bool MarkStarted();
    // StopWavSnd's work: each started direction of channel `ch` is stopped, unprepared
    // and its samples zeroed.
    void Stop(int ch);
    // Unprepares the prepared headers on `sb` (null: only the flags are cleared).
    void Unprepare(AudioBuffer* sb);
    // Zeroes the recorded segments still queued on `sb` while input runs.
    void ClearQueuedInput(AudioBuffer* sb);

    bool Created() const { return created; }
    int SegmentSamples() const { return segmentSamples; }
    int Segments() const { return segments; }
    int OutBytes() const { return outBytes; }
    int OutSegBytes() const { return outSegBytes; }
    const WaveHeader& OutHeader(int i) const { return outHeaders[i]; }
    const WaveHeader& InHeader(int i) const { return inHeaders[i]; }

private:
    int segments = 0;
    std::unique_ptr<WaveHeader[]> outHeaders;
    std::unique_ptr<WaveHeader[]> inHeaders;
    PlayCallback fnPlay = nullptr;
    RecordCallback fnRecord = nullptr;
    void* pUser = nullptr;
    std::unique_ptr<uint8_t[]> outSamples;
    std::unique_ptr<uint8_t[]> inSamples;
    int outChannelId = 0, inChannelId = 0;
    int outBytes = 0, inBytes = 0;
    int outSegBytes = 0, inSegBytes = 0;
    int segmentSamples = 0;
    int channel = -1;
    int sampleRate = 0;
    int16_t outWidth = 2, inWidth = 2;
    bool nativeOut = false, nativeIn = false;
    bool outStarted = false, inStarted = false;
    bool outPrepared = false, inPrepared = false;
    bool buildFailed = true;
    bool created = false;
};

// One per streaming channel: the worker thread and what it walks.
struct WorkerControl {
    SuspendedThread thread;
    AutoResetEvent* event = nullptr;
    WavBuf* wavBuf = nullptr;
    WaveHeader* outHead = nullptr;
    WaveHeader* inHead = nullptr;
    WaveHeader* outCurrent = nullptr;
    WaveHeader* inCurrent = nullptr;
    int channel = 0;
    bool inputOnly = false;
    bool duplex = false;
    std::atomic<bool> run{false};
    std::atomic<int> segmentCounter{0};  // read by GetWavSndPosition
};

// Ends a channel's worker: run flag cleared, event set, joined, control freed.
void EndWorker(int channel);
