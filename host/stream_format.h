// The two kinds the host streams by: the streaming mode the application asks for, and
// the format class of the device's sample type. Both keep the numbers the host's
// operations take (CreatePrimaryBuffers' mode, the conversions' format class).
#pragma once

#include "host/asio_driver.h"

enum class StreamMode : int {
    MonoOut = 1,
    MonoIn = 2,
    MonoDuplex = 3,
    StereoOut = 4,
    StereoIn = 5,
    StereoDuplex = 6,
};

// What a mode streams through each virtual channel.
struct StreamLayout {
    bool mono = false;       // one device channel per direction, else a pair
    bool output = false;
    bool input = false;
    bool inputOnly = false;
    bool duplex = false;     // output and input together
};

// The mode numbered `number`; false for a number that names none.
bool StreamModeOf(int number, StreamMode* mode);
StreamLayout LayoutOf(StreamMode mode);
// The layout of mode number `number`; all false for a number that names no mode.
StreamLayout LayoutOfMode(int number);

// Format classes of the device's first channel group: the sample types the host serves.
enum class FormatClass : int {
    None = 0,     // a type the host cannot serve
    Int16 = 1,    // ASIOSTInt16LSB
    Int24 = 2,    // ASIOSTInt24LSB, three bytes, least significant first
    Int32 = 3,    // ASIOSTInt32LSB
    Float32 = 4,  // ASIOSTFloat32LSB
};

// The classes' numbers, as the conversions and the sound buffer take them.
constexpr int kFormatInt16 = static_cast<int>(FormatClass::Int16);
constexpr int kFormatInt24 = static_cast<int>(FormatClass::Int24);
constexpr int kFormatInt32 = static_cast<int>(FormatClass::Int32);
constexpr int kFormatFloat32 = static_cast<int>(FormatClass::Float32);

FormatClass FormatClassOf(ASIOSampleType type);
// Bytes of one device sample: 2, 3, or 4 (Int32, Float32 and anything else).
int BytesPerDeviceSample(FormatClass format);
int BytesPerDeviceSample(int formatClass);
