// bellwave-cli scan and decode write what the frame index and the reader deliver.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "sound_fixtures.h"
#include "soundfile/mp3_frame_scanner.h"
#include "soundfile/sound_file.h"

namespace {

using fixtures::Bytes;
using testing_support::TempDir;

struct CliRun {
    int status = -1;
    std::string out;
};

CliRun Cli(const std::string& arguments) {
    const std::string command =
        "'" + (testing_support::BuildDir() / "bin" / "bellwave-cli").string() + "' " + arguments + " 2>/dev/null";
    CliRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.out += buffer;
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// The reader's whole output at `rate`, as interleaved samples.
std::vector<int16_t> ReaderOutput(const Bytes& image, uint32_t rate, uint32_t& channels) {
    Mp3Decoder decoder;
    SoundFile file;
    file.Open(image.data(), uint32_t(image.size()), rate, decoder);
    EXPECT_TRUE(file.ready);
    channels = file.channels;
    std::vector<int16_t> all, block(size_t(kBlockFrames) * file.channels);
    while (uint32_t frames = file.ReadBlock(block.data()))
        all.insert(all.end(), block.begin(), block.begin() + frames * file.channels);
    return all;
}

void ExpectWav(const std::filesystem::path& path, uint32_t channels, uint32_t rate, const std::vector<int16_t>& samples) {
    const Bytes wav = fixtures::ReadBytes(path);
    ASSERT_GE(wav.size(), 44u);
    const Bytes expected = fixtures::MakeWav(1, channels, rate, 16, fixtures::Samples(samples));
    ASSERT_EQ(wav.size(), expected.size());
    EXPECT_TRUE(wav == expected);
}

TEST(CliCommands, ScanAndDecodeWriteWhatTheReaderDelivers) {
    InitMp3Tables();
    TempDir dir;
    const Bytes mp3 = fixtures::LameEncode(dir.path(), "song", 44100 * 2, 2, 44100, "-b 128");
    const auto mp3Path = dir / "song.mp3";

    Mp3FrameScanner scanner(mp3.data(), uint32_t(mp3.size()));
    ASSERT_NE(scanner.Build(), 0u);
    CliRun run = Cli("scan " + Quoted(mp3Path));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "frames=" + std::to_string(scanner.frameCount) + " rate=44100 channels=2 sourceFrames=" +
                           std::to_string(scanner.sourceFrames) + "\n");

    uint32_t channels = 0;
    run = Cli("decode " + Quoted(mp3Path) + " " + Quoted(dir / "mp3.wav"));
    EXPECT_EQ(run.status, 0);
    ExpectWav(dir / "mp3.wav", 2, 44100, ReaderOutput(mp3, 44100, channels));

    // A mono WAV at another rate, resampled.
    const Bytes wav = fixtures::MakeWav(1, 1, 22050, 16, fixtures::Samples(fixtures::Music(30000, 1, 22050)));
    fixtures::WriteBytes(dir / "low.wav", wav);
    run = Cli("decode " + Quoted(dir / "low.wav") + " " + Quoted(dir / "low48.wav") + " --rate 48000");
    EXPECT_EQ(run.status, 0);
    const std::vector<int16_t> resampled = ReaderOutput(wav, 48000, channels);
    EXPECT_EQ(resampled.size(), size_t(30000 * 48000 / 22050));
    ExpectWav(dir / "low48.wav", 1, 48000, resampled);
}

TEST(CliCommands, RefusalsAndBadUsage) {
    TempDir dir;
    fixtures::WriteBytes(dir / "pcm.wav", fixtures::MakeWav(1, 2, 44100, 16, Bytes(400, 1)));
    fixtures::WriteBytes(dir / "junk.mp3", Bytes(3000, 0x42));
    EXPECT_EQ(Cli("scan " + Quoted(dir / "pcm.wav")).status, 1);
    EXPECT_EQ(Cli("scan " + Quoted(dir / "junk.mp3")).status, 1);
    EXPECT_EQ(Cli("scan " + Quoted(dir / "missing.mp3")).status, 1);
    EXPECT_EQ(Cli("scan").status, 2);
    EXPECT_EQ(Cli("decode " + Quoted(dir / "junk.mp3") + " " + Quoted(dir / "out.wav")).status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
    EXPECT_EQ(Cli("decode " + Quoted(dir / "pcm.wav") + " " + Quoted(dir / "out.wav") + " --rate 0").status, 2);
    EXPECT_EQ(Cli("decode " + Quoted(dir / "pcm.wav")).status, 2);
    EXPECT_EQ(Cli("decode " + Quoted(dir / "pcm.wav") + " " + Quoted(dir / "no-such-folder" / "out.wav")).status, 1);
}

}  // namespace
