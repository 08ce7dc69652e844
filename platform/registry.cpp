// The registry as text hives. Each hive file is held in memory as a tree of keys; a
// root key's opening reads its file afresh, and every write rewrites the whole file
// through a temp file and a rename. One mutex guards the trees and the files.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

enum class Root { ClassesRoot, CurrentUser, LocalMachine };

const char* RootName(Root root) {
    switch (root) {
        case Root::ClassesRoot: return "HKEY_CLASSES_ROOT";
        case Root::CurrentUser: return "HKEY_CURRENT_USER";
        case Root::LocalMachine: return "HKEY_LOCAL_MACHINE";
    }
    return "";
}

std::string Lower(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

struct Value {
    std::string name;  // as first written
    uint32_t type = REG_NONE;
    std::vector<uint8_t> bytes;  // REG_SZ without its terminator
};

struct Node {
    std::string name;
    std::map<std::string, std::unique_ptr<Node>> children;  // by lower-cased name
    std::map<std::string, Value> values;                    // by lower-cased name; "" is the default
};

// A hive file's tree: its top-level children are root names.
struct Hive {
    Node top;
};

}  // namespace

struct RegistryKey {
    bool isRoot = false;
    Root root = Root::LocalMachine;
    std::vector<std::string> path;  // components below the root
};

namespace {

RegistryKey gClassesRoot{true, Root::ClassesRoot, {}};
RegistryKey gCurrentUser{true, Root::CurrentUser, {}};
RegistryKey gLocalMachine{true, Root::LocalMachine, {}};

std::mutex gMutex;
std::map<std::string, Hive> gHives;  // by file path

std::string ExecutableFolder() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return ".";
    path[length] = '\0';
    return std::filesystem::path(path).parent_path().string();
}

std::string HivePath(Root root) {
    bool machine = root != Root::CurrentUser;
    const char* file = machine ? "machine.reg" : "user.reg";
    if (const char* dir = std::getenv("BELLWAVE_REGISTRY_DIR"); dir && *dir) return std::string(dir) + "/" + file;
    if (machine) return ExecutableFolder() + "/../share/bellwave/machine.reg";
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::string(config) + "/bellwave/user.reg";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.config/bellwave/user.reg";
}

// --- Parsing -------------------------------------------------------------------

std::string Trim(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    return text.substr(first, last - first);
}

bool SplitPath(const std::string& text, std::vector<std::string>* parts) {
    parts->clear();
    if (text.empty()) return true;
    size_t start = 0;
    while (true) {
        size_t end = text.find('\\', start);
        std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty()) return false;
        for (char c : part)
            if (c == '\n' || c == '\r' || c == ']' || c == '\0') return false;
        parts->push_back(part);
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

Node* Child(Node* node, const std::string& name, bool create) {
    auto it = node->children.find(Lower(name));
    if (it != node->children.end()) return it->second.get();
    if (!create) return nullptr;
    auto child = std::make_unique<Node>();
    child->name = name;
    Node* result = child.get();
    node->children.emplace(Lower(name), std::move(child));
    return result;
}

// A quoted string starting at text[*at] == '"'; \\ and \" are escapes. Moves *at past
// the closing quote.
bool ParseQuoted(const std::string& text, size_t* at, std::string* out) {
    if (*at >= text.size() || text[*at] != '"') return false;
    out->clear();
    for (size_t i = *at + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            *at = i + 1;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= text.size()) return false;
            c = text[++i];
        }
        out->push_back(c);
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseData(const std::string& text, Value* value) {
    size_t at = 0;
    if (text.size() >= 1 && text[0] == '"') {
        std::string data;
        if (!ParseQuoted(text, &at, &data) || !Trim(text.substr(at)).empty()) return false;
        if (data.find('\0') != std::string::npos) return false;
        value->type = REG_SZ;
        value->bytes.assign(data.begin(), data.end());
        return true;
    }
    std::string lower = Lower(text);
    if (lower.rfind("dword:", 0) == 0) {
        std::string digits = text.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        uint32_t number = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0) return false;
            number = number * 16 + static_cast<uint32_t>(d);
        }
        value->type = REG_DWORD;
        value->bytes.resize(4);
        std::memcpy(value->bytes.data(), &number, 4);
        return true;
    }
    if (lower.rfind("hex:", 0) == 0) {
        value->type = REG_BINARY;
        value->bytes.clear();
        std::string bytes = text.substr(4);
        size_t i = 0;
        while (i < bytes.size()) {
            while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t')) ++i;
            if (i == bytes.size()) break;
            if (i + 1 >= bytes.size()) return false;
            int high = HexDigit(bytes[i]), low = HexDigit(bytes[i + 1]);
            if (high < 0 || low < 0) return false;
            value->bytes.push_back(static_cast<uint8_t>(high * 16 + low));
            i += 2;
            while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t')) ++i;
            if (i < bytes.size() && bytes[i] != ',') return false;
            ++i;
        }
        return true;
    }
    return false;
}

