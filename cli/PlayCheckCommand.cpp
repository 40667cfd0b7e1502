#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "cli/Commands.h"
#include "cli/JsonText.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "player/FFPlay.h"

namespace {

// Pictures go nowhere: the player still decodes, times, converts and drops them as it would
// for a window, so the counts are those a window would see.
class TNullSink final : public VideoSink {
public:
    void ShowPicture(const TShownPicture&) override {}
    int SurfaceWidth() const override { return 640; }
    int SurfaceHeight() const override { return 480; }
};

}  // namespace

// Plays FILE at its own speed without a window and reports how well it kept up.
int PlayCheckCommand(const TCommandLine& line) {
    double limit = -1;
    for (const TCliArgument& a : line.Arguments)
        if (a.Option == "--seconds") {
            char* end = nullptr;
            limit = std::strtod(a.Value.c_str(), &end);
            if (a.Value.empty() || !end || *end || limit <= 0) {
                std::fprintf(stderr, "--seconds wants a positive number of seconds\n");
                return 2;
            }
        }
    const std::vector<std::string> files = line.Operands();
    const std::string file = files.size() == 1 ? files.front() : std::string();
    if (file.empty()) {
        std::fprintf(stderr, "usage: reelshift-cli --play-check FILE [--seconds N]\n");
        return 2;
    }
    FFLogger().TriggerEventInMainThread = false;
    FFLogger().SetLogLevel(llQuiet);
    if (!FFLoader().LoadLibrarySet(PlayerLibraries)) {
        std::fprintf(stderr, "%s\n", FFLoader().LastError().c_str());
        return 1;
    }
    // The player's threads report into these until the player is destroyed: they must outlive it.
    std::atomic<bool> ended{false}, stopped{false};
    std::atomic<std::int64_t> duration{-1};
    TFFPlayer player;
    player.SetTriggerEventInMainThread(false);
    player.OnState = [&](TFFPlayer*, TPlayState state) {
        if (state == psEnd) ended = true;
        if (state == psStop) stopped = true;
    };
    player.OnFileOpen = [&](TFFPlayer*, std::int64_t d, int, int, int&, int&) { duration = d; };
    TNullSink sink;
    const auto start = std::chrono::steady_clock::now();
    if (!player.Open(file, &sink, false)) {
        std::fprintf(stderr, "%s\n", player.LastError().c_str());
        return 1;
    }
    // Give up when the file takes far longer than it lasts.
    const double expected = limit > 0 ? limit : duration > 0 ? duration / 1e6 : 3600;
    const double giveUp = expected * 2 + 10;
    auto wall = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    bool reachedLimit = false;
    while (!ended && !stopped) {
        if (limit > 0 && player.CurrentPosition() >= std::int64_t(limit * 1e6)) {
            reachedLimit = true;
            break;
        }
        if (wall() > giveUp) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double wallSeconds = wall();
    const std::int64_t position = player.CurrentPosition();
    const TPlaybackStatistics stats = player.Statistics();
    player.Stop(true);
    const double played = ended ? (duration > 0 ? duration / 1e6 : position / 1e6) : position / 1e6;
    std::printf("{\"event\":\"played\",\"file\":%s,\"duration_s\":%.3f,\"wall_s\":%.3f,\"pictures_shown\":%d,"
                "\"pictures_dropped\":%d,\"max_av_offset_ms\":%.1f}\n",
                JsonString(file).c_str(), played, wallSeconds, stats.PicturesShown, stats.PicturesDropped,
                stats.MaxAVOffset * 1000.0);
    std::fflush(stdout);
    if (ended || reachedLimit) return 0;
    std::fprintf(stderr, stopped ? "playback stopped before the end\n" : "playback did not reach the end in time\n");
    return 1;
}
