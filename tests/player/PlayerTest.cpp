#include <atomic>
#include <csignal>
#include <cmath>
#include <fstream>
#include <random>
#include <stdexcept>

#include <gtest/gtest.h>

#include "engine/FFUtils.h"
#include "player/FFPlay.h"
#include "player/PlayTime.h"
#include "tests/player/PlayerTestSupport.h"

using namespace playertest;

namespace {

struct TPositionSeen {
    std::int64_t Pts;
    double Wall;
};

// Everything a test wants to know about one player's reports, kept on the main thread.
struct TReports {
    // The player reports into these until it has stopped, also when a test ends early.
    ~TReports() { Player.Stop(true); }
    explicit TReports(TFFPlayer& player) : Player(player) {
        player.OnPosition = [this](TFFPlayer*, std::int64_t pts) { Positions.push_back({pts, Seconds()}); };
        player.OnState = [this](TFFPlayer*, TPlayState state) { States.push_back(state); };
        player.OnFileOpen = [this](TFFPlayer*, std::int64_t d, int w, int h, int&, int&) {
            Duration = d;
            Width = w;
            Height = h;
        };
    }
    int Count(TPlayState state) const { return int(std::count(States.begin(), States.end(), state)); }
    std::vector<TPositionSeen> Positions;
    std::vector<TPlayState> States;
    TFFPlayer& Player;
    std::int64_t Duration = -2;
    int Width = 0, Height = 0;
};

class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetUpPlayerLibraries(); }
};

}  // namespace

TEST_F(PlayerTest, AVideoPlaysToItsEndOnceWithSpacedPositionsPausesAndSurvivesAFailingHook) {
    TRecordingSink sink;  // outlives the player, which paints into it
    TFFPlayer player;
    TReports reports(player);
    std::atomic<int> hookCalls{0};
    std::atomic<std::int64_t> thrownAt{-1};
    player.SetHook(true);
    player.OnHook = [&](TFFPlayer*, TFrameBitmap& bitmap, std::int64_t pts) {
        // Every picture gets a red corner, except one that is painted green and then fails.
        std::uint8_t* corner = bitmap.Row(0);
        if (++hookCalls == 30) {
            corner[0] = 0, corner[1] = 255, corner[2] = 0;
            thrownAt = pts;
            throw std::runtime_error("hook failed");
        }
        corner[0] = 0, corner[1] = 0, corner[2] = 255;
    };
    ASSERT_TRUE(player.Open(Clip("clip.mp4"), &sink, false)) << player.LastError();
    EXPECT_NEAR(reports.Duration, 3000000, 50000);
    EXPECT_EQ(reports.Width, 320);
    EXPECT_EQ(reports.Height, 240);
    EXPECT_EQ(player.Probe().VideoStreamCount(), 1);

    ASSERT_TRUE(ServeUntil([&] { return player.CurrentPosition() > 1000000; }, 5));
    player.Pause();
    const TPlayState afterFirstPause = player.State();
    player.Pause();  // already paused: nothing changes
    EXPECT_EQ(player.State(), afterFirstPause);
    EXPECT_EQ(afterFirstPause, psPause);
    ServeFor(0.05);  // reports made before the pause arrive
    const std::size_t positionsAtPause = reports.Positions.size();
    const std::int64_t positionAtPause = player.CurrentPosition();
    const std::size_t picturesAtPause = sink.Seen().size();
    ServeFor(0.3);
    EXPECT_EQ(reports.Positions.size(), positionsAtPause);
    EXPECT_EQ(player.CurrentPosition(), positionAtPause);
    EXPECT_EQ(sink.Seen().size(), picturesAtPause);
    EXPECT_EQ(reports.Count(psPause), 1);
    player.Resume();

    ASSERT_TRUE(ServeUntil([&] { return reports.Count(psEnd) > 0; }, 6));
    ServeFor(0.3);
    EXPECT_EQ(reports.Count(psEnd), 1) << "a file with video reports its end once";
    EXPECT_EQ(reports.Positions.back().Pts, reports.Duration) << "the end is reported";

    ASSERT_GE(reports.Positions.size(), 20u);
    for (std::size_t i = 1; i < reports.Positions.size(); ++i)
        if (reports.Positions[i].Pts != reports.Duration)  // the end is reported however near
            EXPECT_GT(std::llabs(reports.Positions[i].Pts - reports.Positions[i - 1].Pts), 10000) << i;

    // The failing hook: playback went on and its drawing never reached the screen.
    EXPECT_GT(hookCalls.load(), 60);
    int red = 0, green = 0, plain = 0;
    for (const TSeenPicture& s : sink.Seen()) {
        if (s.Corner[2] == 255 && s.Corner[1] == 0) ++red;
        else if (s.Corner[1] == 255 && s.Corner[2] == 0) ++green;
        else ++plain;
    }
    EXPECT_EQ(green, 0);
    EXPECT_LE(plain, 1);
    EXPECT_GT(red, 60);
    EXPECT_GE(thrownAt.load(), 0);

    // A seek past the end lands at the end and clears the end state, which is reported again.
    player.Seek(0, true, 10 * reports.Duration);
    ASSERT_TRUE(ServeUntil([&] { return reports.Count(psEnd) == 2; }, 3));
    ASSERT_TRUE(ServeUntil([&] { return player.CurrentPosition() == reports.Duration; }, 1));

    const auto shown = sink.Seen();
    const TFrameBitmap& frame = player.CurrentFrame();
    EXPECT_EQ(frame.Width(), 320);
    EXPECT_EQ(frame.Height(), 240);

    player.Stop(true);
    EXPECT_FALSE(player.Playing());
    EXPECT_EQ(reports.Count(psStop), 1);
    EXPECT_EQ(sink.Clears(), 1);
    const auto statesAfterStop = reports.States;
    player.Stop(true);  // stopping again changes nothing
    ServeFor(0.05);
    EXPECT_EQ(reports.States, statesAfterStop);
    EXPECT_EQ(player.CurrentPosition(), -1);
    EXPECT_EQ(player.CurrentFrame().Width(), 0);
}

