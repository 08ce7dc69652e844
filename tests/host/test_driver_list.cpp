#include <dlfcn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/driver_list.h"
#include "platform/com.h"
#include "test_support.h"

using testing_support::IsolatedScope;

namespace {

std::string Plugin(const char* name) {
    return std::string(BELLWAVE_TEST_PLUGIN_DIR) + "/" + name + ".so";
}

std::string ClassText(int n, bool upper = false) {
    char text[40];
    std::snprintf(text, sizeof(text), upper ? "{%08X-ABCD-4EF0-8123-456789ABCDEF}" : "{%08x-abcd-4ef0-8123-456789abcdef}",
                  n);
    return text;
}

// Builds machine.reg: drivers under HKLM\software\asio and their classes under HKCR.
struct Hive {
    std::string text = "REGEDIT4\n";
    void Driver(const std::string& key, const std::string& clsid, const std::string& description) {
        text += "\n[HKEY_LOCAL_MACHINE\\software\\asio\\" + key + "]\n";
        if (!clsid.empty()) text += "\"clsid\"=\"" + clsid + "\"\n";
        if (!description.empty()) text += "\"description\"=\"" + description + "\"\n";
    }
    void Class(const std::string& clsid, const std::string& library) {
        std::string lower = clsid;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        text += "\n[HKEY_CLASSES_ROOT\\clsid\\" + lower + "\\InprocServer32]\n@=\"" + library + "\"\n";
    }
};

std::vector<std::string> Names(AsioDriverList& list) {
    std::vector<std::string> names;
    for (int id = 0; id < list.Count(); ++id) {
        char name[kDriverNameBytes] = {};
        EXPECT_EQ(list.asioGetDriverName(id, name, sizeof(name)), DRVERR_OK);
        names.push_back(name);
    }
    return names;
}

int LiveFakeObjects() {
    void* library = dlopen(Plugin("fake_driver").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!library) return -1;
    auto count = reinterpret_cast<int (*)()>(dlsym(library, "FakeLiveObjects"));
    int live = count ? count() : -1;
    dlclose(library);
    return live;
}

}  // namespace

TEST(DriverList, UnusableDriversAreAbsentAndTheNextTakesTheirId) {
    IsolatedScope scope;
    testing_support::WriteFile(scope.workDir() / "text.so", "not a library\n");
    Hive hive;
    hive.Driver("a missing library", ClassText(1), "Missing");
    hive.Class(ClassText(1), (scope.workDir() / "gone.so").string());
    hive.Driver("b good", ClassText(2, true), "Good One");  // upper-case text, lower-case class key
    hive.Class(ClassText(2), Plugin("fake_driver"));
    hive.Driver("c no clsid", "", "No Clsid");
    hive.Driver("d unregistered class", ClassText(4), "Unregistered");
    hive.Driver("e not a library", ClassText(5), "Text File");
    hive.Class(ClassText(5), (scope.workDir() / "text.so").string());
    hive.Driver("f no entry point", ClassText(6), "No Entry");
    hive.Class(ClassText(6), Plugin("fake_no_entry"));
    hive.Driver("g no library key", ClassText(7), "No Key");
    hive.text += "\n[HKEY_CLASSES_ROOT\\clsid\\" + ClassText(7) + "]\n";
    hive.Driver(std::string(130, 'h'), ClassText(2), "Key Name Too Long");
    hive.Driver("i failing factory", ClassText(9), "Failing");
    hive.Class(ClassText(9), Plugin("fake_failing_driver"));
    hive.Driver("j second good", ClassText(10), "");  // no description: the key's name
    hive.Class(ClassText(10), Plugin("fake_driver"));
    scope.WriteMachineHive(hive.text);

    AsioDriverList list;
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Good One", "Failing", "j second good"}));
    char path[128];
    EXPECT_EQ(list.asioGetDriverPath(0, path), DRVERR_OK);
    if (Plugin("fake_driver").size() < 128) {
        EXPECT_EQ(path, Plugin("fake_driver"));
    } else {
        EXPECT_STREQ(path, "");
    }
    // A failing factory cannot be seen before it is asked: opening it gives its code.
    EXPECT_EQ(list.asioOpenDriver(1), E_OUTOFMEMORY);
    EXPECT_EQ(HostDriverReference(), nullptr);
    EXPECT_EQ(list.asioOpenDriver(2), DRVERR_OK);
    EXPECT_NE(HostDriverReference(), nullptr);
}

