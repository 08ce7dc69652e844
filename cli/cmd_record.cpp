// bellwave-cli record: the recorder for a number of seconds, to "Out.wav" or "Out.mp3"
// in the current folder, printing the recorded time and the input meters.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/commands.h"
#include "cli/terminal_window.h"
#include "host/asio_messages.h"
#include "host/host.h"
#include "player/device_watch.h"
#include "player/player.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: bellwave-cli record [--device D] [--mp3] --seconds S\n");
    return 2;
}

}  // namespace

int RunRecord(int argc, char** argv) {
    const char* device = nullptr;
    bool mp3 = false;
    double seconds = -1.0;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--device") == 0 && hasValue) {
            device = argv[++i];
        } else if (std::strcmp(argv[i], "--mp3") == 0) {
            mp3 = true;
        } else if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) {
            char* end = nullptr;
            errno = 0;
            seconds = std::strtod(argv[++i], &end);
            if (errno != 0 || *end != '\0' || !std::isfinite(seconds)) return Usage();
        } else {
            return Usage();
        }
    }
    if (seconds <= 0.0 || seconds > 24 * 3600.0) return Usage();

    int32_t driver = kStoredDevice;
    if (device != nullptr && (driver = FindDriver(device)) < 0) {
        std::fprintf(stderr, "bellwave-cli record: no device '%s' (see bellwave-cli devices)\n", device);
        return 1;
    }
    TerminalWindow window;
    Player player(&window, nullptr, driver);
    if (!player.DeviceReady()) {
        std::fprintf(stderr, "bellwave-cli record: the device cannot be used (the host's log is CorvaneDbg.Log)\n");
        return 1;
    }
    const int rate = ASIOSetSampleRate();
    window.SetRate(rate);
    const char* name = mp3 ? "Out.mp3" : "Out.wav";
    player.SetRecordMp3(mp3);
    player.ToggleRecord();
    player.PlayPause();
    if (!player.RecordingActive()) {
        player.Stop();
        std::fprintf(stderr, "bellwave-cli record: %s could not be made%s\n", name,
                     mp3 ? " (the encoder takes 32000, 44100 and 48000 Hz)" : "");
        return 1;
    }
    // Whole blocks are recorded.
    const uint32_t blocks = uint32_t(std::ceil(seconds * rate / double(kBlockFrames)));
    CatchInterrupt();
    int quietMs = 0;
    DeviceWatch watch(player);
    DeviceEvent event = DeviceEvent::None;
    while (player.GetRecorder().WrittenBlocks() + player.GetRecorder().DroppedBlocks() < blocks) {
        if (Interrupted()) {
            std::printf("interrupted\n");
            break;
        }
        uint32_t message = 0;
        const bool got = window.Next(message, 100);
        // A loss closes the take; a new one would replace it, so the command ends.
        event = got && message == WMU_ASIO_RESET ? watch.OnResetRequest() : watch.PollDropouts();
        if (event != DeviceEvent::None) ReportDropouts(watch, window);
        if (event != DeviceEvent::None && event != DeviceEvent::Dropouts) break;
        if (got) {
            quietMs = 0;
        } else if ((quietMs += 100) >= 5000) {
            player.Stop();
            std::fprintf(stderr, "bellwave-cli record: the device stopped calling back\n");
            return 1;
        }
    }
    player.Stop();
    const uint32_t written = player.GetRecorder().WrittenBlocks();
    const uint32_t dropped = player.GetRecorder().DroppedBlocks();
    std::printf("wrote %s: %.3f s at %d Hz (%u blocks, %u dropped)\n", name,
                double(written) * kBlockFrames / rate, rate, written, dropped);
    const bool lost = event != DeviceEvent::None && event != DeviceEvent::Dropouts;
    if (lost)
        std::fprintf(stderr, "bellwave-cli record: the device %s; %s holds the take up to there\n",
                     event == DeviceEvent::TakeClosed ? "lost its inputs" : "went away", name);
    if (dropped > 0)
        std::fprintf(stderr, "bellwave-cli record: %u block%s lost: writing did not keep up\n", dropped,
                     dropped == 1 ? " was" : "s were");
    return dropped == 0 && !lost ? 0 : 1;
}
