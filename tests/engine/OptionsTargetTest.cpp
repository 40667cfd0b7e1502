#include <cmath>

#include "OptionsTestSupport.h"

using TargetPresets = OptionsFixture;

TEST_F(TargetPresets, AutomaticNormNeedsAFrameRate) {
    EXPECT_EQ(ErrorOf("target", "vcd"), "frame_rate is invalid.");
    EXPECT_TRUE(Settings.VideoCodecName.empty());
}

TEST_F(TargetPresets, PalDvdSetsTheDiscParameters) {
    Parser.ParseOption("target", "pal-dvd");
    EXPECT_EQ(Settings.FrameWidth, 720);
    EXPECT_EQ(Settings.FrameHeight, 576);
    EXPECT_EQ(Settings.FrameRate.num, 25);
    EXPECT_EQ(Settings.FrameRate.den, 1);
    EXPECT_EQ(VideoInt("g"), 15);
    EXPECT_EQ(VideoInt("b"), 6000000);
    EXPECT_EQ(VideoInt("maxrate"), 9000000);
    EXPECT_EQ(VideoInt("bufsize"), 1835008);
    EXPECT_EQ(AudioInt("b"), 448000);
    EXPECT_EQ(Settings.VideoCodecName, "mpeg2video");
    EXPECT_EQ(Settings.AudioCodecName, "ac3");
    EXPECT_EQ(Settings.AudioSampleRate, 48000);
    EXPECT_EQ(Settings.ForcedFormat, "dvd");
    EXPECT_DOUBLE_EQ(Settings.FrameAspectRatio, 16.0 / 9.0);
    EXPECT_TRUE(Logged("Assuming 16:9 for aspect ratio"));
    EXPECT_FALSE(Logged("for target."));  // the norm was given
    int64_t packet = 0;
    avutil().av_opt_get_int(Generic.MutableFormatTemplate(), "packetsize", 0, &packet);
    EXPECT_EQ(packet, 2048);
    EXPECT_EQ(Generic.FormatPrivateOption("muxrate"), "10080000");

    // The muxer of today takes the rate as its own option.
    AVFormatContext* out = nullptr;
    ASSERT_GE(avformat().avformat_alloc_output_context2(&out, nullptr, "dvd", nullptr), 0);
    AVDictionary* opts = Generic.FormatPrivateOptions();
    EXPECT_GE(avutil().av_opt_set_dict(out->priv_data, &opts), 0);
    EXPECT_EQ(avutil().av_dict_count(opts), 0);  // consumed
    int64_t muxrate = 0;
    avutil().av_opt_get_int(out->priv_data, "muxrate", 0, &muxrate);
    EXPECT_EQ(muxrate, 10080000);
    avutil().av_dict_free(&opts);
    avformat().avformat_free_context(out);
}

TEST_F(TargetPresets, AnAspectRatioAlreadySetIsKept) {
    Parser.ParseOption("aspect", "4:3");
    Parser.ParseOption("target", "ntsc-dvd");
    EXPECT_DOUBLE_EQ(Settings.FrameAspectRatio, 4.0 / 3.0);
    EXPECT_FALSE(Logged("Assuming 16:9"));
    EXPECT_EQ(Settings.FrameHeight, 480);
    EXPECT_EQ(Settings.FrameRate.num, 30000);
    EXPECT_EQ(Settings.FrameRate.den, 1001);
    EXPECT_EQ(VideoInt("g"), 18);
}

