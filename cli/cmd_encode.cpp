// bellwave-cli encode IN.wav OUT.mp3: our 128 kbit/s encoder on a 16-bit PCM WAV file.
// Mono input is coded on both channels. Reads only what it needs of the RIFF layout:
// the "fmt " chunk and the samples of the "data" chunk, stepping over any other chunks.
// (ParseWavHeader, the player's reader, takes the format from fixed offsets and so
// refuses files with a chunk before "fmt ", which other tools write.)
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audiofiles/wav_layout.h"
#include "cli/commands.h"
#include "mp3enc/mp3enc.h"
#include "platform/audio_block.h"

namespace {

constexpr uint32_t kWavFormatExtensible = 0xFFFE;

struct WavInput {
    int channels = 0;
    int32_t sampleRate = 0;
    uint32_t dataBytes = 0;  // as the header states; the file may end sooner
};

// Leaves the file at the first sample byte. Returns an explanation on failure.
const char* ReadWavHeader(std::FILE* f, WavInput* out) {
    uint8_t riff[12];
    if (std::fread(riff, 1, 12, f) != 12 || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return "not a RIFF/WAVE file";
    bool haveFormat = false;
    for (;;) {
        uint8_t chunk[8];
        if (std::fread(chunk, 1, 8, f) != 8) return haveFormat ? "no data chunk" : "no fmt chunk";
        const uint32_t size = ReadLe32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t fmt[16];
            if (size < 16 || std::fread(fmt, 1, 16, f) != 16) return "fmt chunk too short";
            const uint32_t tag = ReadLe16(fmt);
            out->channels = static_cast<int>(ReadLe16(fmt + 2));
            out->sampleRate = static_cast<int32_t>(ReadLe32(fmt + 4) & 0x7FFFFFFF);
            const uint32_t bits = ReadLe16(fmt + 14);
            if ((tag != kWavFormatPcm && tag != kWavFormatExtensible) || bits != 16) return "not 16-bit PCM";
            if (out->channels != 1 && out->channels != 2) return "not mono or stereo";
            haveFormat = true;
            const long rest = static_cast<long>(size - 16) + (size & 1);
            if (rest > 0 && std::fseek(f, rest, SEEK_CUR) != 0) return "truncated fmt chunk";
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return "data chunk before fmt chunk";
            out->dataBytes = size;
            return nullptr;
        } else {
            const long skip = static_cast<long>(size) + (size & 1);
            if (std::fseek(f, skip, SEEK_CUR) != 0) return "truncated chunk";
        }
    }
}

}  // namespace

int RunEncode(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bellwave-cli encode IN.wav OUT.mp3\n");
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) {
        std::fprintf(stderr, "bellwave-cli encode: cannot open %s\n", argv[1]);
        return 1;
    }
    WavInput wav;
    if (const char* why = ReadWavHeader(in, &wav)) {
        std::fprintf(stderr, "bellwave-cli encode: %s: %s\n", argv[1], why);
        std::fclose(in);
        return 1;
    }
    if (mp3enc::SampleRateIndex(wav.sampleRate) < 0) {
        std::fprintf(stderr, "bellwave-cli encode: %s: %d Hz cannot be coded (32000, 44100 or 48000 Hz only)\n",
                     argv[1], wav.sampleRate);
        std::fclose(in);
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::fprintf(stderr, "bellwave-cli encode: cannot create %s\n", argv[2]);
        std::fclose(in);
        return 1;
    }
    if (!InitMp3Encoder(wav.sampleRate, out)) {
        std::fprintf(stderr, "bellwave-cli encode: the encoder could not start\n");
        std::fclose(out);
        std::fclose(in);
        return 1;
    }
    constexpr int kFrames = int(kMpeg1FrameSamples);
    const size_t frameBytes = 2u * static_cast<size_t>(wav.channels);
    std::vector<uint8_t> raw(kFrames * frameBytes);
    std::vector<int16_t> block(2 * kFrames);
    uint64_t remaining = wav.dataBytes - wav.dataBytes % frameBytes;
    while (remaining > 0) {
        const size_t want = remaining < raw.size() ? static_cast<size_t>(remaining) : raw.size();
        const size_t got = std::fread(raw.data(), 1, want, in) / frameBytes;
        if (got == 0) break;
        remaining -= got * frameBytes;
        for (size_t i = 0; i < kFrames; ++i) {
            int16_t left = 0, right = 0;
            if (i < got) {
                left = static_cast<int16_t>(ReadLe16(&raw[i * frameBytes]));
                right = wav.channels == 2 ? static_cast<int16_t>(ReadLe16(&raw[i * frameBytes + 2])) : left;
            }
            block[2 * i] = left;
            block[2 * i + 1] = right;
        }
        EncodeMp3(block.data(), kFrames);
        if (got * frameBytes < want) break;  // the file ended early
    }
    CloseMp3Encoder();
    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    std::fclose(out);
    std::fclose(in);
    if (!written) {
        std::fprintf(stderr, "bellwave-cli encode: writing %s failed\n", argv[2]);
        return 1;
    }
    return 0;
}
