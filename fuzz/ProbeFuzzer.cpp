// libFuzzer target: the media probe on arbitrary bytes. Each input is written to a scratch
// file and opened, reported on and queried the way the job list and the information
// window do.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "player/AVProbe.h"

namespace {
std::string gScratch;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FFLogger().TriggerEventInMainThread = false;
    if (!FFLoader().LoadLibrarySet(ProbeLibraries)) {
        std::fprintf(stderr, "%s\n", FFLoader().LastError().c_str());
        std::abort();
    }
    FFLogger().SetLogLevel(llQuiet);
    const char* dir = std::getenv("FUZZ_SCRATCH_DIR");
    gScratch = std::string(dir ? dir : "/tmp") + "/probe-fuzz-" + std::to_string(::getpid()) + ".bin";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(gScratch.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    TAVProbe probe;
    if (probe.LoadFile(gScratch)) {
        (void)probe.FileInfoText();
        (void)probe.FileStreamInfo();
        (void)probe.VideoStreamInfo(-1);
        (void)probe.AudioStreamInfo(-1);
        for (int i = 0; i < probe.StreamCount(); ++i) {
            if (probe.IsVideoStream(i)) (void)probe.VideoStreamInfo(i);
            if (probe.IsAudioStream(i)) (void)probe.AudioStreamInfo(i);
        }
        (void)probe.VideoStreamInfo(probe.StreamCount());
    }
    probe.CloseFile();
    return 0;
}
