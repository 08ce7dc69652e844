// The device dialog: the installed drivers in order, all on screen, the device in use
// selected, a refused device, a good one, and the device in use chosen again.
#include "shell_test_support.h"

#include <QListWidget>

namespace {

using namespace shell_test;

std::vector<VirtualDeviceSpec> ThreeDevices() {
    return {Device("Alpha"), Device("Beta", 256, {Text("FailInit", "Beta is switched off")}), Device("Gamma")};
}

struct DialogSeen {
    std::vector<std::string> items;  // with "!" when not wholly on screen
    int current = -2;
    int closedWith = -1;
};

// Runs the device dialog from the menu, choosing item `choose` (-1: none), then OK or Cancel.
DialogSeen RunDeviceDialog(Session& s, int choose, bool cancel = false) {
    DialogSeen seen;
    s.prompts.onDialog = [&](QDialog& dialog) {
        DeviceDialog& d = dynamic_cast<DeviceDialog&>(dialog);
        QListWidget* list = d.DeviceList();
        for (int i = 0; i < list->count(); ++i) {
            const bool shown = list->isVisible() && list->viewport()->rect().contains(list->visualItemRect(list->item(i)));
            seen.items.push_back(list->item(i)->text().toStdString() + (shown ? "" : "!"));
        }
        seen.current = list->selectedItems().isEmpty() ? -1 : list->row(list->selectedItems().first());
        if (choose >= 0) list->setCurrentRow(choose);
        else list->clearSelection();
        QTest::mouseClick(cancel ? d.CancelButton() : d.OkButton(), Qt::LeftButton);
        seen.closedWith = dialog.result();
    };
    s.clock.reset();  // a device change releases the driver the clock belongs to
    s.window->OnCommand(IDM_DEVICES);
    s.prompts.onDialog = nullptr;
    s.ReachClock();
    return seen;
}

// Three drivers and none stored: the list shows them all in order, none selected; Cancel
// changes nothing; a device that refuses to start, or OK without a choice, leaves none; a
// good one is taken and is the selected one next time.
TEST(DeviceDialog, ListsEveryDriverAndTakesOnlyOneThatStarts) {
    Session s(ThreeDevices());
    const DialogSeen seen = RunDeviceDialog(s, 2, true);
    EXPECT_EQ(seen.items, (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
    EXPECT_EQ(seen.current, -1);
    EXPECT_EQ(seen.closedWith, kDialogCancel);
    EXPECT_FALSE(deviceUsable.load());
    EXPECT_EQ(RunDeviceDialog(s, 1).closedWith, kDialogOk);
    RunDeviceDialog(s, -1);
    const Messages::value_type sorry{"Sorry - we can't use this device.", "Select device..."};
    EXPECT_EQ(s.prompts.TakeMessages(), (Messages{sorry, sorry}));
    EXPECT_FALSE(deviceUsable.load());
    EXPECT_EQ(selectedDevice.load(), -1);
    RunDeviceDialog(s, 2);
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
    EXPECT_TRUE(deviceUsable.load() && s.player().DeviceReady());
    EXPECT_EQ(selectedDevice.load(), 2);
    EXPECT_EQ(RunDeviceDialog(s, 2, true).current, 2);
}

// The device in use chosen again keeps running (a restart would start the log afresh and
// keep the old one as CorvaneDbg1.Log); another device restarts the host and unloads the
// track: its title goes for good, also from the next repaint.
TEST(DeviceDialog, ChoosingTheDeviceInUseKeepsItRunning) {
    Session s(ThreeDevices(), 0);
    IASIO* driver = HostDriver();
    RunDeviceDialog(s, 0);
    EXPECT_EQ(HostDriver(), driver);
    EXPECT_FALSE(std::filesystem::exists(s.Work("CorvaneDbg1.Log")));
    WriteTrack(s, "one.wav", 1.0);
    s.Queue({"one.wav"});
    s.ClickPlay();
    s.ClickStop();
    RunDeviceDialog(s, 2);
    EXPECT_TRUE(std::filesystem::exists(s.Work("CorvaneDbg1.Log")));
    EXPECT_FALSE(s.player().Loaded());
    EXPECT_STREQ(s.window->TitleText(), "");
    s.window->resize(s.window->width() + 40, s.window->height() + 20);
    Pump();
    EXPECT_EQ(Ink(*s.window, Rect{0, 25, s.window->ClientArea()->width(), 43}), 0);  // the title band
}

}  // namespace
