// bellwave-cli scan FILE: the MP3 frame index of a bare MP3 file or of the MP3 payload
// of a WAV file with format tag 85.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "audiofiles/mapped_file.h"
#include "audiofiles/wav_layout.h"
#include "cli/commands.h"
#include "soundfile/mp3_frame_scanner.h"

int RunScan(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bellwave-cli scan FILE\n");
        return 2;
    }
    MappedFile file;
    if (!file.Open(argv[1])) {
        std::fprintf(stderr, "bellwave-cli: cannot map '%s' (missing, unreadable or empty)\n", argv[1]);
        return 1;
    }
    const uint8_t* data = file.view;
    uint32_t bytes = file.size;
    if (bytes >= 4 && std::memcmp(data, "RIFF", 4) == 0) {
        WavLayout layout;
        if (!ParseWavHeader(data, bytes, layout) || layout.format != kWavFormatMpegLayer3) {
            std::fprintf(stderr, "bellwave-cli: '%s' is a WAV file without MP3 data\n", argv[1]);
            return 1;
        }
        data += layout.dataOffset;
        bytes = layout.dataBytes;
    }
    Mp3FrameScanner scanner(data, bytes);
    if (scanner.Build() == 0) {
        std::fprintf(stderr, "bellwave-cli: no MPEG-1 or MPEG-2 Layer III stream found in '%s'\n", argv[1]);
        return 1;
    }
    std::printf("frames=%" PRIu32 " rate=%" PRIu32 " channels=%" PRIu32 " sourceFrames=%" PRIu32 "\n",
                scanner.frameCount, scanner.sampleRate, scanner.channels, scanner.sourceFrames);
    return 0;
}
