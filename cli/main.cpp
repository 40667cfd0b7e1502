#include <cstdio>
#include <cstring>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        PrintUsage(stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("reelshift-cli %d.%d.%d.%d\n", REELSHIFT_VERSION_MAJOR, REELSHIFT_VERSION_MINOR,
                    REELSHIFT_VERSION_PATCH, REELSHIFT_VERSION_TWEAK);
        return 0;
    }
    if (command == "--format") return ConvertCommand(Args(argv + 1, argv + argc));  // keeps --format CODE
    Args rest(argv + 2, argv + argc);
    if (command == "--list-formats") return ListFormatsCommand(rest);
    if (command == "--info") return InfoCommand(rest);
    if (command == "--engine") return EngineCommand(rest);
    if (command == "--play-check") return PlayCheckCommand(rest);
    std::fprintf(stderr, "reelshift-cli: unknown option '%s'\n", command.c_str());
    PrintUsage(stderr);
    return 2;
}
