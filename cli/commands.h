// bellwave-cli's commands. Each returns the exit status: 0 success, 1 a failure it
// explained on standard error, 2 bad usage.
#pragma once

int RunDevices(int argc, char** argv);
int RunTone(int argc, char** argv);
int RunScan(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunEncode(int argc, char** argv);
int RunPlay(int argc, char** argv);
int RunRecord(int argc, char** argv);

// ---- shared by play and record (cli/cmd_play.cpp) ----------------------------------

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "platform/messages.h"

// The terminal's window: the player posts to its queue from any thread; the command's
// loop takes each message on the main thread and prints the title, the position and
// the meters. Sent messages are printed at once.
class TerminalWindow : public MessageWindow {
public:
    bool Post(uint32_t message, WPARAM wParam, LPARAM lParam) override;
    intptr_t Send(uint32_t message, WPARAM wParam, LPARAM lParam) override;
    // Waits up to milliseconds for a message and prints it; false on time-out.
    bool Next(uint32_t& message, int milliseconds);
    void SetRate(int rateHz) { rateHz_ = rateHz; }
    // The dropouts so far ("2 xruns, 1 dropped buffer"), shown on each position line.
    void SetDropouts(const std::string& text) { dropouts_ = text; }
    const std::string& Dropouts() const { return dropouts_; }

private:
    struct Queued {
        uint32_t message;
        WPARAM wParam;
        LPARAM lParam;
    };
    void Print(const Queued& m);
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Queued> queue_;
    int rateHz_ = 0;
    int32_t meterLeft_ = 0, meterRight_ = 0;  // the loudest since the last position line
    std::string title_;                       // the title printed last
    std::string dropouts_;                    // empty while there were none
};

// A driver id or a driver's name -> the driver's index; -1 when none matches.
int FindDriver(const char* device);
// Ctrl-C ends play and record cleanly (the device stopped, files completed).
void CatchInterrupt();
bool Interrupted();

// ---- the device failing under play and record (cli/device_report.cpp) ---------------

class DeviceWatch;
enum class DeviceEvent;

// The dropouts on the status line when their count changed.
void ReportDropouts(const DeviceWatch& watch, TerminalWindow& window);
// Tells the person what the device watch reported: dropouts as ReportDropouts; for
// `command`, the device gone, back or given up on, on standard error.
void ReportDeviceEvent(const char* command, DeviceEvent event, const DeviceWatch& watch, TerminalWindow& window);
