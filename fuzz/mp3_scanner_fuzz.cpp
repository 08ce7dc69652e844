// The MP3 frame index over arbitrary bytes: whatever it indexes lies inside the data,
// in increasing order, and the counts agree.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "soundfile/mp3_frame_scanner.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 22) return 0;
    std::vector<uint8_t> image(data, data + size);
    Mp3FrameScanner scanner(image.data(), uint32_t(size));
    const uint32_t pages = scanner.Build();
    if (pages == 0) return 0;
    Check(scanner.frameCount > 0);
    Check(pages == (scanner.frameCount + Mp3FrameScanner::kPageEntries - 1) / Mp3FrameScanner::kPageEntries);
    Check(scanner.channels == 1 || scanner.channels == 2);
    Check(scanner.sourceFrames == (scanner.frameCount - 1) * (scanner.sampleRate < 32000 ? 576u : 1152u));
    uint64_t previousEnd = 0;
    for (uint32_t i = 0; i < scanner.frameCount; ++i) {
        const uint64_t start = scanner.FrameOffset(i);
        const int32_t length = scanner.FrameLengthAt(i);
        Check(length > 0);
        Check(start >= previousEnd);
        Check(start + uint64_t(length) <= size);
        previousEnd = start + uint64_t(length);
    }
    return 0;
}
