// bellwave-cli devices: one line per installed driver, "<id>: <name>".
#include <cstdio>

#include "cli/commands.h"
#include "host/driver_list.h"

int RunDevices(int argc, char** argv) {
    (void)argv;
    if (argc != 1) {
        std::fprintf(stderr, "usage: bellwave-cli devices\n");
        return 2;
    }
    AsioDriverList list;
    for (int id = 0; id < list.Count(); ++id) {
        char name[kDriverNameBytes];
        if (list.asioGetDriverName(id, name, sizeof(name)) == DRVERR_OK) std::printf("%d: %s\n", id, name);
    }
    return 0;
}
