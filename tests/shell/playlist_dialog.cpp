// The play-list dialog: the waiting queue shown and put back however the dialog
// closes, Delete, Clear, Shuffle, and what the open-file dialog's selections add.
#include "shell_test_support.h"

#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>

#include "shell/dialogs.h"

namespace {

using namespace shell_test;

struct Item {
    std::string name;
    int32_t data;
    bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Item& i) { return out << i.name << "@" << i.data; }

// What the list box shows, checked against the list it mirrors.
std::vector<Item> Shown(PlaylistDialog& d) {
    std::vector<Item> items;
    QListWidget* box = d.ListBox();
    EXPECT_EQ(box->count(), d.Items().Count());
    for (int i = 0; i < box->count(); ++i) {
        items.push_back({box->item(i)->text().toStdString(), box->item(i)->data(Qt::UserRole).toInt()});
        EXPECT_EQ(items.back().name, d.Items().ItemText(i) ? d.Items().ItemText(i) : "");
        EXPECT_EQ(items.back().data, d.Items().ItemData(i));
    }
    return items;
}

std::vector<Item> TakeQueue(Player& p) {
    std::vector<Item> items;
    PlayEntry e;
    while (p.Queue().Take(e)) items.push_back({e.name, e.directoryIndex});
    return items;
}

// Opens the dialog from the menu and runs script on it.
void RunPlaylist(Session& s, const std::function<void(PlaylistDialog&)>& script) {
    s.prompts.onDialog = [&](QDialog& dialog) {
        PlaylistDialog* d = dynamic_cast<PlaylistDialog*>(&dialog);
        ASSERT_NE(d, nullptr);
        script(*d);
    };
    s.window->OnCommand(IDM_OPEN);
    s.prompts.onDialog = nullptr;
}

TEST(PlaylistDialog, WaitingQueueShownAndPutBackHoweverItCloses) {
    Session s;
    s.Queue({"a.wav", "b.mp3", "c.wav"});
    const int folder = s.player().Directories().AddDirectory(s.scope.workDir().c_str());
    const std::vector<Item> queued{{"a.wav", folder}, {"b.mp3", folder}, {"c.wav", folder}};

    using Close = std::function<void(PlaylistDialog&)>;
    const std::vector<std::pair<const char*, Close>> closings = {
        {"OK", [](PlaylistDialog& d) { QTest::mouseClick(d.OkButton(), Qt::LeftButton); }},
        {"Escape", [](PlaylistDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close box", [](PlaylistDialog& d) { d.close(); }},
    };
    for (const auto& [how, close] : closings) {
        std::vector<Item> shown;
        RunPlaylist(s, [&](PlaylistDialog& d) {
            shown = Shown(d);
            EXPECT_EQ(s.player().Queue().Count(), 0u) << how;  // the entries are in the dialog
            close(d);
            EXPECT_FALSE(d.isVisible()) << how;
        });
        EXPECT_EQ(shown, queued) << how;
        EXPECT_EQ(s.player().Queue().Count(), 3u) << how;
    }

    // The shown order goes back: two entries shuffle into each other's place.
    std::vector<Item> shuffled;
    PlayEntry first;
    ASSERT_TRUE(s.player().Queue().Take(first));
    RunPlaylist(s, [&](PlaylistDialog& d) {
        QTest::mouseClick(d.ShuffleButton(), Qt::LeftButton);
        shuffled = Shown(d);
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(shuffled, (std::vector<Item>{{"c.wav", folder}, {"b.mp3", folder}}));
    EXPECT_EQ(TakeQueue(s.player()), shuffled);

    // A track being played is not in the queue, so not in the list.
    WriteTrack(s, "one.wav", 1.0);
    WriteTrack(s, "two.wav", 1.0);
    s.Queue({"one.wav", "two.wav"});
    s.ClickPlay();
    RunPlaylist(s, [&](PlaylistDialog& d) { EXPECT_EQ(Shown(d), (std::vector<Item>{{"two.wav", folder}})); });
    EXPECT_EQ(s.player().Queue().Count(), 1u);
    s.ClickStop();
}

// Plays segments until the title shown changes from what it is.
void PlayUntilTheTitleChanges(Session& s) {
    const std::string title = s.window->TitleText();
    for (int i = 0; i < 40 && title == s.window->TitleText(); ++i) s.RunSegments(1);
}

// The dialog in its own modal loop, as a person runs it, while tracks end: the next
// entry comes from the list as it stands, also while the file picker is open, and
// entries added meanwhile keep their folders.
TEST(PlaylistDialog, TracksEndingWhileItIsOpenPlayOnFromTheEditedList) {
    Session s;
    std::filesystem::create_directory(s.Work("more"));
    for (const char* name : {"one.wav", "two.wav", "three.wav", "more/four.wav"}) WriteTrack(s, name, 0.3);
    s.Queue({"one.wav", "two.wav", "three.wav"});
    const int folder = s.player().Directories().AddDirectory(s.scope.workDir().c_str());
    s.ClickPlay();
    ASSERT_STREQ(s.window->TitleText(), "one.wav");

    s.prompts.modal = true;
    s.prompts.selections = {{s.WorkPath("more/four.wav")}};
    std::vector<Item> afterOne, afterTwo;
    std::string titleAfterTwo;
    // two.wav ends while the file picker is open.
    s.prompts.onChoose = [&] {
        PlayUntilTheTitleChanges(s);
        titleAfterTwo = s.window->TitleText();
    };
    RunPlaylist(s, [&](PlaylistDialog& d) {
        PlayUntilTheTitleChanges(s);
        EXPECT_STREQ(s.window->TitleText(), "two.wav");
        afterOne = Shown(d);
        QTest::mouseClick(d.AddButton(), Qt::LeftButton);
        afterTwo = Shown(d);
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(afterOne, (std::vector<Item>{{"three.wav", folder}}));
    EXPECT_EQ(titleAfterTwo, "three.wav");
    const int more = s.player().Directories().AddDirectory(s.Work("more").c_str());
    EXPECT_NE(more, folder);
    EXPECT_EQ(afterTwo, (std::vector<Item>{{"four.wav", more}}));
    EXPECT_TRUE(s.player().Playing());

    PlayUntilTheTitleChanges(s);
    EXPECT_STREQ(s.window->TitleText(), "four.wav");
    EXPECT_TRUE(s.player().Playing());
}

// The names the open-file dialog lists in its folder once the folder has been read.
std::vector<std::string> Listed(QFileDialog& d) {
    QListView* view = d.findChild<QListView*>(QStringLiteral("listView"));
    if (view == nullptr) return {"no list view"};
    std::vector<std::string> names;
    const QAbstractItemModel* model = view->model();
    for (int row = 0; row < model->rowCount(view->rootIndex()); ++row)
        names.push_back(model->index(row, 0, view->rootIndex()).data().toString().toStdString());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs script on the open-file dialog once it runs modally.
void OnFilePicker(const std::function<void(QFileDialog&)>& script) {
    QTimer::singleShot(0, [script] {
        if (QFileDialog* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) script(*d);
        else OnFilePicker(script);  // not shown yet
    });
}

// The real open-file dialog: its two labels, and under each the files of every case.
TEST(PlaylistDialog, TheFilePickerListsNamesOfEveryCase) {
    if (!kRealFilePickerTested) GTEST_SKIP() << "Qt's file dialog under the race detector";
    testing_support::TempDir dir;
    for (const char* name : {"a.Mp3", "b.Wav", "c.WAV", "d.mp3", "e.txt", "f.m3u", "g.M3u"})
        testing_support::WriteFile(dir / name, "x");
    QStringList labels;
    std::vector<std::string> audio, lists;
    OnFilePicker([&](QFileDialog& d) {
        const QComboBox* types = d.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        for (int i = 0; types != nullptr && i < types->count(); ++i) labels << types->itemText(i);
        QFileSystemModel* files = d.findChild<QFileSystemModel*>();
        if (files != nullptr) {
            QEventLoop loading;
            QObject::connect(files, &QFileSystemModel::directoryLoaded, &loading, &QEventLoop::quit);
            QTimer::singleShot(10000, &loading, &QEventLoop::quit);  // only when the folder is never read
            d.setDirectory(QString::fromStdString(dir.path().string()));
            loading.exec();
        }
        audio = Listed(d);
        d.selectNameFilter(d.nameFilters().value(1));
        QCoreApplication::processEvents();  // the list follows the filter on its next turn
        lists = Listed(d);
        if (QLineEdit* name = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) name->setText("g.M3u");
        QMetaObject::invokeMethod(&d, "accept");  // the Open button
        if (d.isVisible()) {
            ADD_FAILURE() << "the open-file dialog did not take g.M3u";
            d.reject();
        }
    });
    UserPrompts screen;
    QStringList paths;
    EXPECT_TRUE(screen.ChooseFiles(nullptr, paths));
    EXPECT_EQ(labels, (QStringList{"Audio types", "Play list"}));
    EXPECT_EQ(audio, (std::vector<std::string>{"a.Mp3", "b.Wav", "c.WAV", "d.mp3"}));
    EXPECT_EQ(lists, (std::vector<std::string>{"f.m3u", "g.M3u"}));
    EXPECT_EQ(paths, QStringList{QString::fromStdString((dir / "g.M3u").string())});
}

TEST(PlaylistDialog, DeleteRemovesTheSelectedEntryOnly) {
    Session s;
    s.Queue({"a.wav", "b.wav", "c.wav", "d.wav"});
    const int folder = s.player().Directories().AddDirectory(s.scope.workDir().c_str());
    RunPlaylist(s, [&](PlaylistDialog& d) {
        QListWidget* box = d.ListBox();
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Delete);  // nothing selected
        EXPECT_EQ(Shown(d).size(), 4u);

        box->setCurrentRow(1);
        QTest::keyClick(box, Qt::Key_Delete);
        EXPECT_EQ(Shown(d), (std::vector<Item>{{"a.wav", folder}, {"c.wav", folder}, {"d.wav", folder}}));
        QTest::keyClick(box, Qt::Key_Delete);  // the selection went with the entry
        EXPECT_EQ(Shown(d).size(), 3u);

        box->setCurrentRow(2);
        QTest::keyClick(box, Qt::Key_Delete);
        EXPECT_EQ(Shown(d), (std::vector<Item>{{"a.wav", folder}, {"c.wav", folder}}));

        // Other keys keep their meaning: Up moves the selection.
        box->setCurrentRow(1);
        QTest::keyClick(box, Qt::Key_Up);
        EXPECT_EQ(box->currentRow(), 0);
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(TakeQueue(s.player()), (std::vector<Item>{{"a.wav", folder}, {"c.wav", folder}}));
}

TEST(PlaylistDialog, ClearEmptiesListQueueAndFolders) {
    Session s;
    s.Queue({"a.wav", "b.wav"});
    RunPlaylist(s, [&](PlaylistDialog& d) {
        QTest::mouseClick(d.ClearButton(), Qt::LeftButton);
        EXPECT_TRUE(Shown(d).empty());
        EXPECT_EQ(s.player().Directories().Count(), 0);
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(s.player().Queue().Count(), 0u);
}

TEST(PlaylistDialog, SeveralFilesOfOneFolder) {
    Session s;
    std::filesystem::create_directory(s.Work("music"));
    const std::string folder = s.Work("music").string();
    const QString q = QString::fromStdString(folder) + "/";
    s.prompts.selections = {
        {q + "Song One.MP3", q + "two.wav", q + "three.mp3"},
        {q + "four.wav", q + "x", q + "five.mp3"},  // a one-letter name cannot be a track
        {q + (std::string(242, 'n') + ".wav").c_str(), q + (std::string(243, 'm') + ".wav").c_str()},
        {q + "noextension"},
    };
    RunPlaylist(s, [&](PlaylistDialog& d) {
        for (int i = 0; i < 5; ++i) QTest::mouseClick(d.AddButton(), Qt::LeftButton);  // the last is cancelled
        const std::vector<Item> items = Shown(d);
        ASSERT_EQ(items.size(), 6u);
        // The names keep their case (file names are case-sensitive here).
        EXPECT_EQ(items[0], (Item{"Song One.MP3", 0}));
        EXPECT_EQ(items[1], (Item{"two.wav", 0}));
        EXPECT_EQ(items[2], (Item{"three.mp3", 0}));
        EXPECT_EQ(items[3], (Item{"four.wav", 0}));
        EXPECT_EQ(items[4], (Item{"five.mp3", 0}));
        EXPECT_EQ(items[5].name, std::string(242, 'n') + ".wav");  // 247 characters are passed over
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(s.prompts.fileDialogs, 5);
    EXPECT_EQ(s.player().Directories().Count(), 1);  // one folder, stored once
    EXPECT_STREQ(s.player().Directories().Directory(0), folder.c_str());
    EXPECT_EQ(s.player().Queue().Count(), 6u);
}

TEST(PlaylistDialog, PlayListsWhenTheFirstFileIsOne) {
    Session s;
    const std::string work = s.scope.workDir().string();
    testing_support::WriteFile(s.Work("first.m3u"), "#EXTM3U\r\nalpha.wav\r\nLive\\beta.mp3\r\n");
    testing_support::WriteFile(s.Work("second.M3U"), "/elsewhere/gamma.wav\n");
    testing_support::WriteFile(s.Work("third.m3u"), "delta.wav\n");
    const QString q = QString::fromStdString(work) + "/";
    s.prompts.selections = {
        {q + "first.m3u", q + "second.M3U"},
        {q + "third.m3u", q + "missing.m3u", q + "first.m3u"},  // reading stops at the missing list
        {q + "echo.wav", q + "third.m3u"},                      // the first file decides: audio names
    };
    RunPlaylist(s, [&](PlaylistDialog& d) {
        for (int i = 0; i < 3; ++i) QTest::mouseClick(d.AddButton(), Qt::LeftButton);
        std::vector<std::string> names;
        std::vector<std::string> folders;
        for (const Item& i : Shown(d)) {
            names.push_back(i.name);
            folders.push_back(s.player().Directories().Directory(i.data));
        }
        EXPECT_EQ(names, (std::vector<std::string>{"alpha.wav", "beta.mp3", "gamma.wav", "delta.wav", "echo.wav",
                                                   "third.m3u"}));
        EXPECT_EQ(folders, (std::vector<std::string>{work, work + "/Live", "/elsewhere", work, work, work}));
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(s.player().Queue().Count(), 6u);
}

}  // namespace
