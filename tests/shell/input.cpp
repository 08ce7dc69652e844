// The window's input besides the mouse. The keys: each does what its button or menu
// item does, sent to whatever has the focus; three show beside their menu items, and
// the menus' own letters still work. Files dropped on the window join the queue.
#include "shell_test_support.h"

#include <QAction>
#include <QDropEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>

namespace {

using namespace shell_test;

void Press(Session& s, QKeyCombination key) {
    ASSERT_TRUE(Activate(s.window.get()));
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus != nullptr ? focus : s.window.get(), key.key(), key.keyboardModifiers());
    Pump();
}

void ClickVolume(Session& s, int level) { s.Click(s.window->Panel().VolumeSegment(level)); }

// Each key does what its button or menu item does, sent to whatever has the focus.
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
    Press(s, Qt::Key_Space);
    EXPECT_TRUE(s.player().Paused());
    Press(s, Qt::Key_S);
    EXPECT_FALSE(s.player().Playing());
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
