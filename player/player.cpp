#include "player/player.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/debug_log.h"
#include "platform/copy_text.h"
#include "platform/kernel.h"
#include "platform/messages.h"
#include "player/settings.h"
#include "player/start_device.h"

Player::Player(MessageWindow* window, const char* startDirectory, int32_t device)
    : device_(&Player::OnPlayBlock, &Player::OnRecordBlock, this), window_(window) {
    if (startDirectory != nullptr) {
        CopyTextOrRefuse(currentDirectory_, sizeof currentDirectory_, startDirectory);
    } else if (getcwd(currentDirectory_, sizeof currentDirectory_) == nullptr) {
        currentDirectory_[0] = '\0';  // too long: recordings are refused
    }
    std::vector<std::string> notes;
    deviceNumber_ = device == kStoredDevice ? ChooseStartDevice(notes) : device;
    deviceReady_.store(device_.Open(window_, deviceNumber_));
    LogStartNotes(notes);  // the host's log opens with the device
    if (!deviceReady_.load()) return;
    if (!ConfigureForPlayback()) {
        deviceNumber_ = kNoDevice;
        deviceReady_.store(false);
        deviceUsable.store(false);
        selectedDevice.store(-1);
    } else {
        deviceUsable.store(true);
        selectedDevice.store(deviceNumber_);
    }
}

Player::~Player() {
    const DeviceState state = device_.State();
    if (state == DeviceState::Playing || state == DeviceState::Paused) device_.Stop();
    StopRecording();
    device_.Shutdown();
    loaded_.store(false);
    track_.reset();
    queue_.Clear();
    recorder_.Stop();
    FreeBuffers();
    recordBuffer_.reset();
}

void Player::FreeBuffers() {
    decodeBuffer_.reset();
    leftBuffer_.reset();
    rightBuffer_.reset();
}

bool Player::ConfigureForPlayback() {
    const int size = device_.DeviceBufferFrames();
    // The device's buffer must divide a segment, at least twice.
    if (size <= 0 || kSegmentFrames % size != 0 || kSegmentFrames / size < 2) return false;
    FreeBuffers();
    decodeBuffer_.reset(new (std::nothrow) int16_t[kDecodeBufferBytes / 2]());
    leftBuffer_.reset(new (std::nothrow) int16_t[kChannelBufferBytes / 2]());
    rightBuffer_.reset(new (std::nothrow) int16_t[kChannelBufferBytes / 2]());
    if (decodeBuffer_ == nullptr || leftBuffer_ == nullptr || rightBuffer_ == nullptr) {
        FreeBuffers();
        return false;
    }
    return device_.Prepare();
}

void Player::ResetPosition() {
    segmentCalls_.store(0);
    for (int i = 0; i < 3; ++i) {
        peakLeft_[i].store(0);
        peakRight_[i].store(0);
    }
    positionBase_.store(0);
    hostPosition_.store(0);
}

void Player::Unload() {
    if (!loaded_.load()) return;
    loaded_.store(false);
    totalFrames_.store(0);
    trackBlocks_ = 0;
    positionBase_.store(0);
    hostPosition_.store(0);
    track_.reset();
}

void Player::LoadFile(const char* path) {
    Unload();
    track_.reset();  // a track that was left half-made
    if (path == nullptr) return;
    std::unique_ptr<MappedFile> file(new (std::nothrow) MappedFile);
    if (file == nullptr || !file->Open(path)) return;
    std::unique_ptr<TrackSource> track(new (std::nothrow) TrackSource(file.get()));
    if (track == nullptr) return;
    file.release();  // the track closes the mapping
    const uint32_t rate = uint32_t(device_.SampleRateHz());
    const bool usable = track->Open(rate) && ((track->Channels() == 2 && track->BlockBytes() == kStereoBlockBytes) ||
                                              (track->Channels() == 1 && track->BlockBytes() == kBlockBytesPerChannel));
    if (!usable || decodeBuffer_ == nullptr) return;
    track_ = std::move(track);
    trackBlocks_ = track_->BlockCount();
    totalFrames_.store(track_->TotalBytes() / (2 * track_->Channels()));
    loaded_.store(true);
}

