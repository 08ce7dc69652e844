// A small in-process driver for host tests that need a device shape the virtual device
// does not offer (a rate query that fails) or direct access to the buffers. It keeps
// its buffers in vectors and calls the host's bufferSwitch only when the test says so.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/asio_driver.h"

class FakeDriver : public IASIO {
public:
    // Device shape, set before init.
    long inputs = 2, outputs = 2;
    std::vector<long> groups;  // per output; empty = all group 0
    ASIOSampleType type = ASIOSTInt32LSB;
    long minSize = 64, maxSize = 2048, preferred = 256, granularity = -1;
    ASIOError rateResult = ASE_OK;
    double rate = 48000.0;
    bool initOk = true;
    std::string errorText = "fake init failure";

    // What the host did.
    bool started = false;
    bool disposed = false;
    int createCount = -1;
    ASIOCallbacks* callbacks = nullptr;
    std::vector<ASIOBufferInfo> created;
    std::vector<std::vector<unsigned char>> storage;  // two halves per buffer

    HRESULT QueryInterface(const IID&, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    unsigned long AddRef() override { return 1; }
    unsigned long Release() override { return 1; }

    ASIOBool init(void*) override { return initOk ? ASIOTrue : ASIOFalse; }
    void getDriverName(char* name) override { std::strcpy(name, "Fake"); }
    long getDriverVersion() override { return 7; }
    void getErrorMessage(char* text) override { std::strncpy(text, errorText.c_str(), 127); }
    ASIOError start() override {
        started = true;
        return ASE_OK;
    }
    ASIOError stop() override {
        started = false;
        return ASE_OK;
    }
    ASIOError getChannels(long* in, long* out) override {
        *in = inputs;
        *out = outputs;
        return ASE_OK;
    }
    ASIOError getLatencies(long* in, long* out) override {
        *in = preferred;
        *out = 2 * preferred;
        return ASE_OK;
    }
    ASIOError getBufferSize(long* mn, long* mx, long* pref, long* gran) override {
        *mn = minSize;
        *mx = maxSize;
        *pref = preferred;
        *gran = granularity;
        return ASE_OK;
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
        const long count = info->isInput ? inputs : outputs;
        if (info->channel < 0 || info->channel >= count) return ASE_InvalidParameter;
        info->channelGroup = (!info->isInput && info->channel < static_cast<long>(groups.size()))
                                 ? groups[static_cast<size_t>(info->channel)]
                                 : 0;
        info->type = type;
        info->isActive = ASIOFalse;
        for (const ASIOBufferInfo& b : created)
            if (b.isInput == info->isInput && b.channelNum == info->channel) info->isActive = ASIOTrue;
        std::snprintf(info->name, sizeof info->name, "%s %ld", info->isInput ? "In" : "Out", info->channel + 1);
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, long count, long size, ASIOCallbacks* cb) override {
        createCount = static_cast<int>(count);
        if (count <= 0) return ASE_InvalidMode;
        const size_t bytes = static_cast<size_t>(size) * BytesPerSample();
        storage.assign(static_cast<size_t>(count) * 2, std::vector<unsigned char>(bytes, 0xEE));
        for (long i = 0; i < count; ++i) {
            infos[i].buffers[0] = storage[static_cast<size_t>(2 * i)].data();
            infos[i].buffers[1] = storage[static_cast<size_t>(2 * i + 1)].data();
            created.push_back(infos[i]);
        }
        callbacks = cb;
        return ASE_OK;
    }
    ASIOError disposeBuffers() override {
        disposed = true;
        return ASE_OK;
    }
    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError future(long, void*) override { return ASE_InvalidParameter; }
    ASIOError outputReady() override { return ASE_NotPresent; }

    size_t BytesPerSample() const {
        if (type == ASIOSTInt16LSB) return 2;
        if (type == ASIOSTInt24LSB) return 3;
        return 4;
    }
    // The host's view of half h of created buffer i.
    unsigned char* Area(int i, int h) { return storage[static_cast<size_t>(2 * i + h)].data(); }
};
