// The three modal dialogs of the main window's commands: About, the device choice and
// the play list. Each is built ready to run; the window runs it through Prompts() and
// ignores the id it closes with.
#pragma once

#include <QDialog>
#include <QStringList>

#include "player/play_queue.h"

class Player;
class QListWidget;
class QPushButton;

constexpr int kDialogOk = 1;
constexpr int kDialogCancel = 2;

class AboutDialog : public QDialog {
public:
    explicit AboutDialog(QWidget* parent);
    QPushButton* OkButton() const { return ok_; }

private:
    QPushButton* ok_;
};

// Lists the installed drivers (item i is driver i) with the device in use selected,
// and switches to the one chosen.
class DeviceDialog : public QDialog {
public:
    // player may be null (it could not be made): every choice is then refused.
    DeviceDialog(QWidget* parent, Player* player);
    QListWidget* DeviceList() const { return list_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

private:
    void OnOk();

    Player* player_;
    QListWidget* list_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

// Shows the entries still waiting in the player's queue, lets the user add files and
// lists, clear, shuffle and delete, and puts the list back into the queue however it
// is closed (OK, Cancel, Escape or the close box).
class PlaylistDialog : public QDialog {
public:
    PlaylistDialog(QWidget* parent, Player* player);
    QListWidget* ListBox() const { return box_; }
    const PlayList& Items() const { return list_; }
    QPushButton* AddButton() const { return add_; }
    QPushButton* ClearButton() const { return clear_; }
    QPushButton* ShuffleButton() const { return shuffle_; }
    QPushButton* OkButton() const { return ok_; }

    void done(int result) override;
    // The end of a track while the dialog is open: the list goes back into the queue,
    // the player takes the next entry that plays, and what is left comes back into the
    // list. Returns the title, as Player::AdvanceQueue.
    const char* AdvanceQueue();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowItems();

    Player* player_;
    PlayList list_;
    QListWidget* box_;
    QPushButton* add_;
    QPushButton* clear_;
    QPushButton* shuffle_;
    QPushButton* ok_;
    bool returned_ = false;  // the list is back in the queue
};

// Adds what the open-file dialog chose: full paths of files in one folder. The first
// file's extension decides for all: ".m3u" reads every file as a play list (stopping
// at the first that cannot be opened), anything else adds every file under the
// folder's index. Returns the number of items added.
int AddSelectionToList(PlayList& list, DirectoryTable& directories, const QStringList& paths);
// The "Add to playlist" button: asks for files through Prompts() and adds them.
int AddToPlaylist(QWidget* owner, PlayList& list, DirectoryTable& directories);
