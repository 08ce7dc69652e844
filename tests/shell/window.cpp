// The window's own wiring: menus and their commands, clicks on the panel, keys, drops.
#include "shell_test_support.h"

#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>

namespace {

using namespace shell_test;

// The play button's centre row, 18 from its left: strong in the triangle, light between pause bars.
bool ShowsPause(MainWindow& w) {
    const Rect& play = w.Panel().PlayRect();
    return (w.Screen().Image().pixel(play.left + 18, (play.top + play.bottom) / 2) & 0xFFFFFFu) == kLight;
}

TEST(Window, MenusCheckMarksSizeAndAbout) {
    Session s;
    MainWindow& w = *s.window;
    auto texts = [](QWidget* menu) {
        QStringList t;
        for (QAction* a : menu->actions()) t << a->text();
        return t.join('|').toStdString();
    };
    EXPECT_EQ(w.windowTitle().toStdString(), "Bellwave for ASIO");
    const QList<QAction*> bar = w.menuBar()->actions();
    ASSERT_EQ(texts(w.menuBar()), "&File|&Help|ASIO &Devices|&Options");
    ASSERT_TRUE(bar[0]->menu() && bar[3]->menu());
    EXPECT_EQ(texts(bar[0]->menu()), "&Open|E&xit");
    EXPECT_EQ(texts(bar[3]->menu()), "&Loop play|&Record to mp3|&Psychedelics");
    // Each item flips its own flag and check mark, and only those.
    auto flags = [&] { return w.Loop() + 2 * w.RecordMp3() + 4 * w.Panel().GetVisualiser().Psychedelic(); };
    auto marks = [&] {
        return w.Action(IDM_LOOP)->isChecked() + 2 * w.Action(IDM_RECORD_MP3)->isChecked() +
               4 * w.Action(IDM_PSYCHEDELICS)->isChecked();
    };
    for (const auto& [id, want] : {std::pair{IDM_LOOP, 1}, {IDM_RECORD_MP3, 3}, {IDM_PSYCHEDELICS, 7}, {IDM_LOOP, 6}}) {
        w.Action(id)->trigger();
        EXPECT_EQ(flags(), want);
        EXPECT_EQ(marks(), want);
    }
    // The client area starts at its smallest, 680 x 256, and stays there; larger, the panel follows.
    const QSize smallest(680, 256), larger(900, 500 - w.ClientArea()->y());  // under the menu bar
    for (const auto& [asked, client] : {std::pair{QSize(300, 100), smallest}, {QSize(900, 500), larger}}) {
        w.resize(asked);
        Pump();
        EXPECT_EQ(w.Screen().Image().size(), client);
        EXPECT_EQ(w.Panel().VolumeRect().right, client.width());
    }
    std::string text;
    s.prompts.onDialog = [&](QDialog& dialog) {
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (!label->text().isEmpty()) text = label->text().toStdString();
        QTest::mouseClick(dynamic_cast<AboutDialog&>(dialog).OkButton(), Qt::LeftButton);
    };
    s.window->Action(IDM_ABOUT)->trigger();
    EXPECT_EQ(s.prompts.dialogs, (std::vector<std::string>{"About Bellwave"}));
    EXPECT_EQ(text, "Bellwave for ASIO, Version 1.32");
}

void Press(Session& s, QKeyCombination key) {
    s.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == s.window.get(); }));
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus != nullptr ? focus : s.window.get(), key.key(), key.keyboardModifiers());
    Pump();
}

