// Real conversions of generated clips, read back with ffprobe.
#include <gtest/gtest.h>

#include "tests/engine/EngineTestSupport.h"

using namespace enginetest;
using testsupport::ProbeValue;

namespace {

struct Case {
    const char* name;
    const char* output;  // file name in the scratch folder
    Options options;
    const char* format;  // ffprobe format_name
    const char* video;   // codec name, "" = no video stream
    const char* audio;   // codec name, "" = no audio stream
    int width, height;
    const char* rate;    // r_frame_rate
    int sampleRate, channels;
    bool audioSource = false;  // convert the tone-only clip
};

const std::string& ToneClip() {
    static const std::string path = [] {
        std::string p = Scratch().file("tone.wav");
        testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                          "sine=frequency=440:sample_rate=44100", "-t", "1", "-ac", "2", p});
        return p;
    }();
    return path;
}

class Conversion : public ::testing::TestWithParam<Case> {};

TEST_P(Conversion, ProducesTheExpectedStreams) {
    const Case& c = GetParam();
    Job job;
    job.inputs = {c.audioSource ? ToneClip() : BasicClip()};
    job.output = Scratch().file(c.output);
    job.outputOptions = c.options;
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.finished);
    ProbeReport p(job.output);
    EXPECT_EQ(p["format.format_name"], c.format);
    EXPECT_EQ(p["v.codec_name"], c.video);
    EXPECT_EQ(p["a.codec_name"], c.audio);
    if (*c.video) {
        EXPECT_EQ(p.Int("v.width"), c.width);
        EXPECT_EQ(p.Int("v.height"), c.height);
        EXPECT_EQ(p["v.r_frame_rate"], c.rate);
    }
    if (*c.audio) {
        EXPECT_EQ(p.Int("a.sample_rate"), c.sampleRate);
        EXPECT_EQ(p.Int("a.channels"), c.channels);
    }
    EXPECT_NEAR(p.Double("format.duration"), 1.0, 0.15);
}

