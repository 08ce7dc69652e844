#include "shell/main_window.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "display/colours.h"
#include "host/asio_messages.h"
#include "platform/copy_text.h"
#include "player/device_watch.h"
#include "player/player.h"
#include "player/settings.h"
#include "shell/app_icon.h"
#include "shell/dialogs.h"
#include "shell/prompts.h"

namespace {

// A player message carried across threads by Qt's event queue.
class PlayerMessageEvent : public QEvent {
public:
    static QEvent::Type Kind() {
        static const QEvent::Type kind = QEvent::Type(QEvent::registerEventType());
        return kind;
    }
    PlayerMessageEvent(uint32_t message, WPARAM wParam, LPARAM lParam)
        : QEvent(Kind()), message_(message), wParam_(wParam), lParam_(lParam) {}

    uint32_t message_;
    WPARAM wParam_;
    LPARAM lParam_;
};

constexpr int kCommandIds[7] = {IDM_OPEN, IDM_EXIT, IDM_ABOUT, IDM_DEVICES, IDM_LOOP, IDM_RECORD_MP3,
                                IDM_PSYCHEDELICS};

constexpr int kPaintBandRows = 64;

// Rejects the modal dialogs, message boxes and file pickers that are open, the topmost
// first.
void CloseModals() {
    QWidget* last = nullptr;
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (modal == last) break;  // it refused to close
        last = modal;
        if (QDialog* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        else modal->close();
    }
}

// "Sorry - we can't read "one.wav"." for the first file that could not be played.
std::string RefusalText(const char* path, int count) {
    const char* slash = std::strrchr(path, '/');
    std::string text = std::string("Sorry - we can't read \"") + (slash ? slash + 1 : path) + "\"";
    if (count > 1) text += " nor " + std::to_string(count - 1) + (count == 2 ? " other file" : " other files");
    return text + ".";
}

int ActionIndex(int id) {
    for (int i = 0; i < 7; ++i)
        if (kCommandIds[i] == id) return i;
    return -1;
}

}  // namespace

// The client area: shows the screen image the panel draws into and takes the clicks.
class ClientWidget : public QWidget {
public:
    explicit ClientWidget(MainWindow* owner) : QWidget(owner), owner_(owner) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMinimumSize(kMinClientWidth, kMinClientHeight);
        QPalette palette = this->palette();
        palette.setColor(QPalette::Window, QColor(QRgb(kBackground)));
        setPalette(palette);
        setAutoFillBackground(false);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        const QImage& image = owner_->screen_.Image();
        if (image.isNull()) {
            painter.fillRect(event->rect(), QColor(QRgb(kBackground)));
            return;
        }
        // In bands of 64 rows: Qt hands the rows of a larger copy to its thread pool,
        // whose threads outlive the window and whose hand-offs the race detector
        // cannot see; a band this size is copied on this thread.
        const QRect area = event->rect();
        for (int top = area.top(); top <= area.bottom(); top += kPaintBandRows) {
            const QRect band(area.left(), top, area.width(), std::min(kPaintBandRows, area.bottom() + 1 - top));
            painter.drawImage(band, image, band);
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        const QPoint at = event->position().toPoint();
        owner_->OnClick(at.x(), at.y());
    }
    void resizeEvent(QResizeEvent*) override { owner_->Resized(width(), height()); }

private:
    MainWindow* owner_;
};

