#include "host/audio_buffer.h"

#include <cstring>

#include "host/buffer_switch.h"
#include "host/debug_log.h"

AudioBuffer::AudioBuffer(int channel, AutoResetEvent* event, int mode, int formatClass, int bufferSamples)
    : channel_(channel),
      event_(event),
      mono_(LayoutOfMode(mode).mono),
      inputOnly_(LayoutOfMode(mode).inputOnly),
      duplex_(LayoutOfMode(mode).duplex),
      formatClass_(static_cast<FormatClass>(formatClass)),
      bufferSamples_(bufferSamples),
      bytesPerBuffer_(bufferSamples * BytesPerDeviceSample(formatClass)) {}

AudioBuffer::~AudioBuffer() {
    // Whoever was inside an exchange or a header operation has left once we hold it.
    lock_.lock();
    lock_.unlock();
    DebugLogPair("Device calls", static_cast<int>(DeviceCalls()), "channel", channel_);
    DebugLogPair("Dropped buffers", static_cast<int>(DroppedBuffers()), "channel", channel_);
    DebugLogPair("Failed buffers", static_cast<int>(FailedBuffers()), "channel", channel_);
}

bool AudioBuffer::Queued(const WaveHeader* h) {
    const uint32_t want = WHDR_PREPARED | WHDR_INQUEUE;
    return h && (h->state.load(std::memory_order_acquire) & want) == want;
}

bool AudioBuffer::Prepare(Queue& q, WaveHeader* h, int width) {
    if (!h) return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (!q.head) {
        q.head = h;
        q.current = h;
        q.headerLength = static_cast<int>(h->length);
        q.headerSamples = static_cast<int>(h->length) / width;
        q.pos = q.start = h->data;
        q.end = h->data + h->length;
    } else {
        WaveHeader* last = q.head;
        for (WaveHeader* n = last->next.load(); n; n = n->next.load()) last = n;
        if (last != h) last->next.store(h);
    }
    h->state.store(WHDR_PREPARED, std::memory_order_release);
    h->next.store(nullptr);
    return true;
}

int AudioBuffer::Unprepare(Queue& q, WaveHeader* h) {
    if (!h) return kHeaderNone;
    std::lock_guard<std::mutex> guard(lock_);
    if (!q.head) return kHeaderNone;
    if (h->state.load(std::memory_order_acquire) & WHDR_INQUEUE) return kHeaderStillQueued;
    if (q.current == h) q.current = nullptr;
    if (q.head == h) {
        q.head = h->next.load();
        if (!q.head) ClearQueueState();
    } else {
        for (WaveHeader* p = q.head; p; p = p->next.load()) {
            if (p->next.load() == h) {
                p->next.store(h->next.load());
                break;
            }
        }
    }
    h->state.store(WHDR_DONE, std::memory_order_release);
    return kHeaderOk;
}

// Caller holds the lock. Empties both queues.
void AudioBuffer::ClearQueueState() {
    out_ = Queue{};
    in_ = Queue{};
    attenuation_.store(0);
    shift_.store(16);
    silenceCount_.store(0);
}

int AudioBuffer::Reset(Queue& q) {
    std::lock_guard<std::mutex> guard(lock_);
    playing_.store(false);
    if (&q == &out_) silenceCount_.store(0);
    if (!q.head) return kHeaderNone;
    WaveHeader* h = q.head;
    while (h) {
        WaveHeader* next = h->next.load();
        h->state.store(WHDR_DONE, std::memory_order_release);
        h->reserved = 0;
        h->next.store(nullptr);
        h = next;
    }
    ClearQueueState();
    return kHeaderOk;
}

bool AudioBuffer::PrepareOutHeader(WaveHeader* h) { return Prepare(out_, h, outWidth_); }
int AudioBuffer::UnprepareOutHeader(WaveHeader* h) { return Unprepare(out_, h); }
bool AudioBuffer::PrepareInHeader(WaveHeader* h) { return Prepare(in_, h, inWidth_); }
int AudioBuffer::UnprepareInHeader(WaveHeader* h) { return Unprepare(in_, h); }

int AudioBuffer::QueueOutHeader(WaveHeader* h) {
    if (!h) return kHeaderNone;
    if (!(h->state.load(std::memory_order_acquire) & WHDR_PREPARED)) return kHeaderUnprepared;
    h->state.store(WHDR_PREPARED | WHDR_INQUEUE, std::memory_order_release);
    return kHeaderOk;
}

int AudioBuffer::QueueInHeader(WaveHeader* h) { return QueueOutHeader(h); }

WaveHeader* AudioBuffer::GetOutHeaders() {
    std::lock_guard<std::mutex> guard(lock_);
    return out_.head;
}

WaveHeader* AudioBuffer::GetInHeaders() {
    std::lock_guard<std::mutex> guard(lock_);
    return in_.head;
}

int AudioBuffer::ResetOut() { return Reset(out_); }
int AudioBuffer::ResetIn() { return Reset(in_); }

bool AudioBuffer::GetPosition(int* samples) {
    std::lock_guard<std::mutex> guard(lock_);
    int value = 0;
    if (out_.current) value = static_cast<int>((out_.pos - out_.start) / outWidth_);
    if (samples) *samples = value;
    return true;
}

void AudioBuffer::SetAttenuation(int a) {
    unsigned level = static_cast<unsigned>(a);
    if (level > 15) level = 15;
    attenuation_.store(static_cast<int>(level));
    shift_.store(16 - static_cast<int>(level));
}

int AudioBuffer::GetAttenuation() { return attenuation_.load(); }

