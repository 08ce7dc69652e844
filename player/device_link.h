// The player's link to the device host: takes virtual channel 0 through started,
// buffers created, WAV buffer prepared, playing and paused. Every operation runs on the
// user-interface thread; the worker thread only reads the state.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"
#include "platform/audio_block.h"

class MessageWindow;

enum class DeviceState : int32_t {
    Closed = 0,    // host not started
    Started = 1,   // ASIOInit succeeded
    Ready = 2,     // primary buffers created, two segments per ring
    Prepared = 3,  // channel 0 has its WAV buffer
    Playing = 4,   // PrepareBuffers and StartPlay succeeded
    Paused = 5,    // output paused
};

constexpr int kSegmentFrames = int(kBlockFrames);  // frames per host segment and per callback
constexpr int kRingSegments = 2;

class DeviceLink {
public:
    // The callbacks and their user pointer, handed to InitWavSnd by Prepare.
    DeviceLink(PlayCallback play, RecordCallback record, void* user);
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Shuts down an open host first, then starts the host on driver deviceNumber (below
    // 0: the host chooses), which receives the index opened. False when the driver does
    // not start, has no pair of outputs, or its buffers cannot be created; the state
    // stays at the last step that succeeded.
    bool Open(MessageWindow* window, int32_t& deviceNumber);
    // Gives channel 0 a fresh WAV buffer; only from Ready (after Release).
    bool Prepare();
    // Stops and frees channel 0's WAV buffer; Prepared or later goes back to Ready.
    void Release();
    // Prepared -> Playing: pre-fills both segments through the play callback and starts.
    bool Start();
    // Playing or Paused -> Prepared.
    void Stop();
    // Starts a Prepared link (true); stops a running one (false).
    bool Toggle();
    // Pauses a Playing link / resumes a Paused one; false in any other state.
    bool Pause();
    bool Resume();
    // Replaces names with the installed drivers' names, item i naming driver i; returns
    // the number of installed drivers (kept as DriverCount).
    int ListDrivers(std::vector<std::string>& names);
    // Releases channel 0 and shuts the host down, then Closed. Also after an Open that
    // failed half-way: the host's log and driver list close.
    void Shutdown();

    // What the open device tells; the host's calls, for channel 0.
    // The device's own buffer, in frames; 0 when it has none.
    int DeviceBufferFrames() const;
    // The device's rate; 0 before the host has started or when the driver cannot tell.
    int SampleRateHz() const;
    // Frames played since Start.
    int64_t PositionFrames() const;
    // Segments in channel 0's ring; 0 before the buffers exist.
    int Segments() const;
    // level 0 (quietest) .. 15 (full scale); other values are ignored.
    void SetVolumeLevel(int level);
    // What went missing since the device opened; all 0 while Closed.
    DropoutCounts Dropouts() const;

    DeviceState State() const { return state_.load(std::memory_order_acquire); }
    int32_t DeviceNumber() const { return deviceNumber_; }
    int32_t DriverCount() const { return driverCount_; }

private:
    void SetState(DeviceState s) { state_.store(s, std::memory_order_release); }

    WavSndParams params_;
    std::atomic<DeviceState> state_{DeviceState::Closed};  // read by the worker
    int32_t driverCount_ = 0;
    int32_t deviceNumber_ = -1;
};