const Case kCases[] = {
    {"IpodMpeg4Aac", "ipod.m4v", {{"f", "ipod"}, {"vcodec", "mpeg4"}, {"acodec", "aac"}}, "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 320, 240, "25/1", 44100, 1},
    {"X264IpodPreset", "x264ipod.mp4", {{"vcodec", "libx264"}, {"vpre", "libx264-ipod"}, {"acodec", "aac"}},
     "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 320, 240, "25/1", 44100, 1},
    {"X264PspPreset", "x264psp.mp4", {{"vcodec", "libx264"}, {"vpre", "libx264-psp"}, {"s", "320x240"}},
     "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 320, 240, "25/1", 44100, 1},
    {"XvidMp3Avi", "xvid.avi", {{"vcodec", "libxvid"}, {"acodec", "libmp3lame"}}, "avi", "mpeg4", "mp3", 320, 240, "25/1", 44100, 1},
    {"Wmv2Wmav2Asf", "wmv.asf", {{"vcodec", "wmv2"}, {"acodec", "wmav2"}, {"ar", "44100"}}, "asf", "wmv2", "wmav2", 320, 240, "25/1", 44100, 1},
    {"Flv", "clip.flv", {}, "flv", "flv1", "mp3", 320, 240, "25/1", 44100, 1},
    {"PalDvd", "dvd.mpg", {{"target", "pal-dvd"}}, "mpeg", "mpeg2video", "ac3", 720, 576, "25/1", 48000, 2},
    {"NtscVcd", "vcd.mpg", {{"target", "ntsc-vcd"}}, "mpeg", "mpeg1video", "mp2", 352, 240, "30000/1001", 44100, 2},
    {"PalSvcd", "svcd.mpg", {{"target", "pal-svcd"}}, "mpeg", "mpeg2video", "mp2", 480, 576, "25/1", 44100, 2},
    {"PalDv", "clip.dv", {{"target", "pal-dv"}}, "dv", "dvvideo", "pcm_s16le", 720, 576, "25/1", 48000, 2},
    {"MkvX264", "clip.mkv", {{"vcodec", "libx264"}}, "matroska,webm", "h264", "vorbis", 320, 240, "25/1", 44100, 1},
    {"AudioMp3", "tone.mp3", {}, "mp3", "", "mp3", 0, 0, "", 44100, 2, true},
    {"AudioAac", "tone.aac", {}, "aac", "", "aac", 0, 0, "", 44100, 2, true},
    {"AudioAc3", "tone.ac3", {{"ab", "192000"}}, "ac3", "", "ac3", 0, 0, "", 44100, 2, true},
    {"AudioWav", "tone2.wav", {{"ar", "22050"}}, "wav", "", "pcm_s16le", 0, 0, "", 22050, 2, true},
    {"AudioOgg", "tone.ogg", {{"acodec", "libvorbis"}}, "ogg", "", "vorbis", 0, 0, "", 44100, 2, true},
    {"AudioMp3FromVideo", "fromvideo.mp3", {}, "mp3", "", "mp3", 0, 0, "", 44100, 1},
};

INSTANTIATE_TEST_SUITE_P(Formats, Conversion, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConversionDetails, TargetDvdMarksWidescreenWhenNoAspectIsSet) {
    Job job{{BasicClip()}, {}, Scratch().file("dvd169.mpg"), {{"target", "pal-dvd"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(ProbeValue(job.output, "stream=display_aspect_ratio", "v:0"), "16:9");

    Job fourThree{{BasicClip()}, {}, Scratch().file("dvd43.mpg"), {{"aspect", "4:3"}, {"target", "pal-dvd"}}};
    r = Convert(fourThree);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(ProbeValue(fourThree.output, "stream=display_aspect_ratio", "v:0"), "4:3");
}

TEST(ConversionDetails, SixChannelsAt48kHzBecomeStereoAt44kHz) {
    std::string six = Scratch().file("six.ac3");
    testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=300:sample_rate=48000",
                      "-af", "pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0", "-t", "1", "-c:a", "ac3", six});
    ASSERT_EQ(ProbeInt(six, "stream=channels", "a:0"), 6);
    Job job{{six}, {}, Scratch().file("stereo.mp3"), {{"ac", "2"}, {"ar", "44100"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(ProbeInt(job.output, "stream=channels", "a:0"), 2);
    EXPECT_EQ(ProbeInt(job.output, "stream=sample_rate", "a:0"), 44100);
    EXPECT_NEAR(ProbeDouble(job.output, "format=duration"), 1.0, 0.1);
}

TEST(ConversionDetails, StartAndLengthTrimTheOutput) {
    std::string longer = ClipAtRate("25", 2.0);
    Job job{{longer}, {{"ss", "0.5"}}, Scratch().file("trim.mp4"), {{"t", "1"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NEAR(ProbeDouble(job.output, "format=duration"), 1.0, 0.05);
    EXPECT_EQ(CountFrames(job.output), 25);
    // The progress total is the recording time.
    ASSERT_FALSE(r.reports.empty());
    EXPECT_EQ(r.reports.back().TotalDuration, 1000000);
    EXPECT_EQ(r.reports.back().FileIndex, -1);
    // The first frame is the one at 0.5 s of the source: same picture.
    std::string src = GrayFrame(longer, 320, 240, 13);
    std::string out = GrayFrame(job.output, 320, 240, 0);
    EXPECT_NEAR(Mean(src), Mean(out), 2.0);
}

TEST(ConversionDetails, StreamCopyKeepsThePackets) {
    Job job{{BasicClip()}, {}, Scratch().file("copy.mkv"), {{"vcodec", "copy"}, {"acodec", "copy"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(ProbeValue(job.output, "stream=codec_name", "v"), "h264");
    EXPECT_EQ(ProbeValue(job.output, "stream=codec_name", "a"), "aac");
    EXPECT_EQ(CountFrames(job.output), 25);
    EXPECT_EQ(ProbeValue(job.output, "stream=profile", "v:0"), ProbeValue(BasicClip(), "stream=profile", "v:0"));
}

TEST(ConversionDetails, TwoJoinedInputsMakeOneOutputOfTheSummedLength) {
    std::string second = ClipAtRate("25", 1.0);
    Job job{{BasicClip(), second}, {}, Scratch().file("joined.mp4"), {{"vcodec", "mpeg4"}, {"an", "1"}}, true};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    const double d1 = ProbeDouble(BasicClip(), "format=duration");
    const double d2 = ProbeDouble(second, "format=duration");
    EXPECT_NEAR(double(r.totalDuration) / 1e6, d1 + d2, 0.05);
    EXPECT_NEAR(ProbeDouble(job.output, "format=duration"), 2.0, 0.1);
    EXPECT_EQ(CountFrames(job.output), 50);
}
}  // namespace
