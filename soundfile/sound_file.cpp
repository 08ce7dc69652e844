#include "soundfile/sound_file.h"

#include <cmath>
#include <cstring>
#include <new>

#include "audiofiles/wav_layout.h"
#include "soundfile/mp3_frame_scanner.h"

namespace {

uint32_t BlockBytes(uint32_t channels) { return channels == 2 ? kStereoBlockBytes : kBlockBytesPerChannel; }

}  // namespace

// ---- PcmSource

uint32_t PcmSource::ReadBlock(int16_t* out) {
    const uint32_t blockBytes = BlockBytes(channels);
    const size_t available = size_t(end - current);
    if (available == 0) return 0;  // at the end; out stays as it was
    const size_t copied = available < blockBytes ? available : blockBytes;
    std::memcpy(out, current, copied);
    if (copied < blockBytes) std::memset(reinterpret_cast<uint8_t*>(out) + copied, 0, blockBytes - copied);
    current += copied;
    return uint32_t(copied / (channels * 2));
}

const uint8_t* PcmSource::Unread(uint64_t& frames) const {
    frames = uint64_t(end - current) / (channels * 2);
    return current;
}

// ---- Mp3Source

Mp3Source::~Mp3Source() { decoder.DestroyContext(context); }

bool Mp3Source::Open(const uint8_t* mp3Data, uint32_t bytes) {
    const std::unique_ptr<Mp3FrameScanner> scanner(new (std::nothrow) Mp3FrameScanner(mp3Data, bytes));
    if (scanner == nullptr || scanner->Build() == 0) return false;
    format = kWavFormatMpegLayer3;
    channels = scanner->channels;
    sampleRate = scanner->sampleRate;
    sourceFrames = scanner->sourceFrames;
    frameCount = scanner->frameCount;
    data = mp3Data;

    capacity = (frameCount & ~3u) + 4;
    frameOffsets.reset(new (std::nothrow) uint32_t[capacity]());
    frameLengths.reset(new (std::nothrow) int32_t[capacity]());
    frameReadPositions.reset(new (std::nothrow) int32_t[capacity]());
    if (frameOffsets != nullptr && frameLengths != nullptr && frameReadPositions != nullptr) {
        scanner->MoveIndexTo(frameOffsets.get(), frameLengths.get());
        context = decoder.CreateContext(data, frameOffsets.get(), frameLengths.get(), frameReadPositions.get(),
                                        channels, FrameSamples());
    }
    if (context == nullptr) {
        frameOffsets.reset();
        frameLengths.reset();
        frameReadPositions.reset();
        return false;
    }
    return true;
}

void Mp3Source::ResetDecoder() {
    std::memset(frameReadPositions.get(), 0, capacity * sizeof(int32_t));
    decoder.ResetContext(context);
    nextFrame = 0;
}

void Mp3Source::Rewind() {
    if (nextFrame != 0) ResetDecoder();
}

uint32_t Mp3Source::SeekToFrame(uint64_t position) {
    const uint32_t frameSamples = FrameSamples();
    const uint64_t stop = position / frameSamples + 1;
    if (nextFrame != 0) ResetDecoder();
    // The decoder is fed up to the frame that holds the position, `target`; because of
    // its lag the next read starts with that frame. To continue exactly as a straight
    // read does, the decoder must then stand where a straight read has it:
    // - its bit reservoir: the lead-in starts with a frame of silence that carries it;
    // - the overlap of the frame before target, decoded in the lead-in;
    // - its synthesis filter, whose ring of 16 turns two places per granule and whose
    //   sums round differently at each place: the frames it has decoded since its
    //   start, counted modulo 4 (two granules a frame, MPEG-1) or 8 (one, MPEG-2), must
    //   agree. A straight read has decoded every frame before target but a leading
    //   information frame, which the decoder skips; the lead-in decodes the frame of
    //   silence and every frame from `first` on, so `first` is chosen to match.
    const uint64_t target = stop - 1;
    const uint64_t period = frameSamples == kMpeg1FrameSamples ? 4 : 8;
    const uint64_t skipped = target > 0 && IsInformationFrame(data + frameOffsets[0], frameLengths[0]) ? 1 : 0;
    uint64_t first = 0;  // a straight read from the start unless a lead-in fits
    if (target >= 2 + skipped && target < frameCount) {
        const uint64_t latest = target - 1;  // at least the frame before target
        first = latest - (latest + period - 1 - skipped) % period;
        if (first == 0 || !decoder.PrimeReservoir(context, uint32_t(first))) first = 0;
    }
    nextFrame = uint32_t(first);
    int16_t scratch[2 * kMpeg1FrameSamples];  // one stereo frame
    while (nextFrame < stop && nextFrame < frameCount) {
        uint32_t bytes = 0;
        if (decoder.DecodeFrame(context, nextFrame, scratch, bytes) == -1) return 0;
        ++nextFrame;
    }
    // Frames nextFrame - 1 up to frameCount - 2 are still to come out.
    if (nextFrame == 0) return sourceFrames;
    const uint64_t delivered = uint64_t(nextFrame - 1) * frameSamples;
    return delivered >= sourceFrames ? 0 : uint32_t(sourceFrames - delivered);
}

