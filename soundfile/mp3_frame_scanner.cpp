#include "soundfile/mp3_frame_scanner.h"

#include <cstring>
#include <utility>
#include <new>

#include "platform/audio_block.h"

namespace {

// Indexed by (1 - versionId) * 4 + rateIndex.
const uint32_t kSampleRates[8] = {44100, 48000, 32000, 0, 22050, 24000, 16000, 0};
// Layer III bit rates in kbit/s by bitrateIndex.
const uint32_t kBitratesMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
const uint32_t kBitratesMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};

uint32_t B1(uint32_t h) { return (h >> 8) & 0xFF; }
uint32_t B2(uint32_t h) { return (h >> 16) & 0xFF; }
uint32_t B3(uint32_t h) { return h >> 24; }

// Reserved version, free format, bad bit rate, reserved rate, reserved emphasis.
bool HasReservedField(uint32_t h) {
    const uint32_t bitrateIndex = B2(h) >> 4;
    return ((B1(h) >> 3) & 3) == 1 || bitrateIndex == 0 || bitrateIndex == 15 ||
           ((B2(h) >> 2) & 3) == 3 || (B3(h) & 3) == 2;
}

}  // namespace

uint32_t Mp3FrameScanner::Word(uint32_t p) const {
    return uint32_t(data[p]) | uint32_t(data[p + 1]) << 8 | uint32_t(data[p + 2]) << 16 |
           uint32_t(data[p + 3]) << 24;
}

void Mp3FrameScanner::TakeApart(uint32_t h) {
    const uint32_t b1 = B1(h), b2 = B2(h), b3 = B3(h);
    versionId = (b1 >> 3) & 1;
    layerBits = (b1 >> 1) & 3;
    crcPresent = (b1 & 1) == 0;
    bitrateIndex = b2 >> 4;
    rateIndex = (b2 >> 2) & 3;
    padding = (b2 >> 1) & 1;
    mode = b3 >> 6;
}

bool Mp3FrameScanner::IsFrameHeader(uint32_t h) {
    // Eleven sync bits, the high version bit (MPEG-1 or MPEG-2) and Layer III.
    if ((h & 0xFF) != 0xFF || (B1(h) & 0xF6) != 0xF2) return false;
    if (HasReservedField(h)) return false;
    if (referenceHeader == 0) return true;
    TakeApart(h);
    return kSampleRates[(1 - versionId) * 4 + rateIndex] == sampleRate &&
           (mode == 3 ? 1u : 2u) == channels;
}

uint32_t Mp3FrameScanner::FrameLength() const {
    const uint32_t kbps = versionId ? kBitratesMpeg1[bitrateIndex] : kBitratesMpeg2[bitrateIndex];
    uint32_t length = uint32_t(double(kbps) * 144.0 * 1000.0 / double(sampleRate));
    if (versionId == 0) length /= 2;
    return length + padding;
}

void Mp3FrameScanner::ClearReference() {
    referenceHeader = 0;
    referenceLength = 0;
    sampleRate = 0;
    channels = 0;
}

bool Mp3FrameScanner::IsTagAt(uint32_t p) const {
    if (Remaining(p) < 3) return false;
    return std::memcmp(data + p, "TAG", 3) == 0 || std::memcmp(data + p, "3DI", 3) == 0 ||
           std::memcmp(data + p, "ID3", 3) == 0;
}

uint32_t Mp3FrameScanner::Build() {
    uint32_t start = 0;
    if (dataLength >= 10 && std::memcmp(data, "ID3", 3) == 0) {
        const uint64_t tagBytes = uint64_t(data[6] & 0x7F) << 21 | uint64_t(data[7] & 0x7F) << 14 |
                                  uint64_t(data[8] & 0x7F) << 7 | uint64_t(data[9] & 0x7F);
        if (10 + tagBytes >= dataLength) return 0;
        start = uint32_t(10 + tagBytes);
    }
    uint32_t p = 0;
    if (!FindFirstFrame(start, p)) return 0;
    uint32_t next = 0;
    while (NextFrame(p, next)) {
        ++frameCount;
        p = next;
    }
    if (frameCount == 0 || channels == 0) return 0;
    // The decoder's output lags one frame behind its input, so the last frame never
    // yields PCM.
    const uint32_t frameSamples = sampleRate < 32000 ? kMpeg2FrameSamples : kMpeg1FrameSamples;
    sourceFrames = (frameCount - 1) * frameSamples;
    pcmBytes = uint64_t(sourceFrames) * channels * 2;
    return pagesUsed;
}

bool Mp3FrameScanner::FindFirstFrame(uint32_t start, uint32_t& found) {
    for (uint32_t p = start; Remaining(p) >= 24; ++p) {
        if (data[p] != 0xFF || (data[p + 1] & 0xE6) != 0xE2) continue;  // sync + Layer III
        const uint32_t h = Word(p);
        const bool isHeader = IsFrameHeader(h);
        if (isHeader && ConfirmFirstFrame(h, p)) {
            found = p;
            return true;
        }
        if (!isHeader && (data[p + 1] >> 4) == 0xE && ProbeMpeg25(h, p)) return false;
    }
    return false;
}

