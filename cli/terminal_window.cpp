#include "cli/terminal_window.h"

#include <chrono>
#include <cstdio>

#include "player/player.h"  // the player's messages

namespace {

// "m:ss.t" of frames at rateHz.
std::string Time(long long frames, int rateHz) {
    if (rateHz <= 0) return "-:--.-";
    const long long tenths = frames * 10 / rateHz;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, tenths / 10 % 60, tenths % 10);
    return text;
}

}  // namespace

bool TerminalWindow::Post(uint32_t message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({message, wParam, lParam});
    }
    posted_.notify_one();
    return true;
}

intptr_t TerminalWindow::Send(uint32_t message, WPARAM wParam, LPARAM lParam) {
    Print({message, wParam, lParam});
    return 0;
}

bool TerminalWindow::Next(uint32_t& message, int milliseconds) {
    Queued m;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!posted_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return !queue_.empty(); }))
            return false;
        m = queue_.front();
        queue_.pop_front();
    }
    Print(m);
    message = m.message;
    return true;
}

void TerminalWindow::Print(const Queued& m) {
    switch (m.message) {
    case WMU_TITLE: {
        // A track being prepared sends its title more than once.
        const char* title = reinterpret_cast<const char*>(m.lParam);
        if (title == nullptr || title_ == title) break;
        title_ = title;
        std::printf("title: %s\n", title);
        break;
    }
    case WMU_LEVELS:
        if (int32_t(m.wParam) > meterLeft_) meterLeft_ = int32_t(m.wParam);
        if (int32_t(m.lParam) > meterRight_) meterRight_ = int32_t(m.lParam);
        break;
    case WMU_POSITION: {
        const long long total = static_cast<long long>(m.wParam);
        const long long position = static_cast<long long>(m.lParam);
        if (total == 0 && position == 0) break;  // a reset of the display
        // With loop play the count runs on across rewinds.
        const long long shown = total > 0 ? position % total : position;
        if (total > 0)
            std::printf("position %s / %s", Time(shown, rateHz_).c_str(), Time(total, rateHz_).c_str());
        else
            std::printf("recorded %s", Time(shown, rateHz_).c_str());
        std::printf("  meters L %5d R %5d", meterLeft_, meterRight_);
        if (!dropouts_.empty()) std::printf("  dropouts: %s", dropouts_.c_str());
        std::printf("\n");
        meterLeft_ = meterRight_ = 0;
        break;
    }
    case WMU_TRACK_END:
        title_.clear();
        std::printf("end of track\n");
        break;
    default: break;
    }
    std::fflush(stdout);
}
