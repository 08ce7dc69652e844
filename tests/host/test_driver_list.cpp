// The driver list: which registered drivers it offers, their names and paths cut to the
// caller's buffers, and opening.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/driver_list.h"
#include "platform/com.h"
#include "tests/platform/plugins/test_plugins.h"
#include "test_support.h"

using testing_support::IsolatedScope;

namespace {

std::string ClassText(int n, bool upper = false) {
    char text[40];
    std::snprintf(text, sizeof(text), upper ? "{%08X-ABCD-4EF0-8123-456789ABCDEF}" : "{%08x-abcd-4ef0-8123-456789abcdef}", n);
    return text;
}

// machine.reg: drivers under HKLM\software\asio and their classes (keys in lower case) under HKCR.
struct Hive {
    std::string text = "REGEDIT4\n";
    Hive& Driver(const std::string& key, const std::string& clsid, const std::string& description) {
        text += "\n[HKEY_LOCAL_MACHINE\\software\\asio\\" + key + "]\n";
        if (!clsid.empty()) text += "\"clsid\"=\"" + clsid + "\"\n";
        if (!description.empty()) text += "\"description\"=\"" + description + "\"\n";
        return *this;
    }
    Hive& Class(const std::string& clsid, const std::string& library) {
        std::string lower = clsid;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        text += "\n[HKEY_CLASSES_ROOT\\clsid\\" + lower + "\\InprocServer32]\n@=\"" + library + "\"\n";
        return *this;
    }
};

}  // namespace

TEST(DriverList, UnusableDriversAreAbsentAndTheNextTakesTheirId) {
    IsolatedScope scope;
    const std::filesystem::path deep = scope.workDir() / std::string(120, 'p');  // a path too long to hand out
    std::filesystem::create_directories(deep);
    std::filesystem::copy_file(PluginPath("fake_driver"), deep / "driver.so");
    Hive hive;
    hive.Driver("a missing library", ClassText(1), "Missing").Class(ClassText(1), (scope.workDir() / "gone.so").string());
    hive.Driver("b good", ClassText(2, true), "Good One").Class(ClassText(2), PluginPath("fake_driver"));  // upper-case text
    hive.Driver("c no clsid", "", "No Clsid").Driver("d unregistered class", ClassText(4), "Unregistered");
    hive.Driver("f no entry point", ClassText(6), "No Entry").Class(ClassText(6), PluginPath("fake_no_entry"));
    hive.Driver(std::string(130, 'h'), ClassText(2), "Key Name Too Long");
    hive.Driver("i failing factory", ClassText(9), "Failing").Class(ClassText(9), PluginPath("fake_failing_driver"));
    hive.Driver("j second good", ClassText(10), "").Class(ClassText(10), PluginPath("fake_driver"));  // named by its key
    hive.Driver("k long path", ClassText(11), "Long Path").Class(ClassText(11), (deep / "driver.so").string());
    scope.WriteMachineHive(hive.text);

    {
        AsioDriverList list;
        std::vector<std::string> names;
        for (int id = 0; id < list.Count(); ++id) {
            char name[kDriverNameBytes] = {};
            EXPECT_EQ(list.asioGetDriverName(id, name, sizeof(name)), DRVERR_OK);
            names.push_back(name);
        }
        EXPECT_EQ(names, (std::vector<std::string>{"Good One", "Failing", "j second good", "Long Path"}));
        char path[128];
        EXPECT_EQ(list.asioGetDriverPath(0, path), DRVERR_OK);
        EXPECT_EQ(path, PluginPath("fake_driver").size() < 128 ? PluginPath("fake_driver") : "");
        EXPECT_EQ(list.asioGetDriverPath(3, path), DRVERR_INVALID_PARAM);
        EXPECT_STREQ(path, "");
        // A failing factory cannot be seen before it is asked: opening it gives its code.
        EXPECT_EQ(list.asioOpenDriver(1), E_OUTOFMEMORY);
        EXPECT_EQ(HostDriverReference(), nullptr);
        EXPECT_EQ(list.asioOpenDriver(2), DRVERR_OK);
        IASIO* driver = HostDriverReference();
        EXPECT_EQ(list.asioOpenDriver(2), DRVERR_DEVICE_ALREADY_OPEN);
        EXPECT_EQ(HostDriverReference(), driver);
        EXPECT_EQ(LiveFakeObjects(), 1);
    }
    EXPECT_EQ(LiveFakeObjects(), 0);  // the list released its driver
    EXPECT_EQ(HostDriverReference(), nullptr);
}

TEST(DriverList, NamesAreCutToTheirBuffers) {
    IsolatedScope scope;
    Hive hive;
    hive.Driver("a", ClassText(1), std::string(200, 'n')).Driver("b", ClassText(1), std::string(300, 'm'));
    scope.WriteMachineHive(hive.Driver("c", ClassText(1), "Short").Class(ClassText(1), PluginPath("fake_driver")).text);
    AsioDriverList list;
    ASSERT_EQ(list.Count(), 3);
    const struct {
        int id, size;
        std::string name;
    } cases[] = {{0, 128, std::string(127, 'n')}, {1, 16, "mmmmmmmmmmmm..."}, {2, 6, "Short"}, {2, 5, "S..."}, {2, 3, "Sh"}};
    for (const auto& c : cases) {
        char name[256];
        std::memset(name, 'x', sizeof(name));
        EXPECT_EQ(list.asioGetDriverName(c.id, name, c.size), DRVERR_OK);
        EXPECT_EQ(std::string(name), c.name) << c.id << " in " << c.size;
    }
    char name[16];
    EXPECT_EQ(list.asioGetDriverName(2, name, 0), DRVERR_INVALID_PARAM);
    EXPECT_EQ(list.asioGetDriverName(3, name, 16), DRVERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(list.asioGetDriverPath(0, nullptr), DRVERR_INVALID_PARAM);
    EXPECT_EQ(list.asioGetDriverPath(3, name), DRVERR_DEVICE_NOT_FOUND);
}
