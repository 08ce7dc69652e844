#include "host/wav_buf.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "host/asio_host.h"
#include "host/debug_log.h"

namespace {

WavBufConfig gConfig;

// A channel operation's preconditions: buffers created, the channel in range and its
// tables present (they are gone after ASIOShutdown).
bool ChannelUsable(int channel) {
    const HostState& s = Host();
    return s.primaryCreated && s.wavBufs && channel >= 0 && channel < s.numVirtualChannels &&
           channel < s.channelTables;
}

WavBuf* ChannelWavBuf(int channel) { return ChannelUsable(channel) ? Host().wavBufs[channel] : nullptr; }

// The worker thread's body.
void RunWorker(WorkerControl* w) {
    w->segmentCounter.store(0);
    const uint32_t doneState = WHDR_DONE | WHDR_PREPARED;
    const int id = w->channel + 100;
    auto outputPass = [w, doneState, id]() {
        while (w->outCurrent && w->outCurrent->state.load(std::memory_order_acquire) == doneState) {
            w->wavBuf->WaveCallback(id, kWomDone, w->outCurrent);
            if (!w->run.load()) return false;
            WaveHeader* next = w->outCurrent->next.load();
            w->outCurrent = next ? next : w->outHead;
            w->segmentCounter.fetch_add(1);
        }
        return true;
    };
    while (w->run.load()) {
        w->event->Wait();
        if (!w->run.load()) break;
        if (!outputPass()) break;
        int handled = 0;
        bool stop = false;
        while (w->inCurrent && w->inCurrent->state.load(std::memory_order_acquire) == doneState) {
            w->wavBuf->WaveCallback(id, kWimData, w->inCurrent);
            if (!w->run.load()) {
                stop = true;
                break;
            }
            WaveHeader* next = w->inCurrent->next.load();
            w->inCurrent = next ? next : w->inHead;
            if (w->inputOnly) w->segmentCounter.fetch_add(1);
            ++handled;
        }
        if (stop) break;
        if (handled > 1 && !outputPass()) break;
    }
}

bool StartWorker(int channel, WavBuf* wb, AudioBuffer* sb) {
    HostState& s = Host();
    std::unique_ptr<WorkerControl> owned(new (std::nothrow) WorkerControl);
    if (!owned) return false;
    WorkerControl* w = owned.get();
    w->event = s.events[channel];
    w->wavBuf = wb;
    w->channel = channel;
    w->inputOnly = gConfig.inputOnly;
    w->duplex = gConfig.output && gConfig.input;
    if (gConfig.output) w->outHead = w->outCurrent = sb->GetOutHeaders();
    if (gConfig.input) w->inHead = w->inCurrent = sb->GetInHeaders();
    if (!w->thread.Create([w] { RunWorker(w); })) return false;
    const ThreadPriority got = w->thread.RaisePriority();
    char line[128];
    std::snprintf(line, sizeof line, "StartPlay: worker thread priority %s", ThreadPriorityName(got));
    DebugLog(line);
    w->run.store(true);
    s.workers[channel] = owned.release();
    w->thread.Resume();
    return true;
}

int StopOutput(int channel) {
    HostState& s = Host();
    if (!gConfig.output) return 6;
    if (channel < 0 || channel >= s.numVirtualChannels) return 2;
    AudioBuffer* sb = s.soundBuffers[channel];
    if (!sb) return 7;
    sb->Stop();
    EndWorker(channel);
    sb->ResetOut();
    s.paused[channel] = false;
    return 0;
}

int StopInput(int channel) {
    HostState& s = Host();
    if (!gConfig.input) return 6;
    if (channel < 0 || channel >= s.numVirtualChannels) return 2;
    AudioBuffer* sb = s.soundBuffers[channel];
    if (!sb) return 7;
    sb->Stop();
    sb->ResetIn();
    EndWorker(channel);
    s.paused[channel] = false;
    return 0;
}

}  // namespace

const WavBufConfig& GetWavBufConfig() { return gConfig; }

