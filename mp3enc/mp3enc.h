// The 128 kbit/s constant-bit-rate MPEG-1 Layer III encoder the recorder writes "Out.mp3"
// with: long blocks only, no psychoacoustic model, no scale factors, channels coded
// independently, no bit reservoir. Each frame is encoded from its own 1152 sample frames
// and written to the file as soon as it is complete; the file is the bare frame sequence.
//
// One process-wide encoder. The recorder calls InitMp3Encoder and CloseMp3Encoder on its
// control thread and EncodeMp3 on its writer thread, never two at once; nothing here
// locks.
#pragma once

#include <cstdint>
#include <cstdio>

#include "mp3enc/bitstream.h"
#include "mp3enc/filterbank.h"
#include "mp3enc/frame_types.h"
#include "mp3enc/quantize.h"

// Starts an encoder writing to file (opened "wb" by the caller, who also closes it).
// Returns whether it started. A rate other than 32000, 44100 or 48000 Hz has no
// sampling-frequency code in the stream and is refused, as are a null file and a second
// encoder while one is active; after a refusal the other calls do nothing and nothing is
// written, so the caller should not go on as if it were recording MP3.
bool InitMp3Encoder(int32_t sampleRate, std::FILE* file);
// samples: interleaved 16-bit stereo, left first; frameCount sample frames, encoded as
// (frameCount - 1) / 1152 + 1 MPEG frames, a partial last one completed with silence
// (nothing past frameCount is read). Returns 0 when no encoder is active, else 1
// (frameCount below 1 encodes nothing).
int32_t EncodeMp3(const int16_t* samples, int32_t frameCount);
// Writes three frames of silence that carry out the end of the recording, then ends the
// encoder. Does nothing when none is active.
void CloseMp3Encoder();

namespace mp3enc {

class Mp3Encoder {
public:
    // Call Ready() afterwards: false when the rate has no code or memory ran out.
    Mp3Encoder(int32_t sampleRate, int32_t bitRate, int channels, std::FILE* file);
    ~Mp3Encoder();
    Mp3Encoder(const Mp3Encoder&) = delete;
    Mp3Encoder& operator=(const Mp3Encoder&) = delete;
    bool Ready() const { return ready_; }

    // sampleCount int16 values (channels x 1152 from both callers); with flush, two more
    // frames from the buffers, which hold zeros then.
    void EncodeFrame(int32_t sampleCount, const int16_t* samples, bool flush);

    // Read by tests.
    const FrameSettings& Settings() const { return settings_; }
    const SideInfo& Side() const { return side_; }
    const double* Spectrum() const { return spectrum_; }          // [granule][channel][576]
    const int32_t* QuantisedLines() const { return ix_; }        // signed, same layout
    const SubbandFilter& Filter() const { return *filter_; }
    const Mdct& Transform() const { return *mdct_; }
    const QuantLoop& Quantiser() const { return *quant_; }
    int32_t MeanBits() const { return meanBits_; }
    int32_t WholeSlots() const { return wholeSlots_; }
    double FractionalSlots() const { return fractionalSlots_; }

private:
    void EncodeOne();

    FrameSettings settings_;
    SideInfo side_;
    int channels_;
    int32_t meanBits_ = 0;
    int32_t sideInfoBits_;
    int32_t wholeSlots_ = 0;
    double slotLag_ = 0.0;
    double averageSlots_ = 0.0;
    double fractionalSlots_ = 0.0;
    bool ready_ = false;

    int16_t (*pcm_)[kFrameSamples] = nullptr;  // [channel]
    SubbandSlots* subbands_ = nullptr;         // [channel]
    double* spectrum_ = nullptr;               // 2 x 2 x 576
    int32_t* ix_ = nullptr;
    BitWriter* writer_ = nullptr;
    HuffTableSet* tables_ = nullptr;
    SubbandFilter* filter_ = nullptr;
    Mdct* mdct_ = nullptr;
    QuantLoop* quant_ = nullptr;
    FrameFormatter* formatter_ = nullptr;
};

// The active process-wide instance, or null (for tests).
Mp3Encoder* ActiveMp3Encoder();

}  // namespace mp3enc
