// The menu bar, its commands and check marks, the window's size, Exit, and the input
// besides the mouse: the keys, each doing what its button or menu item does, three shown
// beside their menu items whose own letters still work; files dropped on the window.
#include "shell_test_support.h"

#include <thread>

#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>

namespace {

using namespace shell_test;

std::vector<std::string> Texts(const QList<QAction*>& actions) {
    std::vector<std::string> texts;
    for (QAction* a : actions) texts.push_back(a->text().toStdString());
    return texts;
}

// The threads of this process, as the kernel counts them.
int ThreadCount() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
    return -1;
}

TEST(Window, MenusCheckMarksAndSize) {
    Session s;
    MainWindow& w = *s.window;
    EXPECT_EQ(w.windowTitle().toStdString(), "Bellwave for ASIO");
    const QList<QAction*> bar = w.menuBar()->actions();
    ASSERT_EQ(Texts(bar), (std::vector<std::string>{"&File", "&Help", "ASIO &Devices", "&Options"}));
    ASSERT_TRUE(bar[0]->menu() && bar[1]->menu() && bar[3]->menu());
    EXPECT_EQ(bar[2]->menu(), nullptr);  // a command straight on the bar
    EXPECT_EQ(Texts(bar[0]->menu()->actions()), (std::vector<std::string>{"&Open", "E&xit"}));
    EXPECT_EQ(Texts(bar[3]->menu()->actions()), (std::vector<std::string>{"&Loop play", "&Record to mp3", "&Psychedelics"}));

    // Each item flips its own flag and check mark, and only those.
    Visualiser& visualiser = w.Panel().GetVisualiser();
    for (int on : {1, 0}) {
        w.Action(IDM_LOOP)->trigger();
        EXPECT_EQ(w.Loop() + 2 * w.RecordMp3() + 4 * visualiser.Psychedelic(), on ? 1 : 6);
        w.Action(IDM_RECORD_MP3)->trigger();
        w.Action(IDM_PSYCHEDELICS)->trigger();
        EXPECT_EQ(w.Loop() + 2 * w.RecordMp3() + 4 * visualiser.Psychedelic(), 7 * on);
        for (int id : {IDM_LOOP, IDM_RECORD_MP3, IDM_PSYCHEDELICS}) EXPECT_EQ(w.Action(id)->isChecked(), on == 1);
    }
    // The client area starts at its smallest, 680 x 256 under the menu, and stays there;
    // larger, the panel is laid out for it.
    QWidget* client = w.ClientArea();
    EXPECT_EQ(client->size(), QSize(680, 256));
    w.resize(300, 100);
    Pump();
    EXPECT_EQ(client->size(), QSize(680, 256));
    w.resize(900, 500);
    Pump();
    EXPECT_EQ(client->size(), QSize(900, 500 - client->y()));
    EXPECT_EQ(w.Screen().Image().size(), client->size());
    EXPECT_EQ(w.Panel().VolumeRect().right, client->width());
}

TEST(Window, AboutFromMenuAndAccelerators) {
    Session s;
    MainWindow& w = *s.window;
    std::string text;
    s.prompts.onDialog = [&](QDialog& dialog) {
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (!label->text().isEmpty()) text = label->text().toStdString();
        QTest::mouseClick(dynamic_cast<AboutDialog&>(dialog).OkButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), kDialogOk);
    };
    w.Action(IDM_ABOUT)->trigger();
    EXPECT_EQ(s.prompts.dialogs, (std::vector<std::string>{"About Bellwave"}));
    EXPECT_EQ(text, "Bellwave for ASIO, Version 1.32");
    // "?" with or without the Shift that typed it, also from the client area; not without Alt.
    QTest::keyClick(&w, Qt::Key_Question, Qt::AltModifier | Qt::ShiftModifier);
    QTest::keyClick(w.ClientArea(), Qt::Key_Slash, Qt::AltModifier);
    QTest::keyClick(&w, Qt::Key_Question, Qt::ShiftModifier);
    EXPECT_EQ(s.prompts.dialogs.size(), 3u);
}

