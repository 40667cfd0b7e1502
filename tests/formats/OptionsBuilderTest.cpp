#include "formats/OptionsBuilder.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/IniFile.h"
#include "tests/support/TestSupport.h"

namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

class FakeQuestion : public TSizeQuestion {
public:
    explicit FakeQuestion(bool answer = true) : FAnswer(answer) {}
    bool AskUseDefaultSize() override {
        ++Asked;
        return FAnswer;
    }
    int Asked = 0;

private:
    bool FAnswer;
};

// One format (code 7) with a definition section and the user's stored choices.
class Builder : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    IniFile formats{dir.file("format.ini")};
    IniFile settings{dir.file("settings.ini")};
    TJobGeometry job;
    TSourceSummary source{1, 640, 360, 900000};
    FakeQuestion question;
    TOutputOptions out;
    TInputOptions in;
    int code = 7;

    void Define(const std::map<std::string, std::string>& keys) {
        for (const auto& [k, v] : keys) formats.WriteString("formatInfo" + std::to_string(code), k, v);
    }
    void Store(const std::map<std::string, std::string>& keys) {
        for (const auto& [k, v] : keys) settings.WriteString("formatInfo" + std::to_string(code), k, v);
    }
    // A video format whose every parameter was chosen; tests change single keys.
    void StoreVideo(const std::string& size = "320x240") {
        Store({{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", size}, {"paraVideoBitRate", "768"},
               {"paraFrameRate", "29.97"}, {"paraAudioEncoder", "libfaac"}, {"paraChannel", "2"},
               {"paraSampleRate", "44100"}, {"paraAudioBitRate", "128"}, {"paraVolume", "256"}});
    }
    void Build() {
        out.Reset();
        notes.clear();
        BuildOutputOptions(code, formats, settings, job, source, question, out, in,
                           [this](const std::string& line) { notes.push_back(line); });
    }
    std::vector<std::string> notes;  // the job's log lines of the last Build
};

TEST_F(Builder, WorkedExampleGivesTheListedFieldsAndEngineOptions) {
    code = 0;
    Define({{"Format", "ipod"}});
    StoreVideo();
    Build();
    EXPECT_EQ(out.Target, 0);
    EXPECT_EQ(out.VideoCodec, "mpeg4");
    EXPECT_EQ(out.VideoPreset, "");
    EXPECT_EQ(out.VideoBitrate, 768000);
    EXPECT_EQ(out.FrameRate, "29.97");
    EXPECT_EQ(out.FileFormat, "ipod");
    EXPECT_EQ(out.FrameSize, "320x180");
    EXPECT_EQ(out.AspectRatio, "320:180");
    EXPECT_EQ(out.VideoFilters, "pad=320:240:0:30");
    EXPECT_EQ(out.AudioCodec, "libfaac");
    EXPECT_EQ(out.AudioChannels, 2);
    EXPECT_EQ(out.AudioSampleRate, 44100);
    EXPECT_EQ(out.AudioBitrate, 128000);
    EXPECT_EQ(out.AudioVolume, -1);
    EXPECT_FALSE(out.VideoDisable || out.AudioDisable || out.SubtitleDisable);
    EXPECT_EQ(in.ExtOptions, "");
    EXPECT_EQ(question.Asked, 0);
    EXPECT_EQ(ToEngineOptions(out), (Lines{{"acodec", "libfaac"}, {"vcodec", "mpeg4"}, {"f", "ipod"},
                                           {"ac", "2"}, {"ar", "44100"}, {"ab", "128000"}, {"r", "29.97"},
                                           {"aspect", "320:180"}, {"vb", "768000"}, {"s", "320x180"},
                                           {"vf", "pad=320:240:0:30"}}));
}

