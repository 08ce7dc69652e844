// What the application does when the sound system fails under it, shared by the window
// and bellwave-cli: the driver's reset request (WMU_ASIO_RESET) stops the stream, closes
// a take at the loss and shuts the host down; the same device is then tried at once and
// every second for a minute, and once it opens playback goes on where it stopped. It
// also adds up the dropouts the player counts, across resets, logging each with its
// position, and closes a take whose inputs were lost.
//
// User-interface thread only. Nothing here waits: while the device is gone the caller's
// timer calls Tick (every 100 ms or so) and each due try is one open of the device.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

class Player;

// How long a device that went away is waited for, and how often it is tried meanwhile.
// The environment may shorten both (BELLWAVE_DEVICE_WAIT_MS, BELLWAVE_DEVICE_RETRY_MS).
struct ResetTiming {
    std::chrono::milliseconds giveUpAfter{60000};
    std::chrono::milliseconds retryEvery{1000};
};
ResetTiming ResetTimingFromEnvironment();

// Dropouts since the watch was made, every kind added up across device resets.
struct DropoutTotals {
    uint64_t xruns = 0;           // cycles the device or its server missed
    uint64_t inputLosses = 0;     // times the device's inputs went away
    uint64_t droppedBuffers = 0;  // device buffers played as silence: no segment was ready
    uint64_t failedBuffers = 0;   // device buffers whose segment was already used up
    uint64_t droppedBlocks = 0;   // recorded blocks the writer had no room for
    uint64_t Sum() const { return xruns + inputLosses + droppedBuffers + failedBuffers + droppedBlocks; }
};

// "2 xruns, 1 dropped buffer" (the kinds that are not 0), or "none".
void FormatDropouts(const DropoutTotals& totals, char* text, size_t bytes);

enum class DeviceEvent {
    None,
    Dropouts,    // a count went up
    TakeClosed,  // the inputs went away during a take, which was closed at the loss
    Gone,        // the device failed and is being waited for (a take was closed: TookTake)
    Back,        // the device is open again and playback goes on where it stopped
    GaveUp,      // it did not come back in time: stopped as if Stop had been pressed
};

class DeviceWatch {
public:
    using Clock = std::chrono::steady_clock;

    explicit DeviceWatch(Player& player, ResetTiming timing = ResetTimingFromEnvironment());

    // The driver asked for a reset: Back when the device opened again at once (a take
    // was still closed when TookTake), else Gone. None while already waiting.
    DeviceEvent OnResetRequest(Clock::time_point now = Clock::now());
    // While Waiting: tries the device when a try is due. Back, GaveUp or None. Ends the
    // wait quietly when another device was opened meanwhile (the device dialog).
    DeviceEvent Tick(Clock::time_point now = Clock::now());
    // Reads the player's counters: Dropouts when one went up, TakeClosed when the
    // inputs were lost during a take.
    DeviceEvent PollDropouts();

    bool Waiting() const { return waiting_; }
    // The reset OnResetRequest handled last closed a take; cleared by Tick, so it is
    // told once.
    bool TookTake() const { return tookTake_; }
    // Since the device went away, at the last try.
    std::chrono::milliseconds Waited() const { return waited_; }
    const ResetTiming& Timing() const { return timing_; }
    const DropoutTotals& Totals() const { return totals_; }

private:
    DeviceEvent Try(Clock::time_point now);

    Player& player_;
    ResetTiming timing_;
    bool waiting_ = false;
    bool tookTake_ = false;
    bool inTake_ = false;  // a take was running at the last poll
    Clock::time_point lostAt_;
    Clock::time_point nextTry_;
    std::chrono::milliseconds waited_{0};
    DropoutTotals totals_;
    DropoutTotals last_;  // the counters as last read, to see what went up
};