// Each key, sent to whatever has the focus, does what its button or menu item does; the
// arrows seek five seconds in whole blocks (52) within the track, not while armed.
TEST(Keys, DoWhatTheirButtonOrMenuItemDoes) {
    Session s;
    WriteTrack(s, "long.wav", 12.0);
    Press(s, Qt::Key_Space);
    EXPECT_EQ(s.prompts.TakeMessages(), (Messages{{"You need to load a file!", "On play..."}}));
    s.prompts.selections = {{s.WorkPath("long.wav")}};
    const Messages refused{{"Please click stop before selecting a new device!", "On select device..."}};
    auto state = [&] {  // the device dialog is refused ("busy") while playing, paused too, or armed
        Player& p = s.player();
        s.window->Action(IDM_DEVICES)->trigger();
        std::string text = p.Playing() ? (p.Paused() ? "paused" : "playing") : "stopped";
        text += std::string(p.RecordArmed() ? " armed" : "") + (ShowsPause(*s.window) ? " ||" : "");
        text += " q" + std::to_string(p.Queue().Count()) + " v" + std::to_string(p.Volume());
        text += " @" + std::to_string(p.Position() / 4608) + (s.window->Loop() ? " loop" : "");
        return text + (s.prompts.TakeMessages() == refused ? " busy" : "");
    };
    const std::pair<QKeyCombination, const char*> rows[] = {
        {Qt::CTRL | Qt::Key_O, "stopped q1 v15 @0"},  // "Add to playlist" without the dialog
        {Qt::Key_Up, "stopped q1 v15 @0"}, {Qt::Key_Down, "stopped q1 v14 @0"}, {Qt::Key_Up, "stopped q1 v15 @0"},
        {Qt::Key_Space, "playing || q0 v15 @0 busy"},
        {Qt::Key_Space, "paused q0 v15 @0 busy"},   {Qt::Key_Right, "paused q0 v15 @52 busy"},
        {Qt::Key_Right, "paused q0 v15 @104 busy"}, {Qt::Key_Right, "paused q0 v15 @124 busy"},
        {Qt::Key_Left, "paused q0 v15 @72 busy"},   {Qt::Key_Left, "paused q0 v15 @20 busy"},
        {Qt::Key_Left, "paused q0 v15 @0 busy"},    {Qt::Key_S, "stopped q0 v15 @0"},
        {Qt::Key_Space, "playing || q0 v15 @0 busy"}, {Qt::Key_R, "stopped armed q0 v15 @0 busy"},
        {Qt::Key_Right, "stopped armed q0 v15 @0 busy"}, {Qt::Key_R, "stopped q0 v15 @0"},
        {Qt::Key_L, "stopped q0 v15 @0 loop"}};
    for (const auto& [key, want] : rows) {
        Press(s, key);
        EXPECT_EQ(state(), want) << QKeySequence(key).toString().toStdString();
    }
    EXPECT_EQ(s.prompts.dialogs.size(), 7u);  // the device dialog, each time stopped
    // After Alt the menu bar has the keys: Right moves to the next menu, not the track, and in
    // the Options menu R is "&Record to mp3", not the Record button.
    Press(s, Qt::Key_Alt);
    ASSERT_EQ(QApplication::focusWidget(), s.window->menuBar());
    QTest::keyClick(s.window->menuBar(), Qt::Key_Right);
    QAction* active = s.window->menuBar()->activeAction();
    EXPECT_EQ(active != nullptr ? active->text().toStdString() : "", "&Help");
    QTest::keyClick(s.window->menuBar(), Qt::Key_Escape);
    QMenu* options = s.window->menuBar()->actions()[3]->menu();
    Press(s, Qt::ALT | Qt::Key_O);
    ASSERT_TRUE(options->isVisible());
    QTest::keyClick(options, Qt::Key_R);
    Pump();
    EXPECT_TRUE(s.window->RecordMp3());
    EXPECT_FALSE(s.player().RecordArmed());
    Press(s, Qt::CTRL | Qt::Key_L);
    EXPECT_EQ(s.prompts.dialogs.back(), "Playlist...");
    Press(s, Qt::CTRL | Qt::Key_Q);
    EXPECT_FALSE(s.window->isVisible());
    EXPECT_EQ(s.window->GetPlayer(), nullptr);
    EXPECT_FALSE(s.window->Post(WMU_LEVELS, 0, 0));  // nobody may post to a torn-down window
}