TEST_F(TargetPresets, TheNormIsGuessedFromRatesThenInputsThenTheDefault) {
    Parser.ParseOption("r", "25");
    Parser.ApplyTarget("vcd", "auto", "ntsc");
    EXPECT_EQ(Settings.FrameHeight, 288);
    EXPECT_TRUE(Logged("Assuming PAL for target."));

    Lines.clear();
    Parser.ParseOption("r", "24000/1001");  // 23.976 counts as NTSC
    Parser.ApplyTarget("vcd", "", "pal");
    EXPECT_EQ(Settings.FrameHeight, 240);
    EXPECT_EQ(Settings.FrameRate.num, 30000);
    EXPECT_TRUE(Logged("Assuming NTSC for target."));

    // A rate of no norm: the first input video stream with one decides.
    Lines.clear();
    Parser.ParseOption("r", "10");
    Host.Rates = {{15, 1}, {25, 1}};
    Parser.ApplyTarget("svcd", "auto", "ntsc");
    EXPECT_EQ(Settings.FrameHeight, 576);
    EXPECT_TRUE(Logged("Assuming PAL for target."));

    // Nothing known: the default norm; "film" reports NTSC and keeps the film rate.
    Lines.clear();
    Parser.ParseOption("r", "10");
    Host.Rates.clear();
    Parser.ApplyTarget("dv", "auto", "film");
    EXPECT_EQ(Settings.FrameHeight, 480);
    EXPECT_EQ(Settings.FrameRate.num, 24000);
    EXPECT_TRUE(Logged("Assuming NTSC for target."));

    // Quiet tasks do not say what they assumed.
    Lines.clear();
    Settings.Verbose = 0;
    Parser.ParseOption("r", "25");
    Parser.ApplyTarget("dv", "auto", "ntsc");
    EXPECT_FALSE(Logged("for target."));
}

TEST_F(TargetPresets, VcdSvcdAndDvSettings) {
    Parser.ParseOption("target", "ntsc-vcd");
    EXPECT_EQ(Settings.VideoCodecName, "mpeg1video");
    EXPECT_EQ(Settings.AudioCodecName, "mp2");
    EXPECT_EQ(Settings.FrameWidth, 352);
    EXPECT_EQ(Settings.FrameHeight, 240);
    EXPECT_EQ(VideoInt("minrate"), 1150000);
    EXPECT_EQ(VideoInt("bufsize"), 327680);
    EXPECT_EQ(AudioInt("b"), 224000);
    EXPECT_FLOAT_EQ(Settings.MuxPreload, 0.44f);
    EXPECT_EQ(Generic.FormatPrivateOption("muxrate"), "1411200");
    EXPECT_DOUBLE_EQ(Settings.FrameAspectRatio, 4.0 / 3.0);

    TEngineSettings fresh;
    TGenericOptions generic;
    generic.Reset();
    TOptionParser svcd(fresh, generic, Host);
    svcd.ParseOption("ac", "1");
    svcd.ParseOption("target", "pal-svcd");
    EXPECT_EQ(fresh.AudioChannels, 2);  // mono becomes stereo
    EXPECT_EQ(fresh.FrameWidth, 480);
    EXPECT_EQ(fresh.VideoCodecName, "mpeg2video");
    // The scan-offset flag is an option of the MPEG-2 encoder today.
    EXPECT_EQ(generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "scan_offset"), "1");

    svcd.ParseOption("target", "ntsc-dv");
    EXPECT_EQ(fresh.FramePixFmt, AV_PIX_FMT_YUV411P);
    EXPECT_EQ(fresh.ForcedFormat, "dv");
    svcd.ParseOption("target", "pal-dv");
    EXPECT_EQ(fresh.FramePixFmt, AV_PIX_FMT_YUV420P);
    svcd.ParseOption("target", "ntsc-dv50");
    EXPECT_EQ(fresh.FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(fresh.AudioSampleRate, 48000);

    EXPECT_EQ(ErrorOf("target", "pal-laserdisc"), "Unknown target type");
}

TEST_F(TargetPresets, SvcdEncoderOpensWithTheTargetSettings) {
    Parser.ParseOption("target", "pal-svcd");
    const AVCodec* codec = FindCodecOrThrow(Settings.VideoCodecName, AVMEDIA_TYPE_VIDEO, true, 0);
    CodecContextPtr ctx(avcodec().avcodec_alloc_context3(codec));
    ctx->width = Settings.FrameWidth;
    ctx->height = Settings.FrameHeight;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = av_inv_q(Settings.FrameRate);
    Generic.ApplyToCodecContext(AVMEDIA_TYPE_VIDEO, ctx.get(), AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
    AVDictionary* opts = Generic.CodecPrivateOptions(AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(avcodec().avcodec_open2(ctx.get(), codec, &opts), 0);
    EXPECT_EQ(avutil().av_dict_count(opts), 0);
    avutil().av_dict_free(&opts);
    EXPECT_EQ(ctx->bit_rate, 2040000);
    EXPECT_EQ(ctx->gop_size, 15);
}