MainWindow::MainWindow() : screen_(0, 0) {
    setWindowTitle(QString::fromUtf8(kWindowTitle));
    setWindowIcon(MakeAppIcon());

    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    actions_[ActionIndex(IDM_OPEN)] = file->addAction(QStringLiteral("&Open"));
    actions_[ActionIndex(IDM_EXIT)] = file->addAction(QStringLiteral("E&xit"));
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    actions_[ActionIndex(IDM_ABOUT)] = help->addAction(QStringLiteral("&About ..."));
    actions_[ActionIndex(IDM_DEVICES)] = bar->addAction(QStringLiteral("ASIO &Devices"));
    QMenu* options = bar->addMenu(QStringLiteral("&Options"));
    actions_[ActionIndex(IDM_LOOP)] = options->addAction(QStringLiteral("&Loop play"));
    actions_[ActionIndex(IDM_RECORD_MP3)] = options->addAction(QStringLiteral("&Record to mp3"));
    actions_[ActionIndex(IDM_PSYCHEDELICS)] = options->addAction(QStringLiteral("&Psychedelics"));
    for (int i = 0; i < 7; ++i) {
        const int id = kCommandIds[i];
        if (id == IDM_LOOP || id == IDM_RECORD_MP3 || id == IDM_PSYCHEDELICS) actions_[i]->setCheckable(true);
        connect(actions_[i], &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    // Creation: the panel (before the client area that draws it), the start-up folder,
    // then the player and its device.
    panel_ = std::make_unique<StatusPanel>(&screen_);
    client_ = new ClientWidget(this);
    setCentralWidget(client_);
    if (getcwd(currentDirectoryText_, sizeof currentDirectoryText_) == nullptr) currentDirectoryText_[0] = '\0';
    player_ = new (std::nothrow) Player(this, currentDirectoryText_);
    if (player_ != nullptr) watch_ = std::make_unique<DeviceWatch>(*player_);
    watchTimer_ = new QTimer(this);
    watchTimer_->setInterval(100);
    connect(watchTimer_, &QTimer::timeout, this, [this] {
        if (watch_ != nullptr) OnDeviceEvent(watch_->Tick());
    });
    InstallKeys();
    setAcceptDrops(true);

    // The smallest size is the starting size, centred on the screen.
    resize(minimumSizeHint());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desk = screen->availableGeometry();
        move(desk.left() + (desk.width() - width()) / 2, desk.top() + (desk.height() - height()) / 2);
    }
}

MainWindow::~MainWindow() { TearDown(); }

void MainWindow::TearDown() {
    // The player stops the device, any recording and the worker before it goes; only
    // then can no thread post any more. What it sends meanwhile finds no player to ask.
    watchTimer_->stop();
    watch_.reset();
    Player* player = player_;
    player_ = nullptr;
    delete player;
    std::lock_guard<std::mutex> lock(portMutex_);
    portOpen_ = false;
}

// The accelerators: Alt with "?" or "/". The "?" counts whether or not Shift was needed
// to type it; two shortcuts for it (with and without Shift) would both match on some
// keyboards and, being ambiguous, neither would fire.
void MainWindow::keyPressEvent(QKeyEvent* event) {
    if ((event->modifiers() & Qt::AltModifier) &&
        (event->key() == Qt::Key_Question || event->key() == Qt::Key_Slash)) {
        OnCommand(IDM_ABOUT);
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A quit signal can arrive while a dialog, a message box or the file picker runs in
    // its own loop on top of a handler that still uses the player: those close first,
    // and the window closes once the last of them has returned (EndModal).
    if (modalDepth_ > 0) {
        closePending_ = true;
        CloseModals();
        event->ignore();
        return;
    }
    TearDown();
    event->accept();
}

void MainWindow::ShowMessage(const char* text, const char* caption) {
    ++modalDepth_;
    Prompts().ShowMessage(text, caption);
    EndModal();
}

void MainWindow::RunDialog(QDialog& dialog) {
    ++modalDepth_;
    Prompts().RunDialog(dialog);
    EndModal();
}

void MainWindow::EndModal() {
    // Queued: the handler that ran the dialog finishes first.
    if (--modalDepth_ == 0 && closePending_) QTimer::singleShot(0, this, [this] { close(); });
}

bool MainWindow::Post(uint32_t message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(portMutex_);
    if (!portOpen_) return false;
    PlayerMessageEvent* event = new (std::nothrow) PlayerMessageEvent(message, wParam, lParam);
    if (event == nullptr) return false;
    QCoreApplication::postEvent(this, event);  // takes the event
    return true;
}

intptr_t MainWindow::Send(uint32_t message, WPARAM wParam, LPARAM lParam) {
    HandleMessage(message, wParam, lParam);
    return 0;
}

void MainWindow::GetTitle(char* text, int bytes) const {
    if (text != nullptr && bytes > 0) CopyTextTruncated(text, size_t(bytes), kWindowTitle);
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == PlayerMessageEvent::Kind()) {
        // Messages still queued when the window was torn down are dropped.
        const PlayerMessageEvent* m = static_cast<const PlayerMessageEvent*>(event);
        if (player_ != nullptr) HandleMessage(m->message_, m->wParam_, m->lParam_);
        return true;
    }
    return QMainWindow::event(event);
}

QAction* MainWindow::Action(int id) const {
    const int i = ActionIndex(id);
    return i < 0 ? nullptr : actions_[i];
}

void MainWindow::Flush(bool now) {
    const Rect r = screen_.TakeChanged();
    if (r.Width() <= 0 || r.Height() <= 0) return;
    const QRect area(r.left, r.top, r.Width(), r.Height());
    if (now) client_->repaint(area);
    else client_->update(area);
}

void MainWindow::Resized(int width, int height) {
    const QImage& image = screen_.Image();
    if (!image.isNull() && image.width() == width && image.height() == height) return;
    screen_.Resize(width, height);  // filled with the background colour
    EraseBackground();
}

void MainWindow::EraseBackground() {
    if (!firstEraseDone_) {
        panel_->BuildAll();
        firstEraseDone_ = true;
    } else {
        {
            std::lock_guard<std::mutex> lock(drawMutex_);
            panel_->DrawMeters();
            panel_->GetVisualiser().Draw(&panel_->VisualiserRect());
        }
        DrawButtons();
        panel_->DrawVolumeBar(player_ ? player_->Volume() : kVolumeLevels - 1);
        panel_->DrawPositionBar();
        panel_->ClearTitle();
        panel_->DrawTitle(titleText_);
    }
    Flush();
}

void MainWindow::DrawButtons() {
    if (player_ == nullptr) panel_->DrawButtons(false, false, false);
    else panel_->DrawButtons(player_->Playing(), player_->Paused(), player_->RecordArmed());
}

void MainWindow::ResetMeters() {
    std::lock_guard<std::mutex> lock(drawMutex_);
    panel_->SetMeterValues(true, 0, 0);
    panel_->DrawMeters();
    panel_->GetVisualiser().Draw(&panel_->VisualiserRect());
}

void MainWindow::SetTitle(const char* text) {
    CopyTextTruncated(titleText_, sizeof titleText_, text);
    panel_->ClearTitle();
    panel_->DrawTitle(titleText_);
}

void MainWindow::HandleMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WMU_LEVELS: {
        std::lock_guard<std::mutex> lock(drawMutex_);
        panel_->SetMeterValues(false, int32_t(wParam), int32_t(lParam));
        panel_->DrawMeters();
        panel_->GetVisualiser().Draw(&panel_->VisualiserRect());
        break;
    }
    case WMU_POSITION: {
        const bool ready = player_ != nullptr && player_->DeviceReady();
        const uint32_t rate = ready ? uint32_t(player_->Link().SampleRateHz()) : 0;
        const uint32_t total = uint32_t(wParam);
        panel_->ShowPosition(rate, total, uint64_t(lParam));
        if (total == 0 && !(player_ != nullptr && player_->RecordArmed())) {
            ResetMeters();
            SetTitle("");  // the text too, or the next repaint brings it back
        }
        if (watch_ != nullptr) OnDeviceEvent(watch_->PollDropouts());
        break;
    }
    case WMU_ASIO_RESET:
        if (watch_ != nullptr) OnDeviceEvent(watch_->OnResetRequest());
        break;
    case WMU_TITLE:
        SetTitle(reinterpret_cast<const char*>(lParam));
        break;
    case WMU_TRACK_END: {
        panel_->ShowPosition(0, 0, 0);
        ResetMeters();
        panel_->ClearTitle();
        // The next entry that plays, or none: then Stop is pressed for the user. While
        // the play-list dialog is open, the entries wait in its list.
        const char* next = player_ == nullptr            ? ""
                           : openPlaylist_ != nullptr ? openPlaylist_->AdvanceQueue()
                                                      : player_->AdvanceQueue();
        SetTitle(next);
        if (titleText_[0] == '\0') {
            const Rect& stop = panel_->StopRect();
            OnClick(stop.right - 1, stop.top + 1);
        }
        DrawButtons();
        break;
    }
    default:
        return;
    }
    Flush();
}

