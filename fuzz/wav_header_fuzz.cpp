// The WAV header parse and the sound file reader over arbitrary bytes: open at the
// file's rate and at another, read, seek and rewind. Every read must stay inside the
// image (the sanitizers check); a refused image is simply not ready.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audiofiles/wav_layout.h"
#include "soundfile/sound_file.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void Exercise(const uint8_t* data, uint32_t size, uint32_t rate, const Mp3Decoder& decoder) {
    SoundFile file;
    file.Open(data, size, rate, decoder);
    if (!file.Ready()) return;
    Check(file.Channels() == 1 || file.Channels() == 2);
    Check(file.BlockCount() == (file.TotalFrames() + kBlockFrames - 1) / kBlockFrames);
    std::vector<int16_t> block(size_t(kBlockFrames) * file.Channels());
    uint32_t frames = 0;
    for (int i = 0; i < 40; ++i) {
        const uint32_t n = file.ReadBlock(block.data());
        Check(n <= kBlockFrames);
        if (n == 0) break;
        frames += n;
    }
    Check(frames <= file.TotalFrames());
    file.SeekToBlock(int32_t(size % 7) - 2);
    file.ReadBlock(block.data());
    file.SeekToBlock(int32_t(file.BlockCount()));
    file.ReadBlock(block.data());
    file.Rewind();
    file.ReadBlock(block.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    // An exact-size copy, so that a read past the end is caught.
    std::vector<uint8_t> image(data, data + size);
    const uint32_t bytes = uint32_t(size);

    WavLayout layout;
    if (ParseWavHeader(image.data(), bytes, layout)) {
        Check(layout.format == kWavFormatMpegLayer3 || layout.channels == 1 || layout.channels == 2);
        Check(layout.dataBytes != 0 && uint64_t(layout.dataOffset) + layout.dataBytes <= bytes);
    }

    static const bool tables = (InitMp3Tables(), true);
    (void)tables;
    Mp3Decoder decoder;
    Exercise(image.data(), bytes, 44100, decoder);
    Exercise(image.data(), bytes, 48000, decoder);
    return 0;
}
