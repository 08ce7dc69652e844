// Sample conversions between the application's data and the four device types.
#include <gtest/gtest.h>

#include <cmath>
#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "host/buffer_switch.h"

namespace {

std::vector<uint8_t> Out16(int formatClass, int a, std::vector<int16_t> in) {
    const int width = formatClass == kFormatInt16 ? 2 : formatClass == kFormatInt24 ? 3 : 4;
    std::vector<uint8_t> out(in.size() * static_cast<size_t>(width), 0xEE);
    ConvertOutput(formatClass, false, a, reinterpret_cast<const uint8_t*>(in.data()), out.data(),
                  static_cast<int>(in.size()));
    return out;
}

template <typename T>
T At(const std::vector<uint8_t>& bytes, size_t i) {
    T v;
    std::memcpy(&v, bytes.data() + i * sizeof(T), sizeof v);
    return v;
}

// Every case runs on the AVX2 loops (where the processor has them) and on the plain ones.
class Conversion : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (UseAvx2Conversions(GetParam()) != GetParam()) GTEST_SKIP() << "no AVX2 on this processor";
    }
    void TearDown() override { UseAvx2Conversions(true); }
};

INSTANTIATE_TEST_SUITE_P(Loops, Conversion, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Avx2" : "Plain"; });

// Each device type from 16-bit data at several attenuations, against the formulas: Int32
// shifted left by 16 - a, Int24 times 2^(8 - a), Float (sample >> a) / 32768, Int16 shifted
// right by a; then the device's own data, copied or attenuated in its type.
TEST_P(Conversion, OutputOfAWholeBufferKeepsOrderAndEverySample) {
    std::vector<int16_t> ramp(256 + 7);  // whole blocks and a tail
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i * 250 - 32000);
    ramp[0] = -32768, ramp[1] = 32767;  // full scale both ways
    for (int a : {0, 3, 9, 12, 15}) {
        const std::vector<uint8_t> i32 = Out16(kFormatInt32, a, ramp);
        const std::vector<uint8_t> i24 = Out16(kFormatInt24, a, ramp);
        const std::vector<uint8_t> f32 = Out16(kFormatFloat32, a, ramp);
        const std::vector<uint8_t> i16 = Out16(kFormatInt16, a, ramp);
        for (size_t i = 0; i < ramp.size(); ++i) {
            ASSERT_EQ(At<int32_t>(i32, i), static_cast<int32_t>(ramp[i]) * (1 << (16 - a))) << i;
            const int32_t v24 = static_cast<int32_t>(static_cast<uint32_t>(i24[3 * i]) << 8 |
                                                     static_cast<uint32_t>(i24[3 * i + 1]) << 16 |
                                                     static_cast<uint32_t>(i24[3 * i + 2]) << 24) >> 8;
            ASSERT_EQ(v24, a <= 8 ? ramp[i] * (1 << (8 - a)) : ramp[i] >> (a - 8)) << i;
            ASSERT_EQ(At<float>(f32, i), static_cast<float>(ramp[i] >> a) / 32768.0f) << i;
            ASSERT_EQ(At<int16_t>(i16, i), ramp[i] >> a) << i;
        }
    }
    // Native 32-bit data through the same blocks, attenuated.
    std::vector<int32_t> wide(ramp.size());
    std::vector<float> real(ramp.size());
    for (size_t i = 0; i < ramp.size(); ++i) {
        wide[i] = ramp[i] * 65536 + static_cast<int32_t>(i);
        real[i] = static_cast<float>(ramp[i]) / 32768.0f;
    }
    std::vector<int32_t> wideOut(ramp.size());
    std::vector<float> realOut(ramp.size());
    const int n = static_cast<int>(ramp.size());
    ConvertOutput(kFormatInt32, true, 0, reinterpret_cast<uint8_t*>(wide.data()), reinterpret_cast<uint8_t*>(wideOut.data()), n);
    EXPECT_EQ(wideOut, wide);
    ConvertOutput(kFormatInt32, true, 3, reinterpret_cast<uint8_t*>(wide.data()), reinterpret_cast<uint8_t*>(wideOut.data()), n);
    ConvertOutput(kFormatFloat32, true, 3, reinterpret_cast<uint8_t*>(real.data()), reinterpret_cast<uint8_t*>(realOut.data()), n);
    std::vector<uint8_t> packed(3 * ramp.size()), packedOut(3 * ramp.size());
    for (size_t i = 0; i < ramp.size(); ++i) std::memcpy(&packed[3 * i], &wide[i], 3);  // low 24 bits
    ConvertOutput(kFormatInt24, true, 3, packed.data(), packedOut.data(), n);
    const float g = static_cast<float>(32767 >> 3) / 32767.0f;
    for (size_t i = 0; i < ramp.size(); ++i) {
        ASSERT_EQ(wideOut[i], wide[i] >> 3) << i;
        ASSERT_EQ(realOut[i], real[i] * g) << i;
        const int32_t v24 = static_cast<int32_t>(static_cast<uint32_t>(wide[i]) << 8) >> 8;
        int32_t got = 0;
        std::memcpy(&got, &packedOut[3 * i], 3);
        ASSERT_EQ(static_cast<int32_t>(static_cast<uint32_t>(got) << 8) >> 8, v24 >> 3) << i;
    }
}

