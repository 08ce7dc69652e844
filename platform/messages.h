// The window that the host, the player and the command line talk to. The Qt shell
// implements it with posted events, the command line with a queue of its own, and the
// tests with a recording queue.
#pragma once

#include <cstdint>

using WPARAM = uintptr_t;
using LPARAM = intptr_t;

class MessageWindow {
public:
    virtual ~MessageWindow() = default;
    // Queues a message for the window's thread. Thread-safe, never blocks; false when
    // the window is gone or its queue cannot take the message.
    virtual bool Post(uint32_t message, WPARAM wParam, LPARAM lParam) = 0;
    // Handles a message on the caller's thread and returns the window's answer.
    virtual intptr_t Send(uint32_t message, WPARAM wParam, LPARAM lParam) = 0;
    // The window's title, cut to fit bytes with its terminator (logged by the host).
    virtual void GetTitle(char* text, int bytes) const;
};