// Reads a hive's text; lines that do not parse are skipped, and so are the values of a
// section that does not parse or belongs to another hive.
void ParseHive(const std::string& text, Hive* hive, bool machine) {
    std::vector<std::string> lines;
    std::string pending;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string line = Trim(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        // A hex value may continue on the next line after a trailing backslash.
        if (!line.empty() && line.back() == '\\' && Lower(pending + line).find("=hex:") != std::string::npos) {
            pending += line.substr(0, line.size() - 1);
        } else {
            lines.push_back(pending + line);
            pending.clear();
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (!pending.empty()) lines.push_back(pending);

    Node* section = nullptr;
    for (const std::string& line : lines) {
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            section = nullptr;
            if (line.back() != ']') continue;
            std::vector<std::string> parts;
            if (!SplitPath(Trim(line.substr(1, line.size() - 2)), &parts) || parts.empty()) continue;
            std::string root = Lower(parts[0]);
            bool known = machine ? (root == "hkey_local_machine" || root == "hkey_classes_root")
                                 : root == "hkey_current_user";
            if (!known) continue;
            Node* node = Child(&hive->top, root == "hkey_local_machine"  ? "HKEY_LOCAL_MACHINE"
                                     : root == "hkey_classes_root" ? "HKEY_CLASSES_ROOT"
                                                                   : "HKEY_CURRENT_USER",
                         true);
            for (size_t i = 1; i < parts.size(); ++i) node = Child(node, parts[i], true);
            section = node;
            continue;
        }
        if (!section) continue;
        std::string name;
        size_t at = 0;
        if (line[0] == '@') {
            at = 1;
        } else if (!ParseQuoted(line, &at, &name)) {
            continue;
        }
        // "" is not a name (the default is @), and a name cannot hold a terminator.
        if ((line[0] == '"' && name.empty()) || name.find('\0') != std::string::npos) continue;
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        if (at >= line.size() || line[at] != '=') continue;
        Value value;
        value.name = name;
        if (!ParseData(Trim(line.substr(at + 1)), &value)) continue;
        section->values[Lower(name)] = std::move(value);
    }
}

// --- Writing -------------------------------------------------------------------

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

void WriteNode(const Node& node, const std::string& path, bool isRoot, std::string* out) {
    // Keys with values, and leaves below a root (so that an empty key survives), get a
    // section.
    if (!node.values.empty() || (node.children.empty() && !isRoot)) {
        *out += "\n[" + path + "]\n";
        for (const auto& [lower, value] : node.values) {
            *out += lower.empty() ? std::string("@") : Quote(value.name);
            *out += '=';
            char text[16];
            if (value.type == REG_SZ) {
                *out += Quote(std::string(value.bytes.begin(), value.bytes.end()));
            } else if (value.type == REG_DWORD) {
                uint32_t number = 0;
                std::memcpy(&number, value.bytes.data(), 4);
                std::snprintf(text, sizeof(text), "dword:%08x", number);
                *out += text;
            } else {
                *out += "hex:";
                for (size_t i = 0; i < value.bytes.size(); ++i) {
                    std::snprintf(text, sizeof(text), i ? ",%02x" : "%02x", value.bytes[i]);
                    *out += text;
                }
            }
            *out += '\n';
        }
    }
    for (const auto& [lower, child] : node.children) WriteNode(*child, path + "\\" + child->name, false, out);
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

// Replaces the hive file whole; on any failure the old file stays as it was.
bool SaveHive(const std::string& path, const Hive& hive) {
    std::string text = "REGEDIT4\n";
    for (const auto& [lower, root] : hive.top.children) WriteNode(*root, root->name, true, &text);

    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text) && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

// --- Navigation ----------------------------------------------------------------

Hive& LoadHive(const std::string& path, bool machine) {
    Hive& hive = gHives[path];
    hive.top.children.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return hive;
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) text.append(chunk, got);
    std::fclose(file);
    ParseHive(text, &hive, machine);
    return hive;
}

// The key's node in its hive (loaded when not yet held), optionally creating missing
// keys. Null when it does not exist.
Node* Find(const RegistryKey& key, const std::vector<std::string>& extra, bool create, bool* created) {
    std::string path = HivePath(key.root);
    auto it = gHives.find(path);
    // Any use of a root key reads its file afresh; keys below it use what that read.
    Hive& hive = it != gHives.end() && !key.isRoot ? it->second : LoadHive(path, key.root != Root::CurrentUser);
    Node* node = Child(&hive.top, RootName(key.root), true);  // a root always exists
    for (const auto* parts : {&key.path, &extra}) {
        for (const std::string& part : *parts) {
            if (!node) return nullptr;
            Node* next = Child(node, part, false);
            if (!next && create) {
                next = Child(node, part, true);
                if (created) *created = true;
            }
            node = next;
        }
    }
    return node;
}

LSTATUS OpenOrCreate(HKEY parent, const char* subKey, HKEY* result, bool create) {
    if (!parent) return ERROR_INVALID_HANDLE;
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::vector<std::string> parts;
    if (!SplitPath(subKey ? subKey : "", &parts)) return create ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;

    std::lock_guard<std::mutex> lock(gMutex);
    std::string path = HivePath(parent->root);
    if (create) LoadHive(path, parent->root != Root::CurrentUser);  // as for RegSetValueEx
    bool created = false;
    Node* node = Find(*parent, parts, create, &created);
    if (!node) return ERROR_FILE_NOT_FOUND;
    if (created && !SaveHive(path, gHives[path])) {
        LoadHive(path, parent->root != Root::CurrentUser);  // forget what could not be kept
        return ERROR_WRITE_FAULT;
    }
    auto* key = new (std::nothrow) RegistryKey{false, parent->root, parent->path};
    if (!key) return ERROR_WRITE_FAULT;
    key->path.insert(key->path.end(), parts.begin(), parts.end());
    *result = key;
    return ERROR_SUCCESS;
}

}  // namespace

