#include "player/device_link.h"

#include <cstring>

DeviceLink::DeviceLink(PlayCallback play, RecordCallback record, void* user) {
    params_.nChannel = 0;
    params_.nBufferSizeSamples = kSegmentFrames;
    params_.fnPlay = play;
    params_.fnRecord = record;
    params_.pUser = user;
    params_.bNativeOut = false;
    params_.bNativeIn = false;
}

bool DeviceLink::Open(MessageWindow* window, int32_t& deviceNumber) {
    if (State() != DeviceState::Closed) Shutdown();
    int index = deviceNumber;
    if (!ASIOInit(&index, window)) return false;
    deviceNumber = index;
    deviceNumber_ = index;
    SetState(DeviceState::Started);
    if (!IsASIOInitialized() || NumMonoOutputs() / 2 == 0) return false;
    if (CreatePrimaryBuffers(6) == 0) return false;  // stereo duplex
    SetWavBufSegments(kRingSegments);
    SetState(DeviceState::Ready);
    return true;
}

bool DeviceLink::Prepare() {
    Release();
    if (State() != DeviceState::Ready) return false;
    if (!InitWavSnd(params_)) return false;
    SetState(DeviceState::Prepared);
    return true;
}

void DeviceLink::Release() {
    if (State() < DeviceState::Prepared) return;
    // StopWavSnd and ReleaseWavSnd do nothing when the channel has no WAV buffer.
    StopWavSnd(0);
    ReleaseWavSnd(0);
    SetState(DeviceState::Ready);
}

bool DeviceLink::Start() {
    if (State() != DeviceState::Prepared) return false;
    if (!PrepareBuffers(0)) return false;
    if (!StartPlay(0)) {
        // A failed start leaves the channel's started flags set; clear them so that the
        // next Start can prepare again.
        StopWavSnd(0);
        return false;
    }
    SetState(DeviceState::Playing);
    return true;
}

void DeviceLink::Stop() {
    const DeviceState s = State();
    if (s != DeviceState::Playing && s != DeviceState::Paused) return;
    StopWavSnd(0);
    SetState(DeviceState::Prepared);
}

bool DeviceLink::Toggle() {
    const bool started = Start();
    if (!started) Stop();
    return started;
}

bool DeviceLink::Pause() {
    if (State() != DeviceState::Playing) return false;
    PauseWavSnd(0);
    SetState(DeviceState::Paused);
    return true;
}

bool DeviceLink::Resume() {
    if (State() != DeviceState::Paused) return false;
    ResumeWavSnd(0);
    SetState(DeviceState::Playing);
    return true;
}

void DeviceLink::Shutdown() {
    Release();
    ASIOShutdown();
    SetState(DeviceState::Closed);
}

int DeviceLink::DeviceBufferFrames() const { return ASIOGetPrimaryBufferSizeSamples(); }

int DeviceLink::SampleRateHz() const { return State() >= DeviceState::Started ? ASIOSetSampleRate() : 0; }

int64_t DeviceLink::PositionFrames() const { return GetWavSndPosition(0); }

int DeviceLink::Segments() const { return GetWavBufSegments(); }

void DeviceLink::SetVolumeLevel(int level) { SetWavSndVolume(0, level); }

DropoutCounts DeviceLink::Dropouts() const {
    DropoutCounts counts;
    if (State() != DeviceState::Closed) GetDropoutCounts(0, &counts);
    return counts;
}

int DeviceLink::ListDrivers(std::vector<std::string>& names) {
    char packed[kDriverNamesBufferBytes] = {};
    driverCount_ = GetASIODriverNames(packed);
    names.clear();
    const char* name = packed;
    for (int i = 0; i < driverCount_ && name < packed + sizeof packed && *name != '\0'; ++i) {
        names.emplace_back(name);
        name += std::strlen(name) + 1;
    }
    return driverCount_;
}
