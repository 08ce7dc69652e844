// Shared by the window tests: one offscreen QApplication for the run, an answerer that
// stands in for the person (messages, file choices, modal dialogs), and a window on
// virtual devices driven by their test clock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "display/colours.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/prompts.h"
#include "tests/player/player_rig.h"

namespace shell_test {

using host_test::Dword;
using host_test::Text;
using host_test::VirtualDeviceSpec;
using player_test::Device;
using testing_support::IsolatedScope;

struct WidgetsApp : ::testing::Environment {
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }
    int argc = 1;
    char name[16] = "shell_test";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
};

inline ::testing::Environment* const kWidgetsApp = ::testing::AddGlobalTestEnvironment(new WidgetsApp);

// Qt's open-file dialog hands work to Qt's thread pool, whose hand-offs the race
// detector cannot see (Qt is not built for it): the tests of the real dialog leave the
// race detector's run out. The dialog runs no threads of ours.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kRealFilePickerTested = false;
#else
inline constexpr bool kRealFilePickerTested = true;
#endif

struct ShownMessage {
    std::string text;
    std::string caption;
    bool operator==(const ShownMessage&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ShownMessage& m) {
    return out << '"' << m.text << "\" / \"" << m.caption << '"';
}
using Messages = std::vector<ShownMessage>;

// Makes window the active one, as a person's click would; false when it never becomes so.
inline bool Activate(QWidget* window) {
    window->activateWindow();
    return QTest::qWaitFor([window] { return QApplication::activeWindow() == window; });
}

// Records every message box, hands out the file selections queued in `selections`
// (cancelling when none is left; `onChoose` runs first, as if time passed while the
// person chose; with `realPicker` the open-file dialog is shown instead), and runs
// modal dialogs through `onDialog`: shown and closed with Cancel when left open, or
// with `modal` inside the dialog's own loop, which onDialog must close.
class ScriptedPrompts : public UserPrompts {
public:
    ScriptedPrompts() { SetPrompts(this); }
    ~ScriptedPrompts() override { SetPrompts(nullptr); }

    void ShowMessage(const char* text, const char* caption) override { messages.push_back({text, caption}); }
    bool ChooseFiles(QWidget* owner, QStringList& paths) override {
        ++fileDialogs;
        if (onChoose) onChoose();
        if (realPicker) return UserPrompts::ChooseFiles(owner, paths);
        if (selections.empty()) return false;
        paths = selections.front();
        selections.erase(selections.begin());
        return true;
    }
    int RunDialog(QDialog& dialog) override {
        dialogs.push_back(dialog.windowTitle().toStdString());
        if (modal) {
            QTimer::singleShot(0, &dialog, [this, &dialog] {
                if (onDialog) onDialog(dialog);
            });
            return dialog.exec();
        }
        dialog.show();
        EXPECT_TRUE(Activate(&dialog));  // as on screen: the main window's keys are not in force
        if (onDialog) onDialog(dialog);
        if (dialog.isVisible()) dialog.reject();
        return dialog.result();
    }

    Messages TakeMessages() { return std::exchange(messages, {}); }

    Messages messages;
    std::vector<QStringList> selections;
    std::vector<std::string> dialogs;
    int fileDialogs = 0;
    std::function<void(QDialog&)> onDialog;
    std::function<void()> onChoose;
    bool modal = false;
    bool realPicker = false;
};

// Lets the window handle every message posted to it so far.
inline void Pump() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// Handles the window's events until done() holds or 20 seconds pass (for what runs in
// real time: the window's timers); true when it held.
template <typename Done>
bool RunUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

// A shown main window on the given devices (registered in this order) in an isolated
// registry and work folder. With one device and nothing stored the host opens it.
class Session {
public:
    explicit Session(const std::vector<VirtualDeviceSpec>& devices = {Device("Bellwave Virtual Device")},
                     int32_t storedNumber = -1) {
        scope.WriteMachineHive(host_test::MachineHive(devices));
        if (storedNumber >= 0) {
            EXPECT_TRUE(SaveDeviceNumber(storedNumber));
        }
        deviceUsable.store(false);
        selectedDevice.store(-1);
        window = std::make_unique<MainWindow>();
        window->show();
        Pump();
        ReachClock();
    }
    // The clock goes first: it holds a reference into the driver's library.
    ~Session() { clock.reset(); }

