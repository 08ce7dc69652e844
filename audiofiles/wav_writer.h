// The recorder's WAV writer: one process-wide writer of 16-bit stereo PCM RIFF/WAVE
// files, written block by block and completed (sample count) at close. The RIFF and data
// sizes follow every block, so a recording cut short by the process dying still reads
// up to its last block.
//
// File layout (little-endian):
//   0 "RIFF"  4 file size - 8  8 "WAVE"
//   12 "fmt "  16 18  20 format: tag 1, channels 2, rate, rate * 4, align 4, 16 bits, 0
//   38 "fact"  42 4   46 sample count (every 16-bit value), all bits set until closed
//   50 "data"  54 data bytes  58 interleaved samples, left then right
//
// Threads: open and close on the user-interface thread, writes on the recorder's
// writer thread; the recorder joins its writer before closing. A write error closes
// the file from the writer thread, and the later close finds the writer closed.
#pragma once

#include <cstdint>

// Header bytes in front of the samples.
constexpr uint32_t kWavWriterHeaderBytes = 58;
// The most sample bytes one file takes: the file size stays below 4 GiB, so every
// 32-bit size in the header holds its true value. A multiple of the 4-byte frame.
constexpr uint32_t kWavWriterMaxDataBytes = (0xFFFFFFFFu - kWavWriterHeaderBytes) & ~3u;

// Results of WavWriteData.
constexpr int kWavWriteOk = 0;
constexpr int kWavWriteNotOpen = 1;     // no file is open (never opened, closed, or failed)
constexpr int kWavWriteCannotWrite = 2; // the system refused the bytes (disk full, ...)

// Creates (or replaces) path and writes the header for 16-bit stereo at sampleRate Hz.
// False when a file is already open, the file cannot be created or the header cannot
// be written (a partly written file is removed).
bool WavOpenForWrite(const char* path, uint32_t sampleRate);

// Appends bytes of interleaved samples straight from data (nothing is copied), then
// writes the RIFF and data sizes for them; written receives the bytes that went into
// the file. Returns kWavWriteOk, with written < bytes when the file reached its size
// limit (a short write: the caller closes the file). On kWavWriteCannotWrite the file
// is closed here, its sizes covering the whole frames that were written.
int WavWriteData(const void* data, uint32_t bytes, uint32_t& written);

// Makes what was written so far, samples and sizes, durable on the disk (fdatasync).
// Writer thread; it may wait for the disk. False when no file is open or the system
// refuses.
bool WavSyncToDisk();

// Writes the final sizes and the sample count and closes the file. Returns the sample
// bytes written; 0 and nothing done when no file is open.
uint32_t WavCloseForWrite();

// True while a file is open for writing.
bool WavIsOpen();

// Lowers the size limit of the files opened afterwards, so that tests reach it
// without writing gigabytes; clamped to kWavWriterMaxDataBytes and rounded down to
// whole frames. Defaults to kWavWriterMaxDataBytes.
void WavSetDataLimit(uint32_t bytes);
