// The menu bar and its commands, the window's size, the keys (each doing what its button
// or menu item does) and files dropped on the window.
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

std::vector<std::string> Texts(const QList<QAction*>& actions) {
    std::vector<std::string> texts;
    for (QAction* a : actions) texts.push_back(a->text().toStdString());
    return texts;
}

TEST(Window, MenusCheckMarksAndSize) {
    Session s;
    MainWindow& w = *s.window;
    EXPECT_EQ(w.windowTitle().toStdString(), "Bellwave for ASIO");
    const QList<QAction*> bar = w.menuBar()->actions();
    ASSERT_EQ(Texts(bar), (std::vector<std::string>{"&File", "&Help", "ASIO &Devices", "&Options"}));
    ASSERT_TRUE(bar[0]->menu() && bar[3]->menu());
    EXPECT_EQ(Texts(bar[0]->menu()->actions()), (std::vector<std::string>{"&Open", "E&xit"}));
    EXPECT_EQ(Texts(bar[3]->menu()->actions()), (std::vector<std::string>{"&Loop play", "&Record to mp3", "&Psychedelics"}));
    // Each item flips its own flag and check mark, and only those.
    auto flags = [&] { return w.Loop() + 2 * w.RecordMp3() + 4 * w.Panel().GetVisualiser().Psychedelic(); };
    auto marks = [&] { return w.Action(IDM_LOOP)->isChecked() + 2 * w.Action(IDM_RECORD_MP3)->isChecked() + 4 * w.Action(IDM_PSYCHEDELICS)->isChecked(); };
    for (const auto& [id, want] : {std::pair{IDM_LOOP, 1}, {IDM_RECORD_MP3, 3}, {IDM_PSYCHEDELICS, 7}, {IDM_LOOP, 6}}) {
        w.Action(id)->trigger();
        EXPECT_EQ(flags(), want);
        EXPECT_EQ(marks(), want);
    }
    // The client area starts at its smallest, 680 x 256, and stays there; larger, the panel follows.
    QWidget* client = w.ClientArea();
    EXPECT_EQ(client->size(), QSize(680, 256));
    w.resize(300, 100);
    Pump();
    EXPECT_EQ(client->size(), QSize(680, 256));
    w.resize(900, 500);
    Pump();
    EXPECT_EQ(w.Screen().Image().size(), QSize(900, 500 - client->y()));
    EXPECT_EQ(w.Panel().VolumeRect().right, 900);
}

TEST(Window, AboutFromMenuAndAccelerators) {
    Session s;
    std::string text;
    s.prompts.onDialog = [&](QDialog& dialog) {
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (!label->text().isEmpty()) text = label->text().toStdString();
        QTest::mouseClick(dynamic_cast<AboutDialog&>(dialog).OkButton(), Qt::LeftButton);
    };
    s.window->Action(IDM_ABOUT)->trigger();
    EXPECT_EQ(s.prompts.dialogs, (std::vector<std::string>{"About Bellwave"}));
    EXPECT_EQ(text, "Bellwave for ASIO, Version 1.32");
    // "?" with or without the Shift that typed it, also from the client area; not without Alt.
    QTest::keyClick(s.window.get(), Qt::Key_Question, Qt::AltModifier | Qt::ShiftModifier);
    QTest::keyClick(s.window->ClientArea(), Qt::Key_Slash, Qt::AltModifier);
    QTest::keyClick(s.window.get(), Qt::Key_Question, Qt::ShiftModifier);
    EXPECT_EQ(s.prompts.dialogs.size(), 3u);
}

