#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "engine/LibAVApi.h"
#include "player/AVProbe.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::MakeClip;
using testsupport::TempDir;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The clips are made once for the whole suite; each is 1 s and small.
class AVProbeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FFLogger().TriggerEventInMainThread = false;
        ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError();
        FFLogger().SetLogLevel(llQuiet);
        Dir = new TempDir;
        // H.264 and AAC at 25 fps, with a title and a creation time.
        MakeClip(File("h264.mp4"), 1,
                 {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-metadata", "title=Probe clip",
                  "-metadata", "creation_time=2010-01-02T03:04:05Z"});
        // MPEG-4 part 2 at 30000/1001 fps.
        MakeClip(File("ntsc.mp4"), 1, {"-map", "0:v", "-r", "30000/1001", "-c:v", "mpeg4"});
        // MPEG-2 in a transport stream: programs, stream ids, a 1/90000 time base, and an
        // audio stream whose only tag is its language.
        MakeClip(File("clip.ts"), 1, {"-c:v", "mpeg2video", "-c:a", "mp2", "-metadata:s:a:0", "language=eng"});
        // Sound only.
        MakeClip(File("tone.m4a"), 1, {"-map", "1:a", "-c:a", "aac"});
        // A container that states another picture shape than the pictures themselves.
        testsupport::Run({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", File("h264.mp4"), "-c", "copy",
                          "-aspect", "16:9", File("wide.mov")});
    }
    static void TearDownTestSuite() {
        delete Dir;
        Dir = nullptr;
    }
    static std::string File(const std::string& name) { return Dir->file(name); }

    static TempDir* Dir;
};
TempDir* AVProbeTest::Dir = nullptr;

std::string LineStarting(const std::string& text, const std::string& start) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        if (text.compare(pos, start.size(), start) == 0) return text.substr(pos, end - pos);
        pos = end + 1;
    }
    return "";
}

}  // namespace

TEST(AVProbeTexts, RatesPrintTwoDecimalsOnlyWhenNeededAndThousandsAsK) {
    EXPECT_EQ(RateText(30000.0 / 1001.0, "fps"), ", 29.97 fps");
    EXPECT_EQ(RateText(25, "fps"), ", 25 fps");
    EXPECT_EQ(RateText(90000, "tbn"), ", 90k tbn");
    EXPECT_EQ(RateText(12800, "tbn"), ", 12800 tbn");
    EXPECT_EQ(RateText(1000, "tbn"), ", 1k tbn");
    EXPECT_EQ(RateText(0.5, "tbc"), ", 0.50 tbc");
}

TEST(AVProbeTexts, SecondsKeepSixDigitsAndTheirSign) {
    EXPECT_EQ(SecondsText(1440000), "1.440000");
    EXPECT_EQ(SecondsText(0), "0.000000");
    EXPECT_EQ(SecondsText(-23220), "-0.023220");
}

TEST(AVProbeTexts, TagKeysOfId3FramesGetGenericNames) {
    EXPECT_EQ(MetadataKeyName("TALB"), "album");
    EXPECT_EQ(MetadataKeyName("TT2"), "title");
    EXPECT_EQ(MetadataKeyName("TYER"), "year");
    EXPECT_EQ(MetadataKeyName("talb"), "talb");  // the frame names are matched exactly
    EXPECT_EQ(MetadataKeyName("encoder"), "encoder");
}

TEST(AVProbeTexts, AZeroDenominatorIsRepaired) {
    int num = 1, den = 0;
    RepairTimeBase(num, den);
    EXPECT_EQ(den, 1);
    num = 7, den = 0;
    RepairTimeBase(num, den);
    EXPECT_EQ(den, 7);
    num = 0, den = 0;
    RepairTimeBase(num, den);
    EXPECT_EQ(den, 1);
    num = 1, den = 90000;
    RepairTimeBase(num, den);
    EXPECT_EQ(den, 90000);
}