TEST(Window, DevicesRefusedWhilePlayingOrArmed) {
    Session s;
    WriteTrack(s, "one.wav", 1.0);
    s.Queue({"one.wav"});
    const ShownMessage refusal{"Please click stop before selecting a new device!", "On select device..."};
    s.ClickPlay();
    s.window->Action(IDM_DEVICES)->trigger();
    s.ClickPlay();  // paused is still playing
    s.window->Action(IDM_DEVICES)->trigger();
    s.ClickRecord();  // stops the track and arms
    s.window->Action(IDM_DEVICES)->trigger();
    EXPECT_EQ(s.prompts.TakeMessages(), (Messages{refusal, refusal, refusal}));
    EXPECT_TRUE(s.prompts.dialogs.empty());
    s.ClickStop();  // disarms
    s.window->Action(IDM_DEVICES)->trigger();
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
    EXPECT_EQ(s.prompts.dialogs, (std::vector<std::string>{"Select ASIO Device..."}));
}

TEST(Window, ExitTearsEverythingDown) {
    std::thread([] {}).join();  // the race detector's helper thread starts with the first one
    const int threadsBefore = ThreadCount();
    Session s;
    MainWindow& w = *s.window;
    WriteTrack(s, "one.wav", 2.0);
    s.Queue({"one.wav"});
    s.ClickPlay();
    s.RunSegments(3);
    EXPECT_GT(ThreadCount(), threadsBefore);  // the host's worker streams
    s.clock.reset();
    w.Action(IDM_EXIT)->trigger();
    Pump();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.GetPlayer(), nullptr);
    EXPECT_FALSE(w.Post(WMU_LEVELS, 0, 0));  // nobody may post to a torn-down window
    EXPECT_EQ(ThreadCount(), threadsBefore);
    const std::vector<std::string> log = s.Log();
    const int closing = host_test::FindLine(log, "Shutting down debug logging system...");
    ASSERT_GE(closing, 0) << host_test::Dump(log);
    EXPECT_EQ(log.size() - size_t(closing), 2u) << host_test::Dump(log);  // then only the date line
}

void Press(Session& s, QKeyCombination key) {
    ASSERT_TRUE(Activate(s.window.get()));
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus != nullptr ? focus : s.window.get(), key.key(), key.keyboardModifiers());
    Pump();
}

void ClickVolume(Session& s, int level) { s.Click(s.window->Panel().VolumeSegment(level)); }

// Each key does what its button or menu item does, sent to whatever has the focus (the
// transport keys click their buttons); the play button shows the state.
TEST(Keys, DoWhatTheirButtonOrMenuItemDoes) {
    Session s;
    WriteTrack(s, "one.wav", 2.0);
    Press(s, Qt::Key_Space);
    EXPECT_EQ(s.prompts.TakeMessages(), (Messages{{"You need to load a file!", "On play..."}}));
    s.prompts.selections = {{s.WorkPath("one.wav")}};
    Press(s, Qt::CTRL | Qt::Key_O);  // the play-list dialog's "Add to playlist", without the dialog
    EXPECT_EQ(s.player().Queue().Count(), 1u);
    Press(s, Qt::Key_Space);
    EXPECT_TRUE(s.player().Playing());
    EXPECT_EQ(PlayGlyph(*s.window), kLight);  // the pause bars
    Press(s, Qt::Key_Space);
    EXPECT_TRUE(s.player().Paused());
    Press(s, Qt::Key_S);
    EXPECT_FALSE(s.player().Playing());
    EXPECT_EQ(PlayGlyph(*s.window), kStrong);  // the triangle again
    Press(s, Qt::Key_Space);  // the track stays loaded for the next Play
    EXPECT_TRUE(s.player().Playing() && !s.player().Paused());
    Press(s, Qt::Key_R);
    EXPECT_TRUE(s.player().RecordArmed());
    Press(s, Qt::Key_R);
    EXPECT_FALSE(s.player().RecordArmed());
    Press(s, Qt::Key_Down);
    EXPECT_EQ(s.player().Volume(), 14);
    Press(s, Qt::Key_Up);
    EXPECT_EQ(s.player().Volume(), 15);
    Press(s, Qt::Key_L);
    EXPECT_TRUE(s.window->Loop() && s.window->Action(IDM_LOOP)->isChecked());
    Press(s, Qt::CTRL | Qt::Key_L);
    EXPECT_EQ(s.prompts.dialogs, (std::vector<std::string>{"Playlist..."}));
    Press(s, Qt::CTRL | Qt::Key_Q);
    EXPECT_FALSE(s.window->isVisible());
    EXPECT_EQ(s.window->GetPlayer(), nullptr);
}

