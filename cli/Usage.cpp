#include "cli/Commands.h"

void PrintUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: reelshift-cli --format CODE|NAME|EXTENSION [--edition mp4avi|video] [--output-dir DIR]\n"
                 "                     [--settings FILE] [--jobs N] [--json] FILE...\n"
                 "       reelshift-cli --list-formats [--edition mp4avi|video]\n"
                 "       reelshift-cli --info FILE...\n"
                 "       reelshift-cli --engine [--input-option KEY=VALUE]... INPUT -o OUTPUT [KEY=VALUE]...\n"
                 "       reelshift-cli --version\n"
                 "       reelshift-cli --help\n");
}
