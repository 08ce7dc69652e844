// What play and record tell the person when the device counts a dropout, goes away,
// comes back or is given up on.
#include <chrono>
#include <cstdio>

#include "cli/commands.h"
#include "host/host.h"
#include "player/device_watch.h"

void ReportDeviceEvent(const char* command, DeviceEvent event, const DeviceWatch& watch, TerminalWindow& window) {
    const double waited = std::chrono::duration<double>(watch.Waited()).count();
    switch (event) {
    case DeviceEvent::Dropouts:
    case DeviceEvent::TakeClosed: {
        char text[160];
        FormatDropouts(watch.Totals(), text, sizeof text);
        window.SetDropouts(text);
        std::printf("dropouts: %s\n", text);
        std::fflush(stdout);
        break;
    }
    case DeviceEvent::Gone:
        std::fprintf(stderr, "bellwave-cli %s: the device has gone away; waiting up to %g s for it to come back\n",
                     command, std::chrono::duration<double>(watch.Timing().giveUpAfter).count());
        break;
    case DeviceEvent::Back: {
        const int rate = ASIOSetSampleRate();
        window.SetRate(rate);
        std::fprintf(stderr, "bellwave-cli %s: the device is back after %.1f s\n", command, waited);
        break;
    }
    case DeviceEvent::GaveUp:
        std::fprintf(stderr, "bellwave-cli %s: the device did not come back within %.0f s; stopped\n", command, waited);
        break;
    case DeviceEvent::None: break;
    }
}
