// bellwave-cli play: the player engine over a queue of files and .m3u lists, until the
// queue ends. The terminal stands in for the window: it receives the player's messages
// and answers the end of each track by taking the next entry, or stops.
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/terminal_window.h"
#include "host/asio_messages.h"
#include "host/host.h"
#include "player/device_link.h"
#include "player/device_watch.h"
#include "player/play_queue.h"
#include "player/player.h"

namespace {

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) { gInterrupted.store(true); }

int Usage() {
    std::fprintf(stderr, "usage: bellwave-cli play [--device D] [--loop] [--volume L] [--shuffle] FILE...\n");
    return 2;
}

}  // namespace

// ---- shared by play and record -------------------------------------------------------

int FindDriver(const char* device) {
    DeviceLink lister(nullptr, nullptr, nullptr);
    std::vector<std::string> names;
    const int count = lister.ListDrivers(names);
    char* end = nullptr;
    errno = 0;
    const long id = std::strtol(device, &end, 10);
    if (errno == 0 && end != device && *end == '\0') return id >= 0 && id < count ? int(id) : -1;
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == device) return int(i);
    return -1;
}

void CatchInterrupt() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() { return gInterrupted.load(); }

// ---- play -------------------------------------------------------------------------------

int RunPlay(int argc, char** argv) {
    const char* device = nullptr;
    bool loop = false, shuffle = false;
    int volume = 15;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--device") == 0 && hasValue) {
            device = argv[++i];
        } else if (std::strcmp(argv[i], "--loop") == 0) {
            loop = true;
        } else if (std::strcmp(argv[i], "--shuffle") == 0) {
            shuffle = true;
        } else if (std::strcmp(argv[i], "--volume") == 0 && hasValue) {
            const char* text = argv[++i];
            char* end = nullptr;
            const long v = std::strtol(text, &end, 10);
            if (end == text || *end != '\0' || v < 0 || v > 15) return Usage();
            volume = int(v);
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            return Usage();
        } else {
            files.emplace_back(argv[i]);
        }
    }
    if (files.empty()) return Usage();

    int32_t driver = kStoredDevice;
    if (device != nullptr && (driver = FindDriver(device)) < 0) {
        std::fprintf(stderr, "bellwave-cli play: no device '%s' (see bellwave-cli devices)\n", device);
        return 1;
    }
    TerminalWindow window;
    Player player(&window, nullptr, driver);
    if (!player.DeviceReady()) {
        std::fprintf(stderr, "bellwave-cli play: the device cannot be used (the host's log is CorvaneDbg.Log)\n");
        return 1;
    }
    window.SetRate(ASIOSetSampleRate());

    // The list a play-list dialog would build, then handed to the queue.
    PlayList list;
    for (const std::string& file : files)
        if (!AddPathToList(list, player.Directories(), file.c_str()))
            std::fprintf(stderr, "bellwave-cli play: nothing to play from '%s'\n", file.c_str());
    if (shuffle) Shuffle(list);
    AppendListToQueue(list, player.Queue());
    if (player.Queue().Count() == 0) {
        std::fprintf(stderr, "bellwave-cli play: the queue is empty\n");
        return 1;
    }

    player.SetLoop(loop);
    player.SetVolume(volume);
    CatchInterrupt();
    player.PlayPause();
    if (!player.Loaded()) {
        const int more = player.RefusedCount() - 1;
        std::fprintf(stderr, "bellwave-cli play: cannot read '%s'", player.Refused());
        if (more > 0) std::fprintf(stderr, " nor %d other file%s", more, more == 1 ? "" : "s");
        std::fprintf(stderr, "; no file in the queue could be played\n");
        return 1;
    }
    int tracks = 1;
    int quietMs = 0;
    DeviceWatch watch(player);
    for (;;) {
        if (Interrupted()) {
            std::printf("interrupted\n");
            break;
        }
        uint32_t message = 0;
        const bool got = window.Next(message, 100);
        const DeviceEvent event = got && message == WMU_ASIO_RESET ? watch.OnResetRequest()
                                  : watch.Waiting()                ? watch.Tick()
                                                                   : watch.PollDropouts();
        ReportDeviceEvent("play", event, watch, window);
        if (event == DeviceEvent::GaveUp) return 1;
        if (event == DeviceEvent::Back && !player.Playing()) {
            player.PlayPause();  // the track went away meanwhile: the queue goes on
            if (!player.Playing()) break;
        }
        if (!got) {
            // A device that stops calling back leaves the loop instead of hanging.
            quietMs = watch.Waiting() ? 0 : quietMs + 100;
            if (quietMs >= 5000) {
                player.Stop();
                std::fprintf(stderr, "bellwave-cli play: the device stopped calling back\n");
                return 1;
            }
            continue;
        }
        quietMs = 0;
        if (message != WMU_TRACK_END) continue;
        const char* title = player.AdvanceQueue();
        if (title[0] == '\0') break;
        window.Send(WMU_TITLE, 0, LPARAM(title));
        ++tracks;
    }
    player.Stop();
    std::printf("played %d track%s\n", tracks, tracks == 1 ? "" : "s");
    return 0;
}