TEST_F(AVProbeTest, CountsStreamsOfEachKind) {
    TAVProbe probe;
    EXPECT_EQ(probe.StreamCount(), -1);
    ASSERT_TRUE(probe.LoadFile(File("clip.ts"))) << probe.LastError();
    EXPECT_EQ(probe.StreamCount(), 2);
    EXPECT_EQ(probe.ProgramCount(), 1);
    EXPECT_EQ(probe.VideoStreamCount(), 1);
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    EXPECT_EQ(probe.SubtitleStreamCount(), 0);
    EXPECT_EQ(probe.FirstVideoStreamIndex(), 0);
    EXPECT_EQ(probe.FirstAudioStreamIndex(), 1);
    EXPECT_EQ(probe.FirstSubtitleStreamIndex(), -1);
    EXPECT_EQ(probe.FileSize(), std::int64_t(fs::file_size(File("clip.ts"))));
    EXPECT_EQ(probe.InputFormatName(), "mpegts");
    EXPECT_EQ(probe.FileName(), File("clip.ts"));
    EXPECT_TRUE(probe.IsVideoStream(0));
    EXPECT_TRUE(probe.IsAudioStream(1));
    EXPECT_FALSE(probe.IsAudioStream(0));
    EXPECT_EQ(probe.DefaultStreamIndex(), 0);

    probe.CloseFile();
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.FileSize(), -1);
    EXPECT_EQ(probe.VideoStreamCount(), -1);
    EXPECT_EQ(probe.FirstAudioStreamIndex(), -1);
    EXPECT_EQ(probe.DefaultStreamIndex(), -1);
}

TEST_F(AVProbeTest, VideoAndAudioStreamValues) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(File("h264.mp4"))) << probe.LastError();
    const TVideoStreamInfo v = probe.VideoStreamInfo(-1);
    EXPECT_EQ(v.Width, 320);
    EXPECT_EQ(v.Height, 240);
    EXPECT_FLOAT_EQ(v.DisplayAspectRatio, 4.0f / 3.0f);
    EXPECT_EQ(v.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(v.FrameRateNum, 25);
    EXPECT_EQ(v.FrameRateDen, 1);
    EXPECT_EQ(v.StartTimeUs, 0);
    EXPECT_NEAR(double(v.DurationUs), 1e6, 1e5);
    EXPECT_GT(v.BitRate, 0);
    EXPECT_EQ(v.Language, "und");
    EXPECT_EQ(v.CodecName.rfind("Video: h264", 0), 0u) << v.CodecName;
    // Duration in the stream's own time base: 1/12800 for this muxer.
    EXPECT_NEAR(double(v.Duration), 12800, 1280);

    const TAudioStreamInfo a = probe.AudioStreamInfo(-1);
    EXPECT_EQ(a.Channels, 1);
    EXPECT_EQ(a.SampleRate, 44100);
    EXPECT_EQ(a.SampleFormat, AV_SAMPLE_FMT_FLTP);
    EXPECT_EQ(a.CodecName.rfind("Audio: aac", 0), 0u) << a.CodecName;
    EXPECT_EQ(probe.AudioStreamInfo(1).SampleRate, 44100);

    const TFileStreamInfo f = probe.FileStreamInfo();
    EXPECT_EQ(f.Title, "Probe clip");
    EXPECT_EQ(f.TimeStamp, 1262401445);  // 2010-01-02 03:04:05 UTC
    EXPECT_EQ(f.StartTime, 0);
    EXPECT_NEAR(double(f.Duration), 1e6, 1e5);
    EXPECT_GT(f.BitRate, 0);
    EXPECT_EQ(f.Album, "");
}

TEST_F(AVProbeTest, StreamInfoCallsExplainWhatIsWrong) {
    TAVProbe probe;
    TVideoStreamInfo v = probe.VideoStreamInfo(0);
    EXPECT_EQ(probe.LastError(), "file not loaded.");
    EXPECT_EQ(v.Width, -1);
    EXPECT_EQ(probe.FileInfoText(), "");
    EXPECT_FALSE(probe.IsVideoStream(0));

    ASSERT_TRUE(probe.LoadFile(File("h264.mp4")));
    v = probe.VideoStreamInfo(5);
    EXPECT_EQ(probe.LastError(), "stream index #5 is invalid.");
    EXPECT_EQ(v.Height, -1);
    v = probe.VideoStreamInfo(1);
    EXPECT_EQ(probe.LastError(), "stream #1 is not video stream.");
    EXPECT_EQ(v.CodecName, "");
    const TAudioStreamInfo a = probe.AudioStreamInfo(0);
    EXPECT_EQ(probe.LastError(), "stream #0 is not audio stream.");
    EXPECT_EQ(a.SampleRate, -1);
    EXPECT_FALSE(probe.IsVideoStream(-1));
    EXPECT_EQ(probe.LastError(), "stream index #-1 is invalid.");
}