// The volume keys stop at the ends; Left and Right seek five seconds (in whole blocks)
// within the track, and do nothing while armed, where the position bar does nothing.
TEST(KeysAtTheEdges, VolumeAndSeekStopAtTheirEnds) {
    Session s;
    Press(s, Qt::Key_Up);
    EXPECT_EQ(s.player().Volume(), 15);
    ClickVolume(s, 0);
    Press(s, Qt::Key_Down);
    EXPECT_EQ(s.player().Volume(), 0);

    WriteTrack(s, "long.wav", 12.0);
    s.Queue({"long.wav"});
    s.ClickPlay();
    s.ClickPlay();
    const int64_t step = (5 * 48000 + 2304) / 4608 * 4608;  // 52 blocks
    const int64_t last = int64_t(s.player().Track()->BlockCount() - 1) * 4608;
    for (const auto& [key, position] : {std::pair{Qt::Key_Right, step}, {Qt::Key_Right, 2 * step}, {Qt::Key_Right, last},
                                        {Qt::Key_Left, last - step}, {Qt::Key_Left, last - 2 * step},
                                        {Qt::Key_Left, 0}, {Qt::Key_Right, step}}) {
        Press(s, key);
        EXPECT_EQ(s.player().Position(), position);
    }
    EXPECT_STREQ(s.window->Panel().TimeText(), "Position: 00:00:04");  // 4.992 s, shown at once when paused
    s.ClickStop();
    s.ClickRecord();
    const int64_t stopped = s.player().Position();
    Press(s, Qt::Key_Right);
    Press(s, Qt::Key_Left);
    EXPECT_EQ(s.player().Position(), stopped);
}

TEST(KeysAtTheEdges, ShownBesideTheirMenuItemsWhoseLettersStillWork) {
    Session s;
    MainWindow& w = *s.window;
    EXPECT_EQ(w.Action(IDM_OPEN)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    EXPECT_EQ(w.Action(IDM_EXIT)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(w.Action(IDM_LOOP)->shortcut(), QKeySequence(Qt::Key_L));
    // Alt alone gives the menu bar the keys: Right moves to the next menu, not the track.
    Press(s, Qt::Key_Alt);
    ASSERT_EQ(QApplication::focusWidget(), w.menuBar());
    QTest::keyClick(w.menuBar(), Qt::Key_Right);
    ASSERT_NE(w.menuBar()->activeAction(), nullptr);
    EXPECT_EQ(w.menuBar()->activeAction()->text().toStdString(), "&Help");
    QTest::keyClick(w.menuBar(), Qt::Key_Escape);
    // Alt+O opens the Options menu; there R is "&Record to mp3", not the Record button.
    QMenu* options = w.menuBar()->actions()[3]->menu();
    Press(s, Qt::ALT | Qt::Key_O);
    ASSERT_TRUE(options->isVisible());
    QTest::keyClick(options, Qt::Key_R);
    Pump();
    EXPECT_TRUE(w.RecordMp3());
    EXPECT_FALSE(s.player().RecordArmed());
}

// Drops a list of URLs on the window: whether it was taken, once it has been handled.
bool Drop(Session& s, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s.window.get(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s.window.get(), &drop);
    Pump();
    return drop.isAccepted();
}

// Dropped files join the queue and play when nothing plays, as Play would; a list
// brings its entries; only files on this machine are taken.
TEST(Drops, DroppedFilesJoinTheQueueAndPlayWhenNothingPlays) {
    Session s;
    for (const char* name : {"one.wav", "two.wav"}) WriteTrack(s, name, 1.0);
    testing_support::WriteFile(s.Work("more.M3U"), "two.wav\none.wav\n");
    auto url = [&](const char* name) { return QUrl::fromLocalFile(s.WorkPath(name)); };
    EXPECT_FALSE(Drop(s, {QUrl("https://example.com/one.wav")}));
    ASSERT_TRUE(Drop(s, {url("one.wav"), url("more.M3U")}));
    EXPECT_STREQ(s.window->TitleText(), "one.wav");
    ASSERT_TRUE(Drop(s, {url("two.wav")}));  // while a track plays, only queued
    EXPECT_STREQ(s.window->TitleText(), "one.wav");
    EXPECT_EQ(s.player().Queue().Count(), 3u);
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
}

}  // namespace
