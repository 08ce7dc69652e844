// The dialogs in their own modal loops, as a person runs them: the play list (edits, the
// picker's selections, tracks ending meanwhile), the device dialog, a quit signal inside them.
#include "shell_test_support.h"

#include <signal.h>

#include <QComboBox>
#include <QFileDialog>
#include <QListView>
#include <QListWidget>

#include "shell/quit_signals.h"

namespace {

using namespace shell_test;

// The list box's entries as "name@folder ...".
std::string Shown(PlaylistDialog& d) {
    std::string items;
    for (int i = 0; i < d.ListBox()->count(); ++i) {
        const QListWidgetItem* item = d.ListBox()->item(i);
        items += item->text().toStdString() + "@" + std::to_string(item->data(Qt::UserRole).toInt()) + " ";
    }
    return items;
}

void RunPlaylist(Session& s, const std::function<void(PlaylistDialog&)>& script) {
    s.prompts.onDialog = [&](QDialog& dialog) { script(dynamic_cast<PlaylistDialog&>(dialog)); };
    s.window->OnCommand(IDM_OPEN);
    s.prompts.onDialog = nullptr;
}

void Ok(PlaylistDialog& d) { QTest::mouseClick(d.OkButton(), Qt::LeftButton); }

// The waiting queue is shown, and goes back as edited however the dialog closes. A track
// being played is not in the queue, so not in the list.
TEST(PlaylistDialog, EditsGoBackToTheQueueAndSelectionsAddFilesOrLists) {
    Session s;
    s.Queue({"a.wav", "b.mp3", "c.wav"});
    for (const auto& close : std::vector<std::function<void(PlaylistDialog&)>>{
             Ok, [](PlaylistDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); },
             [](PlaylistDialog& d) { d.close(); }}) {
        RunPlaylist(s, [&](PlaylistDialog& d) {
            EXPECT_EQ(Shown(d), "a.wav@0 b.mp3@0 c.wav@0 ");
            EXPECT_EQ(s.player().Queue().Count(), 0u);  // the entries are in the dialog
            close(d);
        });
        EXPECT_EQ(s.player().Queue().Count(), 3u);
    }
    WriteTrack(s, "a.wav", 1.0);
    s.ClickPlay();
    s.Queue({"d.wav", "e.wav"});
    RunPlaylist(s, [&](PlaylistDialog& d) {
        QListWidget* box = d.ListBox();
        box->setFocus();
        // Nothing selected; then d; then the selection went with the entry; then e.
        for (int row : {-1, 2, -2, 2}) {
            if (row != -2) box->setCurrentRow(row);
            QTest::keyClick(box, Qt::Key_Delete);
        }
        QTest::mouseClick(d.ShuffleButton(), Qt::LeftButton);  // two entries trade places
        Ok(d);
    });
    RunPlaylist(s, [&](PlaylistDialog& d) {
        EXPECT_EQ(Shown(d), "c.wav@0 b.mp3@0 ");  // as edited
        QTest::mouseClick(d.ClearButton(), Qt::LeftButton);
        EXPECT_EQ(Shown(d), "");
        Ok(d);
    });
    EXPECT_EQ(s.player().Queue().Count(), 0u);
    EXPECT_EQ(s.player().Directories().Count(), 0);

    // Audio files keep their case and their folder (stored once); a one-letter name, one
    // too long, and one without an extension are passed over. The first file decides
    // whether the selection is of play lists, read until one is missing.
    const std::string work = s.scope.workDir().string();
    testing_support::WriteFile(s.Work("first.m3u"), "alpha.wav\nLive/beta.mp3\n");
    testing_support::WriteFile(s.Work("second.M3U"), "/elsewhere/gamma.wav\n");
    const QString q = QString::fromStdString(work) + "/";
    s.prompts.selections = {{q + "music/Song One.MP3", q + "music/x", q + "music/two.wav"},
                            {q + "music/" + QString(242, 'n') + ".wav", q + "music/" + QString(243, 'm') + ".wav",
                             q + "noext"},
                            {q + "first.m3u", q + "missing.m3u", q + "second.M3U"},
                            {q + "echo.wav", q + "first.m3u"}};
    RunPlaylist(s, [&](PlaylistDialog& d) {
        for (int i = 0; i < 5; ++i) QTest::mouseClick(d.AddButton(), Qt::LeftButton);  // the last is cancelled
        EXPECT_EQ(Shown(d), "Song One.MP3@0 two.wav@0 " + std::string(242, 'n') +
                                ".wav@0 alpha.wav@1 beta.mp3@2 echo.wav@1 first.m3u@1 ");
        Ok(d);
    });
    EXPECT_STREQ(s.player().Directories().Directory(0), (work + "/music").c_str());
    EXPECT_EQ(s.player().Directories().Count(), 3);  // music, the work folder, Live
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
    s.prompts.onChoose = [&] {  // two.wav ends while the file picker is open
        PlayUntilTheTitleChanges(s);
        EXPECT_STREQ(s.window->TitleText(), "three.wav");
    };
    RunPlaylist(s, [&](PlaylistDialog& d) {
        PlayUntilTheTitleChanges(s);
        EXPECT_STREQ(s.window->TitleText(), "two.wav");
        EXPECT_EQ(Shown(d), "three.wav@0 ");
        QTest::mouseClick(d.AddButton(), Qt::LeftButton);
        EXPECT_EQ(Shown(d), "four.wav@1 ");
        Ok(d);
    });
    EXPECT_STREQ(s.player().Directories().Directory(1), s.Work("more").c_str());
    PlayUntilTheTitleChanges(s);
    EXPECT_STREQ(s.window->TitleText(), "four.wav");
    EXPECT_TRUE(s.player().Playing());
}

