#include <set>

#include "OptionsTestSupport.h"
#include "engine/Presets.h"
#include "tests/support/TestSupport.h"

using Presets = OptionsFixture;

namespace {
struct TX264Open {
    int Result = -1;
    std::string Leftover;  // options the encoder did not take
    int Profile = -1;      // from the sequence parameter set of the global header
    int Level = -1;
};

// Opens libx264 on a small picture with everything the store holds for video.
TX264Open OpenX264(TGenericOptions& generic) {
    TX264Open r;
    const AVCodec* codec = avcodec().avcodec_find_encoder_by_name("libx264");
    CodecContextPtr ctx(avcodec().avcodec_alloc_context3(codec));
    ctx->width = 320;
    ctx->height = 240;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = {1, 25};
    generic.ApplyToCodecContext(AVMEDIA_TYPE_VIDEO, ctx.get(), AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* opts = generic.CodecPrivateOptions(AVMEDIA_TYPE_VIDEO);
    r.Result = avcodec().avcodec_open2(ctx.get(), codec, &opts);
    const AVDictionaryEntry* e = nullptr;
    while ((e = avutil().av_dict_get(opts, "", e, AV_DICT_IGNORE_SUFFIX)))
        r.Leftover += std::string(e->key) + "=" + e->value + " ";
    avutil().av_dict_free(&opts);
    const uint8_t* x = ctx->extradata;
    for (int i = 0; r.Result == 0 && i + 6 < ctx->extradata_size; ++i)
        if (x[i] == 0 && x[i + 1] == 0 && x[i + 2] == 1 && (x[i + 3] & 0x1f) == 7) {
            r.Profile = x[i + 4];
            r.Level = x[i + 6];
            break;
        }
    return r;
}

TX264Open OpenWithPreset(TOptionHost& host, const std::string& preset) {
    TEngineSettings settings;
    TGenericOptions generic;
    generic.Reset();
    TOptionParser parser(settings, generic, host);
    parser.ParseOption("vcodec", "libx264");
    parser.ParseOption("vpre", preset);
    return OpenX264(generic);
}
}  // namespace

TEST_F(Presets, TheTableHoldsFortyUniquelyNamedPresets) {
    const auto& table = BuiltinPresets();
    ASSERT_EQ(table.size(), 40u);
    std::set<std::string> names;
    for (const auto& p : table) names.insert(p.Name);
    EXPECT_EQ(names.size(), 40u);
    EXPECT_STREQ(table[0].Name, "libx264-baseline");
    EXPECT_STREQ(table[0].Text, "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0\n");
    EXPECT_STREQ(table[35].Name, "libx264-veryslow_firstpass");
    EXPECT_STREQ(table[36].Name, "libx264-psp");
    EXPECT_STREQ(table[39].Name, "libx264-mp4");
    EXPECT_STREQ(table[36].Text, table[39].Text);
}

TEST_F(Presets, EveryBuiltinPresetOpensLibx264) {
    for (const auto& preset : BuiltinPresets()) {
        SCOPED_TRACE(preset.Name);
        TX264Open r;
        ASSERT_NO_THROW(r = OpenWithPreset(Host, preset.Name));
        EXPECT_EQ(r.Result, 0);
        // Every translated setting was one that x264 understood.
        EXPECT_EQ(r.Leftover, "");
    }
}

TEST_F(Presets, PresetsReachTheStreamx264Writes) {
    // The four legacy lines of the baseline preset leave nothing above baseline.
    TX264Open baseline = OpenWithPreset(Host, "libx264-baseline");
    EXPECT_EQ(baseline.Profile, 66);
    TX264Open ipod = OpenWithPreset(Host, "libx264-ipod320");
    EXPECT_EQ(ipod.Profile, 66);
    EXPECT_EQ(ipod.Level, 13);
    EXPECT_EQ(OpenWithPreset(Host, "libx264-ipod640").Level, 30);
    EXPECT_EQ(OpenWithPreset(Host, "libx264-main").Profile, 77);
    EXPECT_EQ(OpenWithPreset(Host, "libx264-psp").Level, 30);
    // Constant quantiser 0 is lossless: x264 switches to the High 4:4:4 Predictive profile.
    EXPECT_EQ(OpenWithPreset(Host, "libx264-lossless_ultrafast").Profile, 244);
    EXPECT_EQ(OpenWithPreset(Host, "libx264-medium").Profile, 100);
}

TEST_F(Presets, ShortNamesResolveThroughTheVideoCodec) {
    Parser.ParseOption("vcodec", "libx264");
    Parser.ParseOption("vpre", "ipod");
    // Lines of "libx264-ipod": common settings on the template, x264's in its dictionary.
    EXPECT_EQ(VideoInt("g"), 250);
    EXPECT_EQ(VideoInt("qmin"), 10);
    EXPECT_EQ(VideoInt("b"), 1000000);
    EXPECT_EQ(VideoInt("level"), 30);
    EXPECT_EQ(VideoInt("bt"), 256000);
    EXPECT_TRUE(VideoInt("flags") & AV_CODEC_FLAG_LOOP_FILTER);
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "coder"), "0");
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "me_method"), "umh");
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "partitions"), "i4x4,i8x8,p8x8");
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "direct-pred"), "1");
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "sc_threshold"), "40");
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "b_strategy"), "1");
    // Case does not matter for built-in names.
    TEngineSettings settings;
    TGenericOptions generic;
    generic.Reset();
    TOptionParser parser(settings, generic, Host);
    parser.ParseOption("vpre", "LIBX264-Baseline");
    EXPECT_EQ(generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "weightb"), "0");
    EXPECT_EQ(generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "8x8dct"), "0");
    EXPECT_EQ(generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "weightp"), "0");
}

