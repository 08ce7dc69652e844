// The registry: hives kept as text files in the REGEDIT4 export format.
//
// HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT live in machine.reg, HKEY_CURRENT_USER in
// user.reg. With BELLWAVE_REGISTRY_DIR set both files are in that folder; otherwise
// machine.reg is <executable's folder>/../share/bellwave/machine.reg and user.reg is
// ${XDG_CONFIG_HOME:-$HOME/.config}/bellwave/user.reg. The files are read whenever a
// root key is used (opened below, enumerated, queried), so a test may write a hive and
// open it at once.
//
// Key and value names compare case-insensitively; subkeys enumerate in case-insensitive
// alphabetical order. A write replaces the whole hive file through a temp file and a
// rename, so a crash never leaves a half-written hive. Unparsable lines of a hive are
// skipped. All calls are thread-safe.
#pragma once

#include <cstdint>

struct RegistryKey;
using HKEY = RegistryKey*;

extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_CURRENT_USER;
extern const HKEY HKEY_LOCAL_MACHINE;

using LSTATUS = long;
constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_MORE_DATA = 234;
constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
constexpr LSTATUS ERROR_WRITE_FAULT = 29;

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;

// Opens an existing key below parent ("a\b\c"; an empty or null path opens parent
// again). *result must be closed with RegCloseKey.
LSTATUS RegOpenKey(HKEY parent, const char* subKey, HKEY* result);
// Opens the key, creating it and its parents when missing (written at once).
LSTATUS RegCreateKey(HKEY parent, const char* subKey, HKEY* result);
LSTATUS RegCloseKey(HKEY key);
// The index-th direct subkey's name into name (nameBytes with its terminator);
// ERROR_NO_MORE_ITEMS past the end, ERROR_MORE_DATA when the name does not fit.
LSTATUS RegEnumKey(HKEY key, uint32_t index, char* name, uint32_t nameBytes);
// The index-th value's name (in case-insensitive alphabetical order; the default value's
// name is empty) into name (nameBytes with its terminator); ERROR_NO_MORE_ITEMS past the
// end, ERROR_MORE_DATA when the name does not fit.
LSTATUS RegEnumValue(HKEY key, uint32_t index, char* name, uint32_t nameBytes);
// A value's type and bytes; a null or empty name is the key's default value. REG_SZ
// data includes its terminator. *dataBytes is in/out: the buffer's size, then the
// value's size; ERROR_MORE_DATA when the buffer is too small. data may be null to ask
// only the size.
LSTATUS RegQueryValueEx(HKEY key, const char* valueName, uint32_t* type, uint8_t* data, uint32_t* dataBytes);
// Sets a value (REG_SZ, REG_DWORD or REG_BINARY) and writes the hive file.
LSTATUS RegSetValueEx(HKEY key, const char* valueName, uint32_t type, const uint8_t* data, uint32_t dataBytes);
// Default value of the subkey, as a string (the classic RegQueryValue).
LSTATUS RegQueryValue(HKEY key, const char* subKey, char* data, long* dataBytes);