void AudioBuffer::Play() { playing_.store(true); }

void AudioBuffer::Stop() {
    playing_.store(false);
    silenceCount_.store(0);
}

bool AudioBuffer::IsPlaying() { return playing_.load(); }
int AudioBuffer::GetChannel() { return channel_; }

void AudioBuffer::SetNativeOut() {
    nativeOut_.store(true);
    outWidth_ = static_cast<int16_t>(BytesPerDeviceSample(formatClass_));
}

void AudioBuffer::SetNativeIn() {
    nativeIn_.store(true);
    inWidth_ = static_cast<int16_t>(BytesPerDeviceSample(formatClass_));
}

void AudioBuffer::GetNativeFlags(bool* out, bool* in) {
    if (out) *out = nativeOut_.load();
    if (in) *in = nativeIn_.load();
}

void AudioBuffer::Lock(bool on) {
    if (on) lock_.lock();
    else lock_.unlock();
}

// ---- the buffer switch's side; runs on the driver's thread --------------------------

// Caller holds the lock. Moves to the next header once the position reached the end
// (or at once with force); true when a header was completed.
bool AudioBuffer::Advance(Queue& q, bool force) {
    if (!q.head || !q.current || !q.pos) return false;
    if (!force && q.pos < q.end) return false;
    WaveHeader* done = q.current;
    WaveHeader* next = done->next.load();
    if (!next) next = q.head;
    done->state.store(WHDR_DONE | WHDR_PREPARED, std::memory_order_release);
    q.lastDone = done;
    q.current = next;
    q.pos = q.start = next->data;
    q.end = next->data + q.headerLength;
    return true;
}

bool AudioBuffer::AdvanceBoth() {
    const bool outAtEnd = out_.current && out_.pos >= out_.end;
    const bool inAtEnd = in_.current && in_.pos >= in_.end;
    if (!outAtEnd && !inAtEnd) return false;
    const bool a = Advance(out_, true);
    const bool b = Advance(in_, true);
    return a || b;
}

void AudioBuffer::ZeroOutputs(void* outLeft, void* outRight) {
    if (outLeft) std::memset(outLeft, 0, static_cast<size_t>(bytesPerBuffer_));
    if (outRight) std::memset(outRight, 0, static_cast<size_t>(bytesPerBuffer_));
}

void AudioBuffer::ConvertOut(void* outLeft, void* outRight) {
    const bool native = nativeOut_.load(std::memory_order_relaxed);
    const int sideBytes = native ? bytesPerBuffer_ : 2 * bufferSamples_;
    // A position without a whole device buffer left would read past the header.
    if (out_.pos + sideBytes > out_.end) {
        failedBuffers_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const int a = attenuation_.load(std::memory_order_relaxed);
    const int formatNumber = static_cast<int>(formatClass_);
    if (outLeft) ConvertOutput(formatNumber, native, a, out_.pos, static_cast<uint8_t*>(outLeft), bufferSamples_);
    if (outRight && !mono_)
        ConvertOutput(formatNumber, native, a, out_.pos + out_.headerLength, static_cast<uint8_t*>(outRight),
                      bufferSamples_);
    out_.pos += sideBytes;
}

void AudioBuffer::ConvertIn(const void* inLeft, const void* inRight) {
    const bool native = nativeIn_.load(std::memory_order_relaxed) || formatClass_ == FormatClass::Int16;
    const int formatNumber = static_cast<int>(formatClass_);
    const int sideBytes = native ? bytesPerBuffer_ : 2 * bufferSamples_;
    // A position without room for a whole device buffer would write past the header;
    // the buffer is lost whatever the sample type.
    if (in_.pos + sideBytes > in_.end) {
        failedBuffers_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (inLeft) ConvertInput(formatNumber, native, static_cast<const uint8_t*>(inLeft), in_.pos, bufferSamples_);
    if (inRight && !mono_)
        ConvertInput(formatNumber, native, static_cast<const uint8_t*>(inRight), in_.pos + in_.headerLength,
                     bufferSamples_);
    in_.pos += sideBytes;
}

bool AudioBuffer::Exchange(void* outLeft, void* outRight, const void* inLeft, const void* inRight) {
    deviceCalls_.fetch_add(1, std::memory_order_relaxed);
    bool completed = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (duplex_) {
            if (Queued(out_.current) && Queued(in_.current)) {
                ConvertOut(outLeft, outRight);
                ConvertIn(inLeft, inRight);
            } else {
                ZeroOutputs(outLeft, outRight);
                droppedBuffers_.fetch_add(1, std::memory_order_relaxed);
            }
            completed = AdvanceBoth();
        } else if (inputOnly_) {
            if (Queued(in_.current)) {
                ConvertIn(inLeft, inRight);
                completed = Advance(in_, false);
            }
        } else if (Queued(out_.current)) {
            ConvertOut(outLeft, outRight);
            completed = Advance(out_, false);
        } else {
            ZeroOutputs(outLeft, outRight);
            droppedBuffers_.fetch_add(1, std::memory_order_relaxed);
            completed = true;
        }
    }
    if (completed && event_) event_->Set();
    return completed;
}

void AudioBuffer::WriteSilence(void* const areas[4]) {
    if (inputOnly_) return;
    const int count = silenceCount_.load(std::memory_order_relaxed);
    if (count >= 4) return;
    for (int i = 0; i < 4; ++i)
        if (areas[i]) std::memset(areas[i], 0, static_cast<size_t>(bytesPerBuffer_));
    silenceCount_.store(count + 1, std::memory_order_relaxed);
}
