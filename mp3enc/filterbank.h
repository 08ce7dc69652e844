// Analysis: the polyphase filterbank splits each channel's PCM into 32 subbands (18
// samples per subband and granule), and the MDCT turns each subband's previous and
// current 18 samples into 18 spectral lines with the long-block window, followed by the
// encoder's alias-reduction butterflies. All arithmetic is in double precision and in a
// fixed order of operations, so the spectrum is the same on every run and build.
#pragma once

#include <cstdint>

#include "mp3enc/frame_types.h"

namespace mp3enc {

// Subband samples of one channel: slot 0 the previous frame's second granule, slots 1
// and 2 this frame's granules; each 18 rows (time) of 32 subbands.
using SubbandSlots = double[3][18][32];

class SubbandFilter {
public:
    SubbandFilter();
    // Fills slots 1 and 2 of every channel from its 1152 PCM samples.
    void Analyse(const int16_t (*pcm)[kFrameSamples], SubbandSlots* slots, int channels);

    double M[32][64];  // matrixing coefficients, rounded to nine decimal places

private:
    // Windowing and partial sums of 32 new samples into y.
    void Window(int channel, const int16_t* samples);
    void Matrix(double* out);

    int32_t offsets_[2] = {0, 0};
    double y_[64] = {};
    double x_[2][1024] = {};  // the 512-sample FIFO, stored twice in a row
    double mt_[64][32];  // M transposed, so the 32 sums of one k run side by side
};

class Mdct {
public:
    explicit Mdct(int channels);
    // Fills the spectrum (granule-major blocks of 576 lines) and then moves slot 2 of
    // every channel into slot 0 for the next frame.
    void Transform(SubbandSlots* slots, double* spectrum);

    double ca[8];
    double cs[8];
    double win[36];
    double cosTable[18][36];

private:
    int channels_;
    double cosT_[36][20] = {};  // cosTable transposed, rows padded with zeros
};

}  // namespace mp3enc