TEST(DriverList, NamesAreCutToTheirBuffers) {
    IsolatedScope scope;
    Hive hive;
    const std::string long200(200, 'n'), long300(300, 'm');
    hive.Driver("a", ClassText(1), long200);
    hive.Driver("b", ClassText(1), long300);
    hive.Driver("c", ClassText(1), "Short");
    hive.Class(ClassText(1), Plugin("fake_driver"));
    scope.WriteMachineHive(hive.text);

    AsioDriverList list;
    ASSERT_EQ(list.Count(), 3);
    char name[256];
    EXPECT_EQ(list.asioGetDriverName(0, name, 128), DRVERR_OK);
    EXPECT_EQ(std::string(name), std::string(127, 'n'));  // whole: names keep 127 characters
    EXPECT_EQ(list.asioGetDriverName(1, name, 16), DRVERR_OK);
    EXPECT_STREQ(name, "mmmmmmmmmmmm...");
    EXPECT_EQ(list.asioGetDriverName(1, name, 255), DRVERR_OK);
    EXPECT_EQ(std::string(name), std::string(127, 'm'));
    EXPECT_EQ(list.asioGetDriverName(2, name, 6), DRVERR_OK);
    EXPECT_STREQ(name, "Short");
    EXPECT_EQ(list.asioGetDriverName(2, name, 5), DRVERR_OK);
    EXPECT_STREQ(name, "S...");
    std::memset(name, 'x', sizeof(name));
    EXPECT_EQ(list.asioGetDriverName(2, name, 3), DRVERR_OK);
    EXPECT_STREQ(name, "Sh");
    EXPECT_EQ(list.asioGetDriverName(2, name, 0), DRVERR_INVALID_PARAM);
    EXPECT_EQ(list.asioGetDriverName(2, nullptr, 16), DRVERR_INVALID_PARAM);
    EXPECT_EQ(list.asioGetDriverName(3, name, 16), DRVERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(list.asioGetDriverName(-1, name, 16), DRVERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(list.asioGetDriverPath(0, nullptr), DRVERR_INVALID_PARAM);
    EXPECT_EQ(list.asioGetDriverPath(3, name), DRVERR_DEVICE_NOT_FOUND);
}

TEST(DriverList, LongLibraryPathsAreNotHandedOut) {
    IsolatedScope scope;
    std::filesystem::path folder = scope.workDir() / std::string(120, 'p');
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(Plugin("fake_driver"), folder / "driver.so");
    Hive hive;
    hive.Driver("long", ClassText(1), "Long");
    hive.Class(ClassText(1), (folder / "driver.so").string());
    scope.WriteMachineHive(hive.text);
    AsioDriverList list;
    ASSERT_EQ(list.Count(), 1);
    char path[128];
    std::strcpy(path, "old");
    EXPECT_EQ(list.asioGetDriverPath(0, path), DRVERR_INVALID_PARAM);
    EXPECT_STREQ(path, "");
}

TEST(DriverList, OpeningTwiceIsRefusedAndTheListReleasesItsDrivers) {
    IsolatedScope scope;
    Hive hive;
    hive.Driver("fake", ClassText(1), "Fake");
    hive.Class(ClassText(1), Plugin("fake_driver"));
    hive.Driver("unparsable", "not-a-class-id", "Unparsable");
    hive.Class("not-a-class-id", Plugin("fake_driver"));
    scope.WriteMachineHive(hive.text);
    {
        AsioDriverList list;
        ASSERT_EQ(list.Count(), 2);
        EXPECT_EQ(list.asioOpenDriver(2), DRVERR_DEVICE_NOT_FOUND);
        EXPECT_EQ(list.asioOpenDriver(-1), DRVERR_DEVICE_NOT_FOUND);
        ASSERT_EQ(list.asioOpenDriver(0), DRVERR_OK);
        IASIO* driver = HostDriverReference();
        ASSERT_NE(driver, nullptr);
        char name[32];
        driver->getDriverName(name);
        EXPECT_STREQ(name, "Fake");
        EXPECT_EQ(LiveFakeObjects(), 1);
        EXPECT_EQ(list.asioOpenDriver(0), DRVERR_DEVICE_ALREADY_OPEN);
        EXPECT_EQ(HostDriverReference(), driver);
        // The unparsable class id became zero, which no class answers.
        EXPECT_EQ(list.asioOpenDriver(1), REGDB_E_CLASSNOTREG);
    }
    EXPECT_EQ(LiveFakeObjects(), 0);
    EXPECT_EQ(HostDriverReference(), nullptr);
    // COM was uninitialised with the list.
    void* object = nullptr;
    CLSID clsid{};
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object), CO_E_NOTINITIALIZED);

    // Nothing installed: an empty list, and no COM.
    scope.WriteMachineHive("REGEDIT4\n");
    AsioDriverList empty;
    EXPECT_EQ(empty.Count(), 0);
    EXPECT_EQ(empty.asioOpenDriver(0), DRVERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object), CO_E_NOTINITIALIZED);
}

