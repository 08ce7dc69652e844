#include "player/start_device.h"

#include "host/debug_log.h"
#include "host/driver_list.h"
#include "player/settings.h"

namespace {

// A running JACK server, the sound card behind ALSA's default device, and the virtual
// device, which works on any machine.
constexpr const char* kFirstStartDrivers[] = {"JACK", "ALSA", "Bellwave Virtual Device"};

int FindByName(AsioDriverList& list, const char* name) {
    for (int id = 0; id < list.Count(); ++id) {
        char text[kDriverNameBytes];
        if (list.asioGetDriverName(id, text, sizeof text) == DRVERR_OK && std::string(text) == name) return id;
    }
    return -1;
}

// Why driver id cannot be used; empty when its init succeeded. The list releases the
// driver when it goes.
std::string TryInit(AsioDriverList& list, int id) {
    const long opened = list.asioOpenDriver(id);
    IASIO* driver = HostDriverReference();
    if (opened != DRVERR_OK || driver == nullptr) return "it does not load (" + std::to_string(opened) + ")";
    if (driver->init(nullptr) == ASIOTrue) return "";
    char message[128] = {};
    driver->getErrorMessage(message);
    message[sizeof message - 1] = '\0';
    return message[0] != '\0' ? message : "its init failed";
}

}  // namespace

int32_t ChooseStartDevice(std::vector<std::string>& notes) {
    int32_t stored = -1;
    if (LoadDeviceNumber(stored)) return stored;
    AsioDriverList list;
    if (list.Count() < 2) return -1;
    for (const char* name : kFirstStartDrivers) {
        const int id = FindByName(list, name);
        const std::string why = id < 0 ? "not installed" : TryInit(list, id);
        if (why.empty()) {
            const bool saved = SaveDeviceNumber(id);
            notes.push_back(std::string("First start: chose ") + name + ", driver " + std::to_string(id) +
                            (saved ? ", remembered" : ", which could not be remembered"));
            return id;
        }
        notes.push_back(std::string("First start: passed over ") + name + ": " + why);
    }
    notes.push_back("First start: no driver started; the host chooses");
    return -1;
}

void LogStartNotes(const std::vector<std::string>& notes) {
    for (const std::string& note : notes) DebugLog(note.c_str());
}
