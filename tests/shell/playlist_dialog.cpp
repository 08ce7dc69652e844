// The play-list dialog: the waiting queue shown and put back however it closes, Delete,
// Clear, Shuffle, what the file picker's selections add, and tracks ending meanwhile.
#include "shell_test_support.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>

#include <algorithm>

namespace {

using namespace shell_test;

// The list box's entries as "name@folder", checked against the list it mirrors.
std::vector<std::string> Shown(PlaylistDialog& d) {
    std::vector<std::string> items;
    QListWidget* box = d.ListBox();
    EXPECT_EQ(box->count(), d.Items().Count());
    for (int i = 0; i < box->count(); ++i) {
        items.push_back(box->item(i)->text().toStdString() + "@" + std::to_string(d.Items().ItemData(i)));
        EXPECT_EQ(box->item(i)->text().toStdString() + "@" + std::to_string(box->item(i)->data(Qt::UserRole).toInt()),
                  std::string(d.Items().ItemText(i)) + "@" + std::to_string(d.Items().ItemData(i)));
    }
    return items;
}

std::vector<std::string> TakeQueue(Player& p) {
    std::vector<std::string> items;
    PlayEntry e;
    while (p.Queue().Take(e)) items.push_back(std::string(e.name) + "@" + std::to_string(e.directoryIndex));
    return items;
}

// Opens the dialog from the menu and runs script on it.
void RunPlaylist(Session& s, const std::function<void(PlaylistDialog&)>& script) {
    s.prompts.onDialog = [&](QDialog& dialog) { script(dynamic_cast<PlaylistDialog&>(dialog)); };
    s.window->OnCommand(IDM_OPEN);
    s.prompts.onDialog = nullptr;
}

void Ok(PlaylistDialog& d) { QTest::mouseClick(d.OkButton(), Qt::LeftButton); }

TEST(PlaylistDialog, WaitingQueueShownAndPutBackHoweverItCloses) {
    Session s;
    s.Queue({"a.wav", "b.mp3", "c.wav"});
    const std::vector<std::string> queued{"a.wav@0", "b.mp3@0", "c.wav@0"};
    for (const auto& close : std::vector<std::function<void(PlaylistDialog&)>>{
             Ok, [](PlaylistDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, [](PlaylistDialog& d) { d.close(); }}) {
        RunPlaylist(s, [&](PlaylistDialog& d) {
            EXPECT_EQ(Shown(d), queued);
            EXPECT_EQ(s.player().Queue().Count(), 0u);  // the entries are in the dialog
            close(d);
            EXPECT_FALSE(d.isVisible());
        });
        EXPECT_EQ(s.player().Queue().Count(), 3u);
    }
    // The shown order goes back: two entries shuffle into each other's place. A track
    // being played is not in the queue, so not in the list.
    WriteTrack(s, "a.wav", 1.0);
    s.ClickPlay();
    RunPlaylist(s, [&](PlaylistDialog& d) {
        QTest::mouseClick(d.ShuffleButton(), Qt::LeftButton);
        EXPECT_EQ(Shown(d), (std::vector<std::string>{"c.wav@0", "b.mp3@0"}));
        Ok(d);
    });
    EXPECT_EQ(TakeQueue(s.player()), (std::vector<std::string>{"c.wav@0", "b.mp3@0"}));
}

TEST(PlaylistDialog, DeleteRemovesTheSelectedEntryAndClearEmptiesEverything) {
    Session s;
    s.Queue({"a.wav", "b.wav", "c.wav", "d.wav"});
    RunPlaylist(s, [&](PlaylistDialog& d) {
        QListWidget* box = d.ListBox();
        box->setFocus();
        // Nothing selected; then b; then the selection went with the entry; then d.
        for (int row : {-1, 1, -2, 2}) {
            if (row != -2) box->setCurrentRow(row);
            QTest::keyClick(box, Qt::Key_Delete);
        }
        box->setCurrentRow(1);
        QTest::keyClick(box, Qt::Key_Up);  // other keys keep their meaning
        EXPECT_EQ(box->currentRow(), 0);
        Ok(d);
    });
    EXPECT_EQ(TakeQueue(s.player()), (std::vector<std::string>{"a.wav@0", "c.wav@0"}));
    s.Queue({"a.wav"});
    RunPlaylist(s, [&](PlaylistDialog& d) {
        QTest::mouseClick(d.ClearButton(), Qt::LeftButton);
        EXPECT_TRUE(Shown(d).empty());
        Ok(d);
    });
    EXPECT_EQ(s.player().Queue().Count(), 0u);
    EXPECT_EQ(s.player().Directories().Count(), 0);
}

// Audio files keep their case and their folder (stored once); a one-letter name, one
// too long, and a name without an extension are passed over. The first file decides
// whether the selection is of play lists, read until one is missing.
TEST(PlaylistDialog, SelectionsAddAudioFilesOrPlayLists) {
    Session s;
    const std::string work = s.scope.workDir().string();
    std::filesystem::create_directory(s.Work("music"));
    testing_support::WriteFile(s.Work("first.m3u"), "#EXTM3U\r\nalpha.wav\r\nLive\\beta.mp3\r\n");
    testing_support::WriteFile(s.Work("second.M3U"), "/elsewhere/gamma.wav\n");
    const QString q = QString::fromStdString(work) + "/";
    s.prompts.selections = {
        {q + "music/Song One.MP3", q + "music/x", q + "music/two.wav"},
        {q + "music/" + QString(242, 'n') + ".wav", q + "music/" + QString(243, 'm') + ".wav", q + "noextension"},
        {q + "first.m3u", q + "missing.m3u", q + "second.M3U"},
        {q + "echo.wav", q + "first.m3u"},
    };
    RunPlaylist(s, [&](PlaylistDialog& d) {
        for (int i = 0; i < 5; ++i) QTest::mouseClick(d.AddButton(), Qt::LeftButton);  // the last is cancelled
        std::vector<std::string> folders;
        for (int i = 0; i < d.Items().Count(); ++i) folders.push_back(s.player().Directories().Directory(d.Items().ItemData(i)));
        EXPECT_EQ(Shown(d), (std::vector<std::string>{"Song One.MP3@0", "two.wav@0", std::string(242, 'n') + ".wav@0",
                                                      "alpha.wav@1", "beta.mp3@2", "echo.wav@1", "first.m3u@1"}));
        EXPECT_EQ(folders, (std::vector<std::string>{work + "/music", work + "/music", work + "/music", work,
                                                     work + "/Live", work, work}));
        Ok(d);
    });
    EXPECT_EQ(s.prompts.fileDialogs, 5);
    EXPECT_EQ(s.player().Queue().Count(), 7u);
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
    s.ClickPlay();
    s.prompts.selections = {{s.WorkPath("more/four.wav")}};
    std::vector<std::string> afterOne, afterTwo;
    std::string titleAfterTwo;
    s.prompts.onChoose = [&] {  // two.wav ends while the file picker is open
        PlayUntilTheTitleChanges(s);
        titleAfterTwo = s.window->TitleText();
    };
    RunPlaylist(s, [&](PlaylistDialog& d) {
        PlayUntilTheTitleChanges(s);
        EXPECT_STREQ(s.window->TitleText(), "two.wav");
        afterOne = Shown(d);
        QTest::mouseClick(d.AddButton(), Qt::LeftButton);
        afterTwo = Shown(d);
        Ok(d);
    });
    EXPECT_EQ(afterOne, (std::vector<std::string>{"three.wav@0"}));
    EXPECT_EQ(titleAfterTwo, "three.wav");
    EXPECT_EQ(afterTwo, (std::vector<std::string>{"four.wav@1"}));
    EXPECT_STREQ(s.player().Directories().Directory(1), s.Work("more").c_str());
    PlayUntilTheTitleChanges(s);
    EXPECT_STREQ(s.window->TitleText(), "four.wav");
    EXPECT_TRUE(s.player().Playing());
}

// The names the open-file dialog lists in its folder.
std::vector<std::string> Listed(QFileDialog& d) {
    QListView* view = d.findChild<QListView*>(QStringLiteral("listView"));
    std::vector<std::string> names;
    for (int row = 0; view != nullptr && row < view->model()->rowCount(view->rootIndex()); ++row)
        names.push_back(view->model()->index(row, 0, view->rootIndex()).data().toString().toStdString());
    std::sort(names.begin(), names.end());
    return names;
}

// The real open-file dialog: its two filters, and under each the files of every case.
TEST(PlaylistDialog, TheFilePickerListsNamesOfEveryCase) {
    if (!kRealFilePickerTested) GTEST_SKIP() << "Qt's file dialog under the race detector";
    testing_support::TempDir dir;
    for (const char* name : {"a.Mp3", "b.Wav", "c.WAV", "d.mp3", "e.txt", "f.m3u", "g.M3u"})
        testing_support::WriteFile(dir / name, "x");
    QStringList labels;
    std::vector<std::string> audio, lists;
    QTimer::singleShot(0, [&] {
        QFileDialog* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        const QComboBox* types = d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        for (int i = 0; types != nullptr && i < types->count(); ++i) labels << types->itemText(i);
        QEventLoop loading;
        QObject::connect(d->findChild<QFileSystemModel*>(), &QFileSystemModel::directoryLoaded, &loading, &QEventLoop::quit);
        QTimer::singleShot(10000, &loading, &QEventLoop::quit);  // only when the folder is never read
        d->setDirectory(QString::fromStdString(dir.path().string()));
        loading.exec();
        audio = Listed(*d);
        d->selectNameFilter(d->nameFilters().value(1));
        QCoreApplication::processEvents();  // the list follows the filter on its next turn
        lists = Listed(*d);
        d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText("g.M3u");
        QMetaObject::invokeMethod(d, "accept");  // the Open button
        if (d->isVisible()) d->reject();
    });
    UserPrompts screen;
    QStringList paths;
    EXPECT_TRUE(screen.ChooseFiles(nullptr, paths));
    EXPECT_EQ(labels, (QStringList{"Audio types", "Play list"}));
    EXPECT_EQ(audio, (std::vector<std::string>{"a.Mp3", "b.Wav", "c.WAV", "d.mp3"}));
    EXPECT_EQ(lists, (std::vector<std::string>{"f.m3u", "g.M3u"}));
    EXPECT_EQ(paths, QStringList{QString::fromStdString((dir / "g.M3u").string())});
}

}  // namespace