bool Player::DecodeFirstBlocks() {
    // Only while the device is stopped: the new blocks are served from block 0 on.
    segmentCalls_.store(0);
    track_->RequestRewind();
    if (!track_->DecodeBlocks(decodeBuffer_.get(), loop_.load())) return false;
    track_->SplitChannels(leftBuffer_.get(), rightBuffer_.get(), decodeBuffer_.get(),
                          decodeBuffer_.get() + kDecodeBufferBytes / 2);
    return true;
}

void Player::SendPosition(uint32_t total, int32_t position) {
    if (window_ != nullptr) window_->Send(WMU_POSITION, WPARAM(total), LPARAM(position));
}

void Player::PrepareToPlay() {
    if (!loaded_.load()) {
        AdvanceQueue();
        if (loaded_.load() && window_ != nullptr) window_->Send(WMU_TITLE, 0, LPARAM(title_));
    }
    if (!loaded_.load()) return;
    SendPosition(0, 0);
    if (window_ != nullptr) window_->Send(WMU_TITLE, 0, LPARAM(title_));
    // The track restarts from its beginning, and so does the position shown (a seek
    // made while stopped is dropped by the rewind).
    positionBase_.store(0);
    hostPosition_.store(0);
    DecodeFirstBlocks();
    device_.SetVolumeLevel(volume_.load());
    endOfTrack_.store(false);
}

void Player::PlayPause() {
    if (!deviceReady_.load()) return;
    if (playing_.load()) {
        if (device_.Pause()) paused_.store(true);
        else if (device_.Resume()) paused_.store(false);
        else paused_.store(false);
        return;
    }
    if (recordArmed_.load()) {
        StartRecording();
    } else {
        PrepareToPlay();
        if (!loaded_.load()) return;  // nothing in the queue could be played: the device stays stopped
    }
    playing_.store(device_.Toggle());
}

void Player::Stop() {
    if (!deviceReady_.load()) return;
    if (playing_.load()) {
        device_.Stop();
        paused_.store(false);
        ResetPosition();
        playing_.store(false);
        endOfTrack_.store(false);
    }
    if (recordArmed_.load()) StopRecording();
}

void Player::OnPlayBlock(void* data, int n, void* user) {
    Player* p = static_cast<Player*>(user);
    if (data == nullptr || n <= 0) return;
    int16_t* left = static_cast<int16_t*>(data);
    int16_t* right = left + n / 2;
    if (!p->loaded_.load() || n > kCallbackBytes || p->leftBuffer_ == nullptr) {
        std::memset(data, 0, size_t(n) * 2);
        return;
    }
    if (p->endOfTrack_.load()) {
        std::memset(data, 0, size_t(n) * 2);
        const int32_t remaining = p->countdown_.load();
        if (remaining > 0) {
            p->countdown_.store(remaining - 1);
            if (remaining == 1) {
                p->paused_.store(false);
                p->ResetPosition();
                if (p->window_ != nullptr) p->window_->Post(WMU_TRACK_END, 0, 0);
            }
        }
        return;
    }
    const size_t q = p->segmentCalls_.load() % kRefillBlocks;
    const size_t samples = size_t(n) / 2;
    std::memcpy(left, p->leftBuffer_.get() + q * samples, size_t(n));
    std::memcpy(right, p->rightBuffer_.get() + q * samples, size_t(n));
    p->ComputePeaks(left, right, uint32_t(samples));
    if (p->segmentCalls_.fetch_add(1) % kRefillBlocks == kRefillBlocks - 1) p->RefillBlocks();
}

void Player::PostPosition() {
    if (window_ != nullptr)
        window_->Post(WMU_POSITION, WPARAM(totalFrames_.load()), LPARAM(positionBase_.load() + hostPosition_.load()));
}

void Player::RefillBlocks() {
    hostPosition_.store(device_.State() == DeviceState::Playing ? device_.PositionFrames() : 0);
    PostPosition();
    if (track_->DecodeBlocks(decodeBuffer_.get(), loop_.load())) {
        track_->SplitChannels(leftBuffer_.get(), rightBuffer_.get(), decodeBuffer_.get(),
                              decodeBuffer_.get() + kDecodeBufferBytes / 2);
        return;
    }
    // The segments already in the ring play out, then this many silent ones, then the
    // track end is reported.
    countdown_.store(device_.Segments());
    endOfTrack_.store(true);
}