TEST_F(AVProbeTest, VideoInfoOfASoundOnlyFileIsAllUnknown) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(File("tone.m4a"))) << probe.LastError();
    const TVideoStreamInfo v = probe.VideoStreamInfo(-1);
    EXPECT_EQ(probe.LastError(), "no video stream.");
    EXPECT_EQ(v.Width, -1);
    EXPECT_EQ(v.Height, -1);
    EXPECT_EQ(v.BitRate, -1);
    EXPECT_EQ(v.StartTime, -1);
    EXPECT_EQ(v.StartTimeUs, -1);
    EXPECT_EQ(v.Duration, -1);
    EXPECT_EQ(v.DurationUs, -1);
    EXPECT_EQ(v.PixelFormat, -1);
    EXPECT_EQ(v.FrameRateNum, -1);
    EXPECT_EQ(v.FrameRateDen, -1);
    EXPECT_FLOAT_EQ(v.DisplayAspectRatio, -1.0f);
    EXPECT_TRUE(v.CodecName.empty() && v.Language.empty());
    EXPECT_EQ(probe.DefaultStreamIndex(), 0);  // the sound stream, with no picture to prefer
}

TEST_F(AVProbeTest, ReportOfAnMp4File) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(File("h264.mp4")));
    const std::string text = probe.FileInfoText();
    EXPECT_EQ(text.rfind("File Name: " + File("h264.mp4") + "\nFormat Name: mov,mp4,m4a,3gp,3g2,mj2\n"
                         "Format Long Name: QuickTime / MOV\nFile Size: ", 0), 0u) << text;
    EXPECT_EQ(LineStarting(text, "File Size: "), "File Size: " + FileSizeText(fs::file_size(File("h264.mp4"))));
    EXPECT_EQ(LineStarting(text, "Duration: "), "Duration: 00:00:01.000");
    EXPECT_EQ(LineStarting(text, "StartTime: "), "StartTime: 0.000000");
    EXPECT_EQ(LineStarting(text, "Bit Rate: "), Format("Bit Rate: %d kb/s", int(probe.FormatContext()->bit_rate / 1000)));
    EXPECT_EQ(LineStarting(text, "Time Stamp: "), "Time Stamp: " + LocalDateTimeText(1262401445));
    EXPECT_TRUE(Contains(text, "\nMetadata:\n")) << text;
    EXPECT_TRUE(Contains(text, "\n  title           : Probe clip\n")) << text;

    const std::string video = LineStarting(text, "Stream #0");
    EXPECT_EQ(video.rfind("Stream #0[0x1](und), 1/12800: Video: h264", 0), 0u) << video;
    EXPECT_TRUE(Contains(video, ", 25 fps, 25 tbr, 12800 tbn, 50 tbc, StartTime: 0.000000, Duration: 00:00:01.000"))
        << video;
    EXPECT_FALSE(Contains(video, "PAR "));
    const std::string audio = LineStarting(text, "Stream #1");
    EXPECT_EQ(audio.rfind("Stream #1[0x2](und), 1/44100: Audio: aac", 0), 0u) << audio;
    EXPECT_FALSE(Contains(audio, "tbn"));  // frame-rate texts belong to pictures
    EXPECT_TRUE(Contains(text.substr(text.find(audio)), "\n  Metadata:\n")) << text;
    EXPECT_TRUE(Contains(text, "\n    handler_name    : SoundHandler\n")) << text;
}

TEST_F(AVProbeTest, ReportShowsNtscRatesWithTwoDecimals) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(File("ntsc.mp4")));
    const std::string video = LineStarting(probe.FileInfoText(), "Stream #0");
    EXPECT_TRUE(Contains(video, ", 29.97 fps, 29.97 tbr, 30k tbn")) << video;
}

TEST_F(AVProbeTest, ReportOfATransportStreamListsItsProgram) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(File("clip.ts")));
    const std::string text = probe.FileInfoText();
    EXPECT_TRUE(Contains(text, "\nProgram 1 FFmpeg@Service01\n  Metadata:\n")) << text;
    const std::string video = LineStarting(text, "Stream #0");
    EXPECT_EQ(video.rfind("Stream #0[0x100], 1/90000: Video: mpeg2video", 0), 0u) << video;
    EXPECT_TRUE(Contains(video, ", 25 fps, 25 tbr, 90k tbn")) << video;
    EXPECT_TRUE(Contains(video, ", StartTime: 1.")) << video;
    // The language is shown in the stream line, and alone it makes no metadata block.
    const std::string audio = LineStarting(text, "Stream #1");
    EXPECT_EQ(audio.rfind("Stream #1[0x101](eng), 1/90000: Audio: mp2", 0), 0u) << audio;
    EXPECT_EQ(text.substr(text.find(audio) + audio.size()), "") << text;
    // Each stream is listed once, under its program.
    EXPECT_EQ(text.find("Stream #0"), text.rfind("Stream #0"));
}

