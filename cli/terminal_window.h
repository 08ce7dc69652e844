#pragma once

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
