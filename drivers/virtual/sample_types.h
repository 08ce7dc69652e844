// The sample types the virtual device can fill and capture, and their conversions to
// and from float. Full scale is 1.0: an Int16LSB sample v is v / 32768, Int24LSB
// v / 2^23, Int32LSB v / 2^31 (rounded to the nearest float: float keeps 24 bits, so a
// 32-bit sample with non-zero low 8 bits is rounded), Float32LSB is taken as is. From
// float the scales are the same, rounded to nearest and clipped to the type's range.
// All types are little-endian.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "host/asio_driver.h"

static_assert(std::endian::native == std::endian::little, "samples and WAV data are little-endian");

// Bytes of one sample, or 0 for a type the device cannot convert.
inline long BytesPerSample(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16LSB: return 2;
    case ASIOSTInt24LSB: return 3;
    case ASIOSTInt32LSB:
    case ASIOSTFloat32LSB: return 4;
    default: return 0;
    }
}

inline float SampleToFloat(ASIOSampleType type, const uint8_t* p) {
    switch (type) {
    case ASIOSTInt16LSB: {
        int16_t v;
        std::memcpy(&v, p, 2);
        return static_cast<float>(v) / 32768.0f;
    }
    case ASIOSTInt24LSB: {
        int32_t v = static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16);
        if (v & 0x800000) v -= 0x1000000;  // sign of the 24-bit value
        return static_cast<float>(v) / 8388608.0f;
    }
    case ASIOSTInt32LSB: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return static_cast<float>(static_cast<double>(v) / 2147483648.0);
    }
    case ASIOSTFloat32LSB: {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    default: return 0.0f;
    }
}

inline void FloatToSample(ASIOSampleType type, float value, uint8_t* p) {
    auto scaled = [value](double fullScale) {
        double v = std::nearbyint(static_cast<double>(value) * fullScale);
        if (std::isnan(v)) v = 0;
        if (v > fullScale - 1) v = fullScale - 1;
        if (v < -fullScale) v = -fullScale;
        return static_cast<int32_t>(v);
    };
    switch (type) {
    case ASIOSTInt16LSB: {
        int16_t v = static_cast<int16_t>(scaled(32768.0));
        std::memcpy(p, &v, 2);
        break;
    }
    case ASIOSTInt24LSB: {
        int32_t v = scaled(8388608.0);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
        break;
    }
    case ASIOSTInt32LSB: {
        int32_t v = scaled(2147483648.0);
        std::memcpy(p, &v, 4);
        break;
    }
    case ASIOSTFloat32LSB: std::memcpy(p, &value, 4); break;
    default: break;
    }
}
