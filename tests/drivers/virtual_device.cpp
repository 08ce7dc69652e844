// The virtual device on its test clock, driven by a small host: loopback, capture, the
// sample types, the tone, its settings and its refusals.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "drivers/virtual/sample_types.h"
#include "small_host.h"

using namespace small_host;
using testing_support::IsolatedScope;

namespace {

constexpr long kSamples = 64;

int16_t Int16Of(const void* half, long i) {
    int16_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(half) + 2 * i, 2);
    return v;
}

ASIOChannelInfo Channel(long channel, ASIOBool input) {
    return {channel, input, ASIOTrue, -1, -1, {}};  // out fields set to what no answer gives
}

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

TEST(VirtualDevice, TestClockAlternatesHalvesAndLoopsOutputsBack) {
    IsolatedScope scope;
    SmallHost host(scope, {Dword("SampleType", ASIOSTInt16LSB), Dword("Outputs", 2), Dword("Inputs", 3)});
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(3), 0);  // no buffers yet
    ASSERT_EQ(host.CreateBuffers(2, 3, kSamples), ASE_OK);  // infos: out 0, out 1, in 0, in 1, in 2
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(3), 0);  // not started
    std::vector<long long> positions;
    long k = 0;  // switches since the last start
    int wrong = 0;
    host.onSwitch = [&](long half) {
        ASIOSamples samples;
        ASIOTimeStamp stamp;
        EXPECT_EQ(host.driver->getSamplePosition(&samples, &stamp), ASE_OK);
        positions.push_back(static_cast<long long>(samples.hi) << 32 | samples.lo);
        // Inputs hear the outputs of the switch before; input 2 has no output, the first
        // switch of a start has no past.
        for (long c = 0; c < 3; ++c)
            for (long i = 0; i < kSamples; ++i)
                wrong += Int16Of(host.infos[2 + c].buffers[half], i) !=
                         (c < 2 && k > 0 ? static_cast<int16_t>(1000 * (k - 1) + 100 * c + i) : 0);
        for (long c = 0; c < 2; ++c)
            for (long i = 0; i < kSamples; ++i) {
                const auto v = static_cast<int16_t>(1000 * k + 100 * c + i);
                std::memcpy(static_cast<uint8_t*>(host.infos[c].buffers[half]) + 2 * i, &v, 2);
            }
        ++k;
    };
    ASSERT_EQ(host.driver->start(), ASE_OK);
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(5), 5);
    EXPECT_EQ(positions, (std::vector<long long>{0, 64, 128, 192, 256}));
    ASSERT_EQ(host.driver->stop(), ASE_OK);
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(2), 0);
    k = 0;
    ASSERT_EQ(host.driver->start(), ASE_OK);  // a restart begins at half 0, with the old outputs gone
    EXPECT_EQ(host.clock->AdvanceBufferSwitches(2), 2);
    EXPECT_EQ(host.Halves(), (std::vector<long>{0, 1, 0, 1, 0, 0, 1}));
    EXPECT_EQ(host.clock->BufferSwitchCount(), 7);
    EXPECT_EQ(wrong, 0);
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

