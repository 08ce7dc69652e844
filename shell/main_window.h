// The main window: a menu bar over the drawn status panel. It owns the player and the
// panel for its whole life, turns clicks and menu commands into player operations, and
// turns the player's messages into drawing. It is the player's MessageWindow: the
// worker thread's messages arrive as posted events, handled on this (the
// user-interface) thread like everything else here.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include <QMainWindow>
#include <QStringList>

#include "display/back_buffer.h"
#include "display/status_panel.h"
#include "platform/messages.h"

class DeviceWatch;
class Player;
class PlaylistDialog;
class QAction;
class QDialog;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QTimer;
enum class DeviceEvent;

// Menu commands, numbered as the menu resources hold them.
constexpr int IDM_DEVICES = 32771;
constexpr int IDM_OPEN = 32774;
constexpr int IDM_LOOP = 32775;
constexpr int IDM_PSYCHEDELICS = 32776;
constexpr int IDM_RECORD_MP3 = 32777;
constexpr int IDM_ABOUT = 105;
constexpr int IDM_EXIT = 106;

constexpr int kMinClientWidth = 680;
constexpr int kMinClientHeight = 256;
constexpr int kTitleChars = 256;
constexpr const char* kWindowTitle = "Bellwave for ASIO";

class MainWindow : public QMainWindow, public MessageWindow {
public:
    // Creates the panel and the player, which opens the stored (or the host's) device.
    MainWindow();
    ~MainWindow() override;

    // Thread-safe; false once the window has been torn down.
    bool Post(uint32_t message, WPARAM wParam, LPARAM lParam) override;
    // User-interface thread only: handles the message at once.
    intptr_t Send(uint32_t message, WPARAM wParam, LPARAM lParam) override;
    void GetTitle(char* text, int bytes) const override;

    // A left click at (x, y) of the client area; also how the window presses Stop itself.
    void OnClick(int x, int y);
    void OnCommand(int id);
    // Files from outside (the command line, a drop): .wav, .mp3 and .m3u paths join the
    // queue, and Play is pressed when nothing plays or is armed.
    void OpenFiles(const QStringList& paths);

    Player* GetPlayer() const { return player_; }
    DeviceWatch* Watch() const { return watch_.get(); }
    StatusPanel& Panel() { return *panel_; }
    ScreenImage& Screen() { return screen_; }
    QWidget* ClientArea() const { return client_; }
    QAction* Action(int id) const;
    const char* TitleText() const { return titleText_; }
    bool Loop() const { return loop_; }
    bool RecordMp3() const { return recordMp3_; }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    friend class ClientWidget;

    void HandleMessage(uint32_t message, WPARAM wParam, LPARAM lParam);
    // The keys (shell/window_input.cpp), each doing what its button or menu item does.
    void InstallKeys();
    void ClickCentre(const Rect& r) { OnClick((r.left + r.right) / 2, (r.top + r.bottom) / 2); }
    void StepVolume(int steps);
    void SeekBySeconds(int seconds);
    void AddFilesToQueue();
    // Shows what the device watch reported; tells the person of a closed take and of a
    // device that did not come back.
    void OnDeviceEvent(DeviceEvent event);
    void Resized(int width, int height);
    void EraseBackground();
    void DrawButtons();
    void ResetMeters();
    void SetTitle(const char* text);
    void Flush(bool now = false);
    void TearDown();
    // Every dialog and message box of the window runs through these two; a close asked
    // for meanwhile (a quit signal) waits until the last of them has returned.
    void ShowMessage(const char* text, const char* caption);
    void RunDialog(QDialog& dialog);
    void EndModal();

    ScreenImage screen_;
    std::unique_ptr<StatusPanel> panel_;
    Player* player_ = nullptr;  // owned; none when it could not be made
    std::unique_ptr<DeviceWatch> watch_;  // with the player
    QTimer* watchTimer_ = nullptr;        // runs while the device is waited for
    QWidget* client_ = nullptr;
    QAction* actions_[7] = {};
    std::mutex drawMutex_;  // held while the meters and the visualiser are drawn
    std::mutex portMutex_;  // guards the hand-over of posted messages against teardown
    bool portOpen_ = true;
    PlaylistDialog* openPlaylist_ = nullptr;  // while the play-list dialog runs
    int modalDepth_ = 0;                      // dialogs and message boxes running
    bool closePending_ = false;
    char currentDirectoryText_[kTitleChars] = {};
    char titleText_[kTitleChars] = {};
    bool loop_ = false;
    bool recordMp3_ = false;
    bool firstEraseDone_ = false;
};
