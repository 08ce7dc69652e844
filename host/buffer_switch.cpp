#include "host/buffer_switch.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define BW_X86 1
#endif

#include "host/asio_buffers.h"

namespace {

// Every conversion is inlined into two copies of each entry point, one for the baseline
// processor and one built for AVX2 and chosen at run time, where the same loops run on
// vectors twice as wide. (No resolver functions: those run too early for the thread
// sanitizer.)
#define BW_INLINE __attribute__((always_inline)) inline

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
BW_INLINE void Block(const typename Unaligned<Src>::type* __restrict s, typename Unaligned<Dst>::type* __restrict d,
                  F f) {
    for (int k = 0; k < kBlock; ++k) d[k] = f(s[k]);
}

template <typename Src, typename Dst, typename F>
BW_INLINE void Map(const uint8_t* src, uint8_t* dst, int n, F f) {
    const auto* s = reinterpret_cast<const typename Unaligned<Src>::type*>(src);
    auto* d = reinterpret_cast<typename Unaligned<Dst>::type*>(dst);
    int i = 0;
    for (; i + kBlock <= n; i += kBlock) Block<Src, Dst>(s + i, d + i, f);
    for (; i < n; ++i) d[i] = f(s[i]);
}

// Four three-byte samples are three little-endian words: a | b << 24, b >> 8 | c << 16,
// c >> 16 | d << 8.
BW_INLINE void Pack24x4(const int32_t* v, uint8_t* out) {
    const uint32_t a = static_cast<uint32_t>(v[0]), b = static_cast<uint32_t>(v[1]);
    const uint32_t c = static_cast<uint32_t>(v[2]), d = static_cast<uint32_t>(v[3]);
    auto* w = reinterpret_cast<Unaligned<uint32_t>::type*>(out);
    w[0] = (a & 0xFFFFFFu) | b << 24;
    w[1] = (b >> 8 & 0xFFFFu) | c << 16;
    w[2] = (c >> 16 & 0xFFu) | d << 8;
}

// The four sign-extended samples of three words.
BW_INLINE void Unpack24x4(const uint8_t* in, int32_t* v) {
    const auto* w = reinterpret_cast<const Unaligned<uint32_t>::type*>(in);
    const uint32_t w0 = w[0], w1 = w[1], w2 = w[2];
    v[0] = static_cast<int32_t>(w0 << 8) >> 8;
    v[1] = static_cast<int32_t>((w0 >> 24 | w1 << 8) << 8) >> 8;
    v[2] = static_cast<int32_t>((w1 >> 16 | w2 << 16) << 8) >> 8;
    v[3] = static_cast<int32_t>(w2) >> 8;
}

// As Map, writing three-byte samples.
template <typename Src, typename F>
BW_INLINE void MapTo24(const uint8_t* src, uint8_t* dst, int n, F f) {
    const auto* s = reinterpret_cast<const typename Unaligned<Src>::type*>(src);
    int i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        int32_t d[kBlock];
        Block<Src, int32_t>(s + i, d, f);
        for (int k = 0; k < kBlock; k += 4) Pack24x4(d + k, dst + 3 * (i + k));
    }
    for (; i < n; ++i) Store24(dst + 3 * i, f(s[i]));
}

#if BW_X86
// AVX2 loops for the three-byte type and float input, which the compiler does not find
// by itself: byte shuffles pack and unpack eight three-byte samples at a time. Each
// returns how many samples it did and leaves the rest to the plain loops, so that no
// 32-byte load or store reaches past the end of either area. The stores overlap: each
// writes 24 bytes and 8 that the next one writes over.

// Within each 128-bit half: four 32-bit lanes to their low three bytes, in the low 12
// bytes; then the two halves' 12 bytes joined into the low 24.
#define BW_PACK24 _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, \
                                   0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1)
#define BW_JOIN24 _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7)
// The reverse: 24 bytes to two halves of 12, then each three-byte sample into the upper
// three bytes of a lane.
#define BW_SPLIT24 _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6)
#define BW_UNPACK24 _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, \
                                     -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11)

__attribute__((target("avx2"))) inline void Store24x8(uint8_t* p, __m256i lanes) {
    const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(lanes, BW_PACK24), BW_JOIN24);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), packed);
}

__attribute__((target("avx2"))) inline __m256i Load24x8(const uint8_t* p) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    return _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(x, BW_SPLIT24), BW_UNPACK24);
}