void FixWavBufConfig(StreamMode mode, FormatClass formatClass) {
    const StreamLayout layout = LayoutOf(mode);
    gConfig.fixed = true;
    gConfig.mode = mode;
    gConfig.formatClass = formatClass;
    gConfig.mono = layout.mono;
    gConfig.output = layout.output;
    gConfig.input = layout.input;
    gConfig.inputOnly = layout.inputOnly;
}

WavBuf::WavBuf(int ch, int rate, int segmentCount) : sampleRate(rate) {
    if (!gConfig.fixed) {
        DebugLog("WavBuf creation - mode not set!");
        return;
    }
    if (segmentCount < 1) return;
    segments = segmentCount;
    outHeaders.reset(new (std::nothrow) WaveHeader[static_cast<size_t>(segments)]);
    inHeaders.reset(new (std::nothrow) WaveHeader[static_cast<size_t>(segments)]);
    if (!outHeaders || !inHeaders) return;
    channel = ch;
    buildFailed = false;
}

bool WavBuf::CreateMemory(const WavSndParams& p) {
    if (!gConfig.fixed || buildFailed || created) return false;
    fnPlay = p.fnPlay;
    fnRecord = p.fnRecord;
    pUser = p.pUser;
    nativeOut = p.bNativeOut;
    nativeIn = p.bNativeIn;
    const int nativeWidth = BytesPerDeviceSample(gConfig.formatClass);
    outWidth = static_cast<int16_t>(nativeOut ? nativeWidth : 2);
    inWidth = static_cast<int16_t>(nativeIn ? nativeWidth : 2);
    segmentSamples = p.nBufferSizeSamples;
    const int sides = gConfig.mono ? 1 : 2;
    auto allocate = [&](int width, int* segBytes, int* bytes, std::unique_ptr<uint8_t[]>* memory) {
        const long long seg = static_cast<long long>(width) * p.nBufferSizeSamples;
        const long long total = seg * segments * sides;
        if (seg <= 0 || total > INT_MAX) return false;
        memory->reset(new (std::nothrow) uint8_t[static_cast<size_t>(total)]());
        if (!*memory) return false;
        *segBytes = static_cast<int>(seg);
        *bytes = static_cast<int>(total);
        return true;
    };
    if (gConfig.output) {
        if (!allocate(outWidth, &outSegBytes, &outBytes, &outSamples)) return false;
        outChannelId = channel + 100;
    }
    if (gConfig.input) {
        if (!allocate(inWidth, &inSegBytes, &inBytes, &inSamples)) return false;
        inChannelId = channel + 100;
    }
    created = true;
    return true;
}

void WavBuf::WaveCallback(int channelId, uint32_t message, WaveHeader* header) {
    const int vc = channelId - 100;
    AudioBuffer* sb = Host().soundBuffers[vc];
    if (message == kWomDone) {
        if (fnPlay) fnPlay(header->data, outSegBytes, pUser);
        if (!gConfig.inputOnly && sb) sb->QueueOutHeader(header);
    } else if (message == kWimData) {
        if (fnRecord) fnRecord(header->data, inSegBytes, pUser);
        if (sb) sb->QueueInHeader(header);
    }
}

void EndWorker(int channel) {
    HostState& s = Host();
    if (!s.workers || !s.workers[channel]) return;
    WorkerControl* w = s.workers[channel];
    w->run.store(false);
    w->event->Set();
    Sleep(50);
    w->thread.Join();
    delete w;
    s.workers[channel] = nullptr;
}

void SetWavBufSegments(int segments) {
    HostState& s = Host();
    if (!s.primaryCreated || !s.wavBufs) return;
    for (int i = 0; i < s.channelTables; ++i)
        if (s.wavBufs[i]) return;
    if (segments < 1) return;  // a ring needs at least one segment
    s.wavBufSegments = segments;
}

int GetWavBufSegments() { return Host().primaryCreated ? Host().wavBufSegments : 0; }

