// The device dialog: the installed drivers in order in a list always shown, the device
// in use selected, a refused device, a good one, and the device in use chosen again.
#include "shell_test_support.h"

#include <QListWidget>
#include <QPushButton>

#include "display/colours.h"

#include "shell/dialogs.h"

namespace {

using namespace shell_test;

std::vector<VirtualDeviceSpec> ThreeDevices() {
    return {Device("Alpha"), Device("Beta", 256, {Text("FailInit", "Beta is switched off")}), Device("Gamma")};
}

struct DialogSeen {
    std::vector<std::string> items;
    int current = -2;
    bool allShown = false;  // every item on screen without opening anything
    int closedWith = -1;
};

// Runs the device dialog from the menu, choosing item `choose` (-1: none) and pressing
// OK, or Cancel when cancel is set.
DialogSeen RunDeviceDialog(Session& s, int choose, bool cancel = false) {
    DialogSeen seen;
    s.prompts.onDialog = [&](QDialog& dialog) {
        DeviceDialog* d = dynamic_cast<DeviceDialog*>(&dialog);
        ASSERT_NE(d, nullptr);
        QListWidget* list = d->DeviceList();
        seen.allShown = list->isVisible();
        for (int i = 0; i < list->count(); ++i) {
            seen.items.push_back(list->item(i)->text().toStdString());
            seen.allShown = seen.allShown && list->viewport()->rect().contains(list->visualItemRect(list->item(i)));
        }
        const QList<QListWidgetItem*> selected = list->selectedItems();
        seen.current = selected.isEmpty() ? -1 : list->row(selected.first());
        if (choose >= 0) list->setCurrentRow(choose);
        else list->clearSelection();
        QTest::mouseClick(cancel ? d->CancelButton() : d->OkButton(), Qt::LeftButton);
        seen.closedWith = dialog.result();
    };
    s.clock.reset();  // a device change releases the driver the clock belongs to
    s.window->OnCommand(IDM_DEVICES);
    s.prompts.onDialog = nullptr;
    s.ReachClock();
    return seen;
}

TEST(DeviceDialog, ListsEveryDriverInOrderWithTheCurrentSelected) {
    {
        Session s(ThreeDevices());  // three drivers and none stored: the host does not choose
        EXPECT_FALSE(deviceUsable.load());
        const DialogSeen seen = RunDeviceDialog(s, 2, true);
        EXPECT_EQ(seen.items, (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
        EXPECT_TRUE(seen.allShown);
        EXPECT_EQ(s.player().Link().DriverCount(), 3);  // listed through the player's device link
        EXPECT_EQ(seen.current, -1);
        EXPECT_EQ(seen.closedWith, kDialogCancel);
        EXPECT_FALSE(deviceUsable.load());  // Cancel changes nothing
        EXPECT_EQ(selectedDevice.load(), -1);
    }
    Session s(ThreeDevices(), 2);
    ASSERT_TRUE(deviceUsable.load());
    EXPECT_EQ(RunDeviceDialog(s, 2, true).current, 2);
}

TEST(DeviceDialog, RefusedDeviceLeavesNoneAndAGoodOneIsTaken) {
    Session s(ThreeDevices());
    const ShownMessage sorry{"Sorry - we can't use this device.", "Select device..."};

    EXPECT_EQ(RunDeviceDialog(s, 1).closedWith, kDialogOk);
    EXPECT_EQ(s.prompts.TakeMessages(), (std::vector<ShownMessage>{sorry}));
    EXPECT_FALSE(deviceUsable.load());
    EXPECT_FALSE(s.player().DeviceReady());
    s.ClickPlay();
    EXPECT_EQ(s.prompts.TakeMessages(), (std::vector<ShownMessage>{{"You need a device!", "On play..."}}));

    // OK without a choice is refused the same way.
    RunDeviceDialog(s, -1);
    EXPECT_EQ(s.prompts.TakeMessages(), (std::vector<ShownMessage>{sorry}));
    EXPECT_EQ(selectedDevice.load(), -1);

    EXPECT_EQ(RunDeviceDialog(s, 2).closedWith, kDialogOk);
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
    EXPECT_TRUE(deviceUsable.load());
    EXPECT_EQ(selectedDevice.load(), 2);
    EXPECT_TRUE(s.player().DeviceReady());
}

TEST(DeviceDialog, ChoosingTheDeviceInUseKeepsItRunning) {
    Session s(ThreeDevices(), 0);
    ASSERT_TRUE(deviceUsable.load());
    IASIO* driver = HostDriver();
    const std::string log = testing_support::ReadFile(s.Work("CorvaneDbg.Log"));

    EXPECT_EQ(RunDeviceDialog(s, 0).closedWith, kDialogOk);
    EXPECT_TRUE(s.prompts.TakeMessages().empty());
    EXPECT_EQ(HostDriver(), driver);
    // A restart would have opened the log afresh and kept the old one as CorvaneDbg1.Log.
    EXPECT_FALSE(std::filesystem::exists(s.Work("CorvaneDbg1.Log")));
    EXPECT_EQ(testing_support::ReadFile(s.Work("CorvaneDbg.Log")), log);
    EXPECT_TRUE(deviceUsable.load());
    EXPECT_EQ(selectedDevice.load(), 0);

    // Another device does restart the host, and unloads the track: its title goes for
    // good, also from the next repaint.
    WriteTrack(s, "one.wav", 1.0);
    s.Queue({"one.wav"});
    s.ClickPlay();
    s.ClickStop();
    ASSERT_STREQ(s.window->TitleText(), "one.wav");
    EXPECT_EQ(RunDeviceDialog(s, 2).closedWith, kDialogOk);
    EXPECT_TRUE(std::filesystem::exists(s.Work("CorvaneDbg1.Log")));
    EXPECT_EQ(selectedDevice.load(), 2);
    EXPECT_TRUE(s.player().DeviceReady());
    EXPECT_FALSE(s.player().Loaded());
    EXPECT_STREQ(s.window->TitleText(), "");
    s.window->resize(s.window->width() + 40, s.window->height() + 20);
    Pump();
    EXPECT_EQ(CountOther(*s.window, TitleBand(*s.window), {kBackground}), 0);
}

}  // namespace
