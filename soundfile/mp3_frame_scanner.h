// One pass over an MPEG-1/MPEG-2 Layer III stream that records where each frame starts
// and how long it is, with the stream's rate, channel count and length. Skips a
// leading ID3v2 tag, stops at a trailing tag, resynchronises over damaged bytes and
// refuses MPEG-2.5 streams.
//
// Header words are read little-endian, so frame header byte 0 (b0) is the lowest byte.
#pragma once

#include <cstdint>
#include <memory>

class Mp3FrameScanner {
public:
    // The index grows in pages of kPageEntries frames so the pass never reallocates.
    // kMaxPages * kPageEntries frames is over seven hours at 44100 Hz.
    static constexpr uint32_t kPageEntries = 1024;
    static constexpr uint32_t kMaxPages = 1024;

    Mp3FrameScanner(const uint8_t* data, uint32_t dataLength) : data(data), dataLength(dataLength) {}
    Mp3FrameScanner(const Mp3FrameScanner&) = delete;
    Mp3FrameScanner& operator=(const Mp3FrameScanner&) = delete;

    // Runs the whole pass; returns the pages used, 0 when the stream is refused (no
    // confirmed first frame, MPEG-2.5, or nothing indexed).
    uint32_t Build();

    // Frame i's offset from data and its length in bytes (header included).
    uint32_t FrameOffset(uint32_t i) const { return offsetPages[i / kPageEntries][i % kPageEntries]; }
    int32_t FrameLengthAt(uint32_t i) const { return lengthPages[i / kPageEntries][i % kPageEntries]; }
    // Copies the index into flat arrays of frameCount entries, freeing each page once
    // copied.
    void MoveIndexTo(uint32_t* offsets, int32_t* lengths);

    // Results.
    uint32_t sampleRate = 0;    // of the reference (first) frame; 0 = none yet
    uint32_t channels = 0;
    uint32_t sourceFrames = 0;  // sample frames the decoder will deliver
    uint32_t frameCount = 0;
    uint64_t pcmBytes = 0;      // 16-bit PCM bytes the decoder will deliver

    // Fields of the header most recently taken apart.
    uint32_t versionId = 0;     // 1 = MPEG-1, 0 = MPEG-2 (or 2.5)
    uint32_t layerBits = 0;     // 1 = Layer III
    uint32_t crcPresent = 0;
    uint32_t bitrateIndex = 0;
    uint32_t rateIndex = 0;
    uint32_t padding = 0;
    uint32_t mode = 0;          // 3 = single channel

private:
    bool IsFrameHeader(uint32_t h);
    void TakeApart(uint32_t h);
    uint32_t FrameLength() const;
    bool FindFirstFrame(uint32_t start, uint32_t& found);
    bool ConfirmFirstFrame(uint32_t h, uint32_t p);
    bool ProbeMpeg25(uint32_t h, uint32_t p);
    bool NextFrame(uint32_t p, uint32_t& next);
    uint32_t Resync(uint32_t p);
    bool IsTagAt(uint32_t p) const;
    uint32_t Word(uint32_t p) const;
    void ClearReference();
    uint32_t Remaining(uint32_t p) const { return p < dataLength ? dataLength - p : 0; }

    const uint8_t* data;
    std::unique_ptr<uint32_t[]> offsetPages[kMaxPages];
    std::unique_ptr<int32_t[]> lengthPages[kMaxPages];
    uint32_t pagesUsed = 0;
    uint32_t dataLength;
    uint32_t referenceHeader = 0;
    uint32_t referenceLength = 0;
    uint32_t alternateHeader = 0;
    uint32_t alternateLength = 0;
    bool alternateSeen = false;
};
