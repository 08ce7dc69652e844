// bellwave-cli scan and decode write what the frame index and the reader deliver.
#include <gtest/gtest.h>

#include <string>

#include "soundfile/mp3_frame_scanner.h"
#include "soundfile/sound_file.h"
#include "tests/cli/cli_test_support.h"
#include "tests/soundfile/sound_fixtures.h"

namespace {

using cli_test::RunCli;
using fixtures::Bytes;

// The file at path is the WAV of what the reader delivers for image at rate.
void ExpectDecoded(const std::filesystem::path& path, const Bytes& image, uint32_t rate, size_t frames) {
    SoundFile file;
    fixtures::Open(file, image, rate);
    ASSERT_TRUE(file.Ready());
    const std::vector<int16_t> samples = fixtures::ReadAll(file);
    EXPECT_EQ(samples.size(), frames * file.Channels());
    EXPECT_TRUE(fixtures::ReadBytes(path) == fixtures::MakeWav(1, file.Channels(), rate, 16, fixtures::Samples(samples)));
}

TEST(CliCommands, ScanAndDecodeWriteWhatTheReaderDeliversAndRefuseWhatItCannot) {
    testing_support::TempDir dir;
    const Bytes mp3 = fixtures::LameEncode(dir.path(), "song", 44100 * 2, 2, 44100, "-b 128");
    Mp3FrameScanner scanner(mp3.data(), uint32_t(mp3.size()));
    ASSERT_NE(scanner.Build(), 0u);
    std::string out;
    EXPECT_EQ(RunCli("scan '" + (dir / "song.mp3").string() + "'", &out), 0);
    EXPECT_EQ(out, "frames=" + std::to_string(scanner.frameCount) + " rate=44100 channels=2 sourceFrames=" +
                       std::to_string(scanner.sourceFrames) + "\n");
    EXPECT_EQ(RunCli("decode '" + (dir / "song.mp3").string() + "' '" + (dir / "mp3.wav").string() + "'"), 0);
    ExpectDecoded(dir / "mp3.wav", mp3, 44100, scanner.sourceFrames);

    // The same MP3 inside a WAV whose channel field says 0 (the frames say 2): the same PCM.
    Bytes wrapped = fixtures::MakeWav(85, 0, 44100, 0, mp3);
    wrapped.insert(wrapped.begin() + 36, {0, 0});  // no extra format bytes
    fixtures::WriteBytes(dir / "wrapped.wav", wrapped);
    EXPECT_EQ(RunCli("decode '" + (dir / "wrapped.wav").string() + "' '" + (dir / "wrapped-out.wav").string() + "'"), 0);
    EXPECT_TRUE(fixtures::ReadBytes(dir / "wrapped-out.wav") == fixtures::ReadBytes(dir / "mp3.wav"));

    // A mono WAV at another rate, resampled.
    const Bytes wav = fixtures::MakeWav(1, 1, 22050, 16, fixtures::Samples(fixtures::Music(30000, 1, 22050)));
    fixtures::WriteBytes(dir / "low.wav", wav);
    EXPECT_EQ(RunCli("decode '" + (dir / "low.wav").string() + "' '" + (dir / "low48.wav").string() + "' --rate 48000"), 0);
    ExpectDecoded(dir / "low48.wav", wav, 48000, 30000 * 48000 / 22050);

    fixtures::WriteBytes(dir / "pcm.wav", fixtures::MakeWav(1, 2, 44100, 16, Bytes(400, 1)));
    fixtures::WriteBytes(dir / "junk.mp3", Bytes(3000, 0x42));
    const std::string d = "'" + dir.path().string();
    // 1: a file or output refused; 2: bad usage.
    EXPECT_EQ(RunCli("scan " + d + "/pcm.wav'"), 1);
    EXPECT_EQ(RunCli("decode " + d + "/junk.mp3' " + d + "/out.wav'"), 1);
    EXPECT_EQ(RunCli("decode " + d + "/pcm.wav' " + d + "/out.wav' --rate 0"), 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
}

}  // namespace