TEST(DriverList, DriverNamesArePackedUntilTheBufferIsFull) {
    IsolatedScope scope;
    // 16 names of 120 characters take 1936 bytes with their terminators; a 17th of
    // length L fits while 1936 + L stays below 2048.
    auto build = [&](size_t lastLength) {
        Hive hive;
        for (int i = 0; i < 16; ++i) {
            char key[8];
            std::snprintf(key, sizeof(key), "d%02d", i);
            hive.Driver(key, ClassText(1), std::string(120, static_cast<char>('A' + i)));
        }
        hive.Driver("d16", ClassText(1), std::string(lastLength, 'Z'));
        hive.Driver("d17", ClassText(1), "z");
        hive.Class(ClassText(1), Plugin("fake_driver"));
        scope.WriteMachineHive(hive.text);
    };
    std::vector<char> buffer(kDriverNamesBufferBytes + 16);
    auto fill = [&] {
        std::fill(buffer.begin(), buffer.end(), '\0');
        std::fill(buffer.begin() + kDriverNamesBufferBytes, buffer.end(), '#');
        return GetASIODriverNames(buffer.data());
    };

    build(111);
    EXPECT_EQ(fill(), 18);
    EXPECT_EQ(std::string(buffer.data()), std::string(120, 'A'));
    EXPECT_EQ(std::string(buffer.data() + 121), std::string(120, 'B'));
    EXPECT_EQ(std::string(buffer.data() + 1936), std::string(111, 'Z'));
    EXPECT_EQ(buffer[2047], '\0');
    EXPECT_EQ(std::string(buffer.begin() + kDriverNamesBufferBytes, buffer.end()), std::string(16, '#'));

    build(112);  // would reach the end: stops before it, and before the names after it
    EXPECT_EQ(fill(), 18);
    EXPECT_EQ(std::string(buffer.data() + 15 * 121), std::string(120, 'P'));
    EXPECT_EQ(buffer[1936], '\0');
    EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + kDriverNamesBufferBytes, 'z'), 0);

    EXPECT_EQ(GetASIODriverNames(nullptr), 0);
    scope.WriteMachineHive("REGEDIT4\n[HKEY_LOCAL_MACHINE\\software\\asio]\n");
    EXPECT_EQ(fill(), 0);
    EXPECT_EQ(buffer[0], '\0');
}
