#include <cstdio>
#include <cstring>

#include "cli/Commands.h"

namespace {
void Usage() {
    std::fprintf(stderr,
                 "usage: reelshift-cli --list-formats [--edition mp4avi|video]\n"
                 "       reelshift-cli --info FILE...\n"
                 "       reelshift-cli --engine [--input-option KEY=VALUE]... INPUT -o OUTPUT [KEY=VALUE]...\n"
                 "       reelshift-cli --format CODE [--edition E] [--output-dir DIR] [--settings FILE]\n"
                 "                     [--jobs N] [--json] FILE...\n"
                 "       reelshift-cli --version\n");
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage();
        return 2;
    }
    const std::string command = argv[1];
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
    Usage();
    return 2;
}