TEST(Window, DevicesRefusedWhilePlayingOrArmed) {
    Session s;
    WriteTrack(s, "one.wav", 1.0);
    s.Queue({"one.wav"});
    // Playing, paused (still playing), armed (Record stops the track): refused; stopped: shown.
    for (auto click : {&Session::ClickPlay, &Session::ClickPlay, &Session::ClickRecord, &Session::ClickStop}) {
        (s.*click)();
        s.window->Action(IDM_DEVICES)->trigger();
    }
    const std::pair<std::string, std::string> refusal{"Please click stop before selecting a new device!", "On select device..."};
    EXPECT_EQ(s.prompts.TakeMessages(), (Messages{refusal, refusal, refusal}));
    EXPECT_EQ(s.prompts.dialogs, (std::vector<std::string>{"Select ASIO Device..."}));
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
    auto state = [&] {
        Player& p = s.player();
        return std::string(p.Playing() ? (p.Paused() ? "paused" : "playing") : "stopped") + (p.RecordArmed() ? " armed" : "") +
               (ShowsPause(*s.window) ? " ||" : "") + " q" + std::to_string(p.Queue().Count()) + " v" +
               std::to_string(p.Volume()) + " @" + std::to_string(p.Position() / 4608) + (s.window->Loop() ? " loop" : "");
    };
    const struct {
        QKeyCombination key;
        const char* state;
    } rows[] = {{Qt::CTRL | Qt::Key_O, "stopped q1 v15 @0"},  // "Add to playlist" without the dialog
                {Qt::Key_Up, "stopped q1 v15 @0"},          {Qt::Key_Down, "stopped q1 v14 @0"},
                {Qt::Key_Up, "stopped q1 v15 @0"},          {Qt::Key_Space, "playing || q0 v15 @0"},
                {Qt::Key_Space, "paused q0 v15 @0"},        {Qt::Key_Right, "paused q0 v15 @52"},
                {Qt::Key_Right, "paused q0 v15 @104"},      {Qt::Key_Right, "paused q0 v15 @124"},
                {Qt::Key_Left, "paused q0 v15 @72"},        {Qt::Key_Left, "paused q0 v15 @20"},
                {Qt::Key_Left, "paused q0 v15 @0"},         {Qt::Key_S, "stopped q0 v15 @0"},
                {Qt::Key_Space, "playing || q0 v15 @0"},    {Qt::Key_R, "stopped armed q0 v15 @0"},
                {Qt::Key_Right, "stopped armed q0 v15 @0"}, {Qt::Key_R, "stopped q0 v15 @0"},
                {Qt::Key_L, "stopped q0 v15 @0 loop"}};
    for (const auto& row : rows) {
        Press(s, row.key);
        EXPECT_EQ(state(), row.state) << QKeySequence(row.key).toString().toStdString();
    }
    Press(s, Qt::CTRL | Qt::Key_L);
    EXPECT_EQ(s.prompts.dialogs, (std::vector<std::string>{"Playlist..."}));
    Press(s, Qt::CTRL | Qt::Key_Q);
    EXPECT_FALSE(s.window->isVisible());
    EXPECT_EQ(s.window->GetPlayer(), nullptr);
    EXPECT_FALSE(s.window->Post(WMU_LEVELS, 0, 0));  // nobody may post to a torn-down window
}

// After Alt the menu bar has the keys: Right moves to the next menu, not the track, and in
// the Options menu R is "&Record to mp3", not the Record button.
TEST(Keys, TheMenuBarKeepsItsOwnLetters) {
    Session s;
    MainWindow& w = *s.window;
    Press(s, Qt::Key_Alt);
    ASSERT_EQ(QApplication::focusWidget(), w.menuBar());
    QTest::keyClick(w.menuBar(), Qt::Key_Right);
    ASSERT_NE(w.menuBar()->activeAction(), nullptr);
    EXPECT_EQ(w.menuBar()->activeAction()->text().toStdString(), "&Help");
    QTest::keyClick(w.menuBar(), Qt::Key_Escape);
    QMenu* options = w.menuBar()->actions()[3]->menu();
    Press(s, Qt::ALT | Qt::Key_O);
    ASSERT_TRUE(options->isVisible());
    QTest::keyClick(options, Qt::Key_R);
    Pump();
    EXPECT_TRUE(w.RecordMp3());
    EXPECT_FALSE(s.player().RecordArmed());
}

// Dropped files join the queue and play when nothing plays; a list brings its entries;
// only files on this machine are taken.
TEST(Drops, DroppedFilesJoinTheQueueAndPlayWhenNothingPlays) {
    Session s;
    for (const char* name : {"one.wav", "two.wav"}) WriteTrack(s, name, 1.0);
    testing_support::WriteFile(s.Work("more.M3U"), "two.wav\none.wav\n");
    auto drop = [&](const QStringList& names) {
        QMimeData data;
        for (const QString& name : names)
            data.setUrls(data.urls() << (name.contains(':') ? QUrl(name) : QUrl::fromLocalFile(s.WorkPath(name.toStdString()))));
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(s.window.get(), &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent event(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(s.window.get(), &event);
        Pump();
        return event.isAccepted();
    };
    EXPECT_FALSE(drop({"https://example.com/one.wav"}));
    ASSERT_TRUE(drop({"one.wav", "more.M3U"}));
    EXPECT_STREQ(s.window->TitleText(), "one.wav");
    ASSERT_TRUE(drop({"two.wav"}));  // while a track plays, only queued
    EXPECT_STREQ(s.window->TitleText(), "one.wav");
    EXPECT_EQ(s.player().Queue().Count(), 3u);
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
}

}  // namespace
