// A small in-process driver for host tests that need answers the virtual device never
// gives (a rate query that fails, any sample type) and its buffers at hand. It calls
// the host's bufferSwitch only when the test does.
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
    ASIOError rateResult = ASE_OK;
    double rate = 48000.0;
    bool initOk = true;

    // What the host did.
    bool started = false, disposed = false;
    ASIOCallbacks* callbacks = nullptr;
    std::vector<ASIOBufferInfo> created;
    std::vector<std::vector<unsigned char>> storage;  // two halves per buffer

    HRESULT QueryInterface(const IID&, void** object) override { return *object = nullptr, E_NOINTERFACE; }
    unsigned long AddRef() override { return 1; }
    unsigned long Release() override { return 1; }
    ASIOBool init(void*) override { return initOk ? ASIOTrue : ASIOFalse; }
    void getDriverName(char* name) override { std::strcpy(name, "Fake"); }
    long getDriverVersion() override { return 7; }
    void getErrorMessage(char* text) override { std::strcpy(text, "fake init failure"); }
    ASIOError start() override { return started = true, ASE_OK; }
    ASIOError stop() override { return started = false, ASE_OK; }
    ASIOError getChannels(long* in, long* out) override { return *in = inputs, *out = outputs, ASE_OK; }
    ASIOError getLatencies(long* in, long* out) override { return *in = preferred, *out = 2 * preferred, ASE_OK; }
    ASIOError getBufferSize(long* mn, long* mx, long* pref, long* gran) override {
        return *mn = minSize, *mx = maxSize, *pref = preferred, *gran = granularity, ASE_OK;
    }
    ASIOError canSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getSampleRate(ASIOSampleRate* r) override {
        if (rateResult == ASE_OK) *r = rate;
        return rateResult;
    }
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
        for (const ASIOBufferInfo& b : created)
            if (b.isInput == info->isInput && b.channelNum == info->channel) info->isActive = ASIOTrue;
        std::snprintf(info->name, sizeof info->name, "%s %ld", info->isInput ? "In" : "Out", info->channel + 1);
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, long count, long size, ASIOCallbacks* cb) override {
        if (count <= 0) return ASE_InvalidMode;
        const size_t bytes = static_cast<size_t>(size) * (type == ASIOSTInt16LSB ? 2 : type == ASIOSTInt24LSB ? 3 : 4);
        storage.assign(static_cast<size_t>(count) * 2, std::vector<unsigned char>(bytes, 0xEE));
        for (long i = 0; i < count; ++i) {
            infos[i].buffers[0] = Area(static_cast<int>(i), 0);
            infos[i].buffers[1] = Area(static_cast<int>(i), 1);
            created.push_back(infos[i]);
        }
        callbacks = cb;
        return ASE_OK;
    }
    ASIOError disposeBuffers() override { return disposed = true, ASE_OK; }
    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError future(long, void*) override { return ASE_InvalidParameter; }
    ASIOError outputReady() override { return ASE_NotPresent; }

    // Half h of created buffer i.
    unsigned char* Area(int i, int h) { return storage[static_cast<size_t>(2 * i + h)].data(); }
};
