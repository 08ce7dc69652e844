// The virtual device on its test clock, driven by a small host: capture, the sample
// types, its settings and its refusals.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "drivers/virtual/sample_types.h"
#include "small_host.h"

using namespace small_host;
using testing_support::IsolatedScope;

namespace {

constexpr long kSamples = 64;

// The float samples of the capture file, read by its fixed layout (58-byte header with a
// fact chunk); the header's format, channels, bits, rate and frame count in fields.
std::vector<float> ReadCapture(const std::filesystem::path& path, std::vector<uint32_t>* fields) {
    const std::string bytes = testing_support::ReadFile(path);
    if (bytes.size() < 58 || bytes.compare(0, 4, "RIFF") || bytes.compare(38, 4, "fact") || bytes.compare(50, 4, "data"))
        return {};
    auto field = [&](size_t at, size_t size) { uint32_t v = 0; std::memcpy(&v, bytes.data() + at, size); return v; };
    EXPECT_EQ(field(4, 4), bytes.size() - 8);
    EXPECT_EQ(field(54, 4), bytes.size() - 58);
    *fields = {field(20, 2), field(22, 2), field(34, 2), field(24, 4), field(46, 4)};
    std::vector<float> samples((bytes.size() - 58) / 4);
    std::memcpy(samples.data(), bytes.data() + 58, samples.size() * 4);
    return samples;
}

// Every played sample reaches the capture file as a float frame (an output not played is
// silence); a restart appends and disposing the buffers completes the file.
TEST(VirtualDevice, CaptureHoldsEveryPlayedSampleInEachServedType) {
    for (long type : {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB, ASIOSTFloat32LSB}) {
        SCOPED_TRACE(type);
        IsolatedScope scope;
        SmallHost host(scope, {Dword("SampleType", type), Dword("Outputs", 3), Dword("Inputs", 0), Dword("SampleRate", 44100),
                               Text("Capture", "capture.wav")});
        ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
        host.infos = {{ASIOFalse, 0, {}}, {ASIOFalse, 2, {}}};  // output 1 is captured as silence
        ASSERT_EQ(host.driver->createBuffers(host.infos.data(), 2, kSamples, &host.callbacks), ASE_OK);
        const long bytes = BytesPerSample(type);
        std::vector<float> expected;  // frames of outputs 0, 1, 2
        uint32_t seed = 1;
        host.onSwitch = [&](long half) {
            for (long i = 0; i < kSamples; ++i) {
                for (long c : {0, 2}) {
                    uint8_t* at = static_cast<uint8_t*>(host.infos[c / 2].buffers[half]) + i * bytes;
                    for (long b = 0; b < bytes; ++b) at[b] = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
                    if (type == ASIOSTFloat32LSB) at[3] &= 0x3F;  // a finite float
                    if (c == 2) expected.push_back(0.0f);
                    expected.push_back(SampleToFloat(type, at));
                }
            }
        };
        ASSERT_EQ(host.driver->start(), ASE_OK);
        ASSERT_EQ(host.clock->AdvanceBufferSwitches(3), 3);
        ASSERT_EQ(host.driver->stop(), ASE_OK);
        std::vector<uint32_t> header;
        EXPECT_EQ(ReadCapture("capture.wav", &header), expected);  // complete after stop
        EXPECT_EQ(header, (std::vector<uint32_t>{3, 3, 32, 44100, 3 * kSamples}));
        ASSERT_EQ(host.driver->start(), ASE_OK);
        ASSERT_EQ(host.clock->AdvanceBufferSwitches(2), 2);
        ASSERT_EQ(host.driver->disposeBuffers(), ASE_OK);
        EXPECT_EQ(ReadCapture("capture.wav", &header), expected);
        EXPECT_EQ(header.back(), 5u * kSamples);
    }
}

TEST(VirtualDevice, InputSamplesAreWrittenInTheirOwnWidthRoundedAndClipped) {
    struct Case { ASIOSampleType type; float in, out; };
    for (const Case& c : {Case{ASIOSTInt16LSB, -0.5f, -0.5f}, Case{ASIOSTInt16LSB, 2.0f, 32767 / 32768.0f},
                          Case{ASIOSTInt24LSB, -2.0f, -1.0f}, Case{ASIOSTInt32LSB, 0.25f, 0.25f},
                          Case{ASIOSTFloat32LSB, 1.5f, 1.5f}}) {
        SCOPED_TRACE(c.type);
        uint8_t bytes[8];
        std::memset(bytes, 0xAA, sizeof bytes);
        FloatToSample(c.type, c.in, bytes);
        EXPECT_EQ(SampleToFloat(c.type, bytes), c.out);
        EXPECT_TRUE(std::all_of(bytes + BytesPerSample(c.type), bytes + 8, [](uint8_t b) { return b == 0xAA; }))
            << "written past the sample";
    }
}

TEST(VirtualDevice, FailInitAndUnusableSettingsMakeInitFailWithAMessage) {
    const std::pair<std::string, const char*> cases[] = {
        {Text("FailInit", "The virtual cable is unplugged"), "The virtual cable is unplugged"},
        {Text("Input", "noise"), "Setting Input must be loopback, silence or tone"},
        {Text("Outputs", "2"), "Setting Outputs must be a dword"},
        {Dword("Inputs", 100000), "Setting Inputs is out of range: 100000"},
        {Dword("MinSize", 4096), "Setting BufferSize must lie between MinSize and MaxSize: 512"},
    };
    for (const auto& [values, message] : cases) {
        IsolatedScope scope;
        SmallHost host(scope, {values});
        ASSERT_EQ(host.created, S_OK);
        char text[128] = "unchanged";
        EXPECT_EQ(host.driver->init(nullptr), ASIOFalse) << message;
        host.driver->getErrorMessage(text);
        EXPECT_STREQ(text, message);
        EXPECT_EQ(host.CreateBuffers(1, 0, 512), ASE_NotPresent);
    }
}

// Refused buffer requests leave nothing behind; from inside bufferSwitch, stop and
// disposeBuffers refuse rather than wait for themselves.
TEST(VirtualDevice, RefusesBadArguments) {
    IsolatedScope scope;
    SmallHost host(scope, {Dword("Outputs", 4), Dword("Inputs", 2)});
    EXPECT_EQ(host.driver->start(), ASE_NotPresent);  // before init
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    for (auto [channel, input] : {std::pair<long, ASIOBool>{-1, ASIOFalse}, {4, ASIOFalse}, {2, ASIOTrue}}) {
        ASIOChannelInfo info{channel, input, ASIOTrue, -1, -1, {}};  // out fields set to what no answer gives
        EXPECT_EQ(host.driver->getChannelInfo(&info), ASE_InvalidParameter) << channel;
    }
    ASIOBufferInfo infos[3] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}, {ASIOTrue, 0, {}}};
    for (long samples : {32, 4096, 100})  // below min, above max, not a power of two
        EXPECT_EQ(host.driver->createBuffers(infos, 3, samples, &host.callbacks), ASE_InvalidMode) << samples;
    for (ASIOBufferInfo bad : {ASIOBufferInfo{ASIOTrue, 2, {}}, {ASIOFalse, 1, {}}}) {  // no such input, an output twice
        infos[2] = bad;
        EXPECT_EQ(host.driver->createBuffers(infos, 3, 512, &host.callbacks), ASE_InvalidParameter);
    }
    infos[2] = {ASIOTrue, 1, {}};
    ASSERT_EQ(host.driver->createBuffers(infos, 3, 256, &host.callbacks), ASE_OK);
    EXPECT_EQ(host.driver->createBuffers(infos, 3, 256, &host.callbacks), ASE_InvalidMode);  // twice
    host.onSwitch = [&](long) {
        EXPECT_EQ(host.driver->stop(), ASE_InvalidMode);
        EXPECT_EQ(host.driver->disposeBuffers(), ASE_InvalidMode);
    };
    ASSERT_EQ(host.driver->start(), ASE_OK);
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(2), 2);
}

}  // namespace
