// The ALSA driver's class id, as registered in machine.reg, and what tests can read of
// it beyond the driver interface.
//
// The driver plays through one ALSA PCM device and records from the same device's
// capture side; its own streaming thread moves one period per buffer switch.
//
// Settings (HKLM\software\asio\<key whose "clsid" is this class>):
//   "Device"      string  "default"  the PCM device's name
//   "BufferSize"  dword   512        frames per period, = the host's buffer size
#pragma once

#include "host/asio_driver.h"

// {8D92413F-A1C4-4341-8E63-3DB13FAD02F5}
inline constexpr CLSID CLSID_AlsaDriver = {
    0x8d92413f, 0xa1c4, 0x4341, {0x8e, 0x63, 0x3d, 0xb1, 0x3f, 0xad, 0x02, 0xf5}};

// {D44E9200-2373-4DA0-9D0A-14A30D44941B}
inline constexpr IID IID_IAlsaDriverStats = {
    0xd44e9200, 0x2373, 0x4da0, {0x9d, 0x0a, 0x14, 0xa3, 0x0d, 0x44, 0x94, 0x1b}};

// Counters of the streaming thread, safe to read from any thread.
class IAlsaDriverStats : public IUnknown {
public:
    // Playback under-runs and capture over-runs recovered from since init.
    virtual long long Underruns() = 0;
    virtual long long Overruns() = 0;
    // Whether the device's capture side is open; without it the inputs are silent.
    virtual bool CaptureOpen() = 0;
};
