// The stream is unbuffered: each block goes from the caller's memory straight to the
// file, and a short count from fwrite is exactly what reached the file. After each block
// the RIFF and data sizes are written in place (pwrite, which leaves the stream's
// position alone), so the file of a process that dies mid-recording reads up to its last
// block; only the fact value waits for the close.
#include "audiofiles/wav_writer.h"

#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace {

constexpr uint32_t kFactValueOffset = 46;
constexpr uint32_t kDataSizeOffset = 54;

FILE* file = nullptr;
std::atomic<bool> fileOpen{false};
uint32_t totalBytes = 0;  // sample bytes in the file
uint32_t fileLimit = 0;   // sample bytes the open file may take
uint32_t dataLimit = kWavWriterMaxDataBytes;

void PutLe16(uint8_t* p, uint32_t value) {
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

void PutLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(value >> (8 * i));
}

void PutId(uint8_t* p, const char* id) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(id[i]);
}

// Writes the RIFF and data sizes for the samples written so far, beside the stream. A
// header that cannot be brought up to date now gets its sizes at the close.
void WriteSizesInPlace() {
    uint8_t riff[4], data[4];
    PutLe32(riff, kWavWriterHeaderBytes - 8 + totalBytes);
    PutLe32(data, totalBytes);
    const int fd = fileno(file);
    if (pwrite(fd, riff, 4, 4) != 4 || pwrite(fd, data, 4, kDataSizeOffset) != 4) return;
}

bool WriteLe32At(uint32_t offset, uint32_t value) {
    uint8_t bytes[4];
    PutLe32(bytes, value);
    return fseeko(file, off_t(offset), SEEK_SET) == 0 && fwrite(bytes, 1, 4, file) == 4;
}

// Completes the sizes and the sample count, cuts off any partial frame left by a
// failed write, and closes. A failing step skips to the close; the file is always
// closed.
void FinishAndClose() {
    const uint32_t padBytes = totalBytes & 1;  // chunks are padded to an even length
    const uint32_t fileBytes = kWavWriterHeaderBytes + totalBytes + padBytes;
    bool ok = true;
    if (padBytes) {
        const uint8_t zero = 0;
        ok = fseeko(file, off_t(fileBytes - 1), SEEK_SET) == 0 && fwrite(&zero, 1, 1, file) == 1;
    }
    ok = ok && WriteLe32At(4, fileBytes - 8);
    ok = ok && WriteLe32At(kDataSizeOffset, totalBytes);
    ok = ok && WriteLe32At(kFactValueOffset, totalBytes / 2);
    ok = ok && fflush(file) == 0;
    if (ok && ftruncate(fileno(file), off_t(fileBytes)) != 0) ok = false;
    fclose(file);
    file = nullptr;
    fileOpen.store(false);
}

}  // namespace

bool WavOpenForWrite(const char* path, uint32_t sampleRate) {
    if (fileOpen.load() || path == nullptr) return false;
    FILE* f = fopen(path, "wb");
    if (f == nullptr) return false;
    setvbuf(f, nullptr, _IONBF, 0);

    uint8_t header[kWavWriterHeaderBytes];
    PutId(header + 0, "RIFF");
    PutLe32(header + 4, kWavWriterHeaderBytes - 8);  // an empty file until closed
    PutId(header + 8, "WAVE");
    PutId(header + 12, "fmt ");
    PutLe32(header + 16, 18);
    PutLe16(header + 20, 1);               // PCM
    PutLe16(header + 22, 2);               // channels
    PutLe32(header + 24, sampleRate);
    PutLe32(header + 28, sampleRate * 4);  // bytes per second
    PutLe16(header + 32, 4);               // block alignment
    PutLe16(header + 34, 16);              // bits per sample
    PutLe16(header + 36, 0);               // extra format bytes
    PutId(header + 38, "fact");
    PutLe32(header + 42, 4);
    PutLe32(header + kFactValueOffset, 0xFFFFFFFFu);
    PutId(header + 50, "data");
    PutLe32(header + kDataSizeOffset, 0);
    if (fwrite(header, 1, sizeof header, f) != sizeof header) {
        fclose(f);
        remove(path);
        return false;
    }
    file = f;
    totalBytes = 0;
    fileLimit = dataLimit;
    fileOpen.store(true);
    return true;
}

int WavWriteData(const void* data, uint32_t bytes, uint32_t& written) {
    written = 0;
    if (!fileOpen.load()) return kWavWriteNotOpen;
    const uint32_t room = fileLimit - totalBytes;
    const uint32_t wanted = bytes < room ? bytes : room;
    if (wanted == 0 || data == nullptr) return kWavWriteOk;
    const size_t put = fwrite(data, 1, wanted, file);
    if (put == wanted) {
        totalBytes += wanted;
        written = wanted;
        WriteSizesInPlace();
        return kWavWriteOk;
    }
    // Keep whole frames only; the close cuts the file back to them.
    const uint32_t kept = (totalBytes + uint32_t(put)) & ~3u;
    if (kept > totalBytes) {
        written = kept - totalBytes;
        totalBytes = kept;
    }
    FinishAndClose();
    return kWavWriteCannotWrite;
}

uint32_t WavCloseForWrite() {
    if (!fileOpen.load()) return 0;
    const uint32_t total = totalBytes;
    FinishAndClose();
    return total;
}

bool WavSyncToDisk() {
    if (!fileOpen.load()) return false;
    return fdatasync(fileno(file)) == 0;
}

bool WavIsOpen() { return fileOpen.load(); }

void WavSetDataLimit(uint32_t bytes) {
    dataLimit = (bytes < kWavWriterMaxDataBytes ? bytes : kWavWriterMaxDataBytes) & ~3u;
}
