// Encodes one 60-second 44100 Hz stereo WAV with our encoder and with
// `lame -b 128 --cbr -q 9` in the same run and prints the times and their ratio
// (ours / lame: below 1.0 we are faster). Checks our output against the plain oracle of
// plain_encoder.h (bit for bit) unless --no-oracle is given.
//
// usage: bench_mp3enc_vs_lame [--no-oracle] [--keep DIR]  (files are removed unless kept)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <vector>

#include "bench/plain_encoder.h"
#include "mp3enc/mp3enc.h"
#include "platform/audio_block.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 60;

// Music-like material: chords with decaying notes, a bass line, some hiss.
std::vector<int16_t> MakeSignal() {
    const int frames = kRate * kSeconds;
    std::vector<int16_t> pcm(2 * static_cast<size_t>(frames));
    const double chords[4][3] = {{261.6, 329.6, 392.0}, {220.0, 261.6, 329.6}, {174.6, 220.0, 261.6}, {196.0, 246.9, 293.7}};
    unsigned seed = 7;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const int chord = (i / kRate) % 4;
        const double env = std::exp(-3.0 * (i % (kRate / 4)) / (kRate / 4.0));
        seed = seed * 1103515245u + 12345u;
        const double hiss = 0.01 * (static_cast<double>((seed >> 16) & 0x7FFF) / 16384.0 - 1.0);
        double l = 0.25 * std::sin(M_PI * chords[chord][0] * t), r = l;
        for (int n = 0; n < 3; ++n) {
            const double tone = env * 0.15 * std::sin(2 * M_PI * chords[chord][n] * t);
            l += tone * (n == 2 ? 0.5 : 1.0);
            r += tone * (n == 0 ? 0.5 : 1.0);
        }
        pcm[2 * i] = static_cast<int16_t>(std::lrint(32767 * (l + hiss)));
        pcm[2 * i + 1] = static_cast<int16_t>(std::lrint(32767 * (r - hiss)));
    }
    return pcm;
}

bool WriteWav(const std::filesystem::path& path, const std::vector<int16_t>& pcm) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const uint32_t dataBytes = static_cast<uint32_t>(pcm.size() * 2);
    auto put32 = [f](uint32_t v) { for (int i = 0; i < 4; ++i) std::fputc((v >> (8 * i)) & 0xFF, f); };
    auto put16 = [f](uint32_t v) { for (int i = 0; i < 2; ++i) std::fputc((v >> (8 * i)) & 0xFF, f); };
    std::fputs("RIFF", f);
    put32(36 + dataBytes);
    std::fputs("WAVEfmt ", f);
    put32(16);
    put16(1);
    put16(2);
    put32(kRate);
    put32(kRate * 4);
    put16(4);
    put16(16);
    std::fputs("data", f);
    put32(dataBytes);
    for (int16_t s : pcm) put16(static_cast<uint16_t>(s));
    return std::fclose(f) == 0;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// CPU seconds of this process, and of its finished children: on a shared machine these
