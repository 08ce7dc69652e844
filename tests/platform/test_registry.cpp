#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "test_support.h"

using testing_support::IsolatedScope;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

std::string QueryString(HKEY key, const char* name) {
    char text[512] = {};
    uint32_t bytes = sizeof(text);
    uint32_t type = REG_NONE;
    if (RegQueryValueEx(key, name, &type, reinterpret_cast<uint8_t*>(text), &bytes) != ERROR_SUCCESS) return "<none>";
    if (type != REG_SZ) return "<type>";
    return std::string(text, bytes - 1);
}

uint32_t QueryDword(HKEY key, const char* name) {
    uint32_t value = 0xdeadbeef, bytes = 4, type = REG_NONE;
    EXPECT_EQ(RegQueryValueEx(key, name, &type, reinterpret_cast<uint8_t*>(&value), &bytes), ERROR_SUCCESS) << name;
    EXPECT_EQ(type, REG_DWORD);
    return value;
}

LSTATUS SetString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const uint8_t*>(text.c_str()),
                         static_cast<uint32_t>(text.size() + 1));
}

LSTATUS SetDword(HKEY key, const char* name, uint32_t value) {
    return RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const uint8_t*>(&value), 4);
}

std::vector<std::string> Subkeys(HKEY parent, const char* path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKey(parent, path, &key) != ERROR_SUCCESS) return {"<missing>"};
    char name[128];
    for (uint32_t i = 0; RegEnumKey(key, i, name, sizeof(name)) == ERROR_SUCCESS; ++i) names.push_back(name);
    RegCloseKey(key);
    return names;
}

}  // namespace