TEST_F(Builder, H263SnapsWiderSizesToItsOwnAndKeepsSmallOnes) {
    job.ZoomMode = "full";
    const std::pair<const char*, const char*> cases[] = {
        {"640x480", "704x576"}, {"176x144", "176x144"}, {"100x80", "100x80"},
        {"176x100", "176x100"}, {"300x200", "352x288"}, {"1000x800", "704x576"}, {"352x288", "352x288"}};
    for (const auto& [stored, expected] : cases) {
        StoreVideo(stored);
        Store({{"paraVideoEncoder", "h263"}});
        Build();
        EXPECT_EQ(out.FrameSize, expected) << stored;
    }
    Store({{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", "640x480"}});
    Build();
    EXPECT_EQ(out.FrameSize, "640x480");
}

TEST_F(Builder, NoVideoEncoderGivesSoundOnlyAndSkipsTheVideoOfTheInput) {
    Define({{"Format", "avi"}});
    Store({{"paraVideoEncoder", " "}, {"paraChannel", "0"}, {"paraAudioBitRate", "96.5"}});
    in.ExtOptions = "itsoffset=1";
    Build();
    EXPECT_EQ(in.ExtOptions, "itsoffset=1\r\nvn=1");
    EXPECT_TRUE(out.VideoDisable);
    EXPECT_TRUE(out.SubtitleDisable);
    EXPECT_EQ(out.AudioCodec, "libfaac");  // nothing stored, nothing defined
    EXPECT_EQ(out.AudioChannels, -1);      // 0 channels are not passed without video
    EXPECT_EQ(out.AudioSampleRate, 44100);
    EXPECT_EQ(out.AudioBitrate, 96500);
    EXPECT_EQ(out.VideoCodec, "");
    EXPECT_EQ(out.FileFormat, "");  // the extension decides
    EXPECT_EQ(out.FrameSize, "");
}

TEST_F(Builder, AudioBitRatesMayHaveDecimalsAndZeroMeansNone) {
    StoreVideo();
    const std::pair<const char*, int64_t> cases[] = {
        {"96.5", 96500}, {"0", -1}, {"as source", -1}, {"abc", -1}, {"64", 64000}, {"0.1", 100}};
    for (const auto& [stored, expected] : cases) {
        Store({{"paraAudioBitRate", stored}});
        Build();
        EXPECT_EQ(out.AudioBitrate, expected) << stored;
    }
}

TEST_F(Builder, LetterboxPadsTheSourceShapeIntoTheFrame) {
    StoreVideo("640x360");
    Build();  // same size: no bars, and no pad that would only copy the frame
    EXPECT_EQ(out.FrameSize, "640x360");
    EXPECT_EQ(out.VideoFilters, "");

    source = {1, 320, 240, 0};  // smaller and narrower: 480x360 centred, bars of 80 left and right
    Build();
    EXPECT_EQ(out.FrameSize, "480x360");
    EXPECT_EQ(out.AspectRatio, "480:360");
    EXPECT_EQ(out.VideoFilters, "pad=640:360:80:0");

    StoreVideo("320x240");
    source = {1, 360, 640, 0};  // portrait: content 135 wide, made even, bars (320-134) div 4 * 2 = 92
    Build();
    EXPECT_EQ(out.FrameSize, "136x240");
    EXPECT_EQ(out.VideoFilters, "pad=320:240:92:0");
}

TEST_F(Builder, LetterboxOfACroppedJobKeepsTheShapeOfWhatRemains) {
    StoreVideo("320x240");
    job.CropMarginLeft = job.CropMarginRight = 80;  // 640x360 → 480x360, already 4:3
    Build();
    EXPECT_EQ(out.FrameSize, "");
    EXPECT_EQ(out.AspectRatio, "320:240");
    EXPECT_EQ(out.VideoFilters, "crop=480:360:80:0,scale=320:240");

    job = {};
    job.CropMarginTop = 40;  // 640x320 → 2:1, content 320x160 with bars of 40
    Build();
    EXPECT_EQ(out.VideoFilters, "crop=640:320:0:40,scale=320:160,pad=320:240:0:40");
    EXPECT_EQ(out.CropTop, 0);  // the filters crop, not the engine's bands
}

TEST_F(Builder, PanAndScanCutsTheCroppedPictureToFourByThree) {
    StoreVideo("320x240");
    job.ZoomMode = "pan";
    Build();  // 640x360: 4:3 of 360 is 480, so 80 off each side
    EXPECT_EQ(std::vector<int>({out.CropLeft, out.CropRight, out.CropTop, out.CropBottom}),
              std::vector<int>({80, 80, 0, 0}));
    EXPECT_EQ(out.FrameSize, "320x240");
    EXPECT_EQ(out.AspectRatio, "320:240");

    source = {1, 360, 640, 0};  // too tall: 3/4 of 360 is 270, (640-270) div 4 * 2 = 184 off top and bottom
    Build();
    EXPECT_EQ(std::vector<int>({out.CropLeft, out.CropRight, out.CropTop, out.CropBottom}),
              std::vector<int>({0, 0, 184, 184}));

    // 1920x1080 cropped by 100 left, 20 right, 40 top leaves 1800x1040; 4:3 of 1040 is 1386,
    // so (1800-1386) div 4 * 2 = 206 more on each side.
    source = {1, 1920, 1080, 0};
    job.CropMarginLeft = 100, job.CropMarginRight = 20, job.CropMarginTop = 40;
    Build();
    EXPECT_EQ(std::vector<int>({out.CropLeft, out.CropRight, out.CropTop, out.CropBottom}),
              std::vector<int>({306, 226, 40, 0}));
    const double w = 1920 - 306 - 226, h = 1080 - 40;
    EXPECT_NEAR(w / h, 4.0 / 3.0, 0.005);
}

TEST_F(Builder, CenterShowsSmallSourcesAtTheirOwnSizeAndShrinksLargeOnes) {
    job.ZoomMode = "center";
    StoreVideo("320x240");
    const struct {
        int sw, sh;
        const char *size, *filter;
    } cases[] = {
        {160, 120, "160x120", "pad=320:240:80:60:black"},   // fits: no scaling
        {640, 360, "320x180", "pad=320:240:0:30:black"},    // larger: shrunk to the width
        {400, 100, "320x80", "pad=320:240:0:80:black"},     // too wide only
        {480, 1280, "90x240", "pad=320:240:114:0:black"},   // too tall: shrunk to the height
        {320, 240, "320x240", ""},                           // fills the frame: nothing to pad
    };
    for (const auto& c : cases) {
        source = {1, c.sw, c.sh, 0};
        Build();
        EXPECT_EQ(out.FrameSize, c.size) << c.sw << "x" << c.sh;
        EXPECT_EQ(out.VideoFilters, c.filter) << c.sw << "x" << c.sh;
    }
    job.CropMarginLeft = job.CropMarginRight = 80;  // 640x360 → 480x360, shrunk to 320x240
    source = {1, 640, 360, 0};
    Build();
    EXPECT_EQ(out.FrameSize, "");
    EXPECT_EQ(out.VideoFilters, "crop=480:360:80:0,scale=320:240");
}

TEST_F(Builder, FullScreenStretchesAndHandsTheCropToTheEngine) {
    StoreVideo("320x240");
    job = {"full", 10, 20, 30, 40};
    out.VideoFilters = "hflip";
    BuildOutputOptions(code, formats, settings, job, source, question, out, in);
    EXPECT_EQ(out.FrameSize, "320x240");
    EXPECT_EQ(out.AspectRatio, "320:240");
    EXPECT_EQ(std::vector<int>({out.CropTop, out.CropLeft, out.CropBottom, out.CropRight}),
              std::vector<int>({10, 20, 30, 40}));
    EXPECT_EQ(out.VideoFilters, "hflip");

    job = {"lbox"};
    out.Reset();
    out.VideoFilters = "hflip";  // the letterbox filter joins what is there
    BuildOutputOptions(code, formats, settings, job, source, question, out, in);
    EXPECT_EQ(out.VideoFilters, "hflip,pad=320:240:0:30");

    job = {"orig"};  // an unknown mode sets neither size nor filter
    Build();
    EXPECT_EQ(out.FrameSize, "");
    EXPECT_EQ(out.VideoFilters, "");
    EXPECT_EQ(out.CropTop, 0);
}

TEST_F(Builder, ASizeThatIsNotTwoDecimalNumbersIsRefusedForTheDefaultOrElseAsksOnce) {
    job.ZoomMode = "full";
    // Signed, hexadecimal, three-part or too large sizes are no sizes at all.
    const char* refused[] = {"720x", "x480", "null", "", "abcx480", "-320x240", "0x140x0xF0", "320x240x2", "99999x240",
                             "0x240"};
    for (const char* size : refused) {
        for (bool yes : {true, false}) {
            question = FakeQuestion(yes);
            StoreVideo(size);
            Build();
            EXPECT_EQ(question.Asked, 1) << size;
            EXPECT_EQ(out.FrameSize, yes ? "320x240" : "640x360") << size;
        }
    }
    // With a default of the format's own, that is used, and the job's log says so.
    question = FakeQuestion(false);
    Define({{"VideoSize", "176x144,352x288"}, {"iVideoSize", "1"}});
    for (const char* size : {"-320x240", "0x140x0xF0"}) {
        StoreVideo(size);
        Build();
        EXPECT_EQ(out.FrameSize, "352x288") << size;
        ASSERT_EQ(notes.size(), 1u) << size;
        EXPECT_NE(notes[0].find(std::string("\"") + size + "\""), std::string::npos) << notes[0];
    }
    StoreVideo("as source");
    Build();
    EXPECT_EQ(out.FrameSize, "640x360");
    EXPECT_EQ(question.Asked, 0);
    EXPECT_TRUE(notes.empty());
}

TEST_F(Builder, NumbersOutOfRangeTakeTheFormatsDefaultWithANoteAndACropLargerThanThePictureIsLeftOut) {
    Define({{"VideoBitRate", "512,768"}, {"iVideoBitRate", "1"}, {"SampleRate", "22050"}, {"AudioBitRate", "64"},
            {"Channel", "mono 1 channel"}, {"FrameRate", "25"}});
    StoreVideo();
    Store({{"paraVideoBitRate", "2147483647"}, {"paraSampleRate", "0x7FFFFFFF"}, {"paraAudioBitRate", "1e308"},
           {"paraChannel", "99"}, {"paraFrameRate", "-25"}, {"paraVolume", "-3"}});
    job.ZoomMode = "full";
    job.CropMarginLeft = 400;
    job.CropMarginRight = 400;
    Build();
    EXPECT_EQ(out.VideoBitrate, 768000);
    EXPECT_EQ(out.AudioSampleRate, 22050);
    EXPECT_EQ(out.AudioBitrate, 64000);
    EXPECT_EQ(out.AudioChannels, 1);
    EXPECT_EQ(out.FrameRate, "25");
    EXPECT_EQ(out.AudioVolume, -1);  // no default volume: the sound as it is
    EXPECT_EQ(out.CropLeft, 0);
    EXPECT_EQ(out.CropRight, 0);
    EXPECT_EQ(notes.size(), 7u);
    for (const char* key : {"paraVideoBitRate", "paraSampleRate", "paraAudioBitRate", "paraChannel", "paraFrameRate",
                            "paraVolume", "crop"}) {
        bool named = false;
        for (const std::string& line : notes) named = named || line.find(key) != std::string::npos;
        EXPECT_TRUE(named) << key;
    }
}

TEST_F(Builder, ASourceWithoutPictureKeepsTheSoundSettings) {
    StoreVideo();
    Store({{"paraChannel", "0"}, {"paraVolume", "512"}});
    source = {0, 0, 0, 0};
    Build();
    EXPECT_TRUE(out.VideoDisable);
    EXPECT_EQ(out.VideoBitrate, -1);
    EXPECT_EQ(out.FrameSize, "");
    EXPECT_EQ(out.AudioCodec, "libfaac");
    EXPECT_EQ(out.AudioChannels, 0);  // passed on for a video format
    EXPECT_EQ(out.AudioVolume, 512);
    EXPECT_EQ(out.AudioBitrate, 128000);
    EXPECT_EQ(in.ExtOptions, "");
    EXPECT_EQ(question.Asked, 0);
}

TEST_F(Builder, DiscFormatsChooseTargetNormAndAspect) {
    StoreVideo("720x480");
    job.ZoomMode = "none";  // keeps the target's aspect
    const struct {
        const char* format;
        int target, norm;
        const char* aspect;
    } cases[] = {{"ntsc-dvd", 3, 2, "16:9"}, {"PAL-DVD", 3, 1, "4:3"}, {"ntsc-vcd", 1, 2, "4:3"},
                 {"pal-vcd", 1, 1, "4:3"},   {"ntsc-svcd", 2, 2, "4:3"}, {"pal-svcd", 2, 1, "4:3"}};
    for (const auto& c : cases) {
        Define({{"Format", c.format}});
        Build();
        EXPECT_EQ(out.Target, c.target) << c.format;
        EXPECT_EQ(out.TargetNorm, c.norm) << c.format;
        EXPECT_EQ(out.AspectRatio, c.aspect) << c.format;
    }
    Store({{"paraVideoSize", "720x576"}});
    Build();
    EXPECT_EQ(out.AspectRatio, "4:3");  // pal-svcd has no wide variant
    Define({{"Format", "pal-dvd"}});
    Build();
    EXPECT_EQ(out.AspectRatio, "16:9");
    EXPECT_EQ(ToEngineOptions(out).front(), (std::pair<std::string, std::string>("target", "pal-dvd")));

    Define({{"Format", "mpg"}});
    Store({{"paraVideoEncoder", "mpeg2video"}});
    Build();
    EXPECT_EQ(out.Target, 3);
    EXPECT_EQ(out.TargetNorm, 0);
    EXPECT_EQ(ToEngineOptions(out).front(), (std::pair<std::string, std::string>("target", "dvd")));

    Define({{"Format", "pal-svcd"}});
    Build();
    EXPECT_EQ(out.Target, 2) << "an SVCD stays an SVCD with MPEG-2 video";
    EXPECT_EQ(out.TargetNorm, 1);
}

TEST_F(Builder, EncodersPresetsRatesAndContainers) {
    StoreVideo();
    const struct {
        const char *format, *encoder, *codec, *preset, *container;
    } cases[] = {
        {"psp", "libx264", "libx264", "libx264-psp", "psp"}, {"PS3", "libx264", "libx264", "libx264-ps3", ""},
        {"ipod", "libx264", "libx264", "libx264-ipod", "ipod"}, {"mp4", "libx264", "libx264", "libx264-mp4", ""},
        {"AVI", "libxvid", "libxvid", "", "AVI"},              {"flv", "flv", "", "", "flv"},
        {"wmv", "wmv3", "", "", ""},                            {"mov", "mov", "", "", "mov"},
    };
    for (const auto& c : cases) {
        Define({{"Format", c.format}});
        Store({{"paraVideoEncoder", c.encoder}});
        Build();
        EXPECT_EQ(out.VideoCodec, c.codec) << c.format;
        EXPECT_EQ(out.VideoPreset, c.preset) << c.format;
        EXPECT_EQ(out.FileFormat, c.container) << c.format;
    }

    Store({{"paraVideoBitRate", "as source"}, {"paraFrameRate", "as source"}, {"paraAudioEncoder", "libamr_nb"}});
    Build();
    EXPECT_EQ(out.VideoBitrate, 900000);
    EXPECT_EQ(out.FrameRate, "");
    EXPECT_EQ(out.AudioCodec, "libopencore_amrnb");
    Store({{"paraVideoBitRate", "fast"}, {"paraFrameRate", "0"}, {"paraAudioEncoder", ""}});
    Build();
    EXPECT_EQ(out.VideoBitrate, 900000);
    EXPECT_EQ(out.FrameRate, "");
    EXPECT_TRUE(out.AudioDisable);
    Store({{"paraVideoBitRate", "0"}, {"paraFrameRate", "25"}});
    Build();
    EXPECT_EQ(out.VideoBitrate, -1);
    EXPECT_EQ(out.FrameRate, "25");
}

TEST_F(Builder, RateModesQualityAndFittingASize) {
    // A definition with its own encoder settings gets them instead of a device preset.
    Define({{"Format", "mp4"}, {"EncoderOptions", "preset=medium<CRLF>pix_fmt=yuv420p"}});
    StoreVideo();
    Store({{"paraVideoEncoder", "libx265"}, {"paraVideoBitRate", "CRF 26"}});
    Build();
    EXPECT_EQ(out.VideoCodec, "libx265");
    EXPECT_EQ(out.VideoPreset, "");
    EXPECT_EQ(out.VideoBitrate, -1) << "no rate, not even the source's";
    EXPECT_EQ(out.ExtOptions, "preset=medium\r\npix_fmt=yuv420p\r\ncrf=26\r\nb=0");
    EXPECT_FALSE(out.TwoPass);
    // A rate picked from the same list is a rate again.
    Store({{"paraVideoBitRate", "2000"}});
    Build();
    EXPECT_EQ(out.VideoBitrate, 2000000);
    EXPECT_EQ(out.ExtOptions.find("crf"), std::string::npos);

    // 10 MB over two minutes: the chosen sound rate and the rest for the picture, twice.
    Store({{"paraVideoEncoder", "libx264"}, {"paraVideoBitRate", "10 MB"}, {"paraFrameRate", "25"}});
    source.Duration = 120000000;
    std::string refusal = "untouched";
    auto build = [&] {
        out.Reset();
        refusal.clear();
        BuildOutputOptions(code, formats, settings, job, source, question, out, in, {}, &refusal);
    };
    build();
    EXPECT_EQ(refusal, "");
    EXPECT_TRUE(out.TwoPass);
    EXPECT_EQ(out.AudioBitrate, 128000);
    EXPECT_GT(out.VideoBitrate, 450000);
    EXPECT_LT(out.VideoBitrate, 540000);
    EXPECT_LT((out.VideoBitrate + out.AudioBitrate) * 120 / 8, 10000000);
    // Eight minutes: the sound gives way, down to 48 kbit/s.
    source.Duration = 480000000;
    build();
    EXPECT_EQ(refusal, "");
    EXPECT_EQ(out.AudioBitrate, 48000);
    EXPECT_GE(out.VideoBitrate, MinimumFitVideoRate);
    // Twenty minutes would leave too little; the trim is the length that counts.
    source.Duration = 1200000000;
    build();
    EXPECT_EQ(refusal.rfind("Too long to fit 10 MB: 20:00 of video would get ", 0), 0u) << refusal;
    EXPECT_FALSE(out.TwoPass);
    in.StartTime = 1190000000;
    build();
    EXPECT_EQ(refusal, "") << "ten seconds from the trim start to the end";
    in.StartTime = 0;
    out.Reset();
    out.RecordingTime = 60000000;
    refusal.clear();
    BuildOutputOptions(code, formats, settings, job, source, question, out, in, {}, &refusal);
    EXPECT_EQ(refusal, "");
    EXPECT_GT(out.VideoBitrate, 1000000);
    source.Duration = 0;
    build();
    EXPECT_NE(refusal.find("length of this file is unknown"), std::string::npos);
}

TEST_F(Builder, AnUntouchedFormatUsesTheDefinitionsDefaults) {
    Define({{"Format", "avi"}, {"FileExt", "avi"},
            {"VideoSize", "320x240,640x480"}, {"iVideoSize", "1"},
            {"VideoEncoder", "mpeg-4,xvid,h264"}, {"iVideoEncoder", "1"},
            {"VideoBitRate", "768,1200"}, {"iVideoBitRate", "1"},
            {"FrameRate", "25,29.97"}, {"iFrameRate", "0"},
            {"AudioEncoder", "mp3,aac"}, {"iAudioEncoder", "0"},
            {"Channel", "mono 1 channel,stereo 2 channels"}, {"iChannel", "1"},
            {"SampleRate", "22050,44100"}, {"iSampleRate", "0"},
            {"AudioBitRate", "96,128"}, {"iAudioBitRate", "0"},
            {"Volume", "50%,100%"}, {"iVolume", "1"}});
    job.ZoomMode = "full";
    Build();
    EXPECT_FALSE(out.VideoDisable);
    EXPECT_EQ(in.ExtOptions, "");
    EXPECT_EQ(out.VideoCodec, "libxvid");
    EXPECT_EQ(out.FrameSize, "640x480");
    EXPECT_EQ(out.VideoBitrate, 1200000);
    EXPECT_EQ(out.FrameRate, "25");
    EXPECT_EQ(out.AudioCodec, "libmp3lame");
    EXPECT_EQ(out.AudioChannels, 2);
    EXPECT_EQ(out.AudioSampleRate, 22050);
    EXPECT_EQ(out.AudioBitrate, 96000);
    EXPECT_EQ(out.AudioVolume, -1);  // "100%" is the unchanged volume
    EXPECT_EQ(question.Asked, 0);

    // Stored values win, also an empty one; an index outside its list falls back.
    Store({{"paraVideoEncoder", "mpeg4"}, {"paraAudioEncoder", ""}});
    Define({{"iVideoSize", "5"}, {"iVolume", "0"}});
    Build();
    EXPECT_EQ(out.VideoCodec, "mpeg4");
    EXPECT_TRUE(out.AudioDisable);
    EXPECT_EQ(question.Asked, 1);  // no usable size: the usual question
    EXPECT_EQ(out.AudioVolume, 128);
}

TEST_F(Builder, WithoutVolumeAnywhereTheSoundIsLeftAsItIs) {
    Store({{"paraVideoEncoder", ""}});
    Build();
    EXPECT_EQ(out.AudioVolume, -1);
    Define({{"Volume", "null"}, {"AudioEncoder", "mp3"}});
    Build();
    EXPECT_EQ(out.AudioVolume, -1);
    EXPECT_EQ(out.AudioCodec, "libmp3lame");
}

// The filter texts must mean to today's filter graph what they say: crop first (width,
// height, left, top), then scale, then pad to the full frame.
TEST_F(Builder, CropScaleAndPadFiltersRunInTheFilterGraph) {
    StoreVideo("320x240");
    source = {1, 320, 240, 0};
    job = {"lbox", 0, 20, 0, 100};  // 200x240 remains
    for (const char* mode : {"lbox", "center"}) {
        job.ZoomMode = mode;
        Build();
        const std::string picture = dir.file(std::string(mode) + ".png");
        testsupport::MakeClip(picture, 0.2, {"-frames:v", "1", "-an", "-vf", out.VideoFilters});
        EXPECT_EQ(testsupport::ProbeValue(picture, "stream=width,height"), "320\n240") << out.VideoFilters;
    }
}

TEST(StoredZoomMode, ReadsTheFormatsZoomKeyOrLetterbox) {
    testsupport::TempDir dir;
    IniFile settings(dir.file("settings.ini"));
    EXPECT_EQ(StoredZoomMode(3, settings), "lbox");
    settings.WriteString("formatInfo3", "paraZoom", "pan");
    EXPECT_EQ(StoredZoomMode(3, settings), "pan");
}

}  // namespace
