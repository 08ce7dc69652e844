// A driver's settings: the values under the HKLM\software\asio subkey whose "clsid"
// value names the driver's class.
#pragma once

#include <cstdint>

#include "platform/com.h"
#include "platform/registry.h"

enum class SettingRead { Ok, Absent, TooLong, Unusable };

// Opens the first subkey of HKLM\software\asio whose "clsid" names clsid (any case);
// null when there is none. keyName, when given, receives the subkey's name. The caller
// closes the key.
HKEY OpenDriverKey(const CLSID& clsid, char* keyName = nullptr, uint32_t keyNameBytes = 0);

// A string value into text (textBytes with the terminator), always terminated. Anything
// but Ok leaves text empty: Absent, TooLong, or Unusable for a value that is no string.
SettingRead ReadSettingString(HKEY key, const char* name, char* text, uint32_t textBytes);

// A string value that is there, fits and is not empty replaces text; anything else
// leaves text as it was, so a default stands.
void ReadSettingStringOrKeep(HKEY key, const char* name, char* text, uint32_t textBytes);

// A dword value into *value, which is left alone unless Ok; Unusable for a value that is
// not a four-byte dword.
SettingRead ReadSettingDword(HKEY key, const char* name, uint32_t* value);
