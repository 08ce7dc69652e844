// The adapter to LAME's Layer III decoder (libmp3lame's hip interface), bound to a
// frame index.
//
// The contract the reader relies on:
// - Frames are fed whole, in increasing index order without gaps, each exactly as the
//   index gives it (start and length), so bytes that resynchronisation added to or took
//   from a frame are consumed with it.
// - Output lags one frame behind input: a new or reset context decodes nothing on its
//   first call, every later call yields the frame fed by the previous call, and the last
//   frame of a stream never comes out.
// - Output is interleaved 16-bit PCM of the index's channel count, 1152 sample frames
//   per MPEG-1 frame and 576 per MPEG-2 frame.
// - A reset forgets every byte fed so far, the bit reservoir included.
// - A frame that only carries stream information (a "Xing" or "Info" frame, which the
//   hip decoder takes without output) comes out as a frame of silence, so that the
//   n-th frame of the index always yields the n-th frame of PCM.
#pragma once

#include <cstdint>

struct Mp3DecoderContext;

// Builds the decoder's process-wide tables. Call once before the first CreateContext;
// later calls do nothing.
void InitMp3Tables();

// Whether a frame carries only stream information ("Xing" or "Info" where the side
// information would be): the decoder takes it without output, and DecodeFrame gives a
// frame of silence for it.
bool IsInformationFrame(const uint8_t* frame, int32_t length);

// Holds no state of its own; one object serves every open file.
class Mp3Decoder {
public:
    // A context over the frame index: data is the MP3 data the offsets count from;
    // readPositions records the bytes of each frame consumed so far. channels and
    // frameSamples (1152 or 576) fix the shape of every decoded frame. Null on failure.
    Mp3DecoderContext* CreateContext(const uint8_t* data, const uint32_t* frameOffsets,
                                     const int32_t* frameLengths, int32_t* readPositions,
                                     uint32_t channels, uint32_t frameSamples) const;
    // Forgets all input and the bit reservoir, as after creation. The caller zeroes the
    // read positions first. False when a new decoder state could not be made (every
    // later DecodeFrame then fails).
    bool ResetContext(Mp3DecoderContext* context) const;
    // Feeds frame `frame` and decodes at most one frame into out (room for one frame of
    // PCM). bytes is set to what was written: 0 or channels * frameSamples * 2.
    // Result: 0 a frame was taken, 1 more input needed (nothing decoded), -1 error.
    int DecodeFrame(Mp3DecoderContext* context, uint32_t frame, int16_t* out, uint32_t& bytes) const;
    // For a context just created or reset, before `frame` is fed: feeds a frame of
    // silence whose main data ends with the bit reservoir that `frame` reaches back
    // into, so that `frame` and every frame after it decode exactly as in a straight
    // read. That frame comes out, as silence, when `frame` is fed. False (nothing fed)
    // when the context has been fed or the frame's header has no such frame.
    bool PrimeReservoir(Mp3DecoderContext* context, uint32_t frame) const;
    void DestroyContext(Mp3DecoderContext* context) const;
};
