// The menu bar, its commands and check marks, the window's size, and Exit.
#include "shell_test_support.h"

#include <thread>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

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

}  // namespace