void Player::ComputePeaks(const int16_t* left, const int16_t* right, uint32_t frames) {
    auto peak = [frames](const int16_t* samples) {
        int32_t largest = 0, smallest = 0;
        for (uint32_t i = 0; i < frames; ++i) {
            const int32_t v = samples[i];
            if (v > largest) largest = v;
            if (v < smallest) smallest = v;
        }
        return -smallest > largest ? -smallest : largest;
    };
    peakLeft_[2].store(peakLeft_[1].load());
    peakLeft_[1].store(peakLeft_[0].load());
    peakLeft_[0].store(peak(left));
    peakRight_[2].store(peakRight_[1].load());
    peakRight_[1].store(peakRight_[0].load());
    peakRight_[0].store(peak(right));
    // The segment handed out two calls ago is the one the device is playing now.
    if (window_ != nullptr) window_->Post(WMU_LEVELS, WPARAM(peakLeft_[2].load()), LPARAM(peakRight_[2].load()));
}

void Player::SeekToFraction(float f) {
    if (!loaded_.load() || recordingActive_.load() || !(f >= 0.0f && f < 1.0f)) return;
    int32_t target = int32_t(float(trackBlocks_) * f);
    if (target >= track_->BlockCount()) target = track_->BlockCount() - kRefillBlocks;
    if (target < 0) target = 0;
    track_->RequestSeek(target);
    const int64_t targetFrame = int64_t(target) * kBlockFrames;
    positionBase_.store(targetFrame - hostPosition_.load());
    if (paused_.load() && window_ != nullptr)
        window_->Post(WMU_POSITION, WPARAM(totalFrames_.load()), LPARAM(targetFrame));
}

void Player::SeekBySeconds(int seconds) {
    const int64_t total = totalFrames_.load();
    const int rate = device_.SampleRateHz();
    if (!loaded_.load() || total <= 0 || rate <= 0 || trackBlocks_ <= 0) return;
    const int64_t target = Position() % total + int64_t(seconds) * rate;
    const int64_t block = std::clamp<int64_t>((target + kBlockFrames / 2) / kBlockFrames, 0, trackBlocks_ - 1);
    // The fraction of the block's middle, so that SeekToFraction lands on the block.
    SeekToFraction(float((double(block) + 0.5) / double(trackBlocks_)));
}

void Player::SetVolume(int level) {
    if (level < 0 || level >= kVolumeLevels) return;
    volume_.store(level);
    if (deviceReady_.load()) device_.SetVolumeLevel(level);
}

bool Player::ChangeDevice() {
    const int32_t chosen = selectedDevice.load();
    if (chosen == kNoDevice) return false;
    deviceNumber_ = chosen;
    if (playing_.load()) Stop();
    Unload();
    paused_.store(false);
    ResetPosition();
    StopRecording();
    SendPosition(0, 0);
    deviceReady_.store(false);
    int32_t number = chosen;
    if (!device_.Open(window_, number)) return false;
    deviceReady_.store(true);
    if (!ConfigureForPlayback()) {
        deviceNumber_ = kNoDevice;
        deviceReady_.store(false);
        return false;
    }
    deviceNumber_ = number;
    SaveDeviceNumber(number);
    return true;
}

void Player::Refuse(const char* path) {
    char line[kTrackPathChars + 16];
    std::snprintf(line, sizeof line, "Not playable: %s", path);
    DebugLog(line);
    if (refusedCount_++ == 0) CopyTextOrRefuse(refused_, sizeof refused_, path);
}

const char* Player::AdvanceQueue() {
    title_[0] = '\0';
    refused_[0] = '\0';
    refusedCount_ = 0;
    const bool wasPlaying = playing_.load();
    if (wasPlaying) playing_.store(device_.Toggle());
    Unload();
    PlayEntry entry;
    while (queue_.Take(entry)) {
        char path[kTrackPathChars];
        // An entry whose folder is gone or whose whole path does not fit is dropped.
        if (!directories_.BuildPath(entry.directoryIndex, entry.name, path, sizeof path)) {
            Refuse(entry.name);
            continue;
        }
        MatchNameIgnoringCase(path);
        LoadFile(path);
        if (loaded_.load() && !DecodeFirstBlocks()) Unload();
        if (!loaded_.load()) {
            Refuse(path);
            continue;
        }
        CopyTextOrRefuse(title_, sizeof title_, entry.name);
        endOfTrack_.store(false);
        device_.SetVolumeLevel(volume_.load());
        if (wasPlaying) playing_.store(device_.Toggle());
        break;
    }
    if (!loaded_.load()) directories_.ClearDirectories();
    return title_;
}

