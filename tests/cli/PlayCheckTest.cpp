#include <cmath>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

using testsupport::TempDir;

namespace {
std::string Cli() { return testsupport::BinDir() + "/reelshift-cli"; }

// The number after "key": in a one-line JSON object; NaN when absent.
double Field(const std::string& json, const std::string& key) {
    const auto at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return std::nan("");
    return std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}
}  // namespace

TEST(PlayCheckCommand, PlaysAClipAtItsOwnSpeedAndReportsHowItWent) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    TempDir dir;
    testsupport::MakeClip(dir.file("a.mp4"), 1, {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    const auto r = testsupport::Run({Cli(), "--play-check", dir.file("a.mp4")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"event\":\"played\",\"file\":\"" + dir.file("a.mp4") + "\",", 0), 0u) << r.out;
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_NEAR(Field(r.out, "duration_s"), 1.0, 0.05);
    EXPECT_GT(Field(r.out, "wall_s"), 0.9) << "real speed, not as fast as it can";
    EXPECT_LT(Field(r.out, "wall_s"), 3.0);
    EXPECT_EQ(Field(r.out, "pictures_shown") + Field(r.out, "pictures_dropped"), 25);
    EXPECT_GE(Field(r.out, "max_av_offset_ms"), 0);

    // A limit shorter than the clip ends the check early and still counts as played.
    const auto limited = testsupport::Run({Cli(), "--play-check", dir.file("a.mp4"), "--seconds", "0.3"});
    EXPECT_EQ(limited.exitCode, 0) << limited.err;
    EXPECT_LT(Field(limited.out, "wall_s"), 0.9);
}

TEST(PlayCheckCommand, AFileThatCannotPlayExitsWithTheReason) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    TempDir dir;
    testsupport::WriteFile(dir.file("bad.mp4"), "no media here");
    const auto r = testsupport::Run({Cli(), "--play-check", dir.file("bad.mp4")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, dir.file("bad.mp4") + ": Invalid data found when processing input\n");
    EXPECT_EQ(testsupport::Run({Cli(), "--play-check"}).exitCode, 2);
}
