#include "drivers/virtual/capture_file.h"

#include <cstring>

namespace {

constexpr long kHeaderBytes = 58;  // RIFF 12 + fmt 8+18 + fact 8+4 + data header 8
constexpr long kRiffSizeOffset = 4;
constexpr long kFactFramesOffset = 46;
constexpr long kDataSizeOffset = 54;
constexpr uint32_t kMaxDataBytes = 0xFFFFFFFFu - (kHeaderBytes - 8);  // the RIFF size must fit 32 bits

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

}  // namespace

bool CaptureFile::Open(const char* path, int channels, uint32_t sampleRateHz) {
    Close();
    if (path == nullptr || path[0] == '\0' || channels <= 0) return false;
    file_ = std::fopen(path, "wb");
    if (file_ == nullptr) return false;
    frameBytes_ = static_cast<uint32_t>(channels) * 4;
    dataBytes_ = 0;
    ended_ = false;

    uint8_t h[kHeaderBytes] = {};
    std::memcpy(h, "RIFF", 4);
    Put32(h + kRiffSizeOffset, kHeaderBytes - 8);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 18);
    Put16(h + 20, 3);  // IEEE float
    Put16(h + 22, static_cast<uint32_t>(channels));
    Put32(h + 24, sampleRateHz);
    Put32(h + 28, sampleRateHz * frameBytes_);
    Put16(h + 32, frameBytes_);
    Put16(h + 34, 32);
    Put16(h + 36, 0);  // no extension
    std::memcpy(h + 38, "fact", 4);
    Put32(h + 42, 4);
    std::memcpy(h + 50, "data", 4);
    if (std::fwrite(h, 1, sizeof h, file_) != sizeof h) {
        Close();
        return false;
    }
    return true;
}

void CaptureFile::Write(const float* frames, uint32_t frameCount) {
    if (file_ == nullptr || ended_) return;
    uint64_t bytes = static_cast<uint64_t>(frameCount) * frameBytes_;
    if (dataBytes_ + bytes > kMaxDataBytes) {
        ended_ = true;
        return;
    }
    size_t written = std::fwrite(frames, 1, bytes, file_);
    dataBytes_ += static_cast<uint32_t>(written / frameBytes_ * frameBytes_);
    if (written != bytes) ended_ = true;
}

void CaptureFile::Finish() {
    if (file_ == nullptr) return;
    uint8_t v[4];
    Put32(v, static_cast<uint32_t>(kHeaderBytes - 8) + dataBytes_);
    std::fseek(file_, kRiffSizeOffset, SEEK_SET);
    std::fwrite(v, 1, 4, file_);
    Put32(v, dataBytes_ / frameBytes_);
    std::fseek(file_, kFactFramesOffset, SEEK_SET);
    std::fwrite(v, 1, 4, file_);
    Put32(v, dataBytes_);
    std::fseek(file_, kDataSizeOffset, SEEK_SET);
    std::fwrite(v, 1, 4, file_);
    std::fseek(file_, kHeaderBytes + static_cast<long>(dataBytes_), SEEK_SET);
    std::fflush(file_);
}

void CaptureFile::Close() {
    if (file_ == nullptr) return;
    Finish();
    std::fclose(file_);
    file_ = nullptr;
}