TEST_F(PlayerTest, SoundWithoutVideoDrawsItsWaveAndRepeatsTheEndUntilASeek) {
    TRecordingSink sink;  // outlives the player, which paints into it
    TFFPlayer player;
    TReports reports(player);
    ASSERT_TRUE(player.Open(Clip("tone.m4a"), &sink, false)) << player.LastError();
    EXPECT_EQ(reports.Width, -1);
    EXPECT_EQ(reports.Height, -1);
    ASSERT_GT(reports.Duration, 1900000);

    ASSERT_TRUE(ServeUntil([&] { return reports.Count(psEnd) >= 3; }, 5)) << "the end repeats";
    EXPECT_EQ(player.CurrentPosition(), reports.Duration);
    bool wave = false;
    for (const TSeenPicture& s : sink.Seen()) wave = wave || (s.AnyLight && s.Width == 320 && s.Height == 240);
    EXPECT_TRUE(wave) << "the waveform was drawn at the player's screen size";
    // No picture of a sound-only file, so nothing to capture.
    EXPECT_EQ(player.CurrentFrame().Width(), 0);

    // Back to the start: the end state is gone while it plays.
    player.Seek(0, true, 0);
    ServeFor(0.05);
    const int endsAfterSeek = reports.Count(psEnd);
    ServeFor(0.3);
    EXPECT_EQ(reports.Count(psEnd), endsAfterSeek);
    EXPECT_LT(player.CurrentPosition(), 800000);

    // Past the end: the position is the duration and the end comes back.
    player.Seek(0, true, reports.Duration + 5000000);
    ASSERT_TRUE(ServeUntil([&] { return reports.Count(psEnd) > endsAfterSeek + 1; }, 2));
    EXPECT_EQ(player.CurrentPosition(), reports.Duration);

    player.Stop(true);
    const int endsAtStop = reports.Count(psEnd);
    ServeFor(0.1);
    EXPECT_EQ(reports.Count(psEnd), endsAtStop);
    EXPECT_EQ(reports.States.back(), psStop);
}

