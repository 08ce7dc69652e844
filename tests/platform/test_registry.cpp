// The registry over its hive files: values round-trip through the file, names compare
// without case, garbage lines are skipped, a failed write keeps the old file, and writers
// on several threads lose nothing.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "test_support.h"

using testing_support::IsolatedScope;
using testing_support::ReadFile;

namespace {

// The value as text, "<none>" when absent, "<dword n>" for a dword.
std::string Query(HKEY key, const char* name) {
    char data[512] = {};
    uint32_t bytes = sizeof(data), type = REG_NONE;
    if (RegQueryValueEx(key, name, &type, reinterpret_cast<uint8_t*>(data), &bytes) != ERROR_SUCCESS) return "<none>";
    uint32_t number = 0;
    std::memcpy(&number, data, 4);
    if (type == REG_DWORD) return "<dword " + std::to_string(number) + ">";
    return type == REG_SZ ? std::string(data, bytes - 1) : "<type>";
}

LSTATUS SetString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const uint8_t*>(text.c_str()), uint32_t(text.size() + 1));
}

LSTATUS SetDword(HKEY key, const char* name, uint32_t value) {
    return RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const uint8_t*>(&value), 4);
}

}  // namespace

TEST(Registry, ValuesRoundTripThroughTheHiveFile) {
    IsolatedScope scope;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software\\Maker\\App\\Options", &key), ERROR_SUCCESS);
    const std::string tricky = "C:\\path with \"quotes\"\\and\\\\double";
    const uint8_t blob[] = {0x00, 0xff, 0x10, 0x7f};
    EXPECT_EQ(SetString(key, "Path", tricky), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, nullptr, "the default"), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, "Devnum", 0xfffffffe), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueEx(key, "Blob", REG_BINARY, blob, sizeof(blob)), ERROR_SUCCESS);
    // Values a hive line cannot hold are refused.
    EXPECT_EQ(SetString(key, "Lines", "two\nlines"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key, "Short", REG_DWORD, blob, 2), ERROR_INVALID_PARAMETER);
    HKEY bad = nullptr;  // nor key names
    EXPECT_EQ(RegCreateKey(key, "a]b", &bad), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKey(key, "a\\\\b", &bad), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);

    // Read back from the file (opening the root reads it afresh).
    ASSERT_EQ(RegOpenKey(HKEY_CURRENT_USER, "Software\\Maker\\App\\Options", &key), ERROR_SUCCESS);
    EXPECT_EQ(Query(key, "Path"), tricky);
    EXPECT_EQ(Query(key, ""), "the default");
    EXPECT_EQ(Query(key, "Devnum"), "<dword 4294967294>");
    EXPECT_EQ(Query(key, "Lines"), "<none>");
    uint8_t read[8] = {};
    uint32_t bytes = sizeof(read), type = 0;
    EXPECT_EQ(RegQueryValueEx(key, "Blob", &type, read, &bytes), ERROR_SUCCESS);
    EXPECT_TRUE(type == REG_BINARY && bytes == 4 && std::memcmp(read, blob, 4) == 0);
    bytes = 4;  // too small a buffer: the size needed
    EXPECT_EQ(RegQueryValueEx(key, "Path", &type, read, &bytes), ERROR_MORE_DATA);
    EXPECT_EQ(bytes, tricky.size() + 1);
    RegCloseKey(key);
}

