// An offscreen QApplication, an answerer standing in for the person (messages, file
// choices, dialogs), and a window on virtual devices run by their test clock.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "display/colours.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/prompts.h"
#include "tests/player/player_rig.h"

namespace shell_test {

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
    char name[16] = "shell_test", *argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
};
inline ::testing::Environment* const kWidgetsApp = ::testing::AddGlobalTestEnvironment(new WidgetsApp);

using Messages = std::vector<std::pair<std::string, std::string>>;  // text, caption

// Records message boxes, hands out the queued file selections (none left: cancelled), and
// runs each dialog in its own modal loop: onDialog must close it; without one it is cancelled.
class ScriptedPrompts : public UserPrompts {
public:
    ScriptedPrompts() { SetPrompts(this); }
    ~ScriptedPrompts() override { SetPrompts(nullptr); }
    void ShowMessage(const char* text, const char* caption) override { messages.emplace_back(text, caption); }
    bool ChooseFiles(QWidget* owner, QStringList& paths) override {
        if (onChoose) onChoose();
        if (realPicker) return UserPrompts::ChooseFiles(owner, paths);
        return selections.empty() ? false : (paths = selections.takeFirst(), true);
    }
    int RunDialog(QDialog& dialog) override {
        dialogs.push_back(dialog.windowTitle().toStdString());
        QTimer::singleShot(0, &dialog, [this, &dialog] { onDialog ? onDialog(dialog) : dialog.reject(); });
        return dialog.exec();
    }
    Messages TakeMessages() { return std::exchange(messages, {}); }

    Messages messages;
    QList<QStringList> selections;
    std::vector<std::string> dialogs;
    std::function<void(QDialog&)> onDialog;
    std::function<void()> onChoose;
    bool realPicker = false;
};

inline void Pump() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// A shown main window on the given devices in an isolated registry and work folder.
class Session {
public:
    explicit Session(const std::vector<VirtualDeviceSpec>& devices = {Device("Bellwave Virtual Device")},
                     int32_t storedNumber = -1) {
        scope.WriteMachineHive(host_test::MachineHive(devices));
        EXPECT_TRUE(storedNumber < 0 || SaveDeviceNumber(storedNumber));
        deviceUsable.store(false);
        selectedDevice.store(-1);
        window = std::make_unique<MainWindow>();
        window->show();
        Pump();
        ReachClock();
    }

    Player& player() { return *window->GetPlayer(); }
    std::filesystem::path Work(const std::string& name) const { return scope.workDir() / name; }
    QString WorkPath(const std::string& name) const { return QString::fromStdString(Work(name).string()); }
    void ReachClock() { clock = HostDriver() != nullptr ? std::make_unique<host_test::TestClock>() : nullptr; }

    void Click(QPoint at) { QTest::mouseClick(window->ClientArea(), Qt::LeftButton, Qt::NoModifier, at); }
    void Click(const Rect& r) { Click(QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2)); }
    void ClickPlay() { Click(window->Panel().PlayRect()); }
    void ClickRecord() { Click(window->Panel().RecordRect()); }
    void ClickStop() { Click(window->Panel().StopRect()); }

    void Queue(const std::vector<std::string>& names) {
        const int folder = player().Directories().AddDirectory(scope.workDir().c_str());
        for (PlayEntry e; const std::string& name : names)
            ASSERT_TRUE(MakePlayEntry(e, name.c_str(), folder) && player().Queue().Append(e));
    }

    // Plays whole segments, each followed by the worker's refill and the window's handling.
    void RunSegments(int segments) {
        ASSERT_TRUE(clock && clock->Valid()) << "no test clock";
        const int ticks = player_test::kSegment / ASIOGetPrimaryBufferSizeSamples();
        for (int i = 0; i < segments; ++i) {
            ASSERT_TRUE(Host().workers && Host().workers[0]) << "the device is not streaming";
            const int done = Host().workers[0]->segmentCounter.load();
            ASSERT_EQ(clock->Advance(ticks), ticks);
            ASSERT_TRUE(player_test::Rig::WaitForWorker(done + 1)) << "segment " << i << " not served";
            Pump();
        }
    }

    IsolatedScope scope;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<host_test::TestClock> clock;  // last: it holds a reference into the driver's library
};

// A 16-bit stereo WAV of music in the session's work folder.
inline void WriteTrack(const Session& s, const std::string& name, double seconds) {
    const fixtures::Bytes music = fixtures::Samples(fixtures::Music(uint32_t(seconds * 48000), 2, 48000));
    fixtures::WriteBytes(s.Work(name), fixtures::MakeWav(1, 2, 48000, 16, music));
}

// Pixels of the client image inside r that differ from the background.
inline int Ink(MainWindow& w, const Rect& r) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) n += (w.Screen().Image().pixel(x, y) & 0xFFFFFFu) != kBackground;
    return n;
}

}  // namespace shell_test