TEST_F(PlayerTest, AStartPausedPlaybackShowsItsFirstPictureAndWaits) {
    TRecordingSink sink;  // outlives the player, which paints into it
    TFFPlayer player;
    TReports reports(player);
    ASSERT_TRUE(player.Open(Clip("clip.mp4"), &sink, true));
    ASSERT_TRUE(ServeUntil([&] { return reports.Count(psPause) == 1; }, 3));
    ASSERT_TRUE(ServeUntil([&] { return !sink.Seen().empty(); }, 1));
    ServeFor(0.25);
    EXPECT_EQ(sink.Seen().size(), 1u) << "one picture, then nothing while paused";
    EXPECT_EQ(sink.Seen()[0].Pts, 0);
    EXPECT_DOUBLE_EQ(sink.Seen()[0].Aspect, 320.0 / 240.0) << "the picture's own shape";
    EXPECT_TRUE(player.Paused());
    EXPECT_LE(player.CurrentPosition(), 0);
    EXPECT_TRUE(reports.Positions.empty());
    // A playing preview leaves the program's own answer to SIGINT and SIGTERM (here the
    // default: end), or closing the window from outside would do nothing.
    for (int signalNumber : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        ASSERT_EQ(sigaction(signalNumber, nullptr, &action), 0);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << "signal " << signalNumber;
    }
    std::int64_t pts = -5;
    EXPECT_EQ(player.CurrentFrame(&pts).Width(), 320);
    EXPECT_EQ(pts, 0);

    // A new shape is drawn at once, even while paused.
    player.SetAspectRatio(2.0f);
    ASSERT_TRUE(ServeUntil([&] { return sink.Seen().size() == 2; }, 1));
    EXPECT_DOUBLE_EQ(sink.Seen()[1].Aspect, 2.0);
    EXPECT_EQ(sink.Seen()[1].Pts, 0);

    // A relative seek while paused shows the picture it lands on.
    player.SeekBy(0, true, 1.0);
    ASSERT_TRUE(ServeUntil([&] { return player.CurrentPosition() >= 1000000; }, 2));
    EXPECT_EQ(player.CurrentFrame(&pts).Width(), 320);
    EXPECT_EQ(pts, 1000000);
    EXPECT_TRUE(player.Paused());
    player.Resume();
    ASSERT_TRUE(ServeUntil([&] { return player.CurrentPosition() > 1300000; }, 3));
    EXPECT_EQ(reports.Count(psResume), 1);
    player.Stop(true);
}

TEST_F(PlayerTest, QueuedPositionsMergeAndOpeningStopsTheOtherPlayback) {
    TRecordingSink sink;
    TFFPlayer first;
    TReports firstReports(first);
    ASSERT_TRUE(first.Open(Clip("clip.mp4"), &sink, false));
    ASSERT_TRUE(ServeUntil([&] { return first.CurrentPosition() > 100000; }, 3));
    // The main thread is busy: the positions of 0.4 s wait and merge into the newest.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const std::int64_t reached = first.CurrentPosition();
    const std::size_t before = firstReports.Positions.size();
    // The merged newest follows the one being handed over as soon as the delivery thread runs
    // again, which on a loaded machine can take longer than a fixed pause.
    ServeUntil([&] {
        for (std::size_t i = before; i < firstReports.Positions.size(); ++i)
            if (firstReports.Positions[i].Pts > reached - 60000) return true;
        return false;
    }, 2);
    int backlog = 0;
    std::int64_t newestOfBacklog = 0;
    for (std::size_t i = before; i < firstReports.Positions.size(); ++i)
        if (firstReports.Positions[i].Pts <= reached) {
            ++backlog;
            newestOfBacklog = std::max(newestOfBacklog, firstReports.Positions[i].Pts);
        }
    EXPECT_LE(backlog, 2) << "the one being handed over and the merged newest";
    EXPECT_GE(backlog, 1);
    EXPECT_GT(newestOfBacklog, reached - 60000);

    TFFPlayer second;
    TReports secondReports(second);
    ASSERT_TRUE(second.Open(Clip("tone.m4a"), nullptr, false));
    EXPECT_FALSE(first.Playing());
    EXPECT_EQ(firstReports.Count(psStop), 1);
    EXPECT_TRUE(second.Playing());
    ASSERT_TRUE(ServeUntil([&] { return second.CurrentPosition() > 100000; }, 3));
    second.Stop(true);
    EXPECT_FALSE(second.Playing());
}

TEST_F(PlayerTest, EveryFlashIsShownWithinFortyMillisecondsOfItsClick) {
    TRecordingSink sink;  // outlives the player, which paints into it
    TFFPlayer player;
    TReports reports(player);
    ASSERT_TRUE(player.Open(Clip("flash.mp4"), &sink, false)) << player.LastError();
    ASSERT_TRUE(ServeUntil([&] { return reports.Count(psEnd) > 0; }, 6));
    player.Stop(true);
    // The clicks sit at whole seconds in the sound; the audio clock at the moment a white
    // picture is handed over says where the sound is.
    std::vector<double> flashes;
    for (const TSeenPicture& s : sink.Seen()) {
        if (s.Brightness < 200) continue;
        ASSERT_TRUE(s.HasAudio);
        const double click = std::round(s.Pts);
        EXPECT_NEAR(s.Pts, click, 0.001) << "the white pictures are the ones at whole seconds";
        EXPECT_NEAR(s.AudioClock, click, 0.040) << "flash at " << s.Pts;
        flashes.push_back(click);
    }
    // A loaded machine may drop a picture now and then, but not every flash after the start.
    const bool oneSecond = std::find(flashes.begin(), flashes.end(), 1.0) != flashes.end();
    const bool twoSeconds = std::find(flashes.begin(), flashes.end(), 2.0) != flashes.end();
    EXPECT_TRUE(oneSecond || twoSeconds) << player.Statistics().PicturesDropped << " dropped";
    EXPECT_LT(player.Statistics().MaxAVOffset, 0.1);
}