TEST(Registry, NamesCompareWithoutCaseAndGarbageLinesAreSkipped) {
    IsolatedScope scope;
    scope.WriteMachineHive(
        "REGEDIT4\r\nthis is not a hive line\r\n\"orphan\"=\"before any section\"\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\ASIO\\Fancy Card]\r\n\"CLSID\"=\"{abc}\"\r\n\"broken\"=\"no closing quote\r\n"
        "\"baddword\"=dword:xyz\r\n\"badhex\"=hex:0g,11\r\n\"hexlong\"=hex:01,02,\\\r\n  03,04\r\n; a comment\r\n"
        "\"count\" = dword:0000000A\r\n[hkey_local_machine\\SOFTWARE\\asio\\fancy card]\r\n\"Extra\"=dword:00000010\r\n"
        "[HKEY_LOCAL_MACHINE\\software\\\\asio\\Bad]\r\n[HKEY_LOCAL_MACHINE\\software\\asio\\Unclosed\r\n"
        "[HKEY_LOCAL_MACHINE\\software\\asio\\gamma]\r\n[HKEY_LOCAL_MACHINE\\software\\asio\\Delta\\deep]\r\n"
        "[HKEY_CLASSES_ROOT\\clsid\\{x}\\InprocServer32]\r\n@=\"/lib/x.so\"\r\n\x01\xfe garbage");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "software\\Asio\\FANCY CARD", &key), ERROR_SUCCESS);
    EXPECT_EQ(Query(key, "clsid"), "{abc}");
    EXPECT_EQ(Query(key, "extra"), "<dword 16>");
    EXPECT_EQ(Query(key, "count"), "<dword 10>");
    for (const char* absent : {"orphan", "broken", "baddword", "badhex"}) EXPECT_EQ(Query(key, absent), "<none>") << absent;
    uint8_t hex[8];
    uint32_t bytes = sizeof(hex);
    EXPECT_EQ(RegQueryValueEx(key, "hexlong", nullptr, hex, &bytes), ERROR_SUCCESS);
    EXPECT_TRUE(bytes == 4 && hex[3] == 4);
    EXPECT_EQ(SetString(key, "clsid", "{def}"), ERROR_SUCCESS);  // replaces, under another case
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "software\\asio\\beta", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "software\\asio", &key), ERROR_SUCCESS);
    std::vector<std::string> subkeys;
    char name[128];
    for (uint32_t i = 0; RegEnumKey(key, i, name, sizeof(name)) == ERROR_SUCCESS; ++i) subkeys.push_back(name);
    RegCloseKey(key);
    EXPECT_EQ(subkeys, (std::vector<std::string>{"beta", "Delta", "Fancy Card", "gamma"}));
    EXPECT_EQ(ReadFile(scope.registryDir() / "machine.reg").find("{abc}"), std::string::npos);
    char path[64];  // the writes kept the other root of the same hive
    long pathBytes = sizeof(path);
    EXPECT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, "CLSID\\{X}\\inprocserver32", path, &pathBytes), ERROR_SUCCESS);
    EXPECT_STREQ(path, "/lib/x.so");
}

TEST(Registry, AWriteKeepsTheOldFileWhenItCannotCompleteAndWhatOthersWroteMeanwhile) {
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
    const LSTATUS status = SetString(key, "Big", std::string(1000, 'x'));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(status, ERROR_WRITE_FAULT);
    EXPECT_EQ(ReadFile(scope.registryDir() / "user.reg"), before);
    EXPECT_EQ(Query(key, "Big"), "<none>");  // nor is it kept in memory
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scope.registryDir()), {}), 1) << "no temp file left";
    // Another writer (a driver's own copy of this code) changes the file: its value stays.
    scope.WriteUserHive("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Options]\n\"Other\"=\"kept\"\n");
    EXPECT_EQ(SetDword(key, "Mine", 1), ERROR_SUCCESS);
    EXPECT_EQ(Query(key, "Other"), "kept");
    RegCloseKey(key);
}

TEST(Registry, WritersOnSeveralThreadsLoseNothing) {
    IsolatedScope scope;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            HKEY key = nullptr;
            if (RegCreateKey(HKEY_LOCAL_MACHINE, ("Software\\Thread" + std::to_string(t)).c_str(), &key)) return;
            for (int i = 0; i < 20; ++i) SetDword(key, ("v" + std::to_string(i)).c_str(), static_cast<uint32_t>(i));
            RegCloseKey(key);
        });
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, ("software\\thread" + std::to_string(t)).c_str(), &key), 0);
        for (int i = 0; i < 20; ++i) EXPECT_EQ(Query(key, ("V" + std::to_string(i)).c_str()), "<dword " + std::to_string(i) + ">");
        RegCloseKey(key);
    }
}
