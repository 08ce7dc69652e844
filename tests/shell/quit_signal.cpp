// A quit signal (SIGINT, SIGTERM) while a dialog runs in its own modal loop: the dialog,
// and the file picker over it, close first; the window then closes as Exit closes it,
// and nothing touches the player after that (the sanitizer run checks).
#include "shell_test_support.h"

#include <signal.h>

#include <QFileDialog>
#include <QListWidget>

#include "shell/quit_signals.h"

namespace {

using namespace shell_test;

void RaiseQuit() { raise(SIGINT); }

TEST(QuitSignal, ClosesTheOpenDialogsFirstThenTheWindowAsExitDoes) {
    CatchQuitSignals();
    const struct {
        const char* what;
        int command;
        bool picker;                               // the signal comes while the file picker is open
        std::function<void(QDialog&)> person;      // what the person does when the quit left the dialog open
    } cases[] = {
        {"play list", IDM_OPEN, false,
         [](QDialog& d) { QTest::mouseClick(dynamic_cast<PlaylistDialog&>(d).OkButton(), Qt::LeftButton); }},
        {"file picker over the play list", IDM_OPEN, true,
         [](QDialog& d) {
             if (QFileDialog* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) picker->reject();
             QTimer::singleShot(0, &d, [&d] {
                 QTest::mouseClick(dynamic_cast<PlaylistDialog&>(d).OkButton(), Qt::LeftButton);
             });
         }},
        {"device", IDM_DEVICES, false,
         [](QDialog& d) {
             DeviceDialog& devices = dynamic_cast<DeviceDialog&>(d);
             devices.DeviceList()->setCurrentRow(1);
             QTest::mouseClick(devices.OkButton(), Qt::LeftButton);
         }},
    };
    for (const auto& c : cases) {
        if (c.picker && !kRealFilePickerTested) continue;
        SCOPED_TRACE(c.what);
        Session s({Device("Alpha"), Device("Beta")}, 0);
        s.clock.reset();  // the driver goes with the window
        s.Queue({"a.wav", "b.wav"});
        CloseOnQuitSignals(*s.window);
        s.prompts.realPicker = true;
        bool closedByPerson = false;
        s.prompts.onDialog = [&](QDialog& dialog) {
            QTimer::singleShot(5000, &dialog, [&] {
                closedByPerson = true;
                c.person(dialog);
            });
            if (!c.picker) {
                RaiseQuit();
                return;
            }
            s.prompts.onChoose = [] { QTimer::singleShot(0, RaiseQuit); };
            QTest::mouseClick(dynamic_cast<PlaylistDialog&>(dialog).AddButton(), Qt::LeftButton);
        };
        s.window->OnCommand(c.command);
        Pump();  // the window closes once the dialog has returned
        EXPECT_FALSE(closedByPerson);
        EXPECT_EQ(s.window->GetPlayer(), nullptr);
        EXPECT_FALSE(s.window->isVisible());
        EXPECT_GE(host_test::FindLine(s.Log(), "Shutting down debug logging system..."), 0);
    }
}

}  // namespace
