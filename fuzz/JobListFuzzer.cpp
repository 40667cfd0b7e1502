// libFuzzer target: the job list's recovery file on arbitrary bytes. Each input is written
// to a scratch file and read back as the next start reads it; every job that comes back
// must be within the ranges of the dialogs, and its watermark picture is laid on a frame at
// the position the file gave, as the conversion hook would lay it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/JobListState.h"
#include "edits/FrameEdits.h"
#include "edits/JobRanges.h"

namespace {
std::string gScratch;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* dir = std::getenv("FUZZ_SCRATCH_DIR");
    gScratch = std::string(dir ? dir : "/tmp") + "/joblist-fuzz-" + std::to_string(::getpid()) + ".json";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(gScratch.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    const TJobListState state(gScratch);
    const auto jobs = state.Load();
    if (!jobs) return 0;
    (void)SplitBySourcePresence(*jobs);
    TFrameBitmap frame, image;
    frame.Resize(64, 48);
    image.Resize(16, 16);
    for (const TSavedJob& job : *jobs) {
        // What comes back is already in range: a second check finds nothing to put right.
        TlvFilesRecord again = job.Record;
        KeepJobInRange(again, [](const std::string& line) {
            std::fprintf(stderr, "a value out of range came back: %s\n", line.c_str());
            std::abort();
        });
        const TlvFilesRecord& r = job.Record;
        BlendImage(frame, image, r.ImageLeft, r.TransparentStyle, r.ImageAlpha, r.ImageTop);
        BlendImage(frame, image, r.ImageLeft - 4096, 1, r.ImageAlpha, r.ImageTop - 4096);
    }
    // Written again and read back, the jobs, their destinations and the run's folder are the
    // same, to the byte (paths need not be UTF-8).
    const std::string folder = state.LoadRunFolder();
    if (!state.Save(*jobs, folder)) std::abort();
    const auto reread = state.Load();
    if (!reread || reread->size() != jobs->size() || state.LoadRunFolder() != folder) std::abort();
    for (size_t i = 0; i < jobs->size(); ++i)
        if (!((*reread)[i].Record == (*jobs)[i].Record) || (*reread)[i].Destination != (*jobs)[i].Destination)
            std::abort();
    return 0;
}
