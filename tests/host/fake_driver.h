// A small in-process driver for host tests that need answers the virtual device never
// gives (any sample type, any channel groups). It serves no buffers.
#pragma once

#include <cstdio>
#include <cstring>
#include <vector>

#include "host/asio_driver.h"

class FakeDriver : public IASIO {
public:
    // The device, set before init.
    long inputs = 2, outputs = 2;
    std::vector<long> groups;  // per output; empty = all group 0
    ASIOSampleType type = ASIOSTInt32LSB;
    long minSize = 64, maxSize = 2048, preferred = 256, granularity = -1;

    HRESULT QueryInterface(const IID&, void** object) override { return *object = nullptr, E_NOINTERFACE; }
    unsigned long AddRef() override { return 1; }
    unsigned long Release() override { return 1; }
    ASIOBool init(void*) override { return ASIOTrue; }
    void getDriverName(char* name) override { std::strcpy(name, "Fake"); }
    long getDriverVersion() override { return 7; }
    void getErrorMessage(char* text) override { std::strcpy(text, "fake init failure"); }
    ASIOError start() override { return ASE_NotPresent; }
    ASIOError stop() override { return ASE_OK; }
    ASIOError getChannels(long* in, long* out) override { return *in = inputs, *out = outputs, ASE_OK; }
    ASIOError getLatencies(long* in, long* out) override { return *in = preferred, *out = 2 * preferred, ASE_OK; }
    ASIOError getBufferSize(long* mn, long* mx, long* pref, long* gran) override {
        return *mn = minSize, *mx = maxSize, *pref = preferred, *gran = granularity, ASE_OK;
    }
    ASIOError canSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getSampleRate(ASIOSampleRate* r) override { return *r = 48000.0, ASE_OK; }
    ASIOError setSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getClockSources(ASIOClockSource*, long*) override { return ASE_NotPresent; }
    ASIOError setClockSource(long) override { return ASE_NotPresent; }
    ASIOError getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override { return ASE_NotPresent; }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        if (info->channel < 0 || info->channel >= (info->isInput ? inputs : outputs)) return ASE_InvalidParameter;
        const size_t c = static_cast<size_t>(info->channel);
        info->channelGroup = !info->isInput && c < groups.size() ? groups[c] : 0;
        info->type = type;
        info->isActive = ASIOFalse;
        std::snprintf(info->name, sizeof info->name, "%s %ld", info->isInput ? "In" : "Out", info->channel + 1);
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo*, long, long, ASIOCallbacks*) override { return ASE_NoMemory; }
    ASIOError disposeBuffers() override { return ASE_InvalidMode; }
    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError future(long, void*) override { return ASE_InvalidParameter; }
    ASIOError outputReady() override { return ASE_NotPresent; }
};
