// A virtual device's settings: the values under the HKLM\software\asio key whose "clsid"
// names the device's class. Every value is optional; a value of the wrong type or out
// of range does not stop the device from being created, it makes init fail with a
// message that names the value.
#pragma once

#include <cstdint>

#include "platform/com.h"

enum class InputSource { Loopback, Silence, Tone };
enum class ClockKind { RealTime, Test };

// Limits that keep a mistyped setting from asking for gigabytes.
constexpr long kMaxChannels = 256;
constexpr long kMaxBufferSamples = 65536;
constexpr uint32_t kMaxSampleRateHz = 1000000;
constexpr uint32_t kMaxSpeed = 1000;

struct DeviceSettings {
    char name[128] = "";  // "description", else the key's name
    long outputs = 2;
    long inputs = 2;
    long firstGroupOutputs = 2;  // outputs from this number on are in group 1
    long sampleType = 18;        // ASIOSTInt32LSB; any number is reported as is
    uint32_t sampleRateHz = 48000;
    long bufferSize = 512;  // preferred, in samples
    long minSize = 64;
    long maxSize = 2048;
    long granularity = -1;  // -1: powers of two; 0: the preferred size only; n > 0: multiples of n
    InputSource input = InputSource::Loopback;
    char capturePath[4096] = "";  // empty: no capture
    uint32_t speed = 1;           // the real-time clock runs this many times faster
    ClockKind clock = ClockKind::RealTime;
    bool failInit = false;
    char failInitMessage[128] = "";
    char error[128] = "";  // the first unusable value; empty when all are usable
};

// Finds the subkey of HKLM\software\asio whose "clsid" value names clsid (any case)
// and reads its values into *settings. False when no subkey names the class.
bool ReadDeviceSettings(const CLSID& clsid, DeviceSettings* settings);
