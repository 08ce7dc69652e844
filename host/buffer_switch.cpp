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

// Full scale is 32768 both ways, so a 16-bit value played as float comes back exactly;
// +1.0 and beyond clip to 32767.
inline int16_t FloatTo16(float x) {
    float v = x * 32768.0f;
    v = v == v ? v : 0.0f;  // NaN is silence
    v = v > 32767.0f ? 32767.0f : v;
    v = v < -32768.0f ? -32768.0f : v;
    return static_cast<int16_t>(static_cast<int32_t>(v));  // truncated toward zero
}

// Samples are converted in blocks of fixed length, which the compiler turns into
// vector code, then the rest one at a time. Areas and segments need not be aligned and
// are reached through byte pointers, hence the one-byte-aligned, may-alias types; a
// source and its destination never overlap.
constexpr int kBlock = 32;

template <typename T>
struct Unaligned {
    typedef T __attribute__((aligned(1), may_alias)) type;
};

template <typename Src, typename Dst, typename F>
inline void Block(const typename Unaligned<Src>::type* __restrict s, typename Unaligned<Dst>::type* __restrict d,
                  F f) {
    for (int k = 0; k < kBlock; ++k) d[k] = f(s[k]);
}

template <typename Src, typename Dst, typename F>
inline void Map(const uint8_t* src, uint8_t* dst, int n, F f) {
    const auto* s = reinterpret_cast<const typename Unaligned<Src>::type*>(src);
    auto* d = reinterpret_cast<typename Unaligned<Dst>::type*>(dst);
    int i = 0;
    for (; i + kBlock <= n; i += kBlock) Block<Src, Dst>(s + i, d + i, f);
    for (; i < n; ++i) d[i] = f(s[i]);
}

// Four three-byte samples are three little-endian words: a | b << 24, b >> 8 | c << 16,
// c >> 16 | d << 8.
inline void Pack24x4(const int32_t* v, uint8_t* out) {
    const uint32_t a = static_cast<uint32_t>(v[0]), b = static_cast<uint32_t>(v[1]);
    const uint32_t c = static_cast<uint32_t>(v[2]), d = static_cast<uint32_t>(v[3]);
    auto* w = reinterpret_cast<Unaligned<uint32_t>::type*>(out);
    w[0] = (a & 0xFFFFFFu) | b << 24;
    w[1] = (b >> 8 & 0xFFFFu) | c << 16;
    w[2] = (c >> 16 & 0xFFu) | d << 8;
}

// The four sign-extended samples of three words.
inline void Unpack24x4(const uint8_t* in, int32_t* v) {
    const auto* w = reinterpret_cast<const Unaligned<uint32_t>::type*>(in);
    const uint32_t w0 = w[0], w1 = w[1], w2 = w[2];
    v[0] = static_cast<int32_t>(w0 << 8) >> 8;
    v[1] = static_cast<int32_t>((w0 >> 24 | w1 << 8) << 8) >> 8;
    v[2] = static_cast<int32_t>((w1 >> 16 | w2 << 16) << 8) >> 8;
    v[3] = static_cast<int32_t>(w2) >> 8;
}

// As Map, writing three-byte samples.
template <typename Src, typename F>
inline void MapTo24(const uint8_t* src, uint8_t* dst, int n, F f) {
    const auto* s = reinterpret_cast<const typename Unaligned<Src>::type*>(src);
    int i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        int32_t d[kBlock];
        Block<Src, int32_t>(s + i, d, f);
        for (int k = 0; k < kBlock; k += 4) Pack24x4(d + k, dst + 3 * (i + k));
    }
    for (; i < n; ++i) Store24(dst + 3 * i, f(s[i]));
}

void OutInt16(int a, const uint8_t* src, uint8_t* dst, int n) {
    if (a == 0) {
        std::memcpy(dst, src, static_cast<size_t>(n) * 2);
        return;
    }
    Map<int16_t, int16_t>(src, dst, n, [a](int16_t s) { return static_cast<int16_t>(s >> a); });
}

void OutInt24From16(int a, const uint8_t* src, uint8_t* dst, int n) {
    if (a <= 8) {
        const int shift = 8 - a;
        MapTo24<int16_t>(src, dst, n, [shift](int16_t s) {
            return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(s)) << shift);
        });
    } else {
        const int shift = a - 8;
        MapTo24<int16_t>(src, dst, n, [shift](int16_t s) { return static_cast<int32_t>(s >> shift); });
    }
}

void OutInt24Native(int a, const uint8_t* src, uint8_t* dst, int n) {
    if (a == 0) {
        std::memcpy(dst, src, static_cast<size_t>(n) * 3);
        return;
    }
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        int32_t v[4];
        Unpack24x4(src + 3 * i, v);
        for (int k = 0; k < 4; ++k) v[k] >>= a;
        Pack24x4(v, dst + 3 * i);
    }
    for (; i < n; ++i) Store24(dst + 3 * i, Load24(src + 3 * i) >> a);
}

void OutInt32From16(int a, const uint8_t* src, uint8_t* dst, int n) {
    const int shift = 16 - a;
    Map<int16_t, int32_t>(src, dst, n, [shift](int16_t s) {
        return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(s)) << shift);
    });
}

void OutInt32Native(int a, const uint8_t* src, uint8_t* dst, int n) {
    if (a == 0) {
        std::memcpy(dst, src, static_cast<size_t>(n) * 4);
        return;
    }
    Map<int32_t, int32_t>(src, dst, n, [a](int32_t s) { return s >> a; });
}

void OutFloatFrom16(int a, const uint8_t* src, uint8_t* dst, int n) {
    Map<int16_t, float>(src, dst, n, [a](int16_t s) { return static_cast<float>(s >> a) * (1.0f / 32768.0f); });
}

void OutFloatNative(int a, const uint8_t* src, uint8_t* dst, int n) {
    if (a == 0) {
        std::memcpy(dst, src, static_cast<size_t>(n) * 4);
        return;
    }
    const float g = static_cast<float>(32767 >> a) / 32767.0f;
    Map<float, float>(src, dst, n, [g](float s) { return s * g; });
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
    case kFormatInt24: {
        // The upper two bytes of each sample, four samples from three words at a time.
        int i = 0;
        for (; i + 4 <= samples; i += 4) {
            int32_t v[4];
            Unpack24x4(src + 3 * i, v);
            for (int k = 0; k < 4; ++k) Store<int16_t>(dst + 2 * (i + k), static_cast<int16_t>(v[k] >> 8));
        }
        for (; i < samples; ++i) {
            dst[2 * i] = src[3 * i + 1];
            dst[2 * i + 1] = src[3 * i + 2];
        }
        break;
    }
    case kFormatInt32:
        Map<int32_t, int16_t>(src, dst, samples, [](int32_t s) { return static_cast<int16_t>(s >> 16); });
        break;
    case kFormatFloat32:
        Map<float, int16_t>(src, dst, samples, [](float x) { return FloatTo16(x); });
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
