#include "host/stream_format.h"

bool StreamModeOf(int number, StreamMode* mode) {
    if (number < static_cast<int>(StreamMode::MonoOut) || number > static_cast<int>(StreamMode::StereoDuplex))
        return false;
    *mode = static_cast<StreamMode>(number);
    return true;
}

StreamLayout LayoutOf(StreamMode mode) {
    StreamLayout l;
    switch (mode) {
    case StreamMode::MonoOut: l.output = true; break;
    case StreamMode::MonoIn: l.input = l.inputOnly = true; break;
    case StreamMode::MonoDuplex: l.output = l.input = l.duplex = true; break;
    case StreamMode::StereoOut: l.output = true; break;
    case StreamMode::StereoIn: l.input = l.inputOnly = true; break;
    case StreamMode::StereoDuplex: l.output = l.input = l.duplex = true; break;
    }
    l.mono = mode == StreamMode::MonoOut || mode == StreamMode::MonoIn || mode == StreamMode::MonoDuplex;
    return l;
}

StreamLayout LayoutOfMode(int number) {
    StreamMode mode;
    return StreamModeOf(number, &mode) ? LayoutOf(mode) : StreamLayout{};
}

FormatClass FormatClassOf(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16LSB: return FormatClass::Int16;
    case ASIOSTInt24LSB: return FormatClass::Int24;
    case ASIOSTInt32LSB: return FormatClass::Int32;
    case ASIOSTFloat32LSB: return FormatClass::Float32;
    default: return FormatClass::None;
    }
}

int BytesPerDeviceSample(FormatClass format) {
    if (format == FormatClass::Int16) return 2;
    if (format == FormatClass::Int24) return 3;
    return 4;
}

int BytesPerDeviceSample(int formatClass) { return BytesPerDeviceSample(static_cast<FormatClass>(formatClass)); }