// Converts `pattern` (device samples of `width` bytes) repeated past one block of the
// vector path, and checks every output against `want` repeated the same way.
void ExpectInput(int formatClass, const std::vector<uint8_t>& pattern, int width, const std::vector<int16_t>& want) {
    const size_t n = want.size();
    std::vector<uint8_t> in;
    while (in.size() < 45 * static_cast<size_t>(width)) in.insert(in.end(), pattern.begin(), pattern.end());
    const int samples = static_cast<int>(in.size()) / width;
    std::vector<int16_t> out(static_cast<size_t>(samples));
    ConvertInput(formatClass, false, in.data(), reinterpret_cast<uint8_t*>(out.data()), samples);
    for (int i = 0; i < samples; ++i) ASSERT_EQ(out[i], want[i % n]) << "class " << formatClass << " sample " << i;
}

template <typename T>
std::vector<uint8_t> Bytes(std::vector<T> values) {
    std::vector<uint8_t> bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

TEST_P(Conversion, InputTo16BitPerDeviceType) {
    ExpectInput(kFormatInt24, {0xAB, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80}, 3, {0x1234, -1, -32768});
    ExpectInput(kFormatInt32, Bytes<int32_t>({0x12345678, -65536, INT32_MIN}), 4, {0x1234, -1, -32768});
    ExpectInput(kFormatInt16, Bytes<int16_t>({-5, 12345}), 2, {-5, 12345});
    // Float: times 32768 (the inverse of the output side, so 16-bit data round-trips
    // exactly), truncated toward zero, clipped beyond full scale.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    ExpectInput(kFormatFloat32,
                Bytes<float>({0.5f, -0.5f, 1.0f, -1.0f, 0.99999f, 1.5f, -1.5f, 100.0f, -2.0f, inf, -inf, nan, 0.0f,
                              1.0f / 32768.0f, -3.0f / 32768.0f, 32767.0f / 32768.0f, 2.9f / 32768.0f}),
                4, {16384, -16384, 32767, -32768, 32767, 32767, -32768, 32767, -32768, 32767, -32768, 0, 0,
                    1, -3, 32767, 2});

    // Native input is the device's own bytes.
    const float in[2] = {0.3f, -0.7f};
    float out[2];
    ConvertInput(kFormatFloat32, true, reinterpret_cast<const uint8_t*>(in), reinterpret_cast<uint8_t*>(out), 2);
    EXPECT_EQ(std::memcmp(in, out, sizeof in), 0);
}

}  // namespace