void MainWindow::OnDeviceEvent(DeviceEvent event) {
    const char* take = recordMp3_ ? "Out.mp3" : "Out.wav";
    std::string told;
    switch (event) {
    case DeviceEvent::None:
        if (!watch_->Waiting()) watchTimer_->stop();  // a device was chosen meanwhile
        return;
    case DeviceEvent::Dropouts:
        break;
    case DeviceEvent::TakeClosed:
        told = std::string("The device's inputs went away during the recording. ") + take +
               " holds the take up to there.";
        break;
    case DeviceEvent::Gone:
        SetTitle("The device has gone away - waiting for it to come back...");
        watchTimer_->start();
        break;
    case DeviceEvent::Back:
        watchTimer_->stop();
        SetTitle(player_->Loaded() ? player_->Title() : "");
        break;
    case DeviceEvent::GaveUp:
        watchTimer_->stop();
        SetTitle("");
        told = "The device did not come back, so everything has stopped. Choose a device under ASIO Devices.";
        break;
    }
    if ((event == DeviceEvent::Gone || event == DeviceEvent::Back) && watch_->TookTake())
        told = std::string("The device went away during the recording. ") + take + " holds the take up to there.";
    // Any event may come with dropouts counted: a reset reads the failing device's last.
    panel_->ShowDropouts(watch_->Totals().Sum());
    DrawButtons();
    Flush();
    if (!told.empty()) ShowMessage(told.c_str(), event == DeviceEvent::GaveUp ? "On device..." : "On record...");
}

