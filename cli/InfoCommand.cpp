#include <cstdio>

#include "cli/Commands.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "player/AVProbe.h"

// Prints the probe's report of each file, a blank line between two reports. A file that
// cannot be opened gets the probe's error on stderr and makes the exit status 1.
int InfoCommand(const TCommandLine& line) {
    const std::vector<std::string> files = line.Operands();
    if (files.empty()) {
        std::fprintf(stderr, "usage: reelshift-cli --info FILE...\n");
        return 2;
    }
    // Nothing here serves a main-thread queue, and no handler is attached: the libraries'
    // chatter stays out of the report.
    FFLogger().TriggerEventInMainThread = false;
    if (!FFLoader().LoadLibrarySet(ProbeLibraries)) {
        std::fprintf(stderr, "%s\n", FFLoader().LastError().c_str());
        return 1;
    }
    int status = 0;
    bool first = true;
    TAVProbe probe;
    for (const std::string& file : files) {
        bool ok = false;
        try {
            ok = probe.LoadFile(file);
        } catch (const FFmpegException& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        if (!ok) {
            std::fprintf(stderr, "%s\n", probe.LastError().c_str());
            status = 1;
            continue;
        }
        std::printf("%s%s\n", first ? "" : "\n", probe.FileInfoText().c_str());
        std::fflush(stdout);
        first = false;
        probe.CloseFile();
    }
    return status;
}