bool InitWavSnd(const WavSndParams& p) {
    HostState& s = Host();
    const int ch = p.nChannel;
    if (!ChannelUsable(ch)) return false;
    if (s.wavBufs[ch]) return false;
    if (s.primaryBufferSamples <= 0 || p.nBufferSizeSamples <= 0 ||
        p.nBufferSizeSamples % s.primaryBufferSamples != 0) {
        DebugLogValue(
            "InitWavSnd error: Requested buffer size samples is not an exact multiple of ASIO primary buffer size",
            s.primaryBufferSamples);
        return false;
    }
    // The channel's table owns it from here; ReleaseWavSnd and the shutdown free it.
    WavBuf* wb = new (std::nothrow) WavBuf(ch, ASIOSetSampleRate(), s.wavBufSegments);
    if (!wb) return false;
    s.wavBufs[ch] = wb;
    AudioBuffer* sb = s.soundBuffers[ch];
    if (p.bNativeOut && sb) sb->SetNativeOut();
    if (p.bNativeIn && sb) sb->SetNativeIn();
    return wb->CreateMemory(p);
}

bool WavBuf::Prepare(AudioBuffer* sb) {
    if (!created) return false;
    if (outPrepared || inPrepared) {
        DebugLog("PrepareBuffers: Buffers already prepared!");
        return false;
    }
    if (!sb) return false;
    if (gConfig.output && (!outSamples || !outHeaders)) return false;
    if (gConfig.input && (!inSamples || !inHeaders)) return false;
    const int sides = gConfig.mono ? 1 : 2;
    auto reset = [](WaveHeader& h, uint8_t* data, int length, int index) {
        h.data = data;
        h.length = static_cast<uint32_t>(length);
        h.bytesRecorded = 0;
        h.user = static_cast<uint32_t>(index);
        h.state.store(0);
        h.loops = 0;
        h.next.store(nullptr);
        h.reserved = 0;
    };
    if (gConfig.output) {
        std::memset(outSamples.get(), 0, static_cast<size_t>(outBytes));
        for (int i = 0; i < segments; ++i) {
            WaveHeader& h = outHeaders[i];
            reset(h, outSamples.get() + static_cast<size_t>(i) * outSegBytes * sides, outSegBytes, i);
            if (!sb->PrepareOutHeader(&h)) continue;
            outPrepared = true;
            if (fnPlay) fnPlay(h.data, outSegBytes, pUser);
            if (sb->QueueOutHeader(&h) != kHeaderOk) return false;
        }
    }
    if (gConfig.input) {
        std::memset(inSamples.get(), 0, static_cast<size_t>(inBytes));
        for (int i = 0; i < segments; ++i) {
            WaveHeader& h = inHeaders[i];
            reset(h, inSamples.get() + static_cast<size_t>(i) * inSegBytes * sides, inSegBytes, i);
            if (!sb->PrepareInHeader(&h)) continue;
            if (sb->QueueInHeader(&h) != kHeaderOk) return false;
        }
        inPrepared = true;
    }
    return true;
}

bool WavBuf::MarkStarted() {
    if (!created) return false;
    if (outStarted || inStarted) {
        DebugLog("StartPlay: Already started!");
        return false;
    }
    if (!outPrepared && !inPrepared) {
        DebugLog("StartPlay: Buffers weren't PreLoaded!");
        return false;
    }
    outStarted = gConfig.output;
    inStarted = gConfig.input;
    return true;
}

void WavBuf::Stop(int ch) {
    if (outStarted) {
        StopOutput(ch);
        outStarted = false;
        outPrepared = false;
        if (outSamples) std::memset(outSamples.get(), 0, static_cast<size_t>(outBytes));
    }
    if (inStarted) {
        StopInput(ch);
        inStarted = false;
        inPrepared = false;
        if (inSamples) std::memset(inSamples.get(), 0, static_cast<size_t>(inBytes));
    }
}

