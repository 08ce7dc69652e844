// One virtual channel's sound buffer: a queue of wave headers for output and one for
// input, in the manner of a wave-out and a wave-in device. The owner prepares headers
// into the queues and marks them queued; the buffer switch (driver's thread) plays and
// records them in turn and marks each used one done; the owner refills and queues it
// again.
//
// Threads: prepare, unprepare, reset and position run on the application's thread
// under the buffer's lock; queueing runs on the worker thread and only changes a
// header's state (atomic, no lock); the buffer switch takes the lock for each exchange.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "host/stream_format.h"
#include "platform/kernel.h"

// Header state flags.
enum : uint32_t {
    WHDR_DONE = 1,
    WHDR_PREPARED = 2,
    WHDR_INQUEUE = 16,
};

// Results of the header operations.
enum : int {
    kHeaderOk = 0,
    kHeaderNone = 7,        // no header, or an empty queue
    kHeaderStillQueued = 33,
    kHeaderUnprepared = 34,
};

struct WaveHeader {
    uint8_t* data = nullptr;
    uint32_t length = 0;  // bytes of one side (one channel) of the segment
    uint32_t bytesRecorded = 0;
    uint32_t user = 0;    // segment index
    // Written by the worker (queue) and the driver's thread (done) without a common lock.
    std::atomic<uint32_t> state{0};
    uint32_t loops = 0;
    // Read by the worker while it walks the ring; changed under the buffer's lock.
    std::atomic<WaveHeader*> next{nullptr};
    uint32_t reserved = 0;
};

class AudioBuffer {
public:
    // bufferSamples: the device buffer size N. mode is a StreamMode's number (1..6),
    // formatClass a FormatClass's (1..4).
    AudioBuffer(int channel, AutoResetEvent* event, int mode, int formatClass, int bufferSamples);
    virtual ~AudioBuffer();
    AudioBuffer(const AudioBuffer&) = delete;
    AudioBuffer& operator=(const AudioBuffer&) = delete;

    // The table of operations, in its fixed order.
    virtual bool PrepareOutHeader(WaveHeader* h);
    virtual int UnprepareOutHeader(WaveHeader* h);
    virtual bool PrepareInHeader(WaveHeader* h);
    virtual int UnprepareInHeader(WaveHeader* h);
    virtual int QueueOutHeader(WaveHeader* h);
    virtual int QueueInHeader(WaveHeader* h);
    virtual WaveHeader* GetOutHeaders();
    virtual WaveHeader* GetInHeaders();
    virtual int ResetOut();
    virtual int ResetIn();
    virtual bool GetPosition(int* samples);
    virtual void SetAttenuation(int a);
    virtual int GetAttenuation();
    virtual void Play();
    virtual void Stop();
    virtual bool IsPlaying();
    virtual int GetChannel();
    virtual void SetNativeOut();
    virtual void SetNativeIn();
    virtual void GetNativeFlags(bool* out, bool* in);
    virtual void Lock(bool on);

    // The buffer switch's side (driver's thread). `left`/`right` are the device areas
    // of the due half (right none in mono modes). Takes the buffer's lock; returns true
    // when a header was completed, so the caller sets the event.
    bool Exchange(void* outLeft, void* outRight, const void* inLeft, const void* inRight);
    // Zeroes the present areas while fewer than 4 silent switches were written.
    void WriteSilence(void* const areas[4]);

    AutoResetEvent* Event() const { return event_; }
    uint32_t DeviceCalls() const { return deviceCalls_.load(std::memory_order_relaxed); }
    uint32_t DroppedBuffers() const { return droppedBuffers_.load(std::memory_order_relaxed); }
    uint32_t FailedBuffers() const { return failedBuffers_.load(std::memory_order_relaxed); }
    int SilenceCount() const { return silenceCount_.load(std::memory_order_relaxed); }

private:
    struct Queue {
        WaveHeader* head = nullptr;
        WaveHeader* current = nullptr;
        WaveHeader* lastDone = nullptr;
        uint8_t* pos = nullptr;
        uint8_t* start = nullptr;
        uint8_t* end = nullptr;
        int headerSamples = 0;
        int headerLength = 0;
    };

    bool Prepare(Queue& q, WaveHeader* h, int width);
    int Unprepare(Queue& q, WaveHeader* h);
    int Reset(Queue& q);
    void ClearQueueState();
    bool Advance(Queue& q, bool force);
    bool AdvanceBoth();
    void ConvertOut(void* outLeft, void* outRight);
    void ConvertIn(const void* inLeft, const void* inRight);
    void ZeroOutputs(void* outLeft, void* outRight);
    static bool Queued(const WaveHeader* h);

    const int channel_;
    AutoResetEvent* const event_;
    const bool mono_, inputOnly_, duplex_;
    const FormatClass formatClass_;
    const int bufferSamples_;
    const int bytesPerBuffer_;

    std::atomic<bool> playing_{false};
    std::atomic<bool> nativeOut_{false}, nativeIn_{false};
    int16_t outWidth_ = 2, inWidth_ = 2;
    std::atomic<int> silenceCount_{0};
    std::atomic<uint32_t> droppedBuffers_{0}, deviceCalls_{0}, failedBuffers_{0};
    std::atomic<int> attenuation_{0}, shift_{16};
    Queue out_, in_;
    std::mutex lock_;
};