// Runs the device dialog from the menu, choosing item `choose` (-1: none), then OK or
// Cancel; gives the items seen ("!" when not wholly on screen), the selected row and the result.
std::string RunDeviceDialog(Session& s, int choose, bool cancel = false) {
    std::string seen;
    s.prompts.onDialog = [&](QDialog& dialog) {
        DeviceDialog& d = dynamic_cast<DeviceDialog&>(dialog);
        QListWidget* list = d.DeviceList();
        for (int i = 0; i < list->count(); ++i) {
            const QRect item = list->visualItemRect(list->item(i));
            const bool shown = list->isVisible() && list->viewport()->rect().contains(item);
            seen += list->item(i)->text().toStdString() + (shown ? " " : "! ");
        }
        seen += std::to_string(list->selectedItems().isEmpty() ? -1 : list->row(list->selectedItems().first()));
        if (choose >= 0) list->setCurrentRow(choose);
        else list->clearSelection();
        QTest::mouseClick(cancel ? d.CancelButton() : d.OkButton(), Qt::LeftButton);
        seen += dialog.result() == kDialogOk ? " ok" : " cancel";
    };
    s.clock.reset();  // a device change releases the driver the clock belongs to
    s.window->OnCommand(IDM_DEVICES);
    s.prompts.onDialog = nullptr;
    s.ReachClock();
    return seen;
}

// Three drivers and none stored: the list shows them all in order, none selected; Cancel
// changes nothing; a device that refuses to start, or OK without a choice, leaves none; a
// good one is taken and is the selected one next time. Chosen again it keeps running (a
// restart would start its log afresh); another device restarts the host and unloads the
// track: its title goes for good, also from the next repaint.
TEST(DeviceDialog, ListsEveryDriverAndTakesOnlyOneThatStarts) {
    Session s({Device("Alpha"), Device("Beta", 256, {Text("FailInit", "Beta is switched off")}), Device("Gamma")});
    EXPECT_EQ(RunDeviceDialog(s, 2, true), "Alpha Beta Gamma -1 cancel");
    EXPECT_EQ(RunDeviceDialog(s, 1), "Alpha Beta Gamma -1 ok");
    RunDeviceDialog(s, -1);
    const Messages::value_type sorry{"Sorry - we can't use this device.", "Select device..."};
    EXPECT_EQ(s.prompts.TakeMessages(), (Messages{sorry, sorry}));
    EXPECT_FALSE(deviceUsable.load());
    EXPECT_EQ(selectedDevice.load(), -1);
    RunDeviceDialog(s, 2);
    EXPECT_TRUE(deviceUsable.load() && s.player().DeviceReady());
    EXPECT_EQ(selectedDevice.load(), 2);
    IASIO* driver = HostDriver();
    const std::string log = testing_support::ReadFile(s.Work("CorvaneDbg.Log"));
    EXPECT_EQ(RunDeviceDialog(s, 2), "Alpha Beta Gamma 2 ok");
    EXPECT_EQ(HostDriver(), driver);
    EXPECT_EQ(testing_support::ReadFile(s.Work("CorvaneDbg.Log")), log);
    WriteTrack(s, "one.wav", 1.0);
    s.Queue({"one.wav"});
    s.ClickPlay();
    s.ClickStop();
    RunDeviceDialog(s, 0);
    EXPECT_NE(testing_support::ReadFile(s.Work("CorvaneDbg.Log")), log);
    EXPECT_EQ(selectedDevice.load(), 0);
    EXPECT_FALSE(s.player().Loaded());
    EXPECT_STREQ(s.window->TitleText(), "");
    s.window->resize(s.window->width() + 40, s.window->height() + 20);
    Pump();
    EXPECT_EQ(Ink(*s.window, Rect{0, 25, s.window->ClientArea()->width(), 43}), 0);  // the title band
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
}