TEST(Registry, StringsDwordsAndBinaryRoundTripThroughTheHiveFile) {
    IsolatedScope scope;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software\\Maker\\App\\Options", &key), ERROR_SUCCESS);
    const std::string tricky = "C:\\path with \"quotes\"\\and\\\\double";
    EXPECT_EQ(SetString(key, "Path", tricky), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, nullptr, "the default"), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "Devnum", 0xfffffffe), ERROR_SUCCESS);
    const uint8_t blob[] = {0x00, 0xff, 0x10, 0x7f};
    EXPECT_EQ(RegSetValueEx(key, "Blob", REG_BINARY, blob, sizeof(blob)), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, "Empty", ""), ERROR_SUCCESS);
    RegCloseKey(key);

    std::string text = ReadFile(scope.registryDir() / "user.reg");
    EXPECT_EQ(text.rfind("REGEDIT4\n", 0), 0u) << text;
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Maker\\App\\Options]"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Devnum\"=dword:fffffffe"), std::string::npos) << text;
    EXPECT_NE(text.find("@=\"the default\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Path\"=\"C:\\\\path with \\\"quotes\\\"\\\\and\\\\\\\\double\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Blob\"=hex:00,ff,10,7f"), std::string::npos) << text;
    EXPECT_FALSE(std::filesystem::exists(scope.registryDir() / "machine.reg"));

    // Opening the root reads the file afresh.
    ASSERT_EQ(RegOpenKey(HKEY_CURRENT_USER, "Software\\Maker\\App\\Options", &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "Path"), tricky);
    EXPECT_EQ(QueryString(key, ""), "the default");
    EXPECT_EQ(QueryString(key, "Empty"), "");
    EXPECT_EQ(QueryDword(key, "Devnum"), 0xfffffffeu);
    uint8_t read[8] = {};
    uint32_t bytes = sizeof(read), type = 0;
    EXPECT_EQ(RegQueryValueEx(key, "Blob", &type, read, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    ASSERT_EQ(bytes, 4u);
    EXPECT_EQ(std::memcmp(read, blob, 4), 0);

    std::vector<std::string> valueNames;
    char valueName[16];
    for (uint32_t i = 0; RegEnumValue(key, i, valueName, sizeof(valueName)) == ERROR_SUCCESS; ++i)
        valueNames.push_back(valueName);
    EXPECT_EQ(valueNames, (std::vector<std::string>{"", "Blob", "Devnum", "Empty", "Path"}));
    EXPECT_EQ(RegEnumValue(key, 2, valueName, 6), ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumValue(key, 5, valueName, sizeof(valueName)), ERROR_NO_MORE_ITEMS);

    // Sizes: asked without a buffer, and too small a buffer.
    bytes = 0;
    EXPECT_EQ(RegQueryValueEx(key, "Path", &type, nullptr, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, tricky.size() + 1);
    char small[4];
    bytes = sizeof(small);
    EXPECT_EQ(RegQueryValueEx(key, "Path", &type, reinterpret_cast<uint8_t*>(small), &bytes), ERROR_MORE_DATA);
    EXPECT_EQ(bytes, tricky.size() + 1);
    EXPECT_EQ(RegQueryValueEx(key, "Missing", &type, read, &bytes), ERROR_FILE_NOT_FOUND);

    // Values that a hive line cannot hold are refused.
    EXPECT_EQ(SetString(key, "Lines", "two\nlines"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key, "Short", REG_DWORD, read, 2), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key, "Odd", 7, read, 2), ERROR_INVALID_PARAMETER);
    HKEY bad = nullptr;
    EXPECT_EQ(RegCreateKey(key, "a\\\\b", &bad), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKey(key, "a]b", &bad), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKey(nullptr, "x", &bad), ERROR_INVALID_HANDLE);
    RegCloseKey(key);

    char value[64];
    long valueBytes = sizeof(value);
    EXPECT_EQ(RegQueryValue(HKEY_CURRENT_USER, "software\\maker\\app\\options", value, &valueBytes), ERROR_SUCCESS);
    EXPECT_STREQ(value, "the default");
    EXPECT_EQ(valueBytes, 12);
    valueBytes = sizeof(value);
    EXPECT_EQ(RegQueryValue(HKEY_CURRENT_USER, "software\\maker", value, &valueBytes), ERROR_SUCCESS);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(RegQueryValue(HKEY_CURRENT_USER, "software\\nobody", value, &valueBytes), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, KeyAndValueNamesCompareWithoutCase) {
    IsolatedScope scope;
    scope.WriteMachineHive(
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\ASIO\\Fancy Card]\n\"CLSID\"=\"{abc}\"\n"
        "\"Description\"=\"Fancy\"\n\n[hkey_local_machine\\SOFTWARE\\asio\\fancy card]\n\"Extra\"=dword:00000010\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "software\\Asio\\FANCY CARD", &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "clsid"), "{abc}");
    EXPECT_EQ(QueryString(key, "DESCRIPTION"), "Fancy");
    EXPECT_EQ(QueryDword(key, "extra"), 16u);
    // Setting under another case replaces the value rather than adding one.
    EXPECT_EQ(SetString(key, "clsid", "{def}"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO"), std::vector<std::string>{"Fancy Card"});
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "software\\asio\\fancy card", &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "Clsid"), "{def}");
    RegCloseKey(key);
    std::string text = ReadFile(scope.registryDir() / "machine.reg");
    EXPECT_EQ(text.find("{abc}"), std::string::npos) << text;
}

TEST(Registry, SubkeysEnumerateAlphabeticallyWithImpliedParents) {
    IsolatedScope scope;
    scope.WriteMachineHive(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\software\\asio\\gamma]\n[HKEY_LOCAL_MACHINE\\software\\asio\\beta]\n"
        "[HKEY_LOCAL_MACHINE\\software\\asio\\Delta\\deep\\er]\n\"v\"=\"1\"\n"
        "[HKEY_CLASSES_ROOT\\clsid\\{x}\\InprocServer32]\n@=\"/lib/x.so\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "software\\asio\\Alpha", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, "software\\asio"),
              (std::vector<std::string>{"Alpha", "beta", "Delta", "gamma"}));
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, "software\\asio\\delta"), std::vector<std::string>{"deep"});
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, "software\\asio\\gamma"), std::vector<std::string>{});
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, ""), std::vector<std::string>{"software"});
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, "software\\nothing"), std::vector<std::string>{"<missing>"});

    // The write kept the other root of the same hive and the empty keys.
    char path[64];
    long bytes = sizeof(path);
    EXPECT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, "CLSID\\{X}\\inprocserver32", path, &bytes), ERROR_SUCCESS);
    EXPECT_STREQ(path, "/lib/x.so");
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, "software\\asio\\beta"), std::vector<std::string>{});

    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "software\\asio", &key), ERROR_SUCCESS);
    char name[6];
    EXPECT_EQ(RegEnumKey(key, 0, name, 5), ERROR_MORE_DATA);  // "Alpha" needs 6 bytes
    EXPECT_EQ(RegEnumKey(key, 0, name, 6), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Alpha");
    EXPECT_EQ(RegEnumKey(key, 4, name, 6), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST(Registry, GarbageLinesAreSkippedAndTheRestLoads) {
    IsolatedScope scope;
    scope.WriteMachineHive(
        "REGEDIT4\r\n"
        "this is not a hive line\r\n"
        "\"orphan\"=\"before any section\"\r\n"
        "[HKEY_LOCAL_MACHINE\\software\\asio\\Good]\r\n"
        "\"clsid\"=\"{good}\"\r\n"
        "\"broken\"=\"no closing quote\r\n"
        "\"baddword\"=dword:xyz\r\n"
        "\"toolong\"=dword:123456789\r\n"
        "\"badhex\"=hex:0g,11\r\n"
        "\"\"=\"an empty name\"\r\n"
        "noquote=\"x\"\r\n"
        "\"hexlong\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "; a comment\r\n"
        "\"count\" = dword:0000000A\r\n"
        "[HKEY_LOCAL_MACHINE\\software\\\\asio\\Bad]\r\n"
        "\"clsid\"=\"{in a bad section}\"\r\n"
        "[HKEY_USERS\\other]\r\n"
        "\"clsid\"=\"{other hive}\"\r\n"
        "[HKEY_LOCAL_MACHINE\\software\\asio\\Unclosed\r\n"
        "[HKEY_LOCAL_MACHINE\\software\\asio\\Last]\r\n"
        "@=\"last default\"\r\n"
        "\x01\xff\xfe garbage bytes");
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, "software\\asio"), (std::vector<std::string>{"Good", "Last"}));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "software\\asio\\Good", &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "clsid"), "{good}");
    EXPECT_EQ(QueryDword(key, "count"), 10u);
    for (const char* absent : {"orphan", "broken", "baddword", "toolong", "badhex", "noquote"})
        EXPECT_EQ(QueryString(key, absent), "<none>") << absent;
    EXPECT_EQ(QueryString(key, ""), "<none>");
    uint8_t hex[8];
    uint32_t bytes = sizeof(hex);
    EXPECT_EQ(RegQueryValueEx(key, "hexlong", nullptr, hex, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, 4u);
    EXPECT_EQ(hex[3], 4);
    RegCloseKey(key);
    char text[64];
    long textBytes = sizeof(text);
    EXPECT_EQ(RegQueryValue(HKEY_LOCAL_MACHINE, "software\\asio\\last", text, &textBytes), ERROR_SUCCESS);
    EXPECT_STREQ(text, "last default");

    // A hive that is not text at all loads as empty; one that is missing too.
    scope.WriteMachineHive(std::string("\0\x7f\x45LF\n[[[\n]]]\n\\\\\n", 15));
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, ""), std::vector<std::string>{});
    std::filesystem::remove(scope.registryDir() / "machine.reg");
    EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "software", &key), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, AWriteThatCannotCompleteLeavesTheOldFileIntact) {
    IsolatedScope scope;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software\\Options", &key), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, "Devnum", 3), ERROR_SUCCESS);
    const std::string before = ReadFile(scope.registryDir() / "user.reg");

    // Files of this process may not grow past 256 bytes: the rewrite fails half-way.
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    LSTATUS status = SetString(key, "Big", std::string(1000, 'x'));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(status, ERROR_WRITE_FAULT);
    EXPECT_EQ(ReadFile(scope.registryDir() / "user.reg"), before);
    EXPECT_EQ(QueryString(key, "Big"), "<none>");  // nor is it kept in memory
    EXPECT_EQ(QueryDword(key, "Devnum"), 3u);
    int leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scope.registryDir()))
        leftovers += entry.path().filename() != "user.reg";
    EXPECT_EQ(leftovers, 0);
    RegCloseKey(key);

    // A registry folder that cannot be made: creating fails, nothing is invented.
    TempDir dir;
    testing_support::WriteFile(dir / "file", "x");
    setenv("BELLWAVE_REGISTRY_DIR", (dir / "file" / "sub").c_str(), 1);
    EXPECT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software\\Options", &key), ERROR_WRITE_FAULT);
    EXPECT_EQ(RegOpenKey(HKEY_CURRENT_USER, "Software\\Options", &key), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, AWriteKeepsWhatAnotherWriterPutInTheFileMeanwhile) {
    IsolatedScope scope;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "software\\asio\\Dev", &key), ERROR_SUCCESS);
    // Another writer (a driver's own copy of the registry code) changes the file.
    scope.WriteMachineHive("REGEDIT4\n[HKEY_LOCAL_MACHINE\\software\\asio\\Dev]\n\"Other\"=\"kept\"\n");
    EXPECT_EQ(SetDword(key, "Mine", 1), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "Other"), "kept");
    RegCloseKey(key);
    std::string text = ReadFile(scope.registryDir() / "machine.reg");
    EXPECT_NE(text.find("\"Other\"=\"kept\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Mine\"=dword:00000001"), std::string::npos) << text;
}

