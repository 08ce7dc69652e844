// The window's input besides the mouse. The keys: each does what its button or menu
// item does, sent to whatever has the focus; three show beside their menu items, and
// the menus' own letters still work. Files dropped on the window join the queue.
#include "shell_test_support.h"

#include <sstream>

#include <QAction>
#include <QDropEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>

namespace {

using namespace shell_test;

// What a key or its button leaves behind, as far as the person can tell.
std::string Look(Session& s) {
    std::ostringstream seen;
    MainWindow& w = *s.window;
    seen << "open " << w.isVisible() << " loop " << (w.Loop() && w.Action(IDM_LOOP)->isChecked()) << " title \""
         << w.TitleText() << "\" dialogs " << s.prompts.dialogs.size() << " messages " << s.prompts.messages.size()
         << " file dialogs " << s.prompts.fileDialogs;
    if (Player* p = w.GetPlayer())
        seen << " playing " << p->Playing() << " paused " << p->Paused() << " armed " << p->RecordArmed()
             << " volume " << p->Volume() << " queued " << p->Queue().Count();
    return seen.str();
}

void Press(Session& s, QKeyCombination key) {
    ASSERT_TRUE(Activate(s.window.get()));
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus != nullptr ? focus : s.window.get(), key.key(), key.keyboardModifiers());
    Pump();
}

void ClickVolume(Session& s, int level) { s.Click(s.window->Panel().VolumeSegment(level)); }

struct KeyCase {
    const char* name;
    QKeyCombination key;
    std::function<void(Session&)> before;  // brings the window to where the key is pressed
    std::function<void(Session&)> same;    // the button or menu item
};

void PrintTo(const KeyCase& c, std::ostream* out) { *out << c.name; }

class Keys : public testing::TestWithParam<KeyCase> {
protected:
    // A window with a track in its folder, which the open-file dialog would choose.
    static std::string Run(const KeyCase& c, bool byKey, std::string* before = nullptr) {
        Session s;
        WriteTrack(s, "one.wav", 2.0);
        s.prompts.selections = {{s.WorkPath("one.wav")}};
        c.before(s);
        if (before != nullptr) *before = Look(s);
        if (byKey) Press(s, c.key);
        else c.same(s);
        Pump();
        return Look(s);
    }
};

TEST_P(Keys, DoWhatTheirButtonOrMenuItemDoes) {
    std::string before;
    const std::string byKey = Run(GetParam(), true, &before);
    EXPECT_NE(byKey, before) << "the key did nothing";
    EXPECT_EQ(byKey, Run(GetParam(), false));
}

void Nothing(Session&) {}
auto Queued = [](Session& s) { s.Queue({"one.wav"}); };
auto Playing = [](Session& s) {
    s.Queue({"one.wav"});
    s.ClickPlay();
};
auto Trigger(int id) {
    return [id](Session& s) { s.window->Action(id)->trigger(); };
}

INSTANTIATE_TEST_SUITE_P(
    Table, Keys,
    testing::Values(
        KeyCase{"SpacePlays", Qt::Key_Space, Queued, [](Session& s) { s.ClickPlay(); }},
        KeyCase{"SpacePauses", Qt::Key_Space, Playing, [](Session& s) { s.ClickPlay(); }},
        KeyCase{"SpaceAsksForAFile", Qt::Key_Space, Nothing, [](Session& s) { s.ClickPlay(); }},
        KeyCase{"SStops", Qt::Key_S, Playing, [](Session& s) { s.ClickStop(); }},
        KeyCase{"RArms", Qt::Key_R, Nothing, [](Session& s) { s.ClickRecord(); }},
        KeyCase{"UpRaisesTheVolume", Qt::Key_Up, [](Session& s) { ClickVolume(s, 7); },
                [](Session& s) { ClickVolume(s, 8); }},
        KeyCase{"DownLowersTheVolume", Qt::Key_Down, Nothing, [](Session& s) { ClickVolume(s, 14); }},
        KeyCase{"LLoops", Qt::Key_L, Nothing, Trigger(IDM_LOOP)},
        KeyCase{"CtrlLOpensThePlayList", Qt::CTRL | Qt::Key_L, Queued, Trigger(IDM_OPEN)},
        KeyCase{"CtrlQExits", Qt::CTRL | Qt::Key_Q, Playing, Trigger(IDM_EXIT)},
        // The play-list dialog's "Add to playlist", without the dialog.
        KeyCase{"CtrlOAddsFiles", Qt::CTRL | Qt::Key_O, Nothing,
                [](Session& s) {
                    s.prompts.onDialog = [](QDialog& dialog) {
                        PlaylistDialog& list = dynamic_cast<PlaylistDialog&>(dialog);
                        QTest::mouseClick(list.AddButton(), Qt::LeftButton);
                        QTest::mouseClick(list.OkButton(), Qt::LeftButton);
                    };
                    s.window->Action(IDM_OPEN)->trigger();
                    s.prompts.dialogs.pop_back();
                }}),
    [](const testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

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
    for (const char* name : {"one.wav", "two.wav", "three.wav"}) WriteTrack(s, name, 1.0);
    testing_support::WriteFile(s.Work("more.M3U"), "two.wav\nthree.wav\n");
    auto url = [&](const char* name) { return QUrl::fromLocalFile(s.WorkPath(name)); };
    EXPECT_FALSE(Drop(s, {QUrl("https://example.com/one.wav")}));
    ASSERT_TRUE(Drop(s, {url("one.wav"), url("two.wav")}));
    EXPECT_STREQ(s.window->TitleText(), "one.wav");
    ASSERT_TRUE(Drop(s, {url("more.M3U")}));
    EXPECT_STREQ(s.window->TitleText(), "one.wav");
    EXPECT_EQ(s.player().Queue().Count(), 3u);
    s.ClickStop();
    ASSERT_TRUE(Drop(s, {url("three.wav")}));
    EXPECT_TRUE(s.player().Playing());
    EXPECT_EQ(s.player().Queue().Count(), 4u);
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
}

}  // namespace