TEST_F(AVProbeTest, ReportShowsTheContainersPictureShapeWhenItDiffers) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(File("wide.mov"))) << probe.LastError();
    const std::string video = LineStarting(probe.FileInfoText(), "Stream #0");
    EXPECT_TRUE(Contains(video, ", PAR 4:3 DAR 16:9, 25 fps")) << video;
}

TEST_F(AVProbeTest, ATimeBaseWithZeroDenominatorReadsAsOneOverOne) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(File("tone.m4a")));
    AVStream* st = probe.FormatContext()->streams[0];
    st->time_base = AVRational{1, 0};
    st->start_time = 2;
    st->duration = 3;
    const TAudioStreamInfo a = probe.AudioStreamInfo(0);
    EXPECT_EQ(st->time_base.den, 1);
    EXPECT_EQ(a.StartTimeUs, 2000000);
    EXPECT_EQ(a.DurationUs, 3000000);
    st->time_base = AVRational{1, 0};
    const std::string line = LineStarting(probe.FileInfoText(), "Stream #0");
    EXPECT_TRUE(Contains(line, ", 1/1: Audio:")) << line;
    EXPECT_TRUE(Contains(line, ", StartTime: 2.000000, Duration: 00:00:03.000")) << line;
}

TEST_F(AVProbeTest, UnknownOrNegativeTimesPrintNotAvailable) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(File("tone.m4a")));
    AVFormatContext* c = probe.FormatContext();
    c->duration = -5;
    c->start_time = -10;
    c->bit_rate = 0;
    c->streams[0]->duration = AV_NOPTS_VALUE;
    c->streams[0]->start_time = AV_NOPTS_VALUE;
    const std::string text = probe.FileInfoText();
    EXPECT_EQ(LineStarting(text, "Duration: "), "Duration: N/A");
    EXPECT_EQ(LineStarting(text, "StartTime: "), "");
    EXPECT_EQ(LineStarting(text, "Bit Rate: "), "Bit Rate: N/A");
    const std::string line = LineStarting(text, "Stream #0");
    EXPECT_FALSE(Contains(line, "StartTime"));
    EXPECT_TRUE(Contains(line, ", Duration: N/A")) << line;
    c->duration = AV_NOPTS_VALUE;
    EXPECT_EQ(LineStarting(probe.FileInfoText(), "Duration: "), "Duration: N/A");
    const TFileStreamInfo f = probe.FileStreamInfo();
    EXPECT_EQ(f.Duration, -1);
    EXPECT_EQ(f.StartTime, -10);
}

TEST_F(AVProbeTest, FileSizeLinesAtTheUnitBoundaries) {
    // Raw 8-bit sound: any length is a valid file, so the size is exactly what we write.
    TempDir dir;
    const std::pair<size_t, const char*> cases[] = {
        {1024, "File Size: 1024 Byte"}, {1025, "File Size: 1.00 KB"}, {1048576, "File Size: 1024.00 KB"}};
    for (const auto& [size, expected] : cases) {
        const std::string file = dir.file(std::to_string(size) + ".raw");
        testsupport::WriteFile(file, std::string(size, char(0x80)));
        TAVProbe probe;
        ASSERT_TRUE(probe.LoadFile(file, "u8")) << probe.LastError();
        EXPECT_EQ(probe.ForcedFormatName(), "u8");
        EXPECT_EQ(LineStarting(probe.FileInfoText(), "File Size: "), expected);
        probe.CloseFile();
        EXPECT_EQ(probe.ForcedFormatName(), "");
    }
}

TEST_F(AVProbeTest, AnUnknownForcedFormatIsRefusedByName) {
    TAVProbe probe;
    EXPECT_FALSE(probe.LoadFile(File("h264.mp4"), "nosuchformat"));
    EXPECT_EQ(probe.LastError(), "Unknown input format: nosuchformat");
    EXPECT_EQ(probe.StreamCount(), -1);
}