bool Mp3FrameScanner::ConfirmFirstFrame(uint32_t h, uint32_t p) {
    referenceHeader = h;
    TakeApart(h);
    sampleRate = kSampleRates[(1 - versionId) * 4 + rateIndex];
    channels = mode == 3 ? 1 : 2;
    referenceLength = FrameLength();
    const uint64_t q = uint64_t(p) + referenceLength;
    if (q >= dataLength || dataLength - q < 24) {
        ClearReference();
        return false;
    }
    const uint32_t successor = Word(uint32_t(q));
    if (successor == h || IsFrameHeader(successor)) return true;
    ClearReference();
    return false;
}

bool Mp3FrameScanner::ProbeMpeg25(uint32_t h, uint32_t p) {
    if (HasReservedField(h)) return false;
    TakeApart(h);
    const uint32_t rate = kSampleRates[4 + rateIndex];
    const uint32_t length = uint32_t(double(kBitratesMpeg2[bitrateIndex]) * 144.0 * 1000.0 / double(rate)) + padding;
    const uint64_t q = uint64_t(p) + length;
    if (q >= dataLength || dataLength - q < 24) return false;
    const uint32_t successor = Word(uint32_t(q));
    if (successor == h) return true;
    return (successor & 0xFF) == 0xFF && (B1(successor) & 0xF6) == 0xE2 && !HasReservedField(successor);
}

bool Mp3FrameScanner::NextFrame(uint32_t p, uint32_t& next) {
    uint32_t length = 0;
    for (;;) {
        if (Remaining(p) < 8) return false;
        const uint32_t h = Word(p);
        if (h == referenceHeader) {
            length = referenceLength;
            break;
        }
        if (alternateSeen && h == alternateHeader) {
            length = alternateLength;
            break;
        }
        if (IsFrameHeader(h)) {
            TakeApart(h);
            length = FrameLength();
            if (!alternateSeen) {
                alternateHeader = h;
                alternateLength = length;
                alternateSeen = true;
            }
            break;
        }
        p = Resync(p);
    }

    const uint32_t entry = frameCount % kPageEntries;
    if (entry == 0) {
        if (pagesUsed == kMaxPages) return false;
        std::unique_ptr<uint32_t[]> offsets(new (std::nothrow) uint32_t[kPageEntries]());
        std::unique_ptr<int32_t[]> lengths(new (std::nothrow) int32_t[kPageEntries]());
        if (offsets == nullptr || lengths == nullptr) return false;
        offsetPages[pagesUsed] = std::move(offsets);
        lengthPages[pagesUsed] = std::move(lengths);
        ++pagesUsed;
    }
    const uint32_t page = frameCount / kPageEntries;
    offsetPages[page][entry] = p;
    uint64_t end = uint64_t(p) + length;
    if (end > dataLength) {  // a last frame cut short by the end of the data
        length = dataLength - p;
        end = dataLength;
    }
    lengthPages[page][entry] = int32_t(length);
    next = uint32_t(end);
    return true;
}

// Called where a frame was expected but p holds no accepted header: assumes the
// previous frame's length was slightly off and mends it in the index.
uint32_t Mp3FrameScanner::Resync(uint32_t p) {
    if (IsTagAt(p)) return dataLength;  // the rest is a tag
    if (frameCount > 0) {
        const uint32_t last = frameCount - 1;
        int32_t& lastLength = lengthPages[last / kPageEntries][last % kPageEntries];
        const uint32_t lastStart = offsetPages[last / kPageEntries][last % kPageEntries];
        // Shrinking must leave the previous frame its header.
        if (p >= lastStart + 6 && IsFrameHeader(Word(p - 1))) {
            lastLength -= 1;
            return p - 1;
        }
        if (p >= lastStart + 6 && IsFrameHeader(Word(p - 2))) {
            lastLength -= 2;
            return p - 2;
        }
        // NextFrame guarantees eight bytes from p.
        if (IsFrameHeader(Word(p + 1))) {
            lastLength += 1;
            return p + 1;
        }
        if (IsFrameHeader(Word(p + 2))) {
            lastLength += 2;
            return p + 2;
        }
    }
    // The skipped bytes belong to no frame.
    for (uint64_t q = uint64_t(p) + 3; q + 16 < dataLength; ++q) {
        if (data[q] == 0xFF && (data[q + 1] & 0xF6) == 0xF2 && IsFrameHeader(Word(uint32_t(q))))
            return uint32_t(q);
    }
    return dataLength;
}

void Mp3FrameScanner::MoveIndexTo(uint32_t* offsets, int32_t* lengths) {
    for (uint32_t page = 0; page < pagesUsed; ++page) {
        const uint32_t first = page * kPageEntries;
        const uint32_t count = frameCount - first < kPageEntries ? frameCount - first : kPageEntries;
        std::memcpy(offsets + first, offsetPages[page].get(), count * sizeof(uint32_t));
        std::memcpy(lengths + first, lengthPages[page].get(), count * sizeof(int32_t));
        offsetPages[page].reset();
        lengthPages[page].reset();
    }
}
