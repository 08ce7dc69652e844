// MP3 bytes through the sound file reader with real decoding, bare and as the data
// chunk of a WAV file (format tag 85), at the file's own rate and at one that makes the
// reader resample. The two images must read alike, block for block, before and after a
// seek; a rewind must start over exactly; every read stays within the block and the
// counts (and inside the image: the sanitizers check).
//
// Input: the MP3 bytes; the last byte also picks the block sought to, the one before it
// the device rate to resample to.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "soundfile/sound_file.h"

namespace {

constexpr int kMaxBlocks = 12;  // read per pass: enough to cross the seek and the end of a seed

void Check(bool condition) {
    if (!condition) std::abort();
}

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// A WAV image whose data chunk holds mp3: an 18-byte format chunk of tag 85, then "data".
std::vector<uint8_t> WrapInWav(const uint8_t* mp3, size_t bytes) {
    std::vector<uint8_t> image;
    const auto put = [&](const char* text) { image.insert(image.end(), text, text + 4); };
    put("RIFF");
    PutLe(image, uint32_t(38 + bytes), 4);
    put("WAVE");
    put("fmt ");
    PutLe(image, 18, 4);
    PutLe(image, 85, 2);
    PutLe(image, 2, 2);
    PutLe(image, 44100, 4);
    PutLe(image, 16000, 4);
    PutLe(image, 1, 2);
    PutLe(image, 0, 2);
    PutLe(image, 0, 2);
    put("data");
    PutLe(image, uint32_t(bytes), 4);
    image.insert(image.end(), mp3, mp3 + bytes);
    return image;
}

// Reads up to kMaxBlocks blocks from both files, which must agree; returns the frames.
uint32_t ReadAlike(SoundFile& bare, SoundFile& wrapped, std::vector<int16_t>* first = nullptr) {
    const size_t samples = size_t(kBlockFrames) * bare.Channels();
    std::vector<int16_t> a(samples), b(samples);
    uint32_t frames = 0;
    for (int i = 0; i < kMaxBlocks; ++i) {
        const uint32_t n = bare.ReadBlock(a.data());
        Check(wrapped.ReadBlock(b.data()) == n);
        Check(n <= kBlockFrames);
        if (n == 0) break;
        Check(a == b);
        if (i == 0 && first != nullptr) *first = a;
        frames += n;
    }
    return frames;
}

void Exercise(const std::vector<uint8_t>& bareImage, const std::vector<uint8_t>& wavImage, uint32_t rate,
              int32_t seekBlock, const Mp3Decoder& decoder) {
    SoundFile bare, wrapped;
    bare.Open(bareImage.data(), uint32_t(bareImage.size()), rate, decoder);
    wrapped.Open(wavImage.data(), uint32_t(wavImage.size()), rate, decoder);
    Check(bare.Ready() == wrapped.Ready());
    if (!bare.Ready()) return;
    Check(bare.Format() == 85 && wrapped.Format() == 85);
    Check(bare.Channels() == 1 || bare.Channels() == 2);
    Check(wrapped.Channels() == bare.Channels() && wrapped.SampleRate() == bare.SampleRate() &&
          wrapped.TotalFrames() == bare.TotalFrames() && wrapped.BlockCount() == bare.BlockCount());
    Check(bare.Resampling() == (bare.SampleRate() != rate));
    Check(bare.BlockCount() == (bare.TotalFrames() + kBlockFrames - 1) / kBlockFrames);

    std::vector<int16_t> firstBlock, again;
    Check(ReadAlike(bare, wrapped, &firstBlock) <= bare.TotalFrames());
    bare.Rewind();
    wrapped.Rewind();
    ReadAlike(bare, wrapped, &again);
    Check(again == firstBlock);  // a rewind forgets the decoder's state

    bare.SeekToBlock(seekBlock);
    wrapped.SeekToBlock(seekBlock);
    Check(ReadAlike(bare, wrapped) <= bare.TotalFrames());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 16)) return 0;
    // A bare image that begins with "RIFF" is read as a WAV file: nothing to compare.
    if (size >= 4 && std::memcmp(data, "RIFF", 4) == 0) return 0;
    static const bool tables = (InitMp3Tables(), true);
    (void)tables;
    const Mp3Decoder decoder;
    // Exact-size copies, so that a read past the end is caught.
    const std::vector<uint8_t> bareImage(data, data + size);
    const std::vector<uint8_t> wavImage = WrapInWav(data, size);
    const int32_t seekBlock = size > 0 ? int32_t(data[size - 1] % 16) - 2 : 0;
    static const uint32_t kDeviceRates[] = {8000, 11025, 22050, 32000, 44100, 48000, 96000, 192000};
    const size_t pick = size > 1 ? data[size - 2] % 8 : 4;

    SoundFile probe;
    probe.Open(bareImage.data(), uint32_t(size), 44100, decoder);
    const uint32_t ownRate = probe.Ready() ? probe.SampleRate() : 44100;
    probe.Close();
    Exercise(bareImage, wavImage, ownRate, seekBlock, decoder);
    const uint32_t otherRate = kDeviceRates[pick] != ownRate ? kDeviceRates[pick] : kDeviceRates[(pick + 1) % 8];
    Exercise(bareImage, wavImage, otherRate, seekBlock, decoder);
    return 0;
}
