#include "cli/CommandLine.h"

void PrintUsage(std::FILE* to) {
    std::fputs(
        "usage: reelshift-cli --format CODE|NAME|EXTENSION [--edition mp4avi|video] [--output-dir DIR]\n"
        "                     [--settings FILE] [--jobs N] [--json] [--skip-existing | --overwrite]\n"
        "                     [--no-rotate] [--no-deinterlace] [--no-tonemap] [EDITS] [--] FILE...\n"
        "       reelshift-cli --list-formats [--edition mp4avi|video]\n"
        "       reelshift-cli --info FILE...\n"
        "       reelshift-cli --engine [--input-option KEY=VALUE]... INPUT... [--join] -o OUTPUT [KEY=VALUE]...\n"
        "                     [-o OUTPUT [KEY=VALUE]...]...\n"
        "       reelshift-cli --play-check FILE [--seconds N]\n"
        "       reelshift-cli --list-options    every option, one a line, '=' after those with a value\n"
        "       reelshift-cli --version | -V\n"
        "       reelshift-cli --help | -h\n"
        "Options come in any order, as --option VALUE or --option=VALUE; -- ends them.\n"
        "  --skip-existing   leave out a file whose NAME_(new).EXT exists or is being made by another run\n"
        "  --overwrite       write NAME_(new).EXT, replacing a file of that name when done\n"
        "edits, applied to every file --format converts:\n"
        "  --trim START,END             seconds (12.5) or h:mm:ss.mmm\n"
        "  --crop LEFT,TOP,RIGHT,BOTTOM source pixels, made even\n"
        "  --zoom full|lbox|pan|center\n"
        "  --text TEXT  --text-at X%,Y%  --font \"FAMILY,SIZE,#RRGGBB[,bold][,italic]\"\n"
        "  --image FILE.bmp  --image-at X%,Y%  --image-opacity 0..255  --image-style 1|2\n"
        "  --brightness 0..512  --contrast -100..100  --saturation 0..512  --exposure -255..512\n",
        to);
}
