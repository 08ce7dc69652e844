// bellwave-cli: the engine from a terminal.
#include <cstdio>
#include <cstring>

#include "cli/commands.h"

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(int argc, char** argv);  // argv[0] is the command's name
};

const Command kCommands[] = {
    {"devices", "devices", RunDevices},
    {"tone", "tone [--device D] --seconds S [--freq HZ]", RunTone},
    {"scan", "scan FILE", RunScan},
    {"decode", "decode FILE OUT.wav [--rate R]", RunDecode},
    {"encode", "encode IN.wav OUT.mp3", RunEncode},
    {"play", "play [--device D] [--loop] [--volume L] [--shuffle] FILE...", RunPlay},
    {"record", "record [--device D] [--mp3] --seconds S", RunRecord},
};

int Usage() {
    std::fprintf(stderr, "usage: bellwave-cli COMMAND [ARGS]\ncommands:\n");
    for (const Command& c : kCommands) std::fprintf(stderr, "  %s\n", c.usage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    for (const Command& c : kCommands)
        if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
    std::fprintf(stderr, "bellwave-cli: unknown command '%s'\n", argv[1]);
    return Usage();
}