TEST_F(PlayerTest, SeeksWhilePausedShowWhereTheyLandAndPlayingGoesOnFromThere) {
    TRecordingSink sink;  // outlives the player, which paints into it
    TFFPlayer player;
    TReports reports(player);
    ASSERT_TRUE(player.Open(Clip("flash.mp4"), &sink, false)) << player.LastError();
    ASSERT_TRUE(ServeUntil([&] { return player.CurrentPosition() > 300000; }, 5));
    player.Pause();
    ServeFor(0.3);  // the decoder fills the picture queue and waits
    auto frameTime = [&] {
        std::int64_t pts = -1;
        player.CurrentFrame(&pts);
        return pts;
    };
    auto frameBrightness = [&] {
        const TFrameBitmap& f = player.CurrentFrame();
        double sum = 0;
        int n = 0;
        for (int y = 0; y < f.Height(); y += 5)
            for (int x = 0; x < f.Width(); x += 5, ++n) sum += f.Row(y)[x * 3 + 1];
        return n ? sum / n : -1;
    };
    EXPECT_LT(frameBrightness(), 50) << "a black picture between the flashes";
    // Two drags of the seek bar while paused: each shows the white picture it lands on, and
    // that is what a snapshot takes.
    for (const std::int64_t target : {1000000, 2000000}) {
        player.Seek(0, false, target);
        EXPECT_TRUE(ServeUntil([&] { return std::llabs(frameTime() - target) < 1000; }, 2))
            << target << " shows " << frameTime();
        EXPECT_GT(frameBrightness(), 200) << target;
        ServeFor(0.2);
    }
    EXPECT_TRUE(player.Paused());
    const std::size_t shownWhilePaused = sink.Seen().size();
    player.Resume();
    ASSERT_TRUE(ServeUntil([&] { return reports.Count(psEnd) > 0; }, 4)) << "pictures go on after the seeks";
    const auto seen = sink.Seen();
    ASSERT_GT(seen.size(), shownWhilePaused + 10);
    EXPECT_NEAR(seen[shownWhilePaused].Pts, 2.04, 0.05) << "playing goes on from the second seek";
    EXPECT_GT(seen.back().Pts, 2.5) << "played on towards the end";
}

TEST_F(PlayerTest, AReadErrorEndsThePlaybackAfterWhatWasRead) {
    TRecordingSink sink;  // outlives the player, which paints into it
    TFFPlayer player;
    TReports reports(player);
    ASSERT_TRUE(player.Open(Clip("unreadable.mp4"), &sink, false)) << player.LastError();
    ASSERT_TRUE(ServeUntil([&] { return reports.Count(psEnd) > 0; }, 5)) << "the reading stopped: that is the end";
    const auto seen = sink.Seen();
    ASSERT_FALSE(seen.empty());
    EXPECT_NEAR(seen.back().Pts, 0.96, 0.05) << "the first second, read before the error, is shown";
    ServeFor(0.2);
    EXPECT_EQ(reports.Count(psEnd), 1);
}

TEST_F(PlayerTest, SoundThatChangesRateAndChannelsMidStreamPlaysAtItsOwnSpeed) {
    TFFPlayer player;
    TReports reports(player);
    const std::string clip = Clip("ratechange.ts");
    const double start = Seconds();
    ASSERT_TRUE(player.Open(clip, nullptr, false)) << player.LastError();
    ASSERT_TRUE(ServeUntil([&] { return reports.Count(psEnd) > 0; }, 6));
    // Converted for the first second's rate, the second second took 2.8 s more.
    const double took = Seconds() - start;
    EXPECT_GT(took, 1.8);
    EXPECT_LT(took, 3.0) << "two seconds of sound take two seconds";
}

