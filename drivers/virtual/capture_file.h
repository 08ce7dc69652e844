// The WAV file that receives what the virtual device plays: 32-bit float samples
// (format tag 3), one channel per device output, interleaved. Layout: RIFF header,
// an 18-byte "fmt " chunk, a "fact" chunk with the frame count, then "data". The sizes
// are written when the file is opened (as zero) and brought up to date by Finish, so
// the file is a valid WAV after every stop, not only when it is closed.
#pragma once

#include <cstdint>
#include <cstdio>

class CaptureFile {
public:
    CaptureFile() = default;
    ~CaptureFile() { Close(); }
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Creates (or replaces) the file and writes its header. False if it cannot.
    bool Open(const char* path, int channels, uint32_t sampleRateHz);
    // Appends frameCount interleaved frames. Runs on the switch thread: no allocation.
    // A write that fails, or that would take the file past 4 GiB, ends the capture
    // there; the header keeps the frames written whole.
    void Write(const float* frames, uint32_t frameCount);
    // Writes the sizes into the header and flushes.
    void Finish();
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

private:
    FILE* file_ = nullptr;
    uint32_t frameBytes_ = 0;
    uint32_t dataBytes_ = 0;
    bool ended_ = false;
};