TEST_F(Presets, PresetFilesAndTheirErrors) {
    testsupport::TempDir dir;
    std::string bad = dir.file("bad.ffpreset");
    testsupport::WriteFile(bad, "g=12\n\nfoo\n");
    try {
        Parser.ParseOption("fpre", bad);
        FAIL() << "no error";
    } catch (const FFmpegException& e) {
        EXPECT_EQ(std::string(e.what()), bad + ": Invalid syntax: \"foo\"");
    }
    EXPECT_EQ(VideoInt("g"), 12);  // lines before the bad one were applied

    std::string unknown = dir.file("unknown.ffpreset");
    testsupport::WriteFile(unknown, "  vcodec = mpeg4 \r\nnosuchoption=3\n");
    try {
        Parser.ApplyPreset("vpre", unknown);
        FAIL() << "no error";
    } catch (const FFmpegException& e) {
        EXPECT_EQ(std::string(e.what()),
                  unknown + ": Invalid option or argument: \"nosuchoption=3\", parsed as \"nosuchoption\" = \"3\"");
    }
    EXPECT_EQ(Settings.VideoCodecName, "mpeg4");

    EXPECT_EQ(ErrorOf("vpre", "nosuchpreset"), "Preset \"nosuchpreset\" not found");
    // "fpre" never looks in the built-in table.
    EXPECT_EQ(ErrorOf("fpre", "libx264-ipod"), "Preset \"libx264-ipod\" not found");
    EXPECT_NO_THROW(Parser.ApplyPreset("apre", ""));
}

using LegacyNames = OptionsFixture;

TEST_F(LegacyNames, OldNamesAreTranslatedAndVanishedOnesSkipped) {
    Parser.ParseOption("vcodec", "libx264");
    EXPECT_TRUE(Parser.SetGenericOption("flags2", "+bpyramid+mixed_refs-fastpskip+local_header"));
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "b-pyramid"), "normal");
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "mixed-refs"), "1");
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "fast-pskip"), "0");
    EXPECT_TRUE(VideoInt("flags2") & AV_CODEC_FLAG2_LOCAL_HEADER);

    EXPECT_TRUE(Parser.SetGenericOption("partitions", "-parti8x8+partb8x8"));
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "partitions"), "b8x8");
    EXPECT_TRUE(Parser.SetGenericOption("deblockalpha", "-1"));
    EXPECT_TRUE(Parser.SetGenericOption("deblockbeta", "2"));
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "deblock"), "-1:2");
    EXPECT_TRUE(Parser.SetGenericOption("cqp", "20"));
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "qp"), "20");
    // A value x264 refuses is still refused under the old name.
    EXPECT_FALSE(Parser.SetGenericOption("directpred", "sideways"));

    // Gone for good: logged at info level, accepted, nothing stored.
    EXPECT_TRUE(Parser.SetGenericOption("rc_buf_aggressivity", "1.0"));
    EXPECT_TRUE(Logged("rc_buf_aggressivity=1.0 no longer exists"));
    EXPECT_TRUE(Parser.SetGenericOption("flags", "+loop+trell+noise"));
    EXPECT_TRUE(VideoInt("flags") & AV_CODEC_FLAG_LOOP_FILTER);
    EXPECT_EQ(VideoInt("trellis"), 1);
    EXPECT_TRUE(Logged("flags=+noise no longer exists"));

    TX264Open r = OpenX264(Generic);
    EXPECT_EQ(r.Result, 0);
    EXPECT_EQ(r.Leftover, "");
}

TEST_F(LegacyNames, MpegFamilyFlagsAccumulateForTheirEncoders) {
    Parser.ParseOption("vcodec", "mpeg4");
    EXPECT_TRUE(Parser.SetGenericOption("flags", "+naq+mv0+mv4"));
    EXPECT_TRUE(Parser.SetGenericOption("flags2", "+skiprd"));
    EXPECT_TRUE(Parser.SetGenericOption("me_method", "x1"));
    EXPECT_TRUE(Parser.SetGenericOption("lelim", "2"));
    EXPECT_TRUE(Parser.SetGenericOption("hurry_up", "1"));  // gone: skipped
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "mpv_flags"), "+naq+mv0+skip_rd");
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "motion_est"), "xone");
    EXPECT_TRUE(VideoInt("flags") & AV_CODEC_FLAG_4MV);

    const AVCodec* codec = avcodec().avcodec_find_encoder_by_name("mpeg4");
    CodecContextPtr ctx(avcodec().avcodec_alloc_context3(codec));
    ctx->width = 320;
    ctx->height = 240;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = {1, 25};
    Generic.ApplyToCodecContext(AVMEDIA_TYPE_VIDEO, ctx.get());
    AVDictionary* opts = Generic.CodecPrivateOptions(AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(avcodec().avcodec_open2(ctx.get(), codec, &opts), 0);
    // x264's name for the search method stays behind; the MPEG-4 encoder took its own.
    EXPECT_NE(avutil().av_dict_get(opts, "me_method", nullptr, 0), nullptr);
    EXPECT_EQ(avutil().av_dict_get(opts, "motion_est", nullptr, 0), nullptr);
    EXPECT_EQ(avutil().av_dict_get(opts, "mpv_flags", nullptr, 0), nullptr);
    EXPECT_EQ(avutil().av_dict_get(opts, "luma_elim_threshold", nullptr, 0), nullptr);
    EXPECT_EQ(avutil().av_dict_count(opts), 1);
    avutil().av_dict_free(&opts);
}