void WavBuf::Unprepare(AudioBuffer* sb) {
    if (outPrepared) {
        if (sb)
            for (int i = 0; i < segments; ++i) sb->UnprepareOutHeader(&outHeaders[i]);
        outPrepared = false;
    }
    if (inPrepared) {
        if (sb)
            for (int i = 0; i < segments; ++i) sb->UnprepareInHeader(&inHeaders[i]);
        inPrepared = false;
    }
}

void WavBuf::ClearQueuedInput(AudioBuffer* sb) {
    if (!inStarted || !inSamples || !sb) return;
    // Only the segments still queued for recording are cleared: a done one belongs to
    // the worker, which may be handing it to the record callback right now. The lock
    // keeps an exchange that began before Stop from writing meanwhile.
    const size_t segmentBytes = static_cast<size_t>(inSegBytes) * (gConfig.mono ? 1 : 2);
    sb->Lock(true);
    for (int i = 0; i < segments; ++i) {
        WaveHeader& h = inHeaders[i];
        if (h.data && (h.state.load(std::memory_order_acquire) & WHDR_INQUEUE)) std::memset(h.data, 0, segmentBytes);
    }
    sb->Lock(false);
}

bool PrepareBuffers(int ch) {
    WavBuf* wb = ChannelWavBuf(ch);
    return wb && wb->Prepare(Host().soundBuffers[ch]);
}

bool StartPlay(int ch) {
    HostState& s = Host();
    WavBuf* wb = ChannelWavBuf(ch);
    if (!wb || !wb->MarkStarted()) return false;
    s.segmentSamples[ch] = wb->SegmentSamples();
    AudioBuffer* sb = s.soundBuffers[ch];
    if (!sb || sb->IsPlaying() || s.paused[ch]) return false;
    EndWorker(ch);
    if (!StartWorker(ch, wb, sb)) return false;
    sb->Play();
    return true;
}

void StopWavSnd(int ch) {
    if (WavBuf* wb = ChannelWavBuf(ch)) wb->Stop(ch);
}

void ReleaseWavSnd(int ch) {
    HostState& s = Host();
    WavBuf* wb = ChannelWavBuf(ch);
    if (!wb) return;
    StopWavSnd(ch);
    AudioBuffer* sb = s.soundBuffers[ch];
    wb->Unprepare(sb);
    // Queued headers refuse to unprepare; the queues must not keep pointing into the
    // memory freed below.
    if (sb) {
        if (sb->GetOutHeaders()) sb->ResetOut();
        if (sb->GetInHeaders()) sb->ResetIn();
    }
    delete wb;
    s.wavBufs[ch] = nullptr;
}

void PauseWavSnd(int ch) {
    HostState& s = Host();
    WavBuf* wb = ChannelWavBuf(ch);
    if (!wb) return;
    s.paused[ch] = true;
    AudioBuffer* sb = s.soundBuffers[ch];
    if (sb) sb->Stop();
    wb->ClearQueuedInput(sb);
}

void ResumeWavSnd(int ch) {
    HostState& s = Host();
    if (!ChannelWavBuf(ch)) return;
    s.paused[ch] = false;
    if (s.soundBuffers[ch]) s.soundBuffers[ch]->Play();
}

int64_t GetWavSndPosition(int ch) {
    HostState& s = Host();
    if (!ChannelWavBuf(ch)) return 0;
    // In 64 bits: 2^31 samples are 12.4 hours at 48 kHz.
    int64_t samples = 0;
    if (s.workers[ch]) samples = int64_t(s.workers[ch]->segmentCounter.load()) * s.segmentSamples[ch];
    int position = 0;
    if (s.soundBuffers[ch]) s.soundBuffers[ch]->GetPosition(&position);
    return samples + position;
}

void SetWavSndVolume(int ch, int level) {
    if (!ChannelWavBuf(ch)) return;
    if (gConfig.inputOnly || static_cast<unsigned>(level) > 15) return;
    if (AudioBuffer* sb = Host().soundBuffers[ch]) sb->SetAttenuation(15 - level);
}
