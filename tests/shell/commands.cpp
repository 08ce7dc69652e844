// The menu bar, its commands and check marks, the accelerators, the window's size and
// background, and Exit.
#include "shell_test_support.h"

#include <thread>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "display/colours.h"
#include "shell/dialogs.h"

namespace {

using namespace shell_test;

std::vector<std::string> Texts(const QList<QAction*>& actions) {
    std::vector<std::string> texts;
    for (QAction* a : actions) texts.push_back(a->text().toStdString());
    return texts;
}

TEST(Window, MenusTitleSizeAndBackground) {
    Session s;
    MainWindow& w = *s.window;
    EXPECT_EQ(w.windowTitle().toStdString(), "Bellwave for ASIO");
    const QList<QAction*> bar = w.menuBar()->actions();
    ASSERT_EQ(Texts(bar), (std::vector<std::string>{"&File", "&Help", "ASIO &Devices", "&Options"}));
    ASSERT_TRUE(bar[0]->menu() && bar[1]->menu() && bar[3]->menu());
    EXPECT_EQ(bar[2]->menu(), nullptr);  // a command straight on the bar
    EXPECT_EQ(Texts(bar[0]->menu()->actions()), (std::vector<std::string>{"&Open", "E&xit"}));
    EXPECT_EQ(Texts(bar[1]->menu()->actions()), (std::vector<std::string>{"&About ..."}));
    EXPECT_EQ(Texts(bar[3]->menu()->actions()), (std::vector<std::string>{"&Loop play", "&Record to mp3", "&Psychedelics"}));
    for (QMenu* menu : {bar[0]->menu(), bar[1]->menu(), bar[3]->menu()})
        for (QAction* a : menu->actions()) {
            EXPECT_FALSE(a->isChecked()) << a->text().toStdString();
            EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
        }
    EXPECT_FALSE(w.windowIcon().isNull());

    // The client area starts at its smallest, 680 x 256 under the menu, and stays there.
    QWidget* client = w.ClientArea();
    EXPECT_EQ(client->size(), QSize(680, 256));
    EXPECT_GE(client->y(), w.menuBar()->geometry().bottom());
    w.resize(300, 100);
    Pump();
    EXPECT_GE(client->width(), 680);
    EXPECT_GE(client->height(), 256);
    w.resize(900, 500);
    Pump();
    EXPECT_EQ(client->size(), QSize(900, 500 - client->y()));
    EXPECT_EQ(w.Screen().Image().size(), client->size());

    // The background, and the panel laid out again for the new size: the volume bar
    // follows the right edge.
    EXPECT_EQ(Px(w, 2, 45), kBackground);
    EXPECT_EQ(Px(w, client->width() - 1, 30), kBackground);
    EXPECT_EQ(w.Panel().VolumeRect().right, client->width());
    EXPECT_EQ(w.Panel().PositionBarRect().bottom, client->height() - 13);
}

TEST(Window, CheckMarksFollowTheirFlags) {
    Session s;
    MainWindow& w = *s.window;
    Visualiser& visualiser = w.Panel().GetVisualiser();
    for (int round = 1; round <= 2; ++round) {
        const bool on = round == 1;
        w.Action(IDM_LOOP)->trigger();
        EXPECT_EQ(w.Loop(), on);
        EXPECT_EQ(w.Action(IDM_LOOP)->isChecked(), on);
        w.Action(IDM_RECORD_MP3)->trigger();
        EXPECT_EQ(w.RecordMp3(), on);
        EXPECT_EQ(w.Action(IDM_RECORD_MP3)->isChecked(), on);
        w.Action(IDM_PSYCHEDELICS)->trigger();
        EXPECT_EQ(visualiser.Psychedelic(), on);
        EXPECT_EQ(w.Action(IDM_PSYCHEDELICS)->isChecked(), on);
    }
    // Each item flips only its own flag.
    w.Action(IDM_PSYCHEDELICS)->trigger();
    EXPECT_FALSE(w.Loop());
    EXPECT_FALSE(w.RecordMp3());
    EXPECT_TRUE(visualiser.Psychedelic());
}

TEST(Window, AboutFromMenuAndAccelerators) {
    Session s;
    MainWindow& w = *s.window;
    int closedWith = -1;
    std::string text;
    s.prompts.onDialog = [&](QDialog& dialog) {
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (!label->text().isEmpty()) text = label->text().toStdString();
        AboutDialog* about = dynamic_cast<AboutDialog*>(&dialog);
        ASSERT_NE(about, nullptr);
        QTest::mouseClick(about->OkButton(), Qt::LeftButton);
        closedWith = dialog.result();
    };
    w.Action(IDM_ABOUT)->trigger();
    EXPECT_EQ(s.prompts.dialogs, (std::vector<std::string>{"About Bellwave"}));
    EXPECT_EQ(text, "Bellwave for ASIO, Version 1.32");
    EXPECT_EQ(closedWith, kDialogOk);

    // "?" with or without the Shift that typed it; keys reach the window from the
    // client area too.
    QTest::keyClick(&w, Qt::Key_Question, Qt::AltModifier);
    QTest::keyClick(&w, Qt::Key_Question, Qt::AltModifier | Qt::ShiftModifier);
    QTest::keyClick(w.ClientArea(), Qt::Key_Slash, Qt::AltModifier);
    EXPECT_EQ(s.prompts.dialogs.size(), 4u);
    // Without Alt the keys do nothing.
    QTest::keyClick(&w, Qt::Key_Slash);
    QTest::keyClick(&w, Qt::Key_Question, Qt::ShiftModifier);
    QTest::keyClick(&w, Qt::Key_A, Qt::AltModifier);
    EXPECT_EQ(s.prompts.dialogs.size(), 4u);
}

TEST(Window, DevicesRefusedWhilePlayingOrArmed) {
    Session s;
    MainWindow& w = *s.window;
    WriteTrack(s, "one.wav", 1.0);
    s.Queue({"one.wav"});
    const ShownMessage refusal{"Please click stop before selecting a new device!", "On select device..."};

    s.ClickPlay();
    w.Action(IDM_DEVICES)->trigger();
    s.ClickPlay();  // paused is still playing
    w.Action(IDM_DEVICES)->trigger();
    s.ClickRecord();  // stops the track and arms
    ASSERT_TRUE(s.player().RecordArmed());
    w.Action(IDM_DEVICES)->trigger();
    EXPECT_EQ(s.prompts.TakeMessages(), (std::vector<ShownMessage>{refusal, refusal, refusal}));
    EXPECT_TRUE(s.prompts.dialogs.empty());

    s.ClickStop();  // disarms
    w.Action(IDM_DEVICES)->trigger();
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
    EXPECT_EQ(s.prompts.dialogs, (std::vector<std::string>{"Select ASIO Device..."}));
}

TEST(Window, ExitTearsEverythingDown) {
    // The race detector starts a helper thread with the process's first thread: let it
    // exist before counting.
    std::thread([] {}).join();
    const int threadsBefore = ThreadCount();
    Session s;
    MainWindow& w = *s.window;
    WriteTrack(s, "one.wav", 2.0);
    s.Queue({"one.wav"});
    s.ClickPlay();
    s.RunSegments(3);
    ASSERT_TRUE(s.player().Playing());
    EXPECT_GT(ThreadCount(), threadsBefore);  // the host's worker streams

    s.clock.reset();
    w.Action(IDM_EXIT)->trigger();
    Pump();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.GetPlayer(), nullptr);
    EXPECT_FALSE(w.Post(WMU_LEVELS, 0, 0));  // nobody may post to a torn-down window
    EXPECT_EQ(ThreadCount(), threadsBefore) << ThreadNames();

    const std::vector<std::string> log = s.Log();
    ASSERT_GE(log.size(), 3u);
    const int closing = host_test::FindLine(log, "Shutting down debug logging system...");
    ASSERT_GE(closing, 0) << host_test::Dump(log);
    EXPECT_EQ(log.size() - size_t(closing), 2u) << host_test::Dump(log);  // then only the date line
    EXPECT_EQ(log.back().rfind("Date: ", 0), 0u);
}

}  // namespace
