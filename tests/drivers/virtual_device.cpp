// The virtual device on its test clock, driven by a small host.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <tuple>

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
    if (bytes.size() < 58 || bytes.compare(0, 4, "RIFF") || bytes.compare(8, 8, "WAVEfmt ") ||
        bytes.compare(38, 4, "fact") || bytes.compare(50, 4, "data"))
        return {};
    auto field = [&](size_t at, size_t size) { uint32_t v = 0; std::memcpy(&v, bytes.data() + at, size); return v; };
    EXPECT_EQ(field(4, 4), bytes.size() - 8);
    EXPECT_EQ(field(54, 4), bytes.size() - 58);
    *fields = {field(20, 2), field(22, 2), field(34, 2), field(24, 4), field(46, 4)};
    std::vector<float> samples((bytes.size() - 58) / 4);
    std::memcpy(samples.data(), bytes.data() + 58, samples.size() * 4);
    return samples;
}

// Writes the host's sample i of output c at switch k, bytes wide, and gives its float
// value; full scale both ways first. Integers are little-endian with the sample number in
// their low bytes (32-bit ones keep their low 8 bits zero, as a float holds them exactly).
float WriteSample(long type, long bytes, long k, long i, long c, uint8_t* at) {
    const int32_t v = i == 0 ? -32768 : i == 1 ? 32767 : static_cast<int32_t>((k * 7919 + i * 263 + c * 4099) % 65536) - 32768;
    const float f = std::sin(static_cast<float>(v)) * 1.5f;
    if (type == ASIOSTFloat32LSB) return std::memcpy(at, &f, 4), f;
    const int shift = 8 * static_cast<int>(bytes - 2);
    const int32_t w = v * (1 << shift) + (shift > 0 ? (static_cast<int32_t>(i) & 0xff) << (shift - 8) : 0);
    std::memcpy(at, &w, static_cast<size_t>(bytes));
    return static_cast<float>(w / std::ldexp(1.0, 8 * static_cast<int>(bytes) - 1));
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

TEST(VirtualDevice, CaptureHoldsEveryPlayedSampleInEachServedType) {
    for (long type : {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB, ASIOSTFloat32LSB}) {
        SCOPED_TRACE(type);
        IsolatedScope scope;
        SmallHost host(scope, {Dword("SampleType", type), Dword("Outputs", 3), Dword("Inputs", 0), Dword("SampleRate", 44100),
                               Text("Capture", "capture.wav")});
        ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
        host.infos = {{ASIOFalse, 0, {}}, {ASIOFalse, 2, {}}};  // output 1 is captured as silence
        ASSERT_EQ(host.driver->createBuffers(host.infos.data(), 2, kSamples, &host.callbacks), ASE_OK);
        std::vector<float> expected;  // frames of outputs 0, 1, 2
        const long bytes = type == ASIOSTInt16LSB ? 2 : type == ASIOSTInt24LSB ? 3 : 4;
        host.onSwitch = [&](long half) {
            const long k = static_cast<long>(expected.size()) / (kSamples * 3);
            expected.resize((k + 1) * kSamples * 3);
            for (long i = 0; i < kSamples; ++i)
                for (long c : {0, 2})
                    expected[(k * kSamples + i) * 3 + c] =
                        WriteSample(type, bytes, k, i, c, static_cast<uint8_t*>(host.infos[c / 2].buffers[half]) + i * bytes);
        };
        ASSERT_EQ(host.driver->start(), ASE_OK);
        ASSERT_EQ(host.clock->AdvanceBufferSwitches(3), 3);
        ASSERT_EQ(host.driver->stop(), ASE_OK);
        std::vector<uint32_t> header;
        const std::vector<float> samples = ReadCapture("capture.wav", &header);  // complete after stop
        EXPECT_EQ(header, (std::vector<uint32_t>{3, 3, 32, 44100, 3 * kSamples}));
        ASSERT_EQ(samples.size(), expected.size());
        for (size_t s = 0; s < expected.size(); ++s)
            ASSERT_EQ(samples[s], expected[s]) << "frame " << s / 3 << " channel " << s % 3;
        EXPECT_TRUE(type == ASIOSTFloat32LSB || samples[0] == -1.0f);
        // A restart appends; disposing the buffers closes the file.
        ASSERT_EQ(host.driver->start(), ASE_OK);
        ASSERT_EQ(host.clock->AdvanceBufferSwitches(2), 2);
        ASSERT_EQ(host.driver->disposeBuffers(), ASE_OK);
        EXPECT_EQ(ReadCapture("capture.wav", &header).size(), 5u * kSamples * 3);
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

TEST(VirtualDevice, ToneAndSilenceInputs) {
    for (long type : {ASIOSTInt16LSB, ASIOSTFloat32LSB}) {
        SCOPED_TRACE(type);
        IsolatedScope scope;
        SmallHost host(scope, {Dword("SampleType", type), Dword("Inputs", 2), Text("Input", "tone")});
        ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
        ASSERT_EQ(host.CreateBuffers(0, 2, 512), ASE_OK);
        std::vector<float> tone;
        host.onSwitch = [&](long half) {
            const void* in = host.infos[0].buffers[half];
            for (long i = 0; i < 512; ++i)
                tone.push_back(type == ASIOSTInt16LSB ? Int16Of(in, i) / 32768.0f : static_cast<const float*>(in)[i]);
            EXPECT_EQ(std::memcmp(in, host.infos[1].buffers[half], type == ASIOSTInt16LSB ? 1024 : 2048), 0);
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
        EXPECT_NEAR(peak, 0.50119f, 0.0005f);                                   // -6 dBFS
        EXPECT_LT(largestStep, 0.50119f * 2 * 3.14159f * 997 / 48000 * 1.01f);  // no jump between switches
    }
    IsolatedScope scope;
    SmallHost host(scope, {Text("Input", "silence")});
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    ASSERT_EQ(host.CreateBuffers(2, 2, kSamples), ASE_OK);
    bool allZero = true;
    host.onSwitch = [&](long half) {
        for (auto& info : host.infos) {
            const auto* p = static_cast<const uint8_t*>(info.buffers[half]);
            if (info.isInput) allZero = allZero && std::all_of(p, p + 4 * kSamples, [](uint8_t b) { return b == 0; });
            std::memset(info.buffers[half], 0x5a, 4 * kSamples);  // outputs playing, inputs scribbled on
        }
    };
    ASSERT_EQ(host.driver->start(), ASE_OK);
    ASSERT_EQ(host.clock->AdvanceBufferSwitches(4), 4);
    EXPECT_TRUE(allZero);
}

TEST(VirtualDevice, FailInitAndUnusableSettingsMakeInitFailWithAMessage) {
    const std::pair<std::string, const char*> cases[] = {
        {Text("FailInit", "The virtual cable is unplugged"), "The virtual cable is unplugged"},
        {Text("Input", "noise"), "Setting Input must be loopback, silence or tone"},
        {Text("Clock", "fast"), "Setting Clock must be realtime or test"},
        {Text("Outputs", "2"), "Setting Outputs must be a dword"},
        {Dword("Inputs", 100000), "Setting Inputs is out of range: 100000"},
        {Dword("Speed", 0), "Setting Speed is out of range: 0"},
        {Dword("BufferSize", 4096), "Setting BufferSize must lie between MinSize and MaxSize: 4096"},
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
        long in = 0, out = 0;
        EXPECT_EQ(host.driver->getChannels(&in, &out), ASE_NotPresent);
        EXPECT_EQ(host.CreateBuffers(1, 0, 512), ASE_NotPresent);
    }
}

TEST(VirtualDevice, RefusesBadArguments) {
    IsolatedScope scope;
    SmallHost host(scope, {Dword("Outputs", 4), Dword("Inputs", 2)});
    long value = 0;
    EXPECT_EQ(host.driver->getChannels(&value, &value), ASE_NotPresent);  // before init
    ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
    EXPECT_EQ(host.driver->getChannels(nullptr, &value), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->getLatencies(&value, nullptr), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->getBufferSize(&value, &value, nullptr, &value), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->getSampleRate(nullptr), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->getChannelInfo(nullptr), ASE_InvalidParameter);
    for (ASIOChannelInfo info : {Channel(-1, ASIOFalse), Channel(4, ASIOFalse), Channel(2, ASIOTrue)})
        EXPECT_EQ(host.driver->getChannelInfo(&info), ASE_InvalidParameter) << info.channel;
    EXPECT_EQ(host.driver->start(), ASE_NotPresent);
    EXPECT_EQ(host.driver->disposeBuffers(), ASE_InvalidMode);

    ASIOBufferInfo infos[7] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}, {ASIOTrue, 0, {}}};
    ASIOCallbacks noSwitch{};
    EXPECT_EQ(host.driver->createBuffers(nullptr, 1, 512, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->createBuffers(infos, 1, 512, nullptr), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->createBuffers(infos, 1, 512, &noSwitch), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->createBuffers(infos, 0, 512, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(host.driver->createBuffers(infos, 7, 512, &host.callbacks), ASE_InvalidParameter);
    for (long samples : {32, 4096, 100, 0, -512})  // below min, above max, not a power of two
        EXPECT_EQ(host.driver->createBuffers(infos, 3, samples, &host.callbacks), ASE_InvalidMode) << samples;
    for (ASIOBufferInfo bad : {ASIOBufferInfo{ASIOTrue, 2, {}}, {ASIOFalse, 1, {}}}) {  // no such input, an output twice
        infos[2] = bad;
        EXPECT_EQ(host.driver->createBuffers(infos, 3, 512, &host.callbacks), ASE_InvalidParameter);
    }
    infos[2] = {ASIOTrue, 1, {}};  // the refusals left nothing behind
    ASSERT_EQ(host.driver->createBuffers(infos, 3, 256, &host.callbacks), ASE_OK);
    for (int c = 0; c < 3; ++c) EXPECT_TRUE(infos[c].buffers[0] && infos[c].buffers[1] != infos[c].buffers[0]);
    EXPECT_EQ(host.driver->createBuffers(infos, 3, 256, &host.callbacks), ASE_InvalidMode);  // twice
    ASIOChannelInfo active = Channel(1, ASIOTrue);
    ASSERT_EQ(host.driver->getChannelInfo(&active), ASE_OK);
    EXPECT_EQ(active.isActive, ASIOTrue);
    // From inside bufferSwitch, stop and disposeBuffers refuse rather than wait for themselves.
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
        const std::string lastOutput = "Output " + std::to_string(out);
        for (auto [channel, isInput, group, label] : {std::tuple{0L, ASIOFalse, 0L, std::string("Output 1")},
                                                      {out - 1, ASIOFalse, d.lastOutputGroup, lastOutput},
                                                      {0L, ASIOTrue, 0L, std::string("Input 1")}}) {
            ASIOChannelInfo info = Channel(channel, isInput);
            ASSERT_EQ(host.driver->getChannelInfo(&info), ASE_OK);
            EXPECT_TRUE(info.channelGroup == group && info.isActive == ASIOFalse) << label;
            EXPECT_EQ(info.type, d.type);  // served as is, for the host to refuse one it cannot use
            EXPECT_EQ(info.name, label);
        }
        EXPECT_EQ(host.CreateBuffers(1, 0, preferred), d.type == ASIOSTInt32MSB ? ASE_InvalidMode : ASE_OK);
        void* other = &text;
        EXPECT_EQ(host.driver->QueryInterface(ParseClsid(unregistered), &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
        EXPECT_EQ(host.clock->AdvanceBufferSwitches(1), 0);  // a real-time device has no test clock
    }
}

}  // namespace