const HKEY HKEY_CLASSES_ROOT = &gClassesRoot;
const HKEY HKEY_CURRENT_USER = &gCurrentUser;
const HKEY HKEY_LOCAL_MACHINE = &gLocalMachine;

LSTATUS RegOpenKey(HKEY parent, const char* subKey, HKEY* result) {
    return OpenOrCreate(parent, subKey, result, false);
}

LSTATUS RegCreateKey(HKEY parent, const char* subKey, HKEY* result) {
    return OpenOrCreate(parent, subKey, result, true);
}

LSTATUS RegCloseKey(HKEY key) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (!key->isRoot) delete key;
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKey(HKEY key, uint32_t index, char* name, uint32_t nameBytes) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (!name) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(gMutex);
    Node* node = Find(*key, {}, false, nullptr);
    if (!node) return ERROR_FILE_NOT_FOUND;
    if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = node->children.begin();
    std::advance(it, index);
    const std::string& childName = it->second->name;
    if (childName.size() + 1 > nameBytes) return ERROR_MORE_DATA;
    std::memcpy(name, childName.c_str(), childName.size() + 1);
    return ERROR_SUCCESS;
}

LSTATUS RegEnumValue(HKEY key, uint32_t index, char* name, uint32_t nameBytes) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (!name) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(gMutex);
    Node* node = Find(*key, {}, false, nullptr);
    if (!node) return ERROR_FILE_NOT_FOUND;
    if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
    auto it = node->values.begin();
    std::advance(it, index);
    const std::string& valueName = it->second.name;
    if (valueName.size() + 1 > nameBytes) return ERROR_MORE_DATA;
    std::memcpy(name, valueName.c_str(), valueName.size() + 1);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueEx(HKEY key, const char* valueName, uint32_t* type, uint8_t* data, uint32_t* dataBytes) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (data && !dataBytes) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(gMutex);
    Node* node = Find(*key, {}, false, nullptr);
    if (!node) return ERROR_FILE_NOT_FOUND;
    auto it = node->values.find(Lower(valueName ? valueName : ""));
    if (it == node->values.end()) return ERROR_FILE_NOT_FOUND;
    const Value& value = it->second;
    uint32_t size = static_cast<uint32_t>(value.bytes.size()) + (value.type == REG_SZ ? 1 : 0);
    if (type) *type = value.type;
    if (!dataBytes) return ERROR_SUCCESS;
    uint32_t room = *dataBytes;
    *dataBytes = size;
    if (!data) return ERROR_SUCCESS;
    if (room < size) return ERROR_MORE_DATA;
    if (!value.bytes.empty()) std::memcpy(data, value.bytes.data(), value.bytes.size());
    if (value.type == REG_SZ) data[value.bytes.size()] = 0;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueEx(HKEY key, const char* valueName, uint32_t type, const uint8_t* data, uint32_t dataBytes) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (!data && dataBytes) return ERROR_INVALID_PARAMETER;
    std::string name = valueName ? valueName : "";
    if (name.find_first_of("\r\n") != std::string::npos) return ERROR_INVALID_PARAMETER;
    Value value;
    value.name = name;
    value.type = type;
    if (type == REG_SZ) {
        // The text ends at its first terminator, or at dataBytes.
        size_t length = 0;
        while (length < dataBytes && data[length]) ++length;
        value.bytes.assign(data, data + length);
        for (uint8_t c : value.bytes)
            if (c == '\r' || c == '\n') return ERROR_INVALID_PARAMETER;  // a hive line cannot hold it
    } else if (type == REG_DWORD) {
        if (dataBytes != 4) return ERROR_INVALID_PARAMETER;
        value.bytes.assign(data, data + 4);
    } else if (type == REG_BINARY) {
        if (dataBytes) value.bytes.assign(data, data + dataBytes);
    } else {
        return ERROR_INVALID_PARAMETER;
    }

    std::lock_guard<std::mutex> lock(gMutex);
    // Writes start from the file as it is now, so a change made meanwhile by another
    // copy of this code (a driver links its own) is kept.
    std::string path = HivePath(key->root);
    LoadHive(path, key->root != Root::CurrentUser);
    Node* node = Find(*key, {}, false, nullptr);
    if (!node) return ERROR_FILE_NOT_FOUND;
    node->values[Lower(name)] = std::move(value);
    if (!SaveHive(path, gHives[path])) {
        LoadHive(path, key->root != Root::CurrentUser);  // forget what could not be kept
        return ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValue(HKEY key, const char* subKey, char* data, long* dataBytes) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (!dataBytes || *dataBytes < 0) return ERROR_INVALID_PARAMETER;
    HKEY sub = nullptr;
    LSTATUS status = RegOpenKey(key, subKey, &sub);
    if (status != ERROR_SUCCESS) return status;
    uint32_t type = REG_NONE;
    uint32_t bytes = static_cast<uint32_t>(*dataBytes);
    status = RegQueryValueEx(sub, nullptr, &type, reinterpret_cast<uint8_t*>(data), &bytes);
    RegCloseKey(sub);
    if (status == ERROR_FILE_NOT_FOUND) {
        // A key without a default value reads as the empty text.
        *dataBytes = 1;
        if (!data) return ERROR_SUCCESS;
        if (bytes < 1) return ERROR_MORE_DATA;
        data[0] = '\0';
        return ERROR_SUCCESS;
    }
    if (status == ERROR_SUCCESS && type != REG_SZ) return ERROR_FILE_NOT_FOUND;
    *dataBytes = static_cast<long>(bytes);
    return status;
}