uint32_t Mp3Source::ReadBlock(int16_t* out) {
    const uint32_t blockBytes = BlockBytes(channels);
    const uint32_t frameBytes = FrameSamples() * channels * 2;
    uint32_t written = 0;
    while (written < blockBytes && nextFrame < frameCount) {
        uint32_t bytes = 0;
        const int result = decoder.DecodeFrame(context, nextFrame, out + written / 2, bytes);
        ++nextFrame;
        if (result == -1) break;  // ends this block only; the next read goes on
        if (bytes != 0) written += frameBytes;
    }
    std::memset(reinterpret_cast<uint8_t*>(out) + written, 0, blockBytes - written);
    return written / (channels * 2);
}

uint32_t Mp3Source::DecodeNext(int16_t* buffer) {
    while (nextFrame < frameCount) {
        uint32_t bytes = 0;
        const int result = decoder.DecodeFrame(context, nextFrame, buffer, bytes);
        ++nextFrame;
        if (result == -1) return 0;
        if (bytes != 0) return bytes;
    }
    return 0;
}

// ---- SoundFile

void SoundFile::Open(const uint8_t* data, uint32_t size, uint32_t targetRate, const Mp3Decoder& decoder) {
    Close();
    if (data == nullptr || size == 0 || targetRate == 0) return;

    const uint8_t* mp3Data = data;
    uint32_t mp3Bytes = size;
    if (size >= 4 && std::memcmp(data, "RIFF", 4) == 0) {
        WavLayout layout;
        if (!ParseWavHeader(data, size, layout)) return;
        format = layout.format;
        channels = layout.channels;
        sampleRate = layout.sampleRate;
        sourceFrames = layout.sourceFrames;
        if (format == kWavFormatPcm) {
            pcmSource.reset(new (std::nothrow) PcmSource);
            if (pcmSource == nullptr) return;
            pcmSource->channels = channels;
            pcmSource->sampleRate = sampleRate;
            pcmSource->frames = sourceFrames;
            pcmSource->format = format;
            pcmSource->start = pcmSource->current = data + layout.dataOffset;
            pcmSource->end = pcmSource->start + layout.dataBytes;
        } else {
            mp3Data = data + layout.dataOffset;
            mp3Bytes = layout.dataBytes;
        }
    }
    if (pcmSource == nullptr) {
        mp3Source.reset(new (std::nothrow) Mp3Source(decoder));
        if (mp3Source == nullptr || !mp3Source->Open(mp3Data, mp3Bytes)) {
            Close();
            return;
        }
        format = mp3Source->Format();
        channels = mp3Source->Channels();
        sampleRate = mp3Source->SampleRate();
        sourceFrames = mp3Source->SourceFrames();
    }
    if (format == 0 || sourceFrames == 0) {
        Close();
        return;
    }

    reader = pcmSource != nullptr ? static_cast<BlockReader*>(pcmSource.get()) : mp3Source.get();
    uint64_t frames = sourceFrames;
    if (sampleRate != targetRate) {
        rateRatio = double(targetRate) / double(sampleRate);
        stepRatio = double(sampleRate) / double(targetRate);
        resampling = true;
        resampler.reset(new (std::nothrow) Resampler(*reader, channels, rateRatio, stepRatio));
        if (resampler == nullptr || !resampler->Reset(sourceFrames)) {
            Close();
            return;
        }
        reader = resampler.get();
        frames = resampler->TotalOut();
    }
    // Counts stay 32-bit; a block count above INT32_MAX could not be sought to.
    const uint64_t limit = uint64_t(INT32_MAX) * kBlockFrames;
    totalFrames = uint32_t(frames < limit ? frames : limit);
    blockCount = totalFrames / kBlockFrames + (totalFrames % kBlockFrames != 0 ? 1 : 0);
    ready = true;
}

void SoundFile::Rewind() {
    if (!ready) return;
    if (pcmSource != nullptr) pcmSource->current = pcmSource->start;
    if (mp3Source != nullptr) mp3Source->Rewind();
    if (resampling) resampler->Reset(sourceFrames);
}

void SoundFile::SeekToBlock(int32_t block) {
    if (!ready) return;
    if (block > int32_t(blockCount) - 4) block = int32_t(blockCount) - 4;
    if (block <= 0) {  // also a file of fewer than four blocks, where the limit is negative
        Rewind();
        return;
    }
    uint64_t position = uint64_t(block) * kBlockFrames;
    if (resampling) position = uint64_t(std::floor(double(position) * stepRatio));
    uint32_t remaining = 0;
    if (pcmSource != nullptr) {
        if (position > pcmSource->frames) position = pcmSource->frames;
        pcmSource->current = pcmSource->start + position * channels * 2;
        remaining = uint32_t((pcmSource->end - pcmSource->current) / (channels * 2));
    } else {
        remaining = mp3Source->SeekToFrame(position);
    }
    if (resampling) resampler->Reset(remaining);
}

uint32_t SoundFile::ReadBlock(int16_t* out) {
    if (!ready || out == nullptr) return 0;
    return reader->ReadBlock(out);
}

void SoundFile::Close() {
    reader = nullptr;
    resampler.reset();  // refers to a source: goes first
    mp3Source.reset();
    pcmSource.reset();
    channels = sampleRate = sourceFrames = format = 0;
    rateRatio = stepRatio = 1.0;
    blockCount = totalFrames = 0;
    resampling = ready = false;
}