void MainWindow::OnClick(int x, int y) {
    const Rect& play = panel_->PlayRect();
    const Rect& record = panel_->RecordRect();
    const Rect& stop = panel_->StopRect();
    if (y < play.bottom && x < stop.right) {
        const bool usable = deviceUsable.load() && player_ != nullptr;
        if (x < play.right) {
            if (!usable) {
                ShowMessage("You need a device!", "On play...");
                return;
            }
            if (!player_->RecordArmed() && player_->Queue().Count() == 0 && !player_->Loaded()) {
                ShowMessage("You need to load a file!", "On play...");
                return;
            }
            player_->PlayPause();
            if (!player_->Playing() && !player_->RecordArmed() && !player_->Loaded() && player_->RefusedCount() > 0) {
                // Nothing in the queue could be played; the device was not started.
                ShowMessage(RefusalText(player_->Refused(), player_->RefusedCount()).c_str(), "On play...");
                return;
            }
        } else if (x < record.right) {
            if (!usable) {
                ShowMessage("You need a device!", "On record...");
                return;
            }
            titleText_[0] = '\0';
            player_->ToggleRecord();
        } else if (usable) {
            player_->Stop();
        }
        if (usable) {
            DrawButtons();
            Flush(true);  // the buttons show their new state at once
        }
        return;
    }
    const Rect& volume = panel_->VolumeRect();
    if (y >= volume.top && y <= volume.bottom && x >= volume.left &&
        x < panel_->VolumeSegment(StatusPanel::kVolumeSteps - 1).right) {
        int level = 0;
        while (level < StatusPanel::kVolumeSteps - 1 && panel_->VolumeSegment(level).right <= x) ++level;
        if (player_ != nullptr) player_->SetVolume(level);
        panel_->DrawVolumeBar(level);
        Flush();
        return;
    }
    const Rect& bar = panel_->PositionBarRect();
    if (deviceUsable.load() && player_ != nullptr && titleText_[0] != '\0' && !player_->RecordArmed() &&
        y >= bar.top && y <= bar.bottom && x > bar.left && x < bar.right) {
        player_->SeekToFraction(float(x - bar.left) / float(bar.right - bar.left));
    }
}

void MainWindow::OnCommand(int id) {
    switch (id) {
    case IDM_OPEN: {
        if (player_ == nullptr) return;
        PlaylistDialog dialog(this, player_);
        openPlaylist_ = &dialog;
        RunDialog(dialog);
        openPlaylist_ = nullptr;
        return;
    }
    case IDM_EXIT:
        close();
        return;
    case IDM_ABOUT: {
        AboutDialog dialog(this);
        RunDialog(dialog);
        return;
    }
    case IDM_DEVICES: {
        if (player_ != nullptr && (player_->Playing() || player_->RecordArmed())) {
            ShowMessage("Please click stop before selecting a new device!", "On select device...");
            return;
        }
        DeviceDialog dialog(this, player_);
        RunDialog(dialog);
        DrawButtons();
        Flush();
        return;
    }
    case IDM_LOOP:
        loop_ = !loop_;
        if (player_ != nullptr) player_->SetLoop(loop_);
        Action(id)->setChecked(loop_);
        return;
    case IDM_RECORD_MP3:
        recordMp3_ = !recordMp3_;
        if (player_ != nullptr) player_->SetRecordMp3(recordMp3_);
        Action(id)->setChecked(recordMp3_);
        return;
    case IDM_PSYCHEDELICS: {
        Visualiser& visualiser = panel_->GetVisualiser();
        visualiser.SetPsychedelic(!visualiser.Psychedelic());
        Action(id)->setChecked(visualiser.Psychedelic());
        return;
    }
    default:
        return;
    }
}
