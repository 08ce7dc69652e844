// Feeds arbitrary bytes as machine.reg: whatever loads must survive a rewrite of the
// hive unchanged, and nothing may crash on the way.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "fuzz/machine_hive.h"
#include "platform/registry.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Every key and value below key as lines "K path" and "V path name type data".
void Dump(HKEY key, const std::string& path, int depth, std::set<std::string>* out) {
    out->insert("K " + Lower(path));
    char name[512];
    for (uint32_t i = 0; RegEnumValue(key, i, name, sizeof(name)) == ERROR_SUCCESS; ++i) {
        uint32_t type = 0, bytes = 0;
        if (RegQueryValueEx(key, name, &type, nullptr, &bytes) != ERROR_SUCCESS) std::abort();
        std::string data(bytes, '\0');
        if (RegQueryValueEx(key, name, &type, reinterpret_cast<uint8_t*>(data.data()), &bytes) != ERROR_SUCCESS)
            std::abort();
        out->insert("V " + Lower(path) + " " + Lower(name) + " " + std::to_string(type) + " " + data);
    }
    if (depth > 32) return;
    for (uint32_t i = 0; RegEnumKey(key, i, name, sizeof(name)) == ERROR_SUCCESS; ++i) {
        HKEY child = nullptr;
        if (RegOpenKey(key, name, &child) != ERROR_SUCCESS) std::abort();
        Dump(child, path + "\\" + name, depth + 1, out);
        RegCloseKey(child);
    }
}

std::set<std::string> DumpHive() {
    std::set<std::string> out;
    Dump(HKEY_LOCAL_MACHINE, "HKLM", 0, &out);
    Dump(HKEY_CLASSES_ROOT, "HKCR", 0, &out);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::WriteMachineHive(data, size)) return 0;

    std::set<std::string> before = DumpHive();
    HKEY marker = nullptr;
    if (RegCreateKey(HKEY_LOCAL_MACHINE, "fuzz\\marker", &marker) != ERROR_SUCCESS) return 0;
    RegCloseKey(marker);
    before.insert("K hklm\\fuzz");
    before.insert("K hklm\\fuzz\\marker");
    if (DumpHive() != before) std::abort();  // the rewritten hive reads back as it was
    return 0;
}
