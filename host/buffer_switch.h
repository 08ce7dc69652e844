// The driver's buffer-switch callback and the sample conversions between the
// application's data (16-bit signed little-endian, or the device's own type when the
// channel is native) and the device's four served types.
//
// Runs on the driver's thread: nothing is allocated, logged or waited for beyond the
// device record's table lock and one sound buffer's lock.
#pragma once

#include <cstdint>

#include "host/asio_driver.h"
#include "host/stream_format.h"

// formatClass is a FormatClass's number (host/stream_format.h).

// One device buffer of `samples` samples from the application's data `src` into the
// device area `dst`, attenuated by a (0..15, each step halves the amplitude).
void ConvertOutput(int formatClass, bool native, int a, const uint8_t* src, uint8_t* dst, int samples);
// One device buffer of `samples` samples from the device area `src` into the
// application's data `dst`. Float input is clipped to the 16-bit range.
void ConvertInput(int formatClass, bool native, const uint8_t* src, uint8_t* dst, int samples);

// Whether the conversions use their AVX2 loops, where the processor has them (the
// default); tests turn them off to check the plain loops too. Returns whether they are
// used now.
bool UseAvx2Conversions(bool use);

// Given to the driver in ASIOCallbacks. Moves one device buffer for every playing
// sound buffer of the device record, writes silence for stopped ones, then calls
// outputReady when the driver accepted the probe. The direct-process flag is ignored.
void bufferSwitch(long doubleBufferIndex, ASIOBool directProcess);
