// What play and record tell the person when the device counts a dropout, goes away,
// comes back or is given up on.
#include <chrono>
#include <cstdio>

#include "cli/commands.h"
#include "cli/terminal_window.h"
#include "host/host.h"
#include "player/device_watch.h"

void ReportDropouts(const DeviceWatch& watch, TerminalWindow& window) {
    if (watch.Totals().Sum() == 0) return;
    char text[160];
    FormatDropouts(watch.Totals(), text, sizeof text);
    if (window.Dropouts() == text) return;
    window.SetDropouts(text);
    std::printf("dropouts: %s\n", text);
    std::fflush(stdout);
}

void ReportDeviceEvent(const char* command, DeviceEvent event, const DeviceWatch& watch, TerminalWindow& window) {
    if (event == DeviceEvent::None) return;
    ReportDropouts(watch, window);  // a reset reads the failing device's last too
    const double waited = std::chrono::duration<double>(watch.Waited()).count();
    switch (event) {
    case DeviceEvent::Gone:
        std::fprintf(stderr, "bellwave-cli %s: the device has gone away; waiting up to %g s for it to come back\n",
                     command, std::chrono::duration<double>(watch.Timing().giveUpAfter).count());
        break;
    case DeviceEvent::Back:
        window.SetRate(ASIOSetSampleRate());
        std::fprintf(stderr, "bellwave-cli %s: the device is back after %.1f s\n", command, waited);
        break;
    case DeviceEvent::GaveUp:
        std::fprintf(stderr, "bellwave-cli %s: the device did not come back within %.0f s; stopped\n", command, waited);
        break;
    default: break;
    }
}
