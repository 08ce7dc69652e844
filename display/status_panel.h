// The drawn status panel: three transport buttons and a 16-step volume bar at the top,
// the position text between them, the title band, the visualiser, two 32-LED level
// meters with decibel labels, and a thin position bar at the bottom.
//
// Each element is composed in a back buffer of its own and copied to the window in one
// operation; the meters redraw only LEDs that changed, the position bar only new
// columns, the buttons only on a state change. User-interface thread only; the shell
// holds its drawing lock around SetMeterValues, DrawMeters and the visualiser.
#pragma once

#include <cstdint>

#include "display/back_buffer.h"
#include "display/visualiser.h"

class StatusPanel {
public:
    static constexpr int kLeds = 32;
    static constexpr int kVolumeSteps = 16;

    explicit StatusPanel(ScreenImage* window);

    // The first full drawing (the first background erase); later calls do nothing.
    void BuildAll();
    // Peak magnitudes 0..32767 per channel. With reset every LED goes off and the
    // visualiser's history is emptied; otherwise the larger value also goes to the
    // visualiser.
    void SetMeterValues(bool reset, int32_t left, int32_t right);
    // Meters and labels; after a client-size change also the layout and the frames of
    // the visualiser and the position bar.
    void DrawMeters();
    void DrawButtons(bool playing, bool paused, bool recordArmed);
    void BuildVolumeBar();
    // The strip with the marker on step level; false (nothing drawn) for a level outside
    // 0..15.
    bool DrawVolumeBar(int32_t level);
    // rate in frames per second; total and position in sample frames.
    void ShowPosition(uint32_t rate, uint64_t total, uint64_t position);
    // Repaint of the position text and bar from the stored state.
    void DrawPositionBar();
    // The dropouts so far, shown right of the position text once there are any.
    void ShowDropouts(uint64_t count);
    void ClearTitle();
    void DrawTitle(const char* text);

    Visualiser& GetVisualiser() { return visualiser_; }
    const Rect& VisualiserRect() const { return visualiserRect_; }

    // Window rectangles for the shell's hit tests (indexes are taken modulo the count).
    const Rect& PlayRect() const { return playRect_; }
    const Rect& RecordRect() const { return recordRect_; }
    const Rect& StopRect() const { return stopRect_; }
    const Rect& VolumeRect() const { return volumeRect_; }
    const Rect& VolumeSegment(int i) const { return volumeSegments_[i & (kVolumeSteps - 1)]; }
    const Rect& PositionBarRect() const { return positionBarRect_; }

    // LED rectangles relative to the meter area.
    const Rect& MeterArea() const { return meterArea_; }
    const Rect& LeftLed(int i) const { return leftLeds_[i & (kLeds - 1)]; }
    const Rect& RightLed(int i) const { return rightLeds_[i & (kLeds - 1)]; }
    const char* TimeText() const { return timeText_; }
    const Rect& TimeTextRect() const { return timeTextRect_; }
    // Where the dropouts were drawn last (empty before).
    const Rect& DropoutsRect() const { return dropoutsRect_; }
    bool Built() const { return built_; }

    // The composed images, for tests that check what is redrawn and what only copied.
    BackBuffer& MetersBuffer() { return metersBuffer_; }
    BackBuffer& ButtonsBuffer() { return buttonsBuffer_; }

private:
    void LayOutMeters(const Rect& client);
    void DrawLed(const Rect& led, bool on, uint32_t colour);
    bool MeasureTimeText(const char* text);
    void DrawTimeText();
    void ResetPositionBar();

    // "Position: " + up to 20 digits of hours + ":mm:ss": room for any 64-bit position.
    char timeText_[40] = "Position: 00:00:00";
    Visualiser visualiser_;
    BackBuffer buttonsBuffer_, metersBuffer_, timeTextBuffer_, titleBuffer_, volumeBuffer_, positionBuffer_;
    ScreenImage* window_;
    Rect timeTextRect_;
    Rect dropoutsRect_;
    uint64_t dropouts_ = 0;
    Rect visualiserRect_, meterArea_, titleRect_, positionBarRect_;
    Rect lastMeterClient_, lastTitleClient_;
    Rect playRect_, recordRect_, stopRect_;
    Rect leftLeds_[kLeds], rightLeds_[kLeds];
    Rect volumeRect_;
    Rect volumeSegments_[kVolumeSteps];
    uint8_t leftOn_[kLeds], rightOn_[kLeds];
    uint8_t leftWasOn_[kLeds], rightWasOn_[kLeds];
    uint32_t ledBrushes_[kLeds];  // pixels
    float fraction_ = 0.0f;       // the last position fraction
    int32_t filledColumns_ = 1;   // columns of the position bar already painted
    int32_t buttonState_ = 3;     // playing x 4 + paused x 2 + recordArmed, last drawn
    bool metersDrawn_ = false;
    bool recordArmed_ = false;
    bool built_ = false;
};

// "Position: h:mm:ss" of position frames at rate frames per second; hours have at least
// two digits and no upper limit. text holds at least 40 characters.
void FormatPosition(char* text, size_t size, uint32_t rate, uint64_t position);