TEST_F(PlayerTest, ARedrawShowsTheSubtitleAsItWasNotBlendedAgain) {
    TRecordingSink sink;  // outlives the player, which paints into it
    TFFPlayer player;
    TReports reports(player);
    ASSERT_TRUE(player.Open(Clip("subtitled.mkv"), &sink, false)) << player.LastError();
    ASSERT_TRUE(ServeUntil([&] { return player.CurrentPosition() > 500000; }, 5));
    player.Pause();
    ServeFor(0.1);
    const std::size_t shown = sink.Seen().size();
    ASSERT_GT(shown, 0u);
    const int corner = sink.Seen().back().Corner[1];
    EXPECT_GT(corner, 100) << "half-opaque white over black";
    EXPECT_LT(corner, 160);
    // Each change of shape redraws the picture on show: the subtitle stays as it was.
    player.SetAspectRatio(2.0f);
    ASSERT_TRUE(ServeUntil([&] { return sink.Seen().size() == shown + 1; }, 1));
    player.SetAspectRatio(1.0f);
    ASSERT_TRUE(ServeUntil([&] { return sink.Seen().size() == shown + 2; }, 1));
    EXPECT_EQ(sink.Seen()[shown].Corner[1], corner);
    EXPECT_EQ(sink.Seen()[shown + 1].Corner[1], corner);
}

TEST_F(PlayerTest, BadFilesFailToOpenWithTheReason) {
    testsupport::TempDir dir;
    const std::string empty = dir.file("empty.mp4");
    testsupport::WriteFile(empty, "");
    std::string noise(65536, '\0');
    std::mt19937 random(7);
    for (char& c : noise) c = char(random());
    const std::string noisy = dir.file("noise.avi");
    testsupport::WriteFile(noisy, noise);
    // Index at the end, cut in half: the index never arrives.
    const std::string whole = dir.file("whole.mp4");
    testsupport::MakeClip(whole, 1, {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    const std::string data = testsupport::ReadFile(whole);
    const std::string cut = dir.file("cut.mp4");
    testsupport::WriteFile(cut, data.substr(0, data.size() / 2));

    TRecordingSink sink;  // outlives the player, which paints into it
    TFFPlayer player;
    TReports reports(player);
    EXPECT_FALSE(player.Open(empty, &sink, false));
    EXPECT_EQ(player.LastError(), ErrorText(empty, AVERROR_INVALIDDATA));
    EXPECT_FALSE(player.Open(cut, &sink, false));
    EXPECT_EQ(player.LastError(), ErrorText(cut, AVERROR_INVALIDDATA));
    EXPECT_FALSE(player.Open(noisy, &sink, false));
    const std::string& e = player.LastError();
    EXPECT_TRUE(e == ErrorText(noisy, AVERROR_INVALIDDATA) || e == noisy + ": could not find codec parameters" ||
                e == noisy + ": could not open codecs, no stream to play.")
        << e;
    EXPECT_FALSE(player.Open(dir.file("missing.mp4"), &sink, false));
    EXPECT_EQ(player.LastError(), ErrorText(dir.file("missing.mp4"), AVERROR(ENOENT)));
    // No sound device to be had: the reason names SDL's own.
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FALSE(player.Open(Clip("tone.m4a"), nullptr, false));
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    EXPECT_EQ(player.LastError().rfind("Could not initialize SDL with ScreenHandle(0): ", 0), 0u) << player.LastError();
    EXPECT_GT(player.LastError().size(), std::string("Could not initialize SDL with ScreenHandle(0): ").size());
    ServeFor(0.05);
    EXPECT_TRUE(reports.States.empty());
    EXPECT_TRUE(reports.Positions.empty());
    EXPECT_EQ(reports.Duration, -2) << "no open event";
    EXPECT_TRUE(sink.Seen().empty());
    EXPECT_FALSE(player.Playing());
}

TEST(PictureRect, KeepsTheShapeCentredWithEvenSides) {
    const TPictureRect wide = PictureRect(243, 171, 16.0 / 9.0);
    EXPECT_EQ(wide.Width, 243);
    EXPECT_EQ(wide.Height, 136);
    EXPECT_EQ(wide.X, 0);
    EXPECT_EQ(wide.Y, 17);
    const TPictureRect square = PictureRect(243, 171, 4.0 / 3.0);
    EXPECT_EQ(square.Height, 171);
    EXPECT_EQ(square.Width, 228);
    EXPECT_EQ(square.X, 7);
    const TPictureRect fill = PictureRect(243, 171, 0);
    EXPECT_EQ(fill.Width, 243);
    EXPECT_EQ(fill.Height, 171);
}

TEST(PlayTime, TextsOfSecondsAndMicroseconds) {
    EXPECT_EQ(FormatSeconds(3725), "1:02:05");
    EXPECT_EQ(FormatSeconds(-4), "0:00:00");
    EXPECT_EQ(FormatSeconds(90000), "25:00:00");
    EXPECT_EQ(FormatPlayTime(3723456789), "01:02:03.456");
    EXPECT_EQ(FormatPlayTime(0), "00:00:00.000");
    EXPECT_EQ(FormatPlayTime(100LL * 3600 * 1000000), "100:00:00.000");
}