// are steadier than wall time.
double OwnCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}
double ChildCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Our encoder on the WAV file, read as the encode command reads it (whole blocks).
// Returns wall seconds; *cpu gets CPU seconds.
double EncodeOurs(const std::filesystem::path& wav, const std::filesystem::path& mp3, double* cpu) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = OwnCpuSeconds();
    std::FILE* in = std::fopen(wav.c_str(), "rb");
    std::FILE* out = std::fopen(mp3.c_str(), "wb");
    if (!in || !out) return -1;
    std::fseek(in, 44, SEEK_SET);
    std::vector<int16_t> block(2 * kBlockFrames);
    InitMp3Encoder(kRate, out);
    for (;;) {
        const size_t got = std::fread(block.data(), 4, kBlockFrames, in);
        if (got == 0) break;
        std::fill(block.begin() + 2 * static_cast<std::ptrdiff_t>(got), block.end(), 0);
        EncodeMp3(block.data(), static_cast<int32_t>(got));
        if (got < kBlockFrames) break;
    }
    CloseMp3Encoder();
    std::fclose(out);
    std::fclose(in);
    *cpu = OwnCpuSeconds() - cpuStart;
    return Seconds(start, std::chrono::steady_clock::now());
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes(std::filesystem::file_size(path));
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f && std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
    if (f) std::fclose(f);
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    bool oracle = true, keep = false;
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "bellwave-mp3enc-bench";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-oracle") == 0) oracle = false;
        else if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc) {
            dir = argv[++i];
            keep = true;
        }
        else {
            std::fprintf(stderr, "usage: %s [--no-oracle] [--keep DIR]\n", argv[0]);
            return 2;
        }
    }
    std::filesystem::create_directories(dir);
    const std::vector<int16_t> pcm = MakeSignal();
    const auto wav = dir / "in.wav";
    if (!WriteWav(wav, pcm)) {
        std::fprintf(stderr, "cannot write %s\n", wav.c_str());
        return 1;
    }
    // Warm the file cache and the code once, then take the best of three for each.
    double ours = 1e9, lame = 1e9, oursCpu = 1e9, lameCpu = 1e9, cpu = 0;
    const std::string lameCommand =
        "lame --quiet -b 128 --cbr -q 9 '" + wav.string() + "' '" + (dir / "lame.mp3").string() + "'";
    EncodeOurs(wav, dir / "ours.mp3", &cpu);
    for (int run = 0; run < 5; ++run) {
        ours = std::min(ours, EncodeOurs(wav, dir / "ours.mp3", &cpu));
        oursCpu = std::min(oursCpu, cpu);
        const auto start = std::chrono::steady_clock::now();
        const double childStart = ChildCpuSeconds();
        if (std::system(lameCommand.c_str()) != 0) {
            std::fprintf(stderr, "lame failed: %s\n", lameCommand.c_str());
            return 1;
        }
        lame = std::min(lame, Seconds(start, std::chrono::steady_clock::now()));
        lameCpu = std::min(lameCpu, ChildCpuSeconds() - childStart);
    }
    std::printf("input: %d s of 44100 Hz stereo (%s); best of 5 runs each, interleaved\n", kSeconds, wav.c_str());
    std::printf("ours:                    wall %.3f s (%.0fx real time), cpu %.3f s\n", ours, kSeconds / ours, oursCpu);
    std::printf("lame -b 128 --cbr -q 9:  wall %.3f s (%.0fx real time), cpu %.3f s\n", lame, kSeconds / lame, lameCpu);
    std::printf("ratio ours / lame: wall %.2f, cpu %.2f (below 1: ours is faster)\n", ours / lame, oursCpu / lameCpu);

    if (oracle) {
        std::FILE* f = std::fopen((dir / "oracle.mp3").c_str(), "wb");
        if (!f) return 1;
        auto plainEncoder = std::make_unique<plain::Encoder>(kRate, f);
        std::vector<int16_t> frame(2304);
        const size_t total = pcm.size() / 2;
        // The same frames as the entry points: whole frames padded with zeros, then three of silence.
        const size_t frames = (total + 1151) / 1152 + 3;
        for (size_t k = 0; k < frames; ++k) {
            for (size_t i = 0; i < 2304; ++i) {
                const size_t at = 2304 * k + i;
                frame[i] = at < pcm.size() ? pcm[at] : 0;
            }
            plainEncoder->EncodeFrame(frame.data());
        }
        plainEncoder.reset();
        std::fclose(f);
        const bool same = ReadAll(dir / "oracle.mp3") == ReadAll(dir / "ours.mp3");
        std::printf("output against the plain oracle: %s\n", same ? "bit-identical" : "DIFFERENT");
        if (!same) return 1;
    }
    if (!keep) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    return 0;
}
