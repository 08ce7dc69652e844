#include "drivers/virtual/device_settings.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/driver_settings.h"

namespace {

void Refuse(DeviceSettings* settings, const char* format, const char* name, long long value = 0) {
    if (settings->error[0] != '\0') return;  // the first fault is the one reported
    std::snprintf(settings->error, sizeof settings->error, format, name, value);
}

// A dword value into *value; absent leaves it. False when absent or unusable.
bool ReadDword(HKEY key, const char* name, uint32_t* value, DeviceSettings* settings) {
    SettingRead read = ReadSettingDword(key, name, value);
    if (read == SettingRead::Unusable) Refuse(settings, "Setting %s must be a dword", name);
    return read == SettingRead::Ok;
}

// A dword that must lie in [low, high].
void ReadLong(HKEY key, const char* name, long low, long high, long* value, DeviceSettings* settings) {
    uint32_t raw = 0;
    if (!ReadDword(key, name, &raw, settings)) return;
    if (raw < static_cast<uint32_t>(low) || raw > static_cast<uint32_t>(high)) {
        Refuse(settings, "Setting %s is out of range: %lld", name, raw);
        return;
    }
    *value = static_cast<long>(raw);
}

// A string value into text; absent leaves it. False when absent or unusable.
bool ReadString(HKEY key, const char* name, char* text, uint32_t textBytes, DeviceSettings* settings) {
    SettingRead read = ReadSettingString(key, name, text, textBytes);
    if (read == SettingRead::TooLong) Refuse(settings, "Setting %s is too long", name);
    if (read == SettingRead::Unusable) Refuse(settings, "Setting %s must be a string", name);
    return read == SettingRead::Ok;
}

void ReadValues(HKEY key, DeviceSettings* s) {
    ReadLong(key, "Outputs", 0, kMaxChannels, &s->outputs, s);
    ReadLong(key, "Inputs", 0, kMaxChannels, &s->inputs, s);
    s->firstGroupOutputs = s->outputs;
    ReadLong(key, "FirstGroupOutputs", 0, kMaxChannels, &s->firstGroupOutputs, s);

    uint32_t raw = 0;
    if (ReadDword(key, "SampleType", &raw, s)) s->sampleType = static_cast<long>(raw);
    if (ReadDword(key, "SampleRate", &raw, s)) {
        if (raw == 0 || raw > kMaxSampleRateHz)
            Refuse(s, "Setting %s is out of range: %lld", "SampleRate", raw);
        else
            s->sampleRateHz = raw;
    }
    ReadLong(key, "BufferSize", 1, kMaxBufferSamples, &s->bufferSize, s);
    ReadLong(key, "MinSize", 1, kMaxBufferSamples, &s->minSize, s);
    ReadLong(key, "MaxSize", 1, kMaxBufferSamples, &s->maxSize, s);
    if (ReadDword(key, "Granularity", &raw, s)) s->granularity = static_cast<int32_t>(raw);
    if (s->minSize > s->maxSize || s->bufferSize < s->minSize || s->bufferSize > s->maxSize)
        Refuse(s, "Setting %s must lie between MinSize and MaxSize: %lld", "BufferSize", s->bufferSize);

    char word[16];
    if (ReadString(key, "Input", word, sizeof word, s)) {
        if (strcasecmp(word, "loopback") == 0)
            s->input = InputSource::Loopback;
        else if (strcasecmp(word, "silence") == 0)
            s->input = InputSource::Silence;
        else if (strcasecmp(word, "tone") == 0)
            s->input = InputSource::Tone;
        else
            Refuse(s, "Setting %s must be loopback, silence or tone", "Input");
    }
    if (ReadString(key, "Clock", word, sizeof word, s)) {
        if (strcasecmp(word, "realtime") == 0)
            s->clock = ClockKind::RealTime;
        else if (strcasecmp(word, "test") == 0)
            s->clock = ClockKind::Test;
        else
            Refuse(s, "Setting %s must be realtime or test", "Clock");
    }
    ReadString(key, "Capture", s->capturePath, sizeof s->capturePath, s);
    if (ReadDword(key, "Speed", &raw, s)) {
        if (raw == 0 || raw > kMaxSpeed)
            Refuse(s, "Setting %s is out of range: %lld", "Speed", raw);
        else
            s->speed = raw;
    }
    s->failInit = ReadString(key, "FailInit", s->failInitMessage, sizeof s->failInitMessage, s);
}

}  // namespace

bool ReadDeviceSettings(const CLSID& clsid, DeviceSettings* settings) {
    char keyName[256];
    HKEY key = OpenDriverKey(clsid, keyName, sizeof keyName);
    if (key == nullptr) return false;
    *settings = DeviceSettings{};
    // The name is the description, cut to fit, else the key's name.
    char description[1024];
    const char* name =
        ReadSettingString(key, "description", description, sizeof description) == SettingRead::Ok ? description
                                                                                                   : keyName;
    size_t length = std::min(std::strlen(name), sizeof settings->name - 1);
    std::memcpy(settings->name, name, length);
    settings->name[length] = '\0';
    ReadValues(key, settings);
    RegCloseKey(key);
    return true;
}
