// Decodes a 60-second 44100 Hz stereo 128 kbit/s MP3 (made here by `lame`) through the
// sound file reader, at 44100 Hz and resampled to 48000 Hz, and times `lame --decode`
// of the same file in the same run. Both write a WAV file of the result, so the work
// compared is the same. Prints best-of-five times and their ratios, and the memory that
// the frame index of a one-hour file takes.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audiofiles/mapped_file.h"
#include "soundfile/sound_file.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kSeconds = 60;

void PutLe(std::FILE* f, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) std::fputc(int((value >> (8 * i)) & 0xFF), f);
}

void WriteWavHeader(std::FILE* f, uint32_t channels, uint32_t rate, uint32_t dataBytes) {
    std::fwrite("RIFF", 1, 4, f);
    PutLe(f, 36 + dataBytes, 4);
    std::fwrite("WAVEfmt ", 1, 8, f);
    PutLe(f, 16, 4);
    PutLe(f, 1, 2);
    PutLe(f, channels, 2);
    PutLe(f, rate, 4);
    PutLe(f, rate * channels * 2, 4);
    PutLe(f, channels * 2, 2);
    PutLe(f, 16, 2);
    std::fwrite("data", 1, 4, f);
    PutLe(f, dataBytes, 4);
}

bool MakeMp3(const fs::path& wav, const fs::path& mp3) {
    std::FILE* f = std::fopen(wav.c_str(), "wb");
    if (f == nullptr) return false;
    const uint32_t frames = kRate * kSeconds;
    WriteWavHeader(f, 2, kRate, frames * 4);
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        PutLe(f, uint16_t(int16_t(9000 * std::sin(2 * M_PI * (220 + 30 * t) * t) + 3000 * std::sin(2 * M_PI * 3100 * t))), 2);
        PutLe(f, uint16_t(int16_t(7000 * std::sin(2 * M_PI * 660 * t + 0.3))), 2);
    }
    std::fclose(f);
    const std::string command = "lame --quiet -b 128 '" + wav.string() + "' '" + mp3.string() + "'";
    return std::system(command.c_str()) == 0;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Maps, opens and reads the whole file at `rate`, writing the blocks to `out`.
double DecodeOnce(const fs::path& mp3, uint32_t rate, const fs::path& out, uint32_t& frames) {
    const auto start = std::chrono::steady_clock::now();
    MappedFile file;
    if (!file.Open(mp3.c_str())) return -1;
    Mp3Decoder decoder;
    SoundFile sound;
    sound.Open(file.view, file.size, rate, decoder);
    if (!sound.Ready()) return -1;
    std::FILE* f = std::fopen(out.c_str(), "wb");
    if (f == nullptr) return -1;
    WriteWavHeader(f, sound.Channels(), rate, 0);
    std::vector<int16_t> block(size_t(kBlockFrames) * sound.Channels());
    frames = 0;
    while (uint32_t n = sound.ReadBlock(block.data())) {
        std::fwrite(block.data(), size_t(sound.Channels()) * 2, n, f);
        frames += n;
    }
    std::fseek(f, 0, SEEK_SET);
    WriteWavHeader(f, sound.Channels(), rate, frames * sound.Channels() * 2);
    std::fclose(f);
    return Seconds(start);
}

template <typename F>
double Best(F run) {
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double t = run();
        if (t < 0) return -1;
        if (t < best) best = t;
    }
    return best;
}

}  // namespace

int main() {
    const fs::path dir = fs::temp_directory_path() / ("bellwave-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path wav = dir / "in.wav", mp3 = dir / "in.mp3";
    if (!MakeMp3(wav, mp3)) {
        std::fprintf(stderr, "soundfile_bench: lame could not make the test file\n");
        return 1;
    }
    InitMp3Tables();

    const std::string lameCommand = "lame --quiet --decode '" + mp3.string() + "' '" + (dir / "lame.wav").string() + "'";
    const double lame = Best([&] {
        const auto start = std::chrono::steady_clock::now();
        return std::system(lameCommand.c_str()) == 0 ? Seconds(start) : -1.0;
    });
    uint32_t direct = 0, resampled = 0;
    const double ours = Best([&] { return DecodeOnce(mp3, 44100, dir / "ours.wav", direct); });
    const double ours48 = Best([&] { return DecodeOnce(mp3, 48000, dir / "ours48.wav", resampled); });
    if (lame < 0 || ours < 0 || ours48 < 0) {
        std::fprintf(stderr, "soundfile_bench: a decode failed\n");
        return 1;
    }
    std::printf("60 s 44100 Hz stereo 128 kbit/s MP3, best of 5:\n");
    std::printf("  lame --decode              %7.1f ms\n", lame * 1000);
    std::printf("  SoundFile at 44100 Hz      %7.1f ms  ratio %.2f (goal <= 1.25)  %u frames\n", ours * 1000,
                ours / lame, direct);
    std::printf("  SoundFile at 48000 Hz      %7.1f ms  ratio %.2f (goal <= 2.00)  %u frames\n", ours48 * 1000,
                ours48 / lame, resampled);

    // A one-hour stream: the minute's frames sixty times over.
    std::vector<uint8_t> minute;
    {
        MappedFile file;
        if (!file.Open(mp3.c_str())) return 1;
        minute.assign(file.view, file.view + file.size);
    }
    std::vector<uint8_t> hour;
    for (int i = 0; i < 60; ++i) hour.insert(hour.end(), minute.begin(), minute.end());
    Mp3Decoder decoder;
    Mp3Source source(decoder);  // what a SoundFile opens on a bare MP3 stream
    if (!source.Open(hour.data(), uint32_t(hour.size()))) return 1;
    const size_t indexBytes = source.IndexBytes();
    std::printf("  one-hour file: %u frames, index %zu bytes = %.2f MiB (goal < 2 MiB)\n", source.FrameCount(),
                indexBytes, indexBytes / 1048576.0);

    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
}