TEST_F(AVProbeTest, BadInputGivesAClearError) {
    TempDir dir;
    testsupport::WriteFile(dir.file("empty.mp4"), "");
    std::mt19937 rng(7);
    std::string noise(20000, '\0');
    for (char& c : noise) c = char(rng());
    testsupport::WriteFile(dir.file("noise.mp4"), noise);
    const std::string whole = testsupport::ReadFile(File("h264.mp4"));
    testsupport::WriteFile(dir.file("cut.mp4"), whole.substr(0, 2000));
    fs::create_directory(dir.file("folder.mp4"));

    const std::pair<std::string, std::string> cases[] = {
        {dir.file("empty.mp4"), ": Invalid data found when processing input"},
        {dir.file("noise.mp4"), ": Invalid data found when processing input"},
        {dir.file("cut.mp4"), ": Invalid data found when processing input"},
        {dir.file("folder.mp4"), ": Is a directory"},
        {dir.file("missing.mp4"), ": No such file or directory"},
    };
    for (const auto& [file, why] : cases) {
        TAVProbe probe;
        EXPECT_FALSE(probe.LoadFile(file)) << file;
        EXPECT_EQ(probe.LastError(), file + why);
        EXPECT_EQ(probe.StreamCount(), -1);
        EXPECT_EQ(probe.FileInfoText(), "");
    }
}

TEST_F(AVProbeTest, ATruncatedFileWithItsHeaderStillReports) {
    // The index at the front survives; the pictures it points to are gone.
    TempDir dir;
    const std::string faststart = dir.file("front.mp4");
    testsupport::Run({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", File("h264.mp4"), "-c", "copy",
                      "-movflags", "+faststart", faststart});
    const std::string whole = testsupport::ReadFile(faststart);
    ASSERT_GT(whole.size(), 12000u);
    testsupport::WriteFile(dir.file("half.mp4"), whole.substr(0, whole.size() / 2));
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(dir.file("half.mp4"))) << probe.LastError();
    const std::string text = probe.FileInfoText();
    EXPECT_TRUE(Contains(text, "Stream #0[0x1](und), 1/12800: Video: h264")) << text;
    EXPECT_EQ(probe.FileSize(), std::int64_t(whole.size() / 2));
}

TEST_F(AVProbeTest, NamesOutsideAsciiAndWithAColonOpen) {
    TempDir dir;
    const std::string name = dir.file("Übung – 日本語 clip.mp4");
    fs::copy_file(File("ntsc.mp4"), name);
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(name)) << probe.LastError();
    EXPECT_EQ(probe.FileName(), name);
    EXPECT_EQ(LineStarting(probe.FileInfoText(), "File Name: "), "File Name: " + name);
    probe.CloseFile();

    // A relative name that looks like a protocol is still the file of that name.
    fs::copy_file(File("ntsc.mp4"), dir.file("http:clip.mp4"));
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    const bool ok = probe.LoadFile("http:clip.mp4");
    fs::current_path(before);
    ASSERT_TRUE(ok) << probe.LastError();
    EXPECT_EQ(probe.FileName(), "http:clip.mp4");
    EXPECT_EQ(probe.VideoStreamCount(), 1);
}

TEST_F(AVProbeTest, AnAttachedContextIsReadButNotClosed) {
    AVFormatContext* ctx = nullptr;
    ASSERT_GE(avformat().avformat_open_input(&ctx, File("clip.ts").c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat().avformat_find_stream_info(ctx, nullptr), 0);
    {
        TAVProbe probe;
        probe.AttachContext(ctx);
        EXPECT_EQ(probe.StreamCount(), 2);
        EXPECT_EQ(probe.FirstAudioStreamIndex(), 1);
        EXPECT_EQ(probe.FileSize(), std::int64_t(fs::file_size(File("clip.ts"))));
        EXPECT_TRUE(Contains(probe.FileInfoText(), "Program 1 "));
        probe.CloseFile();
        EXPECT_EQ(probe.StreamCount(), -1);
        probe.AttachContext(ctx);
    }  // destroyed while attached
    EXPECT_EQ(ctx->nb_streams, 2u);  // still ours, still open
    avformat().avformat_close_input(&ctx);
}

TEST_F(AVProbeTest, ASecondLoadReplacesTheFirstFile) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(File("clip.ts")));
    ASSERT_TRUE(probe.LoadFile(File("tone.m4a")));
    EXPECT_EQ(probe.StreamCount(), 1);
    EXPECT_EQ(probe.ProgramCount(), 0);
    EXPECT_EQ(probe.FileName(), File("tone.m4a"));
    EXPECT_FALSE(probe.LoadFile(File("missing.mp4")));
    EXPECT_EQ(probe.StreamCount(), -1);  // a failed load leaves nothing open
}

TEST(AVProbeDeathTest, RefusesToWorkWithoutTheLibraries) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TAVProbe probe;
            try {
                probe.LoadFile("/nonexistent.mp4");
            } catch (const FFmpegException& e) {
                std::fprintf(stderr, "[%s]\n", e.what());
                std::_Exit(0);
            }
            std::_Exit(1);
        },
        ::testing::ExitedWithCode(0), "\\[LibAVCodec not loaded\\.\\]");
}
