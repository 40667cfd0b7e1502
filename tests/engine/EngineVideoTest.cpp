// Picture geometry, frame-rate conversion and the frame hook.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "tests/engine/EngineTestSupport.h"

using namespace enginetest;

TEST(Geometry, ScaledPictureIsPaddedWithBlackBands) {
    Job job{{BasicClip()}, {}, Scratch().file("pad.mp4"), {{"s", "320x180"}, {"vf", "pad=320:240:0:30"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    ProbeReport p(job.output);
    EXPECT_EQ(p.Int("v.width"), 320);
    EXPECT_EQ(p.Int("v.height"), 240);
    std::string frame = GrayFrame(job.output, 320, 240, 5);
    ASSERT_EQ(frame.size(), 320u * 240u);
    const size_t row = 320;
    EXPECT_LT(Mean(frame, 0, 28 * row), 20.0);                 // top band
    EXPECT_LT(Mean(frame, 212 * row, 28 * row), 20.0);         // bottom band
    EXPECT_GT(Mean(frame, 40 * row, 160 * row), 40.0);         // the picture
}

TEST(Geometry, CropBandsCutThePictureAndAreRefusedOutsideTheFrame) {
    Job job{{BasicClip()}, {}, Scratch().file("crop.mp4"), {{"croptop", "40"}, {"cropbottom", "40"}, {"cropleft", "16"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    ProbeReport p(job.output);
    EXPECT_EQ(p.Int("v.width"), 304);
    EXPECT_EQ(p.Int("v.height"), 160);
    // Row 0 of the output is row 40 of the source.
    std::string src = GrayFrame(BasicClip(), 320, 240, 3);
    std::string out = GrayFrame(job.output, 304, 160, 3);
    double diff = 0;
    for (int x = 0; x < 304; ++x)
        diff += std::abs(int(static_cast<unsigned char>(src[50 * 320 + 16 + x])) - int(static_cast<unsigned char>(out[10 * 304 + x])));
    EXPECT_LT(diff / 304, 12.0);

    Job outside{{BasicClip()}, {}, Scratch().file("crop_bad.mp4"), {{"croptop", "240"}}};
    r = Convert(outside);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Vertical crop dimensions are outside the range of the original image.\n"
                       "Remember to crop first and scale second.");
    Job wide{{BasicClip()}, {}, Scratch().file("crop_bad2.mp4"), {{"cropleft", "400"}}};
    r = Convert(wide);
    EXPECT_EQ(r.error, "Horizontal crop dimensions are outside the range of the original image.\n"
                       "Remember to crop first and scale second.");
}

TEST(FrameRate, ConstantRateDuplicatesEveryFrameOfAHalfRateSource) {
    std::string half = ClipAtRate("12.5", 2.0);  // 25 frames
    Job job{{half}, {}, Scratch().file("dup.avi"), {{"r", "25"}, {"vsync", "1"}, {"vcodec", "mpeg4"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    // The first frames settle the clock; from then on every frame is repeated once.
    EXPECT_GE(r.dups, 23);
    EXPECT_LE(r.dups, 25);
    EXPECT_EQ(r.drops, 0);
    EXPECT_EQ(CountFrames(job.output), 25 + int(r.dups));
    ProbeReport p(job.output);
    EXPECT_EQ(p["v.r_frame_rate"], "25/1");
}

TEST(FrameRate, VariableRateDropsFramesThatArriveEarly) {
    std::string fast = ClipAtRate("50", 1.0);  // 50 frames
    Job job{{fast}, {}, Scratch().file("drop.mp4"), {{"r", "25"}, {"vsync", "2"}, {"vcodec", "mpeg4"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_GE(r.drops, 20);
    EXPECT_EQ(r.dups, 0);
    EXPECT_EQ(CountFrames(job.output), 50 - int(r.drops));

    // Passing timestamps through drops nothing.
    Job same{{fast}, {}, Scratch().file("nodrop.mp4"), {{"vsync", "0"}, {"vcodec", "mpeg4"}}};
    r = Convert(same);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.drops, 0);
    EXPECT_EQ(CountFrames(same.output), 50);
}

TEST(FrameHook, AnInvertingHookChangesTheOutputAndStopHookEndsTheCalls) {
    int calls = 0;
    Job job{{BasicClip()}, {}, Scratch().file("inverted.mp4"), {{"vcodec", "mpeg4"}, {"qscale", "2"}}};
    job.setup = [&](TCustomFFmpeg& task) {
        task.OnCustomHook = [&](TFrameBitmap& bmp, bool& update, bool&, int64_t, int frameNumber) {
            ++calls;
            EXPECT_EQ(frameNumber, calls);
            EXPECT_EQ(bmp.Width(), 320);
            EXPECT_EQ(bmp.Height(), 240);
            for (int y = 0; y < bmp.Height(); ++y)
                for (int x = 0; x < bmp.Width() * 3; ++x) bmp.Row(y)[x] = uint8_t(255 - bmp.Row(y)[x]);
            update = true;
        };
    };
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(calls, 25);
    const double src = Mean(GrayFrame(BasicClip(), 320, 240, 4));
    const double out = Mean(GrayFrame(job.output, 320, 240, 4));
    EXPECT_NEAR(out, 255.0 - src, 6.0);

    // A hook that asks to stop is called once and leaves the frames as they are.
    int stopCalls = 0;
    Job stop{{BasicClip()}, {}, Scratch().file("stophook.mp4"), {{"vcodec", "mpeg4"}, {"qscale", "2"}}};
    stop.setup = [&](TCustomFFmpeg& task) {
        task.OnCustomHook = [&](TFrameBitmap&, bool& update, bool& stopHook, int64_t, int) {
            ++stopCalls;
            update = false;
            stopHook = true;
        };
    };
    r = Convert(stop);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(stopCalls, 1);
    EXPECT_EQ(CountFrames(stop.output), 25);
    EXPECT_NEAR(Mean(GrayFrame(stop.output, 320, 240, 4)), src, 3.0);

    // An error raised by the hook keeps the frame and the task.
    Job throwing{{BasicClip()}, {}, Scratch().file("throwhook.mp4"), {{"vcodec", "mpeg4"}}};
    throwing.setup = [&](TCustomFFmpeg& task) {
        task.OnCustomHook = [&](TFrameBitmap& bmp, bool&, bool&, int64_t, int) {
            bmp.Row(0)[0] = 0;
            throw std::runtime_error("drawing failed");
        };
    };
    r = Convert(throwing);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.finished);
    bool logged = false;
    for (const auto& line : r.log) logged |= line == "Error occurs OnCustomHook: drawing failed";
    EXPECT_TRUE(logged);
}

TEST(StopRequest, StopsInTheMiddleOfARunOfDuplicates) {
    std::string slow = ClipAtRate("1", 2.0);  // 2 frames, each repeated 24 times at 25 fps
    int encoded = 0;
    Job job{{slow}, {}, Scratch().file("stopdup.avi"), {{"r", "25"}, {"vsync", "1"}, {"vcodec", "mpeg4"}}};
    job.setup = [&](TCustomFFmpeg& task) {
        task.PreviewFlags = 2;
        task.OnPreviewBitmap = [&](const TFrameBitmap&, int64_t, int) {
            if (++encoded == 1) task.RequestStop();
        };
    };
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.finished);
    EXPECT_EQ(encoded, 1);
    EXPECT_FALSE(std::filesystem::exists(job.output));  // a stopped run leaves no file behind
}

TEST(Geometry, APictureSizeChangeMidwayKeepsTheOutputSizeAndTheClock) {
    // The second part restarts its clock, which the engine takes as a discontinuity.
    Job job{{SizeChangingClip()}, {}, Scratch().file("glued.mp4"), {{"vcodec", "mpeg4"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    bool logged = false;
    for (const auto& line : r.log) logged |= line == "Input Stream #0.0 frame size changed to 160x120, yuv420p";
    EXPECT_TRUE(logged);
    ProbeReport p(job.output);
    EXPECT_EQ(p.Int("v.width"), 320);
    EXPECT_EQ(p.Int("v.height"), 240);
    EXPECT_NEAR(p.Double("format.duration"), 2.0, 0.1);
    EXPECT_GE(CountFrames(job.output), 48);
}
