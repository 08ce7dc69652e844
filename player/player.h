// The player: turns transport commands into audio through the device host. It owns the
// device link, the loaded track, the sample buffers, the play queue with its folder
// table, and the recorder.
//
// Playback is pulled by the host: a ring of two one-block segments is refilled through
// OnPlayBlock on the host's worker thread, from four blocks decoded ahead; every fourth
// segment the next four are decoded on that thread. The player talks to its window only
// through messages: posted from the worker, sent from the user-interface thread.
//
// Threads: every operation but the two callbacks runs on the user-interface thread.
// The fields that both threads touch are atomics; starting and stopping the device are
// the points where the worker's activity begins and ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "player/device_link.h"
#include "player/play_queue.h"
#include "player/recorder.h"
#include "player/track_source.h"

class MessageWindow;

// What went missing, for the display to poll on the user-interface thread.
struct PlayerDropouts {
    DropoutCounts device;        // the host's and the driver's, since the device opened
    uint32_t droppedBlocks = 0;  // blocks the recorder's writer had to drop, this take
};

// Messages to the window.
constexpr uint32_t WMU_LEVELS = 0x800B;     // wParam, lParam: left and right meter, 0..32768
constexpr uint32_t WMU_POSITION = 0x800C;   // wParam: total frames, lParam: position in frames
constexpr uint32_t WMU_TITLE = 0x800D;      // lParam: the title's text
constexpr uint32_t WMU_TRACK_END = 0x800F;  // the track has been played out

constexpr int kVolumeLevels = 16;   // 0..15, 15 = full level
constexpr int32_t kNoDevice = -1;
constexpr int32_t kStoredDevice = -2;  // the device number kept in the settings
constexpr uint32_t kDecodeBufferBytes = kRefillBlocks * kStereoBlockBytes;      // 73728
constexpr uint32_t kChannelBufferBytes = kRefillBlocks * kBlockBytesPerChannel;  // 36864
constexpr int kCallbackBytes = int(kBlockBytesPerChannel);                      // 9216
constexpr int kFolderChars = 256;

class Player {
public:
    // startDirectory: where recordings go (null: the current folder). device: the
    // driver to open; kStoredDevice takes the stored number, or on a first start the
    // first driver that works (player/start_device.h). A device that fails leaves the
    // player usable without one.
    explicit Player(MessageWindow* window, const char* startDirectory = nullptr, int32_t device = kStoredDevice);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Replaces the loaded track with the file at path; Loaded() tells success. Only
    // while the device is not playing.
    void LoadFile(const char* path);
    // Loads the next queue entry when nothing is loaded, else rewinds; decodes the
    // first four blocks.
    void PrepareToPlay();
    // The Play button: starts (a recording when armed), pauses, resumes.
    void PlayPause();
    // The Stop button: stops the device and a recording; the track stays loaded.
    void Stop();
    // f in [0, 1): the fraction of the track to continue from.
    void SeekToFraction(float f);
    // Moves the play position by seconds (negative: back), kept within the track.
    void SeekBySeconds(int seconds);
    void SetVolume(int level);
    // Opens the device named by the shell's selectedDevice and stores its number.
    bool ChangeDevice();
    bool ConfigureForPlayback();
    // Unloads the track and takes queue entries until one plays; returns the title
    // (empty when the queue ran out). The entries it drops are logged and counted.
    const char* AdvanceQueue();
    // The first entry the last AdvanceQueue could not play (its path, or its name when
    // its folder is gone), and how many it dropped.
    const char* Refused() const { return refused_; }
    int RefusedCount() const { return refusedCount_; }

    // The Record button, and the recording's start and end.
    void ToggleRecord();
    void StartRecording();
    void StopRecording();

    // The host's callbacks (worker thread, and the user-interface thread while the
    // device pre-fills): data holds bytesPerChannel of left samples, then of right.
    static void OnPlayBlock(void* data, int bytesPerChannel, void* player);
    static void OnRecordBlock(void* data, int bytesPerChannel, void* player);

    // The installed drivers' names, item i naming driver i; returns their number.
    int ListDrivers(std::vector<std::string>& names) { return device_.ListDrivers(names); }

    PlayQueue& Queue() { return queue_; }
    DirectoryTable& Directories() { return directories_; }
    void SetLoop(bool loop) { loop_.store(loop); }
    void SetRecordMp3(bool mp3) { recordMp3_.store(mp3); }

