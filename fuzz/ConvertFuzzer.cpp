// libFuzzer target: a whole conversion of arbitrary bytes. Each input is written to a scratch
// file and converted by the engine as the terminal converter's first format does (MPEG-4
// picture letterboxed into its frame, MP3 sound, AVI) into a scratch output, small so that a
// run costs little. A run is stopped after a few seconds of wall time, as a person would stop
// one that never ends; the figures (runs, failed runs, stopped runs, largest output) are
// printed when the fuzzer exits.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "engine/FFmpeg.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"

namespace {
std::string gInput, gOutput;
int gSecondsPerRun = 5;
std::atomic<long> gRuns{0}, gFailed{0}, gStopped{0}, gIncomplete{0};
std::atomic<long long> gLargest{0};

void PrintFigures() {
    std::fprintf(stderr, "convert-fuzzer: runs %ld, failed %ld, stopped at the time limit %ld, incomplete %ld, "
                         "largest output %lld bytes\n",
                 gRuns.load(), gFailed.load(), gStopped.load(), gIncomplete.load(), gLargest.load());
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FFLogger().TriggerEventInMainThread = false;
    if (!FFLoader().LoadLibrarySet(EngineLibraries)) {
        std::fprintf(stderr, "%s\n", FFLoader().LastError().c_str());
        std::abort();
    }
    FFLogger().SetLogLevel(llQuiet);
    const char* dir = std::getenv("FUZZ_SCRATCH_DIR");
    const std::string base = std::string(dir ? dir : "/tmp") + "/convert-fuzz-" + std::to_string(::getpid());
    gInput = base + ".bin";
    gOutput = base + ".avi";
    if (const char* s = std::getenv("FUZZ_SECONDS_PER_RUN")) gSecondsPerRun = std::max(1, std::atoi(s));
    std::atexit(PrintFigures);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(gInput.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    ++gRuns;

    TCustomFFmpeg task;
    task.ParseOption("v", "-1");
    bool failed = false;
    try {
        if (!task.OpenInput(gInput)) {
            ++gFailed;
            return 0;
        }
        for (const auto& [k, v] : {std::pair<const char*, const char*>{"f", "avi"}, {"vcodec", "mpeg4"}, {"vb", "200000"},
                                   {"r", "29.97"}, {"s", "96x54"}, {"aspect", "96:54"}, {"vf", "pad=96:72:0:8"},
                                   {"acodec", "libmp3lame"}, {"ac", "2"}, {"ar", "22050"}, {"ab", "64000"}})
            task.ParseOption(k, v);
        if (task.OpenOutput(gOutput, false) < 0) {
            ++gFailed;
            task.CloseAll();
            return 0;
        }
        // The time limit: a watcher asks the run to stop, as the stop button does.
        std::mutex lock;
        std::condition_variable done;
        bool ended = false;
        std::atomic<bool> stopped{false};
        std::thread watcher([&] {
            std::unique_lock l(lock);
            if (!done.wait_for(l, std::chrono::seconds(gSecondsPerRun), [&] { return ended; })) {
                stopped = true;
                task.RequestStop();
            }
        });
        try {
            task.Transcode();
        } catch (const std::exception&) {
            failed = true;
        }
        {
            std::lock_guard l(lock);
            ended = true;
        }
        done.notify_all();
        watcher.join();
        if (stopped) ++gStopped;
        if (!task.IncompleteText().empty()) ++gIncomplete;
    } catch (const std::exception&) {
        failed = true;
    }
    if (failed) ++gFailed;
    task.CloseAll();
    std::error_code ec;
    const auto written = std::filesystem::file_size(gOutput, ec);
    if (!ec && (long long)written > gLargest) gLargest = (long long)written;
    std::filesystem::remove(gOutput, ec);
    return 0;
}
