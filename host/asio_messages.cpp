#include "host/asio_messages.h"

#include <atomic>

#include "host/debug_log.h"

namespace {

// Set on the application's thread, read on the driver's.
std::atomic<MessageWindow*> gResetWindow{nullptr};

}  // namespace

void SetResetWindow(MessageWindow* window) {
    gResetWindow.store(window, std::memory_order_release);
}

long asioMessage(long selector, long value, void*, double*) {
    switch (selector) {
        case kAsioSelectorSupported:
            DebugLog("asioMessages: kAsioSelectorSupported");
            return value == kAsioResetRequest || value == kAsioEngineVersion || value == kAsioResyncRequest ||
                           value == kAsioLatenciesChanged || value == kAsioSupportsTimeInfo ||
                           value == kAsioSupportsTimeCode || value == kAsioSupportsInputMonitor
                       ? 1
                       : 0;
        case kAsioEngineVersion:
            DebugLog("asioMessages: kAsioEngineVersion");
            return 2;
        case kAsioResetRequest:
            DebugLog("asioMessages: kAsioResetRequest");
            if (MessageWindow* window = gResetWindow.load(std::memory_order_acquire))
                window->Post(WMU_ASIO_RESET, 0, 0);
            return 1;
        case kAsioResyncRequest:
            DebugLog("asioMessages: kAsioResyncRequest");
            return 1;
        case kAsioLatenciesChanged:
            DebugLog("asioMessages: kAsioLatenciesChanged");
            return 1;
        case kAsioBufferSizeChange:
            return 0;
        case kAsioSupportsTimeInfo:
            DebugLog("asioMessages: kAsioSupportsTimeInfo");
            return 0;
        case kAsioSupportsTimeCode:
            DebugLog("asioMessages: kAsioSupportsTimeCode");
            return 0;
        default:
            return 0;
    }
}

void sampleRateDidChange(ASIOSampleRate) {}