// 16-bit samples times 2^(8 - a) (a <= 8) or divided by 2^(a - 8) into three bytes.
__attribute__((target("avx2"))) inline int OutInt24From16Avx2(int a, const uint8_t* src, uint8_t* dst, int n) {
    const __m128i left = _mm_cvtsi32_si128(a <= 8 ? 8 - a : 0);
    const __m128i right = _mm_cvtsi32_si128(a <= 8 ? 0 : a - 8);
    int i = 0;
    for (; 3 * i + 32 <= 3 * n; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
        const __m256i v = _mm256_sra_epi32(_mm256_sll_epi32(_mm256_cvtepi16_epi32(x), left), right);
        Store24x8(dst + 3 * i, v);
    }
    return i;
}

// Three-byte samples shifted right by a.
__attribute__((target("avx2"))) inline int OutInt24NativeAvx2(int a, const uint8_t* src, uint8_t* dst, int n) {
    const __m128i shift = _mm_cvtsi32_si128(8 + a);
    int i = 0;
    for (; 3 * i + 32 <= 3 * n; i += 8) Store24x8(dst + 3 * i, _mm256_sra_epi32(Load24x8(src + 3 * i), shift));
    return i;
}

// The upper two bytes of each three-byte sample, sixteen at a time.
__attribute__((target("avx2"))) inline int InInt24Avx2(const uint8_t* src, uint8_t* dst, int n) {
    int i = 0;
    for (; 3 * i + 56 <= 3 * n; i += 16) {
        const __m256i a = _mm256_srai_epi32(Load24x8(src + 3 * i), 16);
        const __m256i b = _mm256_srai_epi32(Load24x8(src + 3 * i + 24), 16);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 2 * i), packed);
    }
    return i;
}

// FloatTo16 on sixteen samples at a time: NaN is masked to 0 before the clamps, and
// the conversion truncates toward zero.
__attribute__((target("avx2"))) inline int InFloatAvx2(const uint8_t* src, uint8_t* dst, int n) {
    const __m256 scale = _mm256_set1_ps(32768.0f), top = _mm256_set1_ps(32767.0f), bottom = _mm256_set1_ps(-32768.0f);
    auto convert = [&](const uint8_t* p) __attribute__((target("avx2"))) {
        __m256 v = _mm256_mul_ps(_mm256_loadu_ps(reinterpret_cast<const float*>(p)), scale);
        v = _mm256_and_ps(v, _mm256_cmp_ps(v, v, _CMP_ORD_Q));
        return _mm256_cvttps_epi32(_mm256_max_ps(_mm256_min_ps(v, top), bottom));
    };
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i packed = _mm256_packs_epi32(convert(src + 4 * i), convert(src + 4 * i + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 2 * i), _mm256_permute4x64_epi64(packed, 0xD8));
    }
    return i;
}
#endif

BW_INLINE void OutInt16(int a, const uint8_t* src, uint8_t* dst, int n) {
    Map<int16_t, int16_t>(src, dst, n, [a](int16_t s) { return static_cast<int16_t>(s >> a); });
}

template <bool kAvx2>
BW_INLINE void OutInt24From16(int a, const uint8_t* src, uint8_t* dst, int n) {
#if BW_X86
    if constexpr (kAvx2) {
        const int done = OutInt24From16Avx2(a, src, dst, n);
        src += 2 * done;
        dst += 3 * done;
        n -= done;
    }
#endif
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

template <bool kAvx2>
BW_INLINE void OutInt24Native(int a, const uint8_t* src, uint8_t* dst, int n) {
    int i = 0;
#if BW_X86
    if constexpr (kAvx2) i = OutInt24NativeAvx2(a, src, dst, n);
#endif
    for (; i + 4 <= n; i += 4) {
        int32_t v[4];
        Unpack24x4(src + 3 * i, v);
        for (int k = 0; k < 4; ++k) v[k] >>= a;
        Pack24x4(v, dst + 3 * i);
    }
    for (; i < n; ++i) Store24(dst + 3 * i, Load24(src + 3 * i) >> a);
}

BW_INLINE void OutInt32From16(int a, const uint8_t* src, uint8_t* dst, int n) {
    const int shift = 16 - a;
    Map<int16_t, int32_t>(src, dst, n, [shift](int16_t s) {
        return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(s)) << shift);
    });
}

BW_INLINE void OutInt32Native(int a, const uint8_t* src, uint8_t* dst, int n) {
    Map<int32_t, int32_t>(src, dst, n, [a](int32_t s) { return s >> a; });
}