// ---- recording ----------------------------------------------------------------------

void Player::ToggleRecord() {
    if (!deviceReady_.load()) return;
    const bool wasPlaying = playing_.load();
    const bool wasArmed = recordArmed_.load();
    Stop();  // ends a running recording and disarms
    if (wasPlaying) {
        Unload();
        paused_.store(false);
        ResetPosition();
        SendPosition(0, 0);
        recordArmed_.store(!wasArmed);
    } else if (wasArmed) {
        SendPosition(0, 0);
    } else {
        recordArmed_.store(true);
    }
}

void Player::StartRecording() {
    if (recordingActive_.load()) return;
    SendPosition(0, 0);
    if (recordBuffer_ == nullptr) recordBuffer_.reset(new (std::nothrow) int16_t[kRecordSlotBytes / 2]);
    if (recordBuffer_ == nullptr) return;
    std::memset(recordBuffer_.get(), 0, kRecordSlotBytes);
    const int32_t rate = device_.SampleRateHz();
    const bool mp3 = recordMp3_.load();
    char path[kFolderChars];
    const int length = std::snprintf(path, sizeof path, "%s/%s", currentDirectory_, mp3 ? "Out.mp3" : "Out.wav");
    // A start-up folder with no room left for the name: no recording.
    if (currentDirectory_[0] == '\0' || length < 0 || size_t(length) >= sizeof path) {
        DebugLog("StartRecording: the start-up folder is too long for the output file");
        return;
    }
    if (!recorder_.Start(path, rate, mp3)) return;
    countdown_.store(2 + device_.Segments());
    recordingActive_.store(true);
}

void Player::OnRecordBlock(void* data, int n, void* user) {
    Player* p = static_cast<Player*>(user);
    if (!p->recordArmed_.load() || data == nullptr || n != kCallbackBytes) return;
    p->recordCalls_.fetch_add(1);
    const int32_t count = p->countdown_.load();
    if (count > 0) {
        p->countdown_.store(count - 1);
        if (count > 1) return;  // the first segments after Play are not recorded
    }
    const uint32_t frames = uint32_t(n) / 2;
    const int16_t* left = static_cast<const int16_t*>(data);
    const int16_t* right = left + frames;
    p->ComputePeaks(left, right, frames);
    int16_t* out = p->recordBuffer_.get();
    if (out != nullptr) {
        for (uint32_t i = 0; i < frames; ++i) {
            out[2 * i] = left[i];
            out[2 * i + 1] = right[i];
        }
        if (p->recordingActive_.load()) p->recorder_.PushBlock(out);
    }
    p->hostPosition_.store(p->device_.State() == DeviceState::Playing ? p->device_.PositionFrames() : 0);
    if (p->segmentCalls_.fetch_add(1) % kRefillBlocks == 0) p->PostPosition();
}

void Player::StopRecording() {
    recordArmed_.store(false);
    if (recordingActive_.load()) {
        Sleep(50);  // a callback still running finishes its push
        recordingActive_.store(false);
        recorder_.Stop();
        if (const uint32_t lost = recorder_.DroppedBlocks()) DebugLogValue("Blocks lost in the take", int(lost));
    }
    SendPosition(0, 0);
}

PlayerDropouts Player::Dropouts() const {
    PlayerDropouts dropouts;
    dropouts.device = device_.Dropouts();
    dropouts.droppedBlocks = recorder_.DroppedBlocks();
    return dropouts;
}

int64_t Player::Position() const {
    const DeviceState state = device_.State();
    const bool streaming = state == DeviceState::Playing || state == DeviceState::Paused;
    return positionBase_.load() + (streaming ? device_.PositionFrames() : hostPosition_.load());
}

// ---- the device failing under us -------------------------------------------------------

