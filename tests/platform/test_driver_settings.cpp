// A driver's own settings: the key whose clsid names the driver's class, and values read
// only when they fit and have their type.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/driver_settings.h"
#include "test_support.h"

constexpr CLSID kOurs = {0x6a1f0c3e, 0x2b7d, 0x4e59, {0x9c, 0x41, 0x0d, 0x8e, 0x7f, 0x5a, 0x00, 0x01}};
constexpr CLSID kNobody = {0x6a1f0c3e, 0x2b7d, 0x4e59, {0x9c, 0x41, 0x0d, 0x8e, 0x7f, 0x5a, 0x00, 0x03}};

TEST(DriverSettings, TheKeyNamingTheClassAndItsValues) {
    testing_support::IsolatedScope scope;
    EXPECT_EQ(OpenDriverKey(kOurs), nullptr) << "no software\\asio key at all";
    scope.WriteMachineHive(  // ours is written in capitals
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\asio\\Another]\n\"clsid\"=\"{6a1f0c3e-2b7d-4e59-9c41-0d8e7f5a0002}\"\n\n"
        "[HKEY_LOCAL_MACHINE\\software\\asio\\Ours]\n\"clsid\"=\"{6A1F0C3E-2B7D-4E59-9C41-0D8E7F5A0001}\"\n"
        "\"Long\"=\"0123456789\"\n\"Size\"=dword:00000200\n\"Bytes\"=hex:01,02,03\n");
    EXPECT_EQ(OpenDriverKey(kNobody), nullptr);
    char keyName[16] = "?";
    HKEY key = OpenDriverKey(kOurs, keyName, sizeof keyName);
    ASSERT_NE(key, nullptr);
    EXPECT_STREQ(keyName, "Ours");
    char text[11] = "x";
    EXPECT_EQ(ReadSettingString(key, "Long", text, sizeof text), SettingRead::Ok);
    EXPECT_STREQ(text, "0123456789");
    EXPECT_EQ(ReadSettingString(key, "Long", text, 10), SettingRead::TooLong);
    EXPECT_STREQ(text, "");
    std::strcpy(text, "x");
    EXPECT_EQ(ReadSettingString(key, "Size", text, sizeof text), SettingRead::Unusable);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(ReadSettingString(key, "Missing", text, sizeof text), SettingRead::Absent);
    uint32_t value = 7;
    EXPECT_EQ(ReadSettingDword(key, "Bytes", &value), SettingRead::Unusable);
    EXPECT_EQ(ReadSettingDword(key, "Missing", &value), SettingRead::Absent);
    EXPECT_EQ(value, 7u) << "left alone unless read";
    EXPECT_EQ(ReadSettingDword(key, "Size", &value), SettingRead::Ok);
    EXPECT_EQ(value, 512u);
    RegCloseKey(key);
}