// A quit signal while a dialog, or the file picker over it, runs in its own modal loop:
// those close first, then the window as Exit closes it, and nothing touches the player after.
TEST(QuitSignal, ClosesTheOpenDialogsFirstThenTheWindowAsExitDoes) {
    CatchQuitSignals();
    for (const auto& [command, picker] : {std::pair{IDM_OPEN, false}, {IDM_OPEN, true}, {IDM_DEVICES, false}}) {
#if defined(__SANITIZE_THREAD__)  // Qt's file dialog uses Qt's thread pool, which the race detector cannot see into
        if (picker) continue;
#endif
        SCOPED_TRACE(testing::Message() << command << picker);
        Session s({Device("Alpha"), Device("Beta")}, 0);
        s.clock.reset();  // the driver goes with the window
        s.Queue({"a.wav", "b.wav"});
        CloseOnQuitSignals(*s.window);
        s.prompts.realPicker = true;
        bool closedByPerson = false;
        s.prompts.onDialog = [&](QDialog& dialog) {
            QTimer::singleShot(5000, &dialog, [&] {  // only when the quit left them open
                closedByPerson = true;
                while (QWidget* open = QApplication::activeModalWidget()) static_cast<QDialog*>(open)->reject();
            });
            if (!picker) return (void)raise(SIGINT);
            s.prompts.onChoose = [] { QTimer::singleShot(0, [] { raise(SIGINT); }); };
            QTest::mouseClick(dynamic_cast<PlaylistDialog&>(dialog).AddButton(), Qt::LeftButton);
        };
        s.window->OnCommand(command);
        Pump();  // the window closes once the dialog has returned
        EXPECT_FALSE(closedByPerson);
        EXPECT_EQ(s.window->GetPlayer(), nullptr);
        EXPECT_FALSE(s.window->isVisible());
        const std::vector<std::string> log = host_test::ReadLines(s.Work("CorvaneDbg.Log"));
        EXPECT_GE(host_test::FindLine(log, "Shutting down debug logging system..."), 0);
    }
}

// The real file picker: its two labels, and under each the files of every case.
TEST(FilePicker, ListsNamesOfEveryCase) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "Qt's file dialog uses Qt's thread pool, which the race detector cannot see into";
#endif
    testing_support::TempDir dir;
    for (const char* name : {"a.Mp3", "b.Wav", "c.WAV", "d.mp3", "e.txt", "f.m3u", "g.M3u"})
        testing_support::WriteFile(dir / name, "x");
    auto listed = [](QFileDialog& d) {
        const QListView* view = d.findChild<QListView*>(QStringLiteral("listView"));
        std::vector<std::string> names;
        for (int row = 0; view != nullptr && row < view->model()->rowCount(view->rootIndex()); ++row)
            names.push_back(view->model()->index(row, 0, view->rootIndex()).data().toString().toStdString());
        std::sort(names.begin(), names.end());
        return names;
    };
    QStringList labels;
    std::vector<std::string> audio, lists;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        const QComboBox* types = d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        for (int i = 0; types != nullptr && i < types->count(); ++i) labels << types->itemText(i);
        d->setDirectory(QString::fromStdString(dir.path().string()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return listed(*d).size() == 4; }, 10000));
        audio = listed(*d);
        d->selectNameFilter(d->nameFilters().value(1));
        EXPECT_TRUE(QTest::qWaitFor([&] { return listed(*d).size() == 2; }, 10000));
        lists = listed(*d);
        d->reject();
    });
    UserPrompts screen;
    QStringList paths;
    EXPECT_FALSE(screen.ChooseFiles(nullptr, paths));
    EXPECT_EQ(labels, (QStringList{"Audio types", "Play list"}));
    EXPECT_EQ(audio, (std::vector<std::string>{"a.Mp3", "b.Wav", "c.WAV", "d.mp3"}));
    EXPECT_EQ(lists, (std::vector<std::string>{"f.m3u", "g.M3u"}));
}

}  // namespace