bool Player::DropDevice() {
    resume_ = Resume{};
    resume_.armed = recordArmed_.load();
    if (loaded_.load() && track_ != nullptr) {
        resume_.loaded = true;
        CopyTextOrRefuse(resume_.path, sizeof resume_.path, track_->Path());
        const DeviceState state = device_.State();
        if (playing_.load() && !resume_.armed && (state == DeviceState::Playing || state == DeviceState::Paused)) {
            int64_t frame = Position();
            const int64_t total = totalFrames_.load();
            if (loop_.load() && total > 0) frame %= total;  // loop play counts on across rewinds
            resume_.playing = true;
            resume_.paused = paused_.load();
            resume_.frame = frame;
            resume_.rateHz = device_.SampleRateHz();
        }
    }
    const bool take = recordingActive_.load();
    Stop();  // the stream, and the take with what reached it
    Unload();  // opened again at the rate of the device that comes back
    device_.Shutdown();
    deviceReady_.store(false);
    deviceUsable.store(false);
    recordArmed_.store(false);
    return take;
}

bool Player::ReopenDevice() {
    int32_t number = deviceNumber_;
    if (number == kNoDevice || !device_.Open(window_, number) || !ConfigureForPlayback()) return false;
    deviceReady_.store(true);
    deviceUsable.store(true);
    selectedDevice.store(number);
    recordArmed_.store(resume_.armed);
    if (resume_.loaded) {
        LoadFile(resume_.path);
        if (!loaded_.load()) {
            title_[0] = '\0';  // the file went away meanwhile
        } else if (resume_.playing) {
            const int32_t rate = device_.SampleRateHz();
            int64_t frame = resume_.frame;
            if (rate > 0 && resume_.rateHz > 0 && rate != resume_.rateHz) frame = frame * rate / resume_.rateHz;
            PlayOnFrom(frame, resume_.paused);
        }
    }
    resume_ = Resume{};
    return true;
}

void Player::PlayOnFrom(int64_t frame, bool paused) {
    const int64_t block = frame / kBlockFrames;
    // The sound file starts no later than four blocks before its end: from there, the
    // first segments served are the later blocks of the four decoded.
    const int64_t last = trackBlocks_ > kRefillBlocks ? trackBlocks_ - kRefillBlocks : 0;
    const int64_t start = block < last ? block : last;
    uint32_t skipped = 0;  // segments of the decoded four that come before block
    endOfTrack_.store(false);
    if (block >= trackBlocks_ && !loop_.load()) {
        // Played out already: the track end is reported after the ring's silence.
        countdown_.store(device_.Segments());
        endOfTrack_.store(true);
    } else {
        track_->RequestSeek(int32_t(start));
        if (track_->DecodeBlocks(decodeBuffer_.get(), loop_.load())) {
            track_->SplitChannels(leftBuffer_.get(), rightBuffer_.get(), decodeBuffer_.get(),
                                  decodeBuffer_.get() + kDecodeBufferBytes / 2);
            skipped = uint32_t(block - start);
        } else {
            countdown_.store(device_.Segments());
            endOfTrack_.store(true);
        }
    }
    segmentCalls_.store(skipped);
    positionBase_.store(block * kBlockFrames);
    hostPosition_.store(0);
    device_.SetVolumeLevel(volume_.load());
    if (window_ != nullptr) {
        window_->Send(WMU_TITLE, 0, LPARAM(title_));
        window_->Send(WMU_POSITION, WPARAM(totalFrames_.load()), LPARAM(positionBase_.load()));
    }
    playing_.store(device_.Toggle());
    if (playing_.load() && paused) paused_.store(device_.Pause());
}

void Player::ForgetDevice() {
    resume_ = Resume{};
    if (device_.State() != DeviceState::Closed) {
        // A try that got part of the way.
        device_.Shutdown();
    }
    paused_.store(false);
    ResetPosition();
    playing_.store(false);
    endOfTrack_.store(false);
    recordArmed_.store(false);
    title_[0] = '\0';
    SendPosition(0, 0);
}

void Player::EndTakeAtLoss() {
    if (!recordingActive_.load()) return;
    // The loss is seen a little after it happened, and the worker may still be handing
    // on a block the device finished before it. Two more blocks bring in that one and
    // the one the loss fell in; the device streams on (its inputs silent), so they come.
    const uint32_t from = recordCalls_.load();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (recordCalls_.load() - from < 2 && std::chrono::steady_clock::now() < giveUp) Sleep(2);
    Stop();
    recordArmed_.store(true);
}
