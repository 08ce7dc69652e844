// The device host library as the application sees it: one device at a time, opened,
// configured and streamed through flat operations, all called on the application's
// thread. Every failure is a false or 0 result plus a line in the debug log
// ("CorvaneDbg.Log" in the current folder).
//
// Order: ASIOInit, then (if ASIOGetNumMonoOutputs() / 2 is not 0) CreatePrimaryBuffers,
// SetWavBufSegments, then per channel InitWavSnd, PrepareBuffers, StartPlay, ...;
// ASIOShutdown at the end or before choosing another device.
#pragma once

#include <cstdint>

#include "host/driver_list.h"

class MessageWindow;

// ---- start-up and shutdown --------------------------------------------------------

// Chooses and opens a driver, queries the device. *driverIndex below 0 lets the host
// choose (registry fallback, "ASIOConfig.txt", the only driver) and receives the
// choice. window receives the driver's reset request (message 0x800A); may be null.
// True when the driver opened and was queried; callers then test IsASIOInitialized.
bool ASIOInit(int* driverIndex, MessageWindow* window);
// Streaming modes: 1 mono out, 2 mono in, 3 mono duplex, 4 stereo out, 5 stereo in,
// 6 stereo duplex. Returns the number of virtual channels (0 or 1), 0 on failure. The
// driver starts and calls back from here on.
int CreatePrimaryBuffers(int mode);
// Segments per channel ring (16 until set); only while no channel has a WavBuf.
void SetWavBufSegments(int segments);
int GetWavBufSegments();
int ASIOGetNumMonoOutputs();
int ASIOGetPrimaryBufferSizeSamples();
// The driver's current rate in Hz (it changes nothing); 0 when it cannot tell.
int ASIOSetSampleRate();
void ASIOShutdown();

bool IsASIOInitialized();
bool IsPrimaryBuffersCreated();
int NumMonoOutputs();
int NumVirtualChannels();

// GetASIODriverNames (host/driver_list.h) lists the installed drivers' names.

// ---- WAV-buffer streaming, per virtual channel (the application uses channel 0) ----

// data holds `bytes` per channel; stereo segments hold the left channel's samples, then
// the right channel's. Called on the application's thread while preparing and on the
// channel's worker thread while streaming.
using PlayCallback = void (*)(void* data, int bytes, void* pUser);
using RecordCallback = void (*)(void* data, int bytes, void* pUser);

struct WavSndParams {
    int nChannel = 0;
    int nBufferSizeSamples = 0;  // a multiple of the driver buffer size
    PlayCallback fnPlay = nullptr;
    RecordCallback fnRecord = nullptr;
    void* pUser = nullptr;
    bool bNativeOut = false;  // application data in the device's own sample type
    bool bNativeIn = false;
};

bool InitWavSnd(const WavSndParams& params);
bool PrepareBuffers(int channel);
bool StartPlay(int channel);
void StopWavSnd(int channel);
void ReleaseWavSnd(int channel);
void PauseWavSnd(int channel);
void ResumeWavSnd(int channel);
// Samples played since StartPlay.
int64_t GetWavSndPosition(int channel);
// level 0 (quietest) .. 15 (full scale); other values are ignored.
void SetWavSndVolume(int channel, int level);

// ---- dropouts ---------------------------------------------------------------------

// What went missing since the device was opened. The host's counts are those of the
// virtual channel's sound buffer; the driver's come from its IDriverDropouts
// (host/asio_driver.h), and stay 0 for a driver without one.
struct DropoutCounts {
    long long xruns = 0;          // cycles the device or its server missed
    long long inputLosses = 0;    // the device's inputs lost while streaming (silent since)
    uint32_t droppedBuffers = 0;  // buffer switches that found no segment queued: silence
    uint32_t failedBuffers = 0;   // buffer switches whose segment was already used up
};

// Fills counts for virtual channel `channel`; false, with counts all 0, when no device is
// open. A plain poll for the application's thread: every count is an atomic that the
// driver's and the host's threads add to without a lock.
bool GetDropoutCounts(int channel, DropoutCounts* counts);
