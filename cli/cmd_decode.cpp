// bellwave-cli decode FILE OUT.wav [--rate R]: the sound file reader's blocks at rate R
// (default: the file's own), trimmed to the reader's total frames, as a 16-bit WAV.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audiofiles/mapped_file.h"
#include "cli/commands.h"
#include "soundfile/sound_file.h"

namespace {

void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    PutLe16(p, v);
    PutLe16(p + 2, v >> 16);
}

// The canonical 44-byte PCM header.
void MakeHeader(uint8_t* header, uint32_t channels, uint32_t rate, uint32_t dataBytes) {
    std::memcpy(header, "RIFF", 4);
    PutLe32(header + 4, 36 + dataBytes);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLe32(header + 16, 16);
    PutLe16(header + 20, 1);
    PutLe16(header + 22, channels);
    PutLe32(header + 24, rate);
    PutLe32(header + 28, rate * channels * 2);
    PutLe16(header + 32, channels * 2);
    PutLe16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    PutLe32(header + 40, dataBytes);
}

bool ParseRate(const char* text, uint32_t& rate) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value == 0 || value > 1000000) return false;
    rate = uint32_t(value);
    return true;
}

}  // namespace

int RunDecode(int argc, char** argv) {
    const char* usage = "usage: bellwave-cli decode FILE OUT.wav [--rate R]\n";
    uint32_t rate = 0;
    if (argc == 5 && std::strcmp(argv[3], "--rate") == 0) {
        if (!ParseRate(argv[4], rate)) {
            std::fprintf(stderr, "bellwave-cli: bad rate '%s'\n%s", argv[4], usage);
            return 2;
        }
    } else if (argc != 3) {
        std::fprintf(stderr, "%s", usage);
        return 2;
    }
    MappedFile file;
    if (!file.Open(argv[1])) {
        std::fprintf(stderr, "bellwave-cli: cannot map '%s' (missing, unreadable or empty)\n", argv[1]);
        return 1;
    }
    InitMp3Tables();
    Mp3Decoder decoder;
    SoundFile sound;
    sound.Open(file.view, file.size, rate != 0 ? rate : 44100, decoder);
    if (sound.Ready() && rate == 0 && sound.SampleRate() != 44100) {
        rate = sound.SampleRate();
        sound.Open(file.view, file.size, rate, decoder);
    }
    if (!sound.Ready()) {
        std::fprintf(stderr, "bellwave-cli: '%s' is not a playable 16-bit WAV or MP3 file\n", argv[1]);
        return 1;
    }
    if (rate == 0) rate = sound.SampleRate();

    const uint32_t channels = sound.Channels();
    const uint64_t dataBytes = uint64_t(sound.TotalFrames()) * channels * 2;
    if (dataBytes > 0xFFFFFFFFull - 36) {
        std::fprintf(stderr, "bellwave-cli: the output would not fit in a WAV file\n");
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "bellwave-cli: cannot create '%s': %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    uint8_t header[44];
    bool ok = std::fwrite(header, 1, sizeof header, out) == sizeof header;  // sizes come at the end
    std::vector<int16_t> block(size_t(kBlockFrames) * channels);
    uint32_t framesWritten = 0;
    while (ok && framesWritten < sound.TotalFrames()) {
        uint32_t frames = sound.ReadBlock(block.data());
        if (frames == 0) break;
        if (frames > sound.TotalFrames() - framesWritten) frames = sound.TotalFrames() - framesWritten;
        ok = std::fwrite(block.data(), size_t(channels) * 2, frames, out) == frames;
        framesWritten += frames;
    }
    MakeHeader(header, channels, rate, framesWritten * channels * 2);
    ok = ok && std::fseek(out, 0, SEEK_SET) == 0 && std::fwrite(header, 1, sizeof header, out) == sizeof header;
    ok = (std::fclose(out) == 0) && ok;
    if (file.CutShort()) {
        std::fprintf(stderr, "bellwave-cli: '%s' was cut short while it was read\n", argv[1]);
        std::remove(argv[2]);
        return 1;
    }
    if (!ok) {
        std::fprintf(stderr, "bellwave-cli: writing '%s' failed\n", argv[2]);
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
