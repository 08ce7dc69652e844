// The main window's keys, and files that reach it from outside: dropped on it, or named
// on the command line.
#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include "player/player.h"
#include "player/settings.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"

namespace {

constexpr int kSeekSeconds = 5;

QStringList LocalFiles(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr) return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
}

// While the menu bar is worked from the keyboard (after Alt), the keys without Ctrl are
// its own: the arrows move between the menus, letters pick them.
class MenuBarKeys : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride && static_cast<QWidget*>(watched)->hasFocus() &&
            !(static_cast<QKeyEvent*>(event)->modifiers() & Qt::ControlModifier)) {
            event->accept();  // delivered to the menu bar as a key press, not as a shortcut
            return true;
        }
        return false;
    }
};

}  // namespace

void MainWindow::InstallKeys() {
    // Shown beside their menu items. A toggle or a dialog once per press, however long
    // the key is held.
    const struct {
        int id;
        QKeySequence keys;
    } menuKeys[] = {{IDM_OPEN, QKeySequence(Qt::CTRL | Qt::Key_L)},
                    {IDM_EXIT, QKeySequence(Qt::CTRL | Qt::Key_Q)},
                    {IDM_LOOP, QKeySequence(Qt::Key_L)}};
    for (const auto& k : menuKeys) {
        Action(k.id)->setShortcut(k.keys);
        Action(k.id)->setAutoRepeat(false);
    }
    // Window-wide, whichever child has the focus; the arrows repeat while held.
    auto add = [this](QKeySequence keys, bool repeats, auto run) {
        QShortcut* shortcut = new QShortcut(keys, this, run);
        shortcut->setAutoRepeat(repeats);
    };
    add(QKeySequence(Qt::Key_Space), false, [this] { ClickCentre(panel_->PlayRect()); });
    add(QKeySequence(Qt::Key_S), false, [this] { ClickCentre(panel_->StopRect()); });
    add(QKeySequence(Qt::Key_R), false, [this] { ClickCentre(panel_->RecordRect()); });
    add(QKeySequence(Qt::Key_Left), true, [this] { SeekBySeconds(-kSeekSeconds); });
    add(QKeySequence(Qt::Key_Right), true, [this] { SeekBySeconds(kSeekSeconds); });
    add(QKeySequence(Qt::Key_Up), true, [this] { StepVolume(1); });
    add(QKeySequence(Qt::Key_Down), true, [this] { StepVolume(-1); });
    add(QKeySequence(Qt::CTRL | Qt::Key_O), false, [this] { AddFilesToQueue(); });
    menuBar()->installEventFilter(new MenuBarKeys(this));
}

// A click on the volume bar's next segment up or down.
void MainWindow::StepVolume(int steps) {
    if (player_ == nullptr) return;
    const int level = player_->Volume() + steps;
    if (level >= 0 && level < StatusPanel::kVolumeSteps) ClickCentre(panel_->VolumeSegment(level));
}

// Where a click on the position bar may seek.
void MainWindow::SeekBySeconds(int seconds) {
    if (deviceUsable.load() && player_ != nullptr && titleText_[0] != '\0' && !player_->RecordArmed())
        player_->SeekBySeconds(seconds);
}

// The play-list dialog's "Add to playlist", straight into the queue.
void MainWindow::AddFilesToQueue() {
    if (player_ == nullptr) return;
    ++modalDepth_;
    PlayList list;
    AddToPlaylist(this, list, player_->Directories());
    EndModal();
    if (player_ != nullptr) AppendListToQueue(list, player_->Queue());
}

void MainWindow::OpenFiles(const QStringList& paths) {
    if (player_ == nullptr) return;
    PlayList list;
    for (const QString& path : paths) AddPathToList(list, player_->Directories(), QFile::encodeName(path).constData());
    if (list.Count() == 0) return;
    AppendListToQueue(list, player_->Queue());
    if (!player_->Playing() && !player_->RecordArmed()) ClickCentre(panel_->PlayRect());
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QStringList paths = LocalFiles(event->mimeData());
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    // After the drop has been answered: Play may have to show a message.
    QTimer::singleShot(0, this, [this, paths] { OpenFiles(paths); });
}
