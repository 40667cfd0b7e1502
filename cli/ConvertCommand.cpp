#include <cstdio>

#include "cli/Commands.h"

int ConvertCommand(const Args&) {
    std::fprintf(stderr, "reelshift-cli: this command is not available in this build yet\n");
    return 2;
}
