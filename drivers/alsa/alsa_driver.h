// The ALSA driver's class id, as registered in machine.reg.
//
// The driver plays through one ALSA PCM device and records from the same device's
// capture side; its own streaming thread moves one period per buffer switch. It answers
// IID_IDriverDropouts (host/asio_driver.h): the under- and over-runs it recovered from,
// and a capture side that stalled or went away, after which the inputs are silent.
//
// Settings (HKLM\software\asio\<key whose "clsid" is this class>):
//   "Device"      string  "default"  the PCM device's name
//   "BufferSize"  dword   512        frames per period, = the host's buffer size
#pragma once

#include "host/asio_driver.h"

// Written here only: the build reads it from here for machine.reg.
inline constexpr CLSID CLSID_AlsaDriver = {
    0x8d92413f, 0xa1c4, 0x4341, {0x8e, 0x63, 0x3d, 0xb1, 0x3f, 0xad, 0x02, 0xf5}};