    Player& player() { return *window->GetPlayer(); }
    std::filesystem::path Work(const std::string& name) const { return scope.workDir() / name; }
    QString WorkPath(const std::string& name) const { return QString::fromStdString(Work(name).string()); }

    // The clock of the device opened last (a device change makes a new driver object).
    void ReachClock() {
        clock.reset();
        if (HostDriver() != nullptr) clock = std::make_unique<host_test::TestClock>();
    }

    void Click(QPoint at) { QTest::mouseClick(window->ClientArea(), Qt::LeftButton, Qt::NoModifier, at); }
    void Click(const Rect& r) { Click(QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2)); }
    void ClickPlay() { Click(window->Panel().PlayRect()); }
    void ClickRecord() { Click(window->Panel().RecordRect()); }
    void ClickStop() { Click(window->Panel().StopRect()); }

    // Queues files of the work folder as the play-list dialog would.
    void Queue(const std::vector<std::string>& names) {
        const int folder = player().Directories().AddDirectory(scope.workDir().c_str());
        for (const std::string& name : names) {
            PlayEntry entry;
            ASSERT_TRUE(MakePlayEntry(entry, name.c_str(), folder));
            ASSERT_TRUE(player().Queue().Append(entry));
        }
    }

    // Plays whole segments, each followed by the worker's refill and the window's
    // handling of what the worker posted.
    void RunSegments(int segments) {
        ASSERT_TRUE(clock && clock->Valid()) << "no test clock";
        const int frames = ASIOGetPrimaryBufferSizeSamples();
        for (int i = 0; i < segments; ++i) {
            ASSERT_TRUE(Host().workers && Host().workers[0]) << "the device is not streaming";
            const int done = Host().workers[0]->segmentCounter.load();
            ASSERT_EQ(clock->Advance(player_test::kSegment / frames), player_test::kSegment / frames);
            ASSERT_TRUE(player_test::Rig::WaitForWorker(done + 1)) << "the worker did not serve segment " << i;
            Pump();
        }
    }

    std::vector<std::string> Log() const { return host_test::ReadLines(scope.workDir() / "CorvaneDbg.Log"); }

    IsolatedScope scope;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<host_test::TestClock> clock;
};

// A 16-bit stereo WAV of seconds at rate in the session's work folder.
inline void WriteTrack(const Session& s, const std::string& name, double seconds, uint32_t rate = 48000) {
    const uint32_t frames = uint32_t(seconds * rate);
    fixtures::WriteBytes(s.Work(name), fixtures::MakeWav(1, 2, rate, 16, fixtures::Samples(fixtures::Music(frames, 2, rate))));
}

// Pixels of the client image with the top byte masked off.
inline uint32_t Px(MainWindow& w, int x, int y) { return w.Screen().Image().pixel(x, y) & 0xFFFFFFu; }
// The pixel at the play button's centre row, dx from its left: +18 is the triangle,
// strong, or the gap between the pause bars, light.
inline uint32_t PlayGlyph(MainWindow& w) {
    const Rect& play = w.Panel().PlayRect();
    return Px(w, play.left + 18, (play.top + play.bottom) / 2);
}

// Pixels of the client image inside r that differ from the background.
inline int Ink(MainWindow& w, const Rect& r) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) n += Px(w, x, y) != kBackground;
    return n;
}

// The band the title is drawn in.
inline Rect TitleBand(MainWindow& w) { return Rect{0, 25, w.ClientArea()->width(), 43}; }

}  // namespace shell_test