// Dropped files join the queue and play when nothing plays; a list brings its entries;
// only files on this machine are taken.
TEST(Window, DroppedFilesJoinTheQueueAndPlayWhenNothingPlays) {
    Session s;
    for (const char* name : {"one.wav", "two.wav"}) WriteTrack(s, name, 1.0);
    testing_support::WriteFile(s.Work("more.M3U"), "two.wav\none.wav\n");
    for (const auto& [names, title] : std::vector<std::pair<QStringList, const char*>>{
             {{"https://example.com/one.wav"}, ""}, {{"one.wav", "more.M3U"}, "one.wav"}, {{"two.wav"}, "one.wav"}}) {
        QMimeData data;
        for (const QString& name : names) data.setUrls(data.urls() << QUrl::fromUserInput(name, s.WorkPath("")));
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(s.window.get(), &enter);
        EXPECT_EQ(enter.isAccepted(), *title != '\0');
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        if (enter.isAccepted()) QApplication::sendEvent(s.window.get(), &drop);
        Pump();
        EXPECT_STREQ(s.window->TitleText(), title);  // while a track plays, only queued
    }
    EXPECT_EQ(s.player().Queue().Count(), 3u);
}

// Nothing in the queue can be read: the device stays stopped and the person is told which
// file. The bar seeks a loaded track from its top row to its bottom one, inside its frame,
// and shows the position at once while paused; armed, it does nothing.
TEST(Clicks, PlayNamesWhatCannotBeReadAndTheBarSeeksInsideItsFrame) {
    Session s;
    testing_support::WriteFile(s.Work("junk.wav"), "RIFF but not a sound file at all");
    for (const auto& [queue, text] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"junk.wav"}, "Sorry - we can't read \"junk.wav\"."},
             {{"missing.wav", "junk.wav", "gone.mp3"}, "Sorry - we can't read \"missing.wav\" nor 2 other files."}}) {
        s.Queue(queue);
        s.ClickPlay();
        EXPECT_EQ(s.prompts.TakeMessages(), (Messages{{text, "On play..."}}));
        EXPECT_EQ(s.player().Link().State(), DeviceState::Prepared);
        EXPECT_FALSE(ShowsPause(*s.window));
    }
    WriteTrack(s, "long.wav", 20.0);
    s.Queue({"long.wav"});
    s.ClickPlay();
    s.ClickPlay();
    ASSERT_TRUE(s.player().Paused());
    const Rect bar = s.window->Panel().PositionBarRect();
    const int32_t blocks = s.player().Track()->BlockCount();
    auto at = [&](int x) {
        return int64_t(float(blocks) * (float(x - bar.left) / float(bar.right - bar.left))) * 4608;
    };
    const int64_t mid = at(bar.left + 300);
    const std::pair<QPoint, int64_t> cases[] = {
        {{bar.left + 1, bar.top}, 0}, {{bar.right - 2, bar.bottom}, at(bar.right - 2)},
        {{bar.left + 300, bar.top}, mid}, {{bar.left, bar.top}, mid}, {{bar.right, bar.top}, mid},
        {{bar.left + 10, bar.bottom + 1}, mid}, {{bar.left + 10, bar.top - 1}, mid}};
    for (const auto& [click, position] : cases) {
        s.Click(click);
        Pump();
        EXPECT_EQ(s.player().Position(), position) << click.x() << "," << click.y();
    }
    char expected[40];
    FormatPosition(expected, sizeof expected, 48000, uint64_t(mid));
    EXPECT_STREQ(s.window->Panel().TimeText(), expected);
    s.ClickStop();
    s.player().ToggleRecord();  // armed with the title still shown
    const int64_t stopped = s.player().Position();
    s.Click(QPoint(bar.left + 100, bar.top));
    EXPECT_EQ(s.player().Position(), stopped);
}

}  // namespace