TEST(Registry, UserHiveFollowsTheConfigFolderWithoutARegistryFolder) {
    IsolatedScope scope;
    TempDir config;
    unsetenv("BELLWAVE_REGISTRY_DIR");
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    std::string saved = oldConfig ? oldConfig : "";
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software\\Test", &key), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "n", 1), ERROR_SUCCESS);
    RegCloseKey(key);
    if (oldConfig)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    EXPECT_NE(ReadFile(config / "bellwave" / "user.reg").find("\"n\"=dword:00000001"), std::string::npos);
}

TEST(Registry, WritersOnSeveralThreadsLoseNothing) {
    IsolatedScope scope;
    constexpr int kThreads = 4, kValues = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            HKEY key = nullptr;
            std::string path = "Software\\Thread" + std::to_string(t);
            if (RegCreateKey(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) return;
            for (int i = 0; i < kValues; ++i) SetDword(key, ("v" + std::to_string(i)).c_str(), static_cast<uint32_t>(i));
            RegCloseKey(key);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE, "software").size(), static_cast<size_t>(kThreads));
    for (int t = 0; t < kThreads; ++t) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, ("software\\thread" + std::to_string(t)).c_str(), &key), ERROR_SUCCESS);
        for (int i = 0; i < kValues; ++i) EXPECT_EQ(QueryDword(key, ("V" + std::to_string(i)).c_str()), static_cast<uint32_t>(i));
        RegCloseKey(key);
    }
}
