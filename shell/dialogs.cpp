#include "shell/dialogs.h"

#include <cstdio>
#include <string>
#include <vector>

#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "player/player.h"
#include "player/settings.h"
#include "shell/app_icon.h"
#include "shell/prompts.h"

namespace {

constexpr int kMaxAddedNameChars = 246;  // longer names picked in the file dialog are passed over

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Bellwave"));
    QLabel* icon = new QLabel(this);
    icon->setPixmap(QPixmap::fromImage(DrawAppIcon(32)));
    QLabel* text = new QLabel(QStringLiteral("Bellwave for ASIO, Version 1.32"), this);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, [this] { done(kDialogOk); });

    QHBoxLayout* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addWidget(text, 1);
    QHBoxLayout* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(ok_);
    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(bottom);
    setMinimumSize(326, 119);
}

DeviceDialog::DeviceDialog(QWidget* parent, Player* player) : QDialog(parent), player_(player) {
    setWindowTitle(QStringLiteral("Select ASIO Device..."));
    list_ = new QListWidget(this);  // always shown, in the drivers' order
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, [this] { OnOk(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { done(kDialogCancel); });

    QHBoxLayout* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addSpacing(16);
    layout->addLayout(buttons);
    setMinimumWidth(300);

    // Item i is driver i.
    std::vector<std::string> names;
    if (player_ != nullptr) {
        player_->ListDrivers(names);
    } else {
        DeviceLink lister(nullptr, nullptr, nullptr);
        lister.ListDrivers(names);
    }
    for (const std::string& name : names) list_->addItem(QString::fromStdString(name));
    const int selected = selectedDevice.load();
    if (deviceUsable.load() && selected >= 0 && selected < list_->count()) list_->setCurrentRow(selected);
}

void DeviceDialog::OnOk() {
    const QList<QListWidgetItem*> selection = list_->selectedItems();
    const int chosen = selection.isEmpty() ? -1 : list_->row(selection.first());
    if (deviceUsable.load() && chosen == selectedDevice.load()) {
        done(kDialogOk);  // the device in use: nothing changes
        return;
    }
    selectedDevice.store(chosen);
    if (player_ == nullptr || !player_->ChangeDevice()) {
        Prompts().ShowMessage("Sorry - we can't use this device.", "Select device...");
        deviceUsable.store(false);
    } else {
        deviceUsable.store(true);
    }
    done(kDialogOk);
}

PlaylistDialog::PlaylistDialog(QWidget* parent, Player* player) : QDialog(parent), player_(player) {
    setWindowTitle(QStringLiteral("Playlist..."));
    add_ = new QPushButton(QStringLiteral("Add to playlist"), this);
    clear_ = new QPushButton(QStringLiteral("Clear playlist"), this);
    shuffle_ = new QPushButton(QStringLiteral("Shuffle playlist"), this);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    box_ = new QListWidget(this);
    box_->setSelectionMode(QAbstractItemView::SingleSelection);
    box_->installEventFilter(this);

    connect(add_, &QPushButton::clicked, this, [this] {
        AddToPlaylist(this, list_, player_->Directories());
        ShowItems();
    });
    connect(clear_, &QPushButton::clicked, this, [this] {
        list_.Reset();
        player_->Directories().ClearDirectories();
        player_->Queue().Clear();
        ShowItems();
    });
    connect(shuffle_, &QPushButton::clicked, this, [this] {
        Shuffle(list_);
        ShowItems();
    });
    connect(ok_, &QPushButton::clicked, this, [this] { done(kDialogOk); });

    QVBoxLayout* buttons = new QVBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(clear_);
    buttons->addWidget(shuffle_);
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    QHBoxLayout* layout = new QHBoxLayout(this);
    layout->addWidget(box_, 1);
    layout->addLayout(buttons);
    setMinimumSize(612, 257);

    MoveQueueToList(player_->Queue(), list_);
    ShowItems();
}

void PlaylistDialog::ShowItems() {
    box_->clear();
    for (int i = 0; i < list_.Count(); ++i) {
        QListWidgetItem* item = new QListWidgetItem(QFile::decodeName(list_.ItemText(i)), box_);
        item->setData(Qt::UserRole, list_.ItemData(i));
    }
}

void PlaylistDialog::done(int result) {
    // However the dialog closes, the edited list goes back into the queue, once.
    if (!returned_) {
        AppendListToQueue(list_, player_->Queue());
        list_.Reset();
        returned_ = true;
    }
    QDialog::done(result);
}

const char* PlaylistDialog::AdvanceQueue() {
    if (returned_) return player_->AdvanceQueue();  // closing: the list is in the queue already
    AppendListToQueue(list_, player_->Queue());
    list_.Reset();
    const char* title = player_->AdvanceQueue();
    MoveQueueToList(player_->Queue(), list_);
    ShowItems();
    return title;
}

bool PlaylistDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == box_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        const QList<QListWidgetItem*> selected = box_->selectedItems();
        if (!selected.isEmpty()) {
            const int row = box_->row(selected.first());
            list_.DeleteItem(row);
            delete box_->takeItem(row);
            box_->clearSelection();
        }
        return true;  // the list does nothing more with Delete
    }
    return QDialog::eventFilter(watched, event);
}

int AddSelectionToList(PlayList& list, DirectoryTable& directories, const QStringList& paths) {
    if (paths.isEmpty()) return 0;
    const QByteArray first = QFile::encodeName(paths.first());
    const qsizetype slash = first.lastIndexOf('/');
    if (slash < 0) return 0;
    const QByteArray folder = first.left(slash);
    const QByteArray firstName = first.mid(slash + 1);
    const qsizetype dot = firstName.lastIndexOf('.');
    if (dot < 0) return 0;
    // Compared without changing the name: a name's case matters to the file system.
    const bool lists = firstName.mid(dot).toLower() == ".m3u";

    int folderIndex = -1;
    if (!lists) {
        folderIndex = directories.AddDirectory(folder.constData());
        if (folderIndex < 0) return 0;
    }
    int added = 0;
    for (const QString& path : paths) {
        const QByteArray bytes = QFile::encodeName(path);
        const qsizetype at = bytes.lastIndexOf('/');
        if (at != slash || bytes.left(at) != folder) continue;  // one folder per selection
        const QByteArray name = bytes.mid(at + 1);
        if (name.size() < 2) continue;  // no room for a name and an extension
        if (lists) {
            FILE* stream = std::fopen(bytes.constData(), "rb");
            if (stream == nullptr) break;  // the lists added so far stay
            added += AddM3uToList(list, directories, bytes.constData(), stream);
        } else if (name.size() <= kMaxAddedNameChars && list.AddItem(name.constData(), folderIndex) >= 0) {
            ++added;
        }
    }
    return added;
}

int AddToPlaylist(QWidget* owner, PlayList& list, DirectoryTable& directories) {
    QStringList paths;
    if (!Prompts().ChooseFiles(owner, paths)) return 0;
    return AddSelectionToList(list, directories, paths);
}
