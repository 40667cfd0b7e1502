// Options given on the output side mean what they say there: a start position cuts the
// output, "b" is the video bit rate, and a source without sound gives a plain reason.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/engine/EngineTestSupport.h"

using namespace enginetest;
using testsupport::ProbeValue;

namespace {

// 3 s of picture and sound.
const std::string& ThreeSecondClip() {
    static const std::string path = [] {
        std::string p = Scratch().file("three.mp4");
        testsupport::MakeClip(p, 3.0, {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
        return p;
    }();
    return path;
}

TEST(OutputStart, CutsTheOutputAndCountsTheRecordingTimeFromIt) {
    Job cut{{ThreeSecondClip()}, {}, Scratch().file("ss_out.mp4"), {{"vcodec", "mpeg4"}, {"ss", "1"}}};
    Outcome r = Convert(cut);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NEAR(ProbeDouble(cut.output, "format=duration"), 2.0, 0.1);
    EXPECT_NEAR(CountFrames(cut.output), 50, 1);
    EXPECT_NEAR(ProbeDouble(cut.output, "stream=duration", "a:0"), 2.0, 0.1);
    // The first picture is the one at 1 s of the source.
    EXPECT_NEAR(Mean(GrayFrame(cut.output, 320, 240, 0)), Mean(GrayFrame(ThreeSecondClip(), 320, 240, 25)), 2.0);

    Job window{{ThreeSecondClip()}, {}, Scratch().file("ss_t_out.mp4"), {{"vcodec", "mpeg4"}, {"ss", "1"}, {"t", "1"}}};
    r = Convert(window);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NEAR(ProbeDouble(window.output, "format=duration"), 1.0, 0.1);
    EXPECT_NEAR(CountFrames(window.output), 25, 1);
}

TEST(BitRateOption, ALoneBIsTheVideoBitRateOnly) {
    auto audioRate = [](const std::string& name, const Options& options) {
        Job job{{BasicClip()}, {}, Scratch().file(name), options};
        Outcome r = Convert(job);
        EXPECT_TRUE(r.ok) << r.error;
        return ProbeInt(job.output, "stream=bit_rate", "a:0");
    };
    const int plain = audioRate("b_none.mp3", {});
    const int withB = audioRate("b_only.mp3", {{"b", "800000"}});
    EXPECT_EQ(withB, plain);
    EXPECT_LT(withB, 320000);
    EXPECT_EQ(audioRate("ab_only.mp3", {{"ab", "96000"}}), 96000);

    // In a file with both, the picture takes the rate and the sound keeps its own.
    auto rates = [](const std::string& name, const char* b) {
        Job job{{ThreeSecondClip()}, {}, Scratch().file(name), {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}, {"b", b}}};
        Outcome r = Convert(job);
        EXPECT_TRUE(r.ok) << r.error;
        return std::pair{ProbeInt(job.output, "stream=bit_rate", "v:0"), ProbeInt(job.output, "stream=bit_rate", "a:0")};
    };
    const auto low = rates("b_low.avi", "150000"), high = rates("b_high.avi", "1500000");
    EXPECT_LT(low.first * 2, high.first);
    EXPECT_EQ(low.second, high.second);
    EXPECT_LT(high.second, 320000);
}

TEST(NoSound, AnAudioOutputOfASilentSourceSaysThereIsNoAudioStream) {
    Job job{{ClipAtRate("25", 1.0)}, {}, Scratch().file("silent.mp3"), {}};
    Outcome r = Convert(job);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "The file has no audio stream to convert");
    // The library-style text stays in the log for whoever reads it.
    EXPECT_NE(std::find(r.log.begin(), r.log.end(), "Output file #0 does not contain any stream"), r.log.end());

    // An output that asked for nothing at all keeps the engine's own text.
    Job nothing{{BasicClip()}, {}, Scratch().file("nothing.mp4"), {{"vn", "1"}, {"an", "1"}}};
    r = Convert(nothing);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Output file #0 does not contain any stream");
}

}  // namespace

namespace {

// 10-bit 4:2:2, as cameras record.
const std::string& CameraClip() {
    static const std::string path = [] {
        std::string p = Scratch().file("camera.mov");
        testsupport::MakeClip(p, 0.4, {"-s", "160x120", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                                       "yuv422p10le", "-c:a", "aac"});
        return p;
    }();
    return path;
}

TEST(PixelFormat, DeepOrDenseSourcesBecomeEightBit420UnlessAFormatIsAsked) {
    ASSERT_EQ(ProbeValue(CameraClip(), "stream=pix_fmt", "v:0"), "yuv422p10le");
    const struct {
        const char* file;
        Options options;
        const char* pixels;
    } cases[] = {
        {"deep.mp4", {{"vcodec", "libx264"}}, "yuv420p"},
        {"deep.mpg", {{"vcodec", "mpeg2video"}}, "yuv420p"},
        {"deep.avi", {{"vcodec", "mjpeg"}}, "yuvj420p"},
        {"asked.mp4", {{"vcodec", "libx264"}, {"pix_fmt", "yuv422p"}}, "yuv422p"},
    };
    for (const auto& c : cases) {
        Job job{{CameraClip()}, {}, Scratch().file(c.file), c.options};
        Outcome r = Convert(job);
        ASSERT_TRUE(r.ok) << c.file << ": " << r.error;
        EXPECT_EQ(ProbeValue(job.output, "stream=pix_fmt", "v:0"), c.pixels) << c.file;
    }
}

// The program mux rate of the first MPEG-2 pack header, bit/s.
int64_t PackMuxRate(const std::string& file) {
    const std::string bytes = testsupport::ReadFile(file);
    const size_t i = bytes.find(std::string("\x00\x00\x01\xba", 4));
    if (i == std::string::npos || i + 13 > bytes.size()) return -1;
    auto b = [&](size_t k) { return int64_t(static_cast<unsigned char>(bytes[i + k])); };
    return ((b(10) << 14) | (b(11) << 6) | (b(12) >> 2)) * 400;
}

TEST(MuxerOptions, ReachTheMuxerAndThoseNoOneTookAreLogged) {
    Job dvd{{BasicClip()}, {}, Scratch().file("rate.vob"), {{"vcodec", "mpeg2video"}, {"muxrate", "8000000"}}};
    Outcome r = Convert(dvd);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(PackMuxRate(dvd.output), 8000000);

    Job mp4{{BasicClip()}, {}, Scratch().file("rate.mp4"), {{"vcodec", "mpeg4"}, {"muxrate", "8000000"}}};
    r = Convert(mp4);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(std::find(r.log.begin(), r.log.end(), "Option muxrate not used by muxer mp4"), r.log.end());
}

}  // namespace