// The tone input: a 997 Hz sine at -6 dBFS on every input, continuous across switches.
TEST(VirtualDevice, ToneInput) {
    IsolatedScope scope;
    SmallHost host(scope, {Dword("SampleType", ASIOSTFloat32LSB), Dword("Inputs", 2), Text("Input", "tone")});
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    ASSERT_EQ(host.CreateBuffers(0, 2, 512), ASE_OK);
    std::vector<float> tone;
    host.onSwitch = [&](long half) {
        const float* in = static_cast<const float*>(host.infos[0].buffers[half]);
        tone.insert(tone.end(), in, in + 512);
        EXPECT_EQ(std::memcmp(in, host.infos[1].buffers[half], 2048), 0);
    };
    ASSERT_EQ(host.driver->start(), ASE_OK);
    ASSERT_EQ(host.clock->AdvanceBufferSwitches(94), 94);  // just over a second at 48 kHz
    int rising = 0;
    float peak = 0, largestStep = 0;
    for (size_t n = 1; n < 48001; ++n) {
        rising += tone[n - 1] < 0 && tone[n] >= 0;
        peak = std::max(peak, std::fabs(tone[n]));
        largestStep = std::max(largestStep, std::fabs(tone[n] - tone[n - 1]));
    }
    EXPECT_NEAR(rising, 997, 1);
    EXPECT_NEAR(peak, 0.50119f, 0.0005f);
    EXPECT_LT(largestStep, 0.50119f * 2 * 3.14159f * 997 / 48000 * 1.01f);  // no jump between switches
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
    for (ASIOChannelInfo info : {Channel(-1, ASIOFalse), Channel(4, ASIOFalse), Channel(2, ASIOTrue)})
        EXPECT_EQ(host.driver->getChannelInfo(&info), ASE_InvalidParameter) << info.channel;
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

TEST(VirtualDevice, EachClassReadsItsOwnKeyAndTheBuildRegistersTheDefault) {
    IsolatedScope scope;
    const char* second = "{a1b2c3d4-0000-4000-8000-00000000abcd}";
    const char* unregistered = "{A1B2C3D4-0000-4000-8000-00000000ABCE}";
    scope.WriteMachineHive("REGEDIT4\n\n" + DeviceEntry({Dword("Outputs", 4)}) +
                           DeviceEntry({Dword("Outputs", 8), Dword("Inputs", 1), Dword("FirstGroupOutputs", 1),
                                        Dword("SampleType", ASIOSTInt32MSB), Dword("SampleRate", 96000), Dword("BufferSize", 96),
                                        Dword("Granularity", 32), Text("description", "Eight Out")},
                                       second, "Second Device") +
                           "[HKEY_CLASSES_ROOT\\clsid\\" + unregistered + "\\InprocServer32]\n@=\"" + BELLWAVE_VIRTUAL_DRIVER + "\"\n");
    EXPECT_EQ(SmallHost(unregistered).created, CLASS_E_CLASSNOTAVAILABLE);
    const struct {
        const char* clsid;
        const char* name;
        std::vector<long> numbers;  // inputs, outputs, buffer sizes, granularity, rate
        long type, lastOutputGroup;
    } devices[] = {{kClsid, "Test Device", {2, 4, 64, 2048, 512, -1, 48000}, ASIOSTInt32LSB, 0},
                   {second, "Eight Out", {1, 8, 64, 2048, 96, 32, 96000}, ASIOSTInt32MSB, 1},
                   {BELLWAVE_VIRTUAL_CLSID, "Bellwave Virtual Device", {2, 2, 64, 2048, 512, -1, 48000}, ASIOSTInt32LSB, 0}};
    for (const auto& d : devices) {
        SCOPED_TRACE(d.name);
        if (&d == &devices[2])  // the build tree's own registration
            setenv("BELLWAVE_REGISTRY_DIR", (testing_support::BuildDir() / "share" / "bellwave").c_str(), 1);
        SmallHost host(d.clsid);
        ASSERT_EQ(host.created, S_OK);
        ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
        long in = 0, out = 0, minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
        ASIOSampleRate rate = 0;
        host.driver->getChannels(&in, &out);
        host.driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
        host.driver->getSampleRate(&rate);
        EXPECT_EQ((std::vector<long>{in, out, minSize, maxSize, preferred, granularity, static_cast<long>(rate)}), d.numbers);
        char text[32];
        host.driver->getDriverName(text);
        EXPECT_STREQ(text, d.name);
        ASIOChannelInfo info = Channel(out - 1, ASIOFalse);
        ASSERT_EQ(host.driver->getChannelInfo(&info), ASE_OK);
        EXPECT_TRUE(info.channelGroup == d.lastOutputGroup && info.isActive == ASIOFalse);
        EXPECT_EQ(info.type, d.type);  // served as is, for the host to refuse one it cannot use
        EXPECT_EQ(info.name, "Output " + std::to_string(out));
        EXPECT_EQ(host.CreateBuffers(1, 0, preferred), d.type == ASIOSTInt32MSB ? ASE_InvalidMode : ASE_OK);
        EXPECT_EQ(host.clock->AdvanceBufferSwitches(1), 0);  // a real-time device has no test clock
    }
}

}  // namespace
