// The host's driver callbacks other than the buffer switch: asioMessage answers the
// driver's questions and requests, sampleRateDidChange ignores a rate change. Both may
// be called from the driver's thread.
#pragma once

#include <cstdint>

#include "host/asio_driver.h"
#include "platform/messages.h"

// Posted, with parameters 0, to the start-up window when the driver asks for a reset.
constexpr uint32_t WMU_ASIO_RESET = 0x800A;

// The window that receives WMU_ASIO_RESET; the host's start-up sets it, null clears it.
void SetResetWindow(MessageWindow* window);

long asioMessage(long selector, long value, void* message, double* opt);
void sampleRateDidChange(ASIOSampleRate sampleRate);
