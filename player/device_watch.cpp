#include "player/device_watch.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "host/debug_log.h"
#include "player/player.h"

namespace {

// A count of milliseconds from the environment; fallback when unset or not a count.
std::chrono::milliseconds MillisecondsFrom(const char* name, std::chrono::milliseconds fallback, long least) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < least) return fallback;
    return std::chrono::milliseconds(value);
}

// What went up between two readings; a count below the last one started again from 0
// (a new device, a new take), so all of it is new.
uint64_t Added(uint64_t now, uint64_t last) { return now >= last ? now - last : now; }

}  // namespace

ResetTiming ResetTimingFromEnvironment() {
    ResetTiming timing;
    timing.giveUpAfter = MillisecondsFrom("BELLWAVE_DEVICE_WAIT_MS", timing.giveUpAfter, 0);
    timing.retryEvery = MillisecondsFrom("BELLWAVE_DEVICE_RETRY_MS", timing.retryEvery, 1);
    return timing;
}

void FormatDropouts(const DropoutTotals& totals, char* text, size_t bytes) {
    if (text == nullptr || bytes == 0) return;
    text[0] = '\0';
    const struct {
        uint64_t count;
        const char* one;
        const char* many;
    } kinds[] = {{totals.xruns, "xrun", "xruns"},
                 {totals.inputLosses, "input loss", "input losses"},
                 {totals.droppedBuffers, "dropped buffer", "dropped buffers"},
                 {totals.failedBuffers, "failed buffer", "failed buffers"},
                 {totals.droppedBlocks, "dropped block", "dropped blocks"}};
    size_t used = 0;
    for (const auto& kind : kinds) {
        if (kind.count == 0 || used >= bytes) continue;
        const int n = std::snprintf(text + used, bytes - used, "%s%" PRIu64 " %s", used == 0 ? "" : ", ", kind.count,
                                    kind.count == 1 ? kind.one : kind.many);
        if (n > 0) used += size_t(n);
    }
    if (used == 0) std::snprintf(text, bytes, "none");
}

DeviceWatch::DeviceWatch(Player& player, ResetTiming timing) : player_(player), timing_(timing) {}

DeviceEvent DeviceWatch::OnResetRequest(Clock::time_point now) {
    if (waiting_) return DeviceEvent::None;
    // What the failing device counted, before its counters go with it.
    tookTake_ = PollDropouts() == DeviceEvent::TakeClosed;
    tookTake_ = player_.DropDevice() || tookTake_;
    last_.xruns = last_.inputLosses = last_.droppedBuffers = last_.failedBuffers = 0;  // the next device counts from 0
    waiting_ = true;
    lostAt_ = now;
    const DeviceEvent tried = Try(now);
    return tried == DeviceEvent::None ? DeviceEvent::Gone : tried;
}

DeviceEvent DeviceWatch::Tick(Clock::time_point now) {
    tookTake_ = false;
    if (!waiting_) return DeviceEvent::None;
    if (player_.DeviceReady()) {
        waiting_ = false;  // the person chose a device meanwhile
        return DeviceEvent::None;
    }
    return now < nextTry_ ? DeviceEvent::None : Try(now);
}

DeviceEvent DeviceWatch::Try(Clock::time_point now) {
    waited_ = std::chrono::duration_cast<std::chrono::milliseconds>(now - lostAt_);
    if (player_.ReopenDevice()) {
        waiting_ = false;
        return DeviceEvent::Back;
    }
    if (now - lostAt_ >= timing_.giveUpAfter) {
        waiting_ = false;
        player_.ForgetDevice();
        return DeviceEvent::GaveUp;
    }
    nextTry_ = now + timing_.retryEvery;
    return DeviceEvent::None;
}

DeviceEvent DeviceWatch::PollDropouts() {
    const PlayerDropouts read = player_.Dropouts();
    const bool recording = player_.RecordingActive();
    if (recording && !inTake_) last_.droppedBlocks = 0;  // a new take counts from 0
    inTake_ = recording;
    DropoutTotals added;
    added.xruns = Added(uint64_t(read.device.xruns), last_.xruns);
    added.inputLosses = Added(uint64_t(read.device.inputLosses), last_.inputLosses);
    added.droppedBuffers = Added(read.device.droppedBuffers, last_.droppedBuffers);
    added.failedBuffers = Added(read.device.failedBuffers, last_.failedBuffers);
    added.droppedBlocks = Added(read.droppedBlocks, last_.droppedBlocks);
    last_ = {uint64_t(read.device.xruns), uint64_t(read.device.inputLosses), read.device.droppedBuffers,
             read.device.failedBuffers, read.droppedBlocks};
    if (added.Sum() == 0) return DeviceEvent::None;
    totals_.xruns += added.xruns;
    totals_.inputLosses += added.inputLosses;
    totals_.droppedBuffers += added.droppedBuffers;
    totals_.failedBuffers += added.failedBuffers;
    totals_.droppedBlocks += added.droppedBlocks;

    char what[160];
    FormatDropouts(added, what, sizeof what);
    char line[256];
    if (recording || player_.Playing()) {
        const int64_t frame = player_.Position();
        const int rate = player_.DeviceReady() ? player_.Link().SampleRateHz() : 0;
        std::snprintf(line, sizeof line, "Dropout at frame %" PRId64 " (%.3f s) of the %s: %s", frame,
                      rate > 0 ? double(frame) / rate : 0.0, recording ? "take" : "track", what);
    } else {
        std::snprintf(line, sizeof line, "Dropout while stopped: %s", what);
    }
    DebugLog(line);

    if (added.inputLosses > 0 && recording) {
        player_.EndTakeAtLoss();
        inTake_ = false;
        return DeviceEvent::TakeClosed;
    }
    return DeviceEvent::Dropouts;
}
