#include "host/buffer_switch.h"

#include <cstring>

#include "host/asio_buffers.h"

namespace {

// Loads and stores through memcpy: device areas and segments need not be aligned.
template <typename T>
inline T Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
inline void Store(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

inline int32_t Load24(const uint8_t* p) {
    const uint32_t u = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                       static_cast<uint32_t>(p[2]) << 16;
    return static_cast<int32_t>(u << 8) >> 8;
}

inline void Store24(uint8_t* p, int32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
}

inline int16_t FloatTo16(float x) {
    const float v = x * 32767.0f;
    if (v >= 32767.0f) return 32767;
    if (v <= -32768.0f) return -32768;
    if (v != v) return 0;  // NaN
    return static_cast<int16_t>(v);  // truncated toward zero
}

void OutInt16(int a, const uint8_t* src, uint8_t* dst, int n) {
    if (a == 0) {
        std::memcpy(dst, src, static_cast<size_t>(n) * 2);
        return;
    }
    for (int i = 0; i < n; ++i) Store<int16_t>(dst + 2 * i, static_cast<int16_t>(Load<int16_t>(src + 2 * i) >> a));
}

void OutInt24From16(int a, const uint8_t* src, uint8_t* dst, int n) {
    if (a <= 8) {
        const int32_t scale = 1 << (8 - a);
        for (int i = 0; i < n; ++i) Store24(dst + 3 * i, Load<int16_t>(src + 2 * i) * scale);
    } else {
        const int shift = a - 8;
        for (int i = 0; i < n; ++i) Store24(dst + 3 * i, Load<int16_t>(src + 2 * i) >> shift);
    }
}

void OutInt24Native(int a, const uint8_t* src, uint8_t* dst, int n) {
    if (a == 0) {
        std::memcpy(dst, src, static_cast<size_t>(n) * 3);
        return;
    }
    for (int i = 0; i < n; ++i) Store24(dst + 3 * i, Load24(src + 3 * i) >> a);
}

void OutInt32From16(int a, const uint8_t* src, uint8_t* dst, int n) {
    const int shift = 16 - a;
    for (int i = 0; i < n; ++i) {
        const int32_t s = Load<int16_t>(src + 2 * i);
        Store<int32_t>(dst + 4 * i, static_cast<int32_t>(static_cast<uint32_t>(s) << shift));
    }
}

void OutInt32Native(int a, const uint8_t* src, uint8_t* dst, int n) {
    if (a == 0) {
        std::memcpy(dst, src, static_cast<size_t>(n) * 4);
        return;
    }
    for (int i = 0; i < n; ++i) Store<int32_t>(dst + 4 * i, Load<int32_t>(src + 4 * i) >> a);
}

void OutFloatFrom16(int a, const uint8_t* src, uint8_t* dst, int n) {
    const float k = 1.0f / 32768.0f;
    for (int i = 0; i < n; ++i)
        Store<float>(dst + 4 * i, static_cast<float>(Load<int16_t>(src + 2 * i) >> a) * k);
}

void OutFloatNative(int a, const uint8_t* src, uint8_t* dst, int n) {
    if (a == 0) {
        std::memcpy(dst, src, static_cast<size_t>(n) * 4);
        return;
    }
    const float g = static_cast<float>(32767 >> a) / 32767.0f;
    for (int i = 0; i < n; ++i) Store<float>(dst + 4 * i, Load<float>(src + 4 * i) * g);
}

}  // namespace

void ConvertOutput(int formatClass, bool native, int a, const uint8_t* src, uint8_t* dst, int samples) {
    if (a < 0) a = 0;
    if (a > 15) a = 15;
    switch (formatClass) {
    case kFormatInt16: OutInt16(a, src, dst, samples); break;
    case kFormatInt24: native ? OutInt24Native(a, src, dst, samples) : OutInt24From16(a, src, dst, samples); break;
    case kFormatInt32: native ? OutInt32Native(a, src, dst, samples) : OutInt32From16(a, src, dst, samples); break;
    case kFormatFloat32: native ? OutFloatNative(a, src, dst, samples) : OutFloatFrom16(a, src, dst, samples); break;
    default: break;
    }
}

void ConvertInput(int formatClass, bool native, const uint8_t* src, uint8_t* dst, int samples) {
    if (native || formatClass == kFormatInt16) {
        std::memcpy(dst, src, static_cast<size_t>(samples) * static_cast<size_t>(BytesPerDeviceSample(formatClass)));
        return;
    }
    switch (formatClass) {
    case kFormatInt24:
        for (int i = 0; i < samples; ++i) {
            dst[2 * i] = src[3 * i + 1];
            dst[2 * i + 1] = src[3 * i + 2];
        }
        break;
    case kFormatInt32:
        for (int i = 0; i < samples; ++i)
            Store<int16_t>(dst + 2 * i, static_cast<int16_t>(Load<int32_t>(src + 4 * i) >> 16));
        break;
    case kFormatFloat32:
        for (int i = 0; i < samples; ++i) Store<int16_t>(dst + 2 * i, FloatTo16(Load<float>(src + 4 * i)));
        break;
    default: break;
    }
}

namespace {

// The four channel areas of virtual channel i for half h, by mode.
void FillChannelPointers(DeviceRecord& d, int i, int h) {
    void** p = d.channelPointers;
    p[0] = p[1] = p[2] = p[3] = nullptr;
    const int n = d.numOutputs;
    auto area = [&d, h](int entry) -> void* {
        if (entry < 0 || entry >= d.bufferCount) return nullptr;
        return d.bufferInfos[entry].buffers[h];
    };
    if (d.mono) {
        if (d.inputOnly) {
            p[2] = area(i);
        } else {
            p[0] = area(i);
            if (d.duplex) p[2] = area(n + i);
        }
    } else {
        if (d.inputOnly) {
            p[2] = area(2 * i);
            p[3] = area(2 * i + 1);
        } else {
            p[0] = area(2 * i);
            p[1] = area(2 * i + 1);
            if (d.duplex) {
                p[2] = area(n + 2 * i);
                p[3] = area(n + 2 * i + 1);
            }
        }
    }
}

}  // namespace

void bufferSwitch(long doubleBufferIndex, ASIOBool /*directProcess*/) {
    DeviceRecord* d = CurrentDeviceRecord();
    if (!d || !d->bufferInfos) return;
    const int h = doubleBufferIndex ? 1 : 0;
    {
        std::lock_guard<std::mutex> table(d->lock);
        for (int i = 0; i < d->countAudioBuffers; ++i) {
            AudioBuffer* sb = d->soundBuffers ? d->soundBuffers[i] : nullptr;
            if (!sb) break;
            FillChannelPointers(*d, i, h);
            if (sb->IsPlaying())
                sb->Exchange(d->channelPointers[0], d->channelPointers[1], d->channelPointers[2],
                             d->channelPointers[3]);
            else
                sb->WriteSilence(d->channelPointers);
        }
    }
    if (d->bOutputReady && d->driver) d->driver->outputReady();
}
