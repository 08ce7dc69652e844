// What tests can reach of the virtual device beyond the driver interface: its test
// clock. A device whose setting "Clock" is "test" runs no clock thread after start;
// instead a test asks the driver object for this interface (QueryInterface with
// IID_IVirtualDeviceClock) and advances it one buffer switch at a time, on the test's
// own thread, so tests are exact and never sleep.
#pragma once

#include "host/asio_driver.h"

// {5B1E0C6A-3F0D-4C8E-9A57-2D4C6B8E1F30}
inline constexpr IID IID_IVirtualDeviceClock = {
    0x5b1e0c6a, 0x3f0d, 0x4c8e, {0x9a, 0x57, 0x2d, 0x4c, 0x6b, 0x8e, 0x1f, 0x30}};

class IVirtualDeviceClock : public IUnknown {
public:
    // Runs up to `count` buffer switches now, on the caller's thread: each one fills
    // the inputs of the due half, calls the host's bufferSwitch for it, captures the
    // outputs of that half, then flips to the other half. Returns the switches run
    // (0 while the device is not started).
    virtual long AdvanceBufferSwitches(long count) = 0;
    // Buffer switches run since start (either clock).
    virtual long long BufferSwitchCount() = 0;
};