BW_INLINE void OutFloatFrom16(int a, const uint8_t* src, uint8_t* dst, int n) {
    Map<int16_t, float>(src, dst, n, [a](int16_t s) { return static_cast<float>(s >> a) * (1.0f / 32768.0f); });
}

BW_INLINE void OutFloatNative(int a, const uint8_t* src, uint8_t* dst, int n) {
    const float g = static_cast<float>(32767 >> a) / 32767.0f;
    Map<float, float>(src, dst, n, [g](float s) { return s * g; });
}

template <bool kAvx2>
BW_INLINE void Output(FormatClass format, bool native, int a, const uint8_t* src, uint8_t* dst, int samples) {
    if (a < 0) a = 0;
    if (a > 15) a = 15;
    switch (format) {
    case FormatClass::Int16: OutInt16(a, src, dst, samples); break;
    case FormatClass::Int24:
        native ? OutInt24Native<kAvx2>(a, src, dst, samples) : OutInt24From16<kAvx2>(a, src, dst, samples);
        break;
    case FormatClass::Int32: native ? OutInt32Native(a, src, dst, samples) : OutInt32From16(a, src, dst, samples); break;
    case FormatClass::Float32: native ? OutFloatNative(a, src, dst, samples) : OutFloatFrom16(a, src, dst, samples); break;
    default: break;
    }
}

template <bool kAvx2>
BW_INLINE void Input(FormatClass format, const uint8_t* src, uint8_t* dst, int samples) {
    switch (format) {
    case FormatClass::Int24: {
        // The upper two bytes of each sample, four samples from three words at a time.
        int i = 0;
#if BW_X86
        if constexpr (kAvx2) i = InInt24Avx2(src, dst, samples);
#endif
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
    case FormatClass::Int32:
        Map<int32_t, int16_t>(src, dst, samples, [](int32_t s) { return static_cast<int16_t>(s >> 16); });
        break;
    case FormatClass::Float32: {
        int i = 0;
#if BW_X86
        if constexpr (kAvx2) i = InFloatAvx2(src, dst, samples);
#endif
        Map<float, int16_t>(src + 4 * i, dst + 2 * i, samples - i, [](float x) { return FloatTo16(x); });
        break;
    }
    default: break;
    }
}

#if BW_X86
std::atomic<bool> gUseAvx2{__builtin_cpu_supports("avx2") != 0};

__attribute__((target("avx2"))) void OutputAvx2(FormatClass format, bool native, int a, const uint8_t* src,
                                                uint8_t* dst, int samples) {
    Output<true>(format, native, a, src, dst, samples);
}

__attribute__((target("avx2"))) void InputAvx2(FormatClass format, const uint8_t* src, uint8_t* dst, int samples) {
    Input<true>(format, src, dst, samples);
}
#endif

}  // namespace

bool UseAvx2Conversions(bool use) {
#if BW_X86
    gUseAvx2.store(use && __builtin_cpu_supports("avx2"), std::memory_order_relaxed);
    return gUseAvx2.load(std::memory_order_relaxed);
#else
    (void)use;
    return false;
#endif
}

void ConvertOutput(int formatClass, bool native, int a, const uint8_t* src, uint8_t* dst, int samples) {
    const FormatClass format = static_cast<FormatClass>(formatClass);
    if (a <= 0 && (native || format == FormatClass::Int16)) {  // the device's own type, unattenuated
        if (formatClass >= kFormatInt16 && formatClass <= kFormatFloat32)
            std::memcpy(dst, src, size_t(samples) * size_t(BytesPerDeviceSample(format)));
        return;
    }
#if BW_X86
    if (gUseAvx2.load(std::memory_order_relaxed)) return OutputAvx2(format, native, a, src, dst, samples);
#endif
    Output<false>(format, native, a, src, dst, samples);
}

void ConvertInput(int formatClass, bool native, const uint8_t* src, uint8_t* dst, int samples) {
    const FormatClass format = static_cast<FormatClass>(formatClass);
    if (native || format == FormatClass::Int16) {
        std::memcpy(dst, src, size_t(samples) * size_t(BytesPerDeviceSample(format)));
        return;
    }
#if BW_X86
    if (gUseAvx2.load(std::memory_order_relaxed)) return InputAvx2(format, src, dst, samples);
#endif
    Input<false>(format, src, dst, samples);
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