    bool DeviceReady() const { return deviceReady_.load(); }
    bool Loaded() const { return loaded_.load(); }
    bool Playing() const { return playing_.load(); }
    bool Paused() const { return paused_.load(); }
    bool RecordArmed() const { return recordArmed_.load(); }
    bool RecordingActive() const { return recordingActive_.load(); }
    bool EndOfTrack() const { return endOfTrack_.load(); }
    int Volume() const { return volume_.load(); }
    int32_t DeviceNumber() const { return deviceNumber_; }
    uint32_t TotalFrames() const { return totalFrames_.load(); }
    const char* Title() const { return title_; }
    const char* CurrentDirectory() const { return currentDirectory_; }
    const DeviceLink& Link() const { return device_; }
    const TrackSource* Track() const { return track_.get(); }
    const Recorder& GetRecorder() const { return recorder_; }
    // Reads the counters; every one is an atomic, nothing waits.
    PlayerDropouts Dropouts() const;
    // Frames into the track (or the take) that the device has been handed.
    int64_t Position() const;

    // ---- the device failing under us (player/device_watch.h drives these) ----
    // The driver asked for a reset: stops the stream, closes a take with what reached
    // it, remembers where playback stood (the track, its block, paused or not, record
    // mode) and shuts the host down. True when a take was closed.
    bool DropDevice();
    // Opens the dropped device again; once it is usable, reloads the track at the
    // device's rate and plays on from the block where it stopped. False while the device
    // cannot be opened or used.
    bool ReopenDevice();
    // The device did not come back: the transport is left as Stop leaves it.
    void ForgetDevice();
    // The inputs were lost during a take: the take is closed with what reached it and
    // the transport stops; record mode stays selected, no new take starts by itself.
    void EndTakeAtLoss();

private:
    void Unload();
    void Refuse(const char* path);
    void ResetPosition();
    void FreeBuffers();
    bool DecodeFirstBlocks();
    void RefillBlocks();
    void ComputePeaks(const int16_t* left, const int16_t* right, uint32_t frames);
    void SendPosition(uint32_t total, int32_t position);
    void PostPosition();
    void PlayOnFrom(int64_t frame, bool paused);

    // Where the transport stood when the device was dropped.
    struct Resume {
        bool loaded = false;
        bool playing = false;
        bool paused = false;
        bool armed = false;
        int64_t frame = 0;  // in the track, at rateHz
        int32_t rateHz = 0;
        char path[kTrackPathChars] = {};
    };

    PlayQueue queue_;
    DeviceLink device_;
    std::unique_ptr<TrackSource> track_;  // read by the worker only while the device runs
    Recorder recorder_;
    char currentDirectory_[kFolderChars] = {};
    char title_[kFolderChars] = {};
    char refused_[kTrackPathChars] = {};
    int refusedCount_ = 0;
    DirectoryTable directories_;
    MessageWindow* window_ = nullptr;
    Resume resume_;
    std::atomic<uint32_t> totalFrames_{0};
    std::atomic<uint32_t> segmentCalls_{0};  // its two low bits pick the block to serve
    int32_t trackBlocks_ = 0;
    std::unique_ptr<int16_t[]> decodeBuffer_;
    std::unique_ptr<int16_t[]> leftBuffer_;
    std::unique_ptr<int16_t[]> rightBuffer_;
    std::unique_ptr<int16_t[]> recordBuffer_;
    int32_t deviceNumber_ = kNoDevice;
    std::atomic<int32_t> peakLeft_[3] = {};  // newest first
    std::atomic<int32_t> peakRight_[3] = {};
    std::atomic<int64_t> positionBase_{0};  // frames; 64 bits hold days of looped play
    std::atomic<int64_t> hostPosition_{0};
    std::atomic<int32_t> volume_{15};
    std::atomic<int32_t> countdown_{0};
    std::atomic<bool> deviceReady_{false};
    std::atomic<bool> loaded_{false};
    std::atomic<bool> recordingActive_{false};
    std::atomic<uint32_t> recordCalls_{0};  // record callbacks that took a block
    std::atomic<bool> recordArmed_{false};
    std::atomic<bool> playing_{false};
    std::atomic<bool> paused_{false};
    std::atomic<bool> loop_{false};
    std::atomic<bool> recordMp3_{false};
    std::atomic<bool> endOfTrack_{false};
};
