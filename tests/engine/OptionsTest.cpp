#include <cmath>
#include <regex>

#include "OptionsTestSupport.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TestSupport.h"
#include "platform/ProgramFolder.h"

using OptionTable = OptionsFixture;

TEST_F(OptionTable, BitRateBelowOneThousandWarnsAndRealBitRatesDoNot) {
    Parser.ParseOption("b", "64");
    EXPECT_EQ(VideoInt("b"), 64);
    EXPECT_TRUE(Logged("WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s"));

    Lines.clear();
    Parser.ParseOption("b", "64000");
    EXPECT_EQ(VideoInt("b"), 64000);
    EXPECT_FALSE(Logged("bitrate parameter is set too low"));

    // "vb" reaches only the video template, "ab" only the audio one, and "ab" is judged
    // by the audio value.
    Parser.ParseOption("vb", "768000");
    Parser.ParseOption("ab", "128000");
    EXPECT_EQ(VideoInt("b"), 768000);
    EXPECT_EQ(AudioInt("b"), 128000);
    EXPECT_FALSE(Logged("bitrate parameter is set too low"));
    Parser.ParseOption("ab", "96");
    EXPECT_TRUE(Logged("bitrate parameter is set too low"));
    EXPECT_EQ(VideoInt("b"), 768000);
    // The warning carries the task as sender.
    for (const auto& l : Lines)
        if (l.Text.find("too low") != std::string::npos) EXPECT_EQ(l.Sender, &Host);
}

TEST_F(OptionTable, RejectedOptionsCarryTheirTexts) {
    EXPECT_EQ(ErrorOf("threads", "2"), "TODO: option - threads");
    EXPECT_EQ(ErrorOf("metadata", "title"), "Missing =");
    EXPECT_EQ(ErrorOf("itsscale", "25:2"), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(ErrorOf("pass", "3"), "pass number can be only 1 or 2");
    EXPECT_EQ(ErrorOf("aspect", "4:0"), "Incorrect aspect ratio specification.");
    EXPECT_EQ(ErrorOf("aspect", "0"), "Incorrect aspect ratio specification.");
    EXPECT_EQ(ErrorOf("aspect", "-4:3"), "Incorrect aspect ratio specification.");
    EXPECT_EQ(ErrorOf("pix_fmt", "nosuchfmt"), "Unknown pixel format requested: nosuchfmt");
    EXPECT_EQ(ErrorOf("r", "fast"), "Incorrect frame rate");
    EXPECT_EQ(ErrorOf("s", "wide"), "Incorrect frame size");
    EXPECT_EQ(ErrorOf("qscale", "0"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(ErrorOf("qscale", "256"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(ErrorOf("padtop", "10"), "Please use vfilters=pad");
    EXPECT_EQ(ErrorOf("padcolor", "000000"), "Please use vfilters=pad");
    EXPECT_EQ(ErrorOf("vtag", "xvi"), "video tag parameter must be 4 chars");
    EXPECT_EQ(ErrorOf("atag", "mp4a1"), "audio tag parameter must be 4 chars");
    EXPECT_EQ(ErrorOf("stag", ""), "subtitle tag parameter must be 4 chars");
    EXPECT_EQ(ErrorOf("newaudio", ""), "At least one output file must be specified");
    EXPECT_EQ(ErrorOf("vbsf", "nosuchfilter=x"), "Unknown bitstream filter nosuchfilter");
    EXPECT_EQ(ErrorOf("vhook", "/nonexistent/hook.so -x 1"),
              "Failed to add video hook function: /nonexistent/hook.so -x 1");
    EXPECT_EQ(ErrorOf("streamid", "1"),
              "Invalid value \"1\" for option \"streamid\", required syntax is \"index:value\"");
    EXPECT_EQ(ErrorOf("streamid", "x:5"),
              "Invalid value \"x:5\" for option \"streamid\", required syntax is \"index:value\"");
    EXPECT_EQ(ErrorOf("streamid", "20:5"),
              "Invalid value \"20:5\" for option \"streamid\", required syntax is \"index:value\"");
    EXPECT_EQ(ErrorOf("t", "soon"), "Invalid duration specification for t: soon");
    EXPECT_EQ(ErrorOf("vframes", "many"), "Expected number for vframes but found: many");
    // None of the refusals touched the settings.
    EXPECT_TRUE(Settings.MetaData.empty());
    EXPECT_EQ(Settings.DoPass, 0);
    EXPECT_EQ(Settings.FrameAspectRatio, 0.0);
    EXPECT_EQ(Settings.FramePixFmt, -1);
    EXPECT_TRUE(Settings.VideoCodecTag.empty());
    EXPECT_EQ(Settings.StreamIdMapSize, 0);
}

TEST_F(OptionTable, IgnoredOptionsOnlyLog) {
    Parser.ParseOption("version", "");
    Parser.ParseOption("y", "1");
    Parser.ParseOption("benchmark", "1");
    EXPECT_TRUE(Logged("Do nothing: option - version"));
    EXPECT_TRUE(Logged("Do nothing: option - y"));
    EXPECT_TRUE(Logged("Do nothing: option - benchmark"));
    for (const auto& l : Lines) EXPECT_EQ(l.Level, llInfo);
    Parser.ParseOption("timelimit", "10");
    EXPECT_TRUE(Logged("Warning: -timelimit not implemented on Windows"));
    // Unknown names go to the generic store, which ignores them.
    EXPECT_NO_THROW(Parser.ParseOption("no_such_option", "1"));
    EXPECT_TRUE(Generic.SetNames().empty());
}

TEST_F(OptionTable, TimesAndCountsReachTheSettings) {
    Parser.ParseOption("t", "1.5");
    EXPECT_EQ(Settings.RecordingTime, 1500000);
    EXPECT_EQ(Host.LastRecordingTime, 1500000);
    Parser.ParseOption("ss", "00:01:02.5");
    EXPECT_EQ(Settings.StartTime, 62500000);
    Parser.ParseOption("itsoffset", "-2");
    EXPECT_EQ(Settings.InputTsOffset, -2000000);
    Parser.ParseOption("fs", "5000000000");
    EXPECT_EQ(Settings.LimitFileSize, 5000000000LL);
    Parser.ParseOption("timestamp", "2010-05-06 07:08:09.6Z");
    EXPECT_EQ(Settings.RecordingTimestamp, 1273129690);  // rounded to the second

    Host.Inputs = 1;  // a scale is for the next input
    Parser.ParseOption("itsscale", "3:2.5");
    EXPECT_DOUBLE_EQ(Settings.InputTsScale[1][3], 2.5);
    EXPECT_DOUBLE_EQ(Settings.InputTsScale[0][3], 1.0);

    Parser.ParseOption("vframes", "100");
    Parser.ParseOption("aframes", "200");
    Parser.ParseOption("dframes", "3");
    EXPECT_EQ(Settings.MaxFrames[AVMEDIA_TYPE_VIDEO], 100);
    EXPECT_EQ(Settings.MaxFrames[AVMEDIA_TYPE_AUDIO], 200);
    EXPECT_EQ(Settings.MaxFrames[AVMEDIA_TYPE_DATA], 3);

    Parser.ParseOption("ar", "0");
    Parser.ParseOption("ac", "-1");
    EXPECT_EQ(Settings.AudioSampleRate, 44100);  // only positive values apply
    EXPECT_EQ(Settings.AudioChannels, 2);
    Parser.ParseOption("ar", "22050");
    Parser.ParseOption("ac", "1");
    EXPECT_EQ(Settings.AudioSampleRate, 22050);
    EXPECT_EQ(Settings.AudioChannels, 1);
}

TEST_F(OptionTable, BooleansAreTrueForAnyValueButZero) {
    Parser.ParseOption("vn", "yes");
    Parser.ParseOption("an", "0");
    Parser.ParseOption("shortest", "1");
    Parser.ParseOption("copyts", "0");  // "any value" switches it on
    EXPECT_TRUE(Settings.VideoDisable);
    EXPECT_FALSE(Settings.AudioDisable);
    EXPECT_TRUE(Settings.OptShortest);
    EXPECT_TRUE(Settings.CopyTs);
}

TEST_F(OptionTable, FrameGeometryAndCropBands) {
    Parser.ParseOption("s", "320x240");
    Parser.ParseOption("r", "30000/1001");
    EXPECT_EQ(Settings.FrameWidth, 320);
    EXPECT_EQ(Settings.FrameHeight, 240);
    EXPECT_EQ(Settings.FrameRate.num, 30000);
    EXPECT_EQ(Settings.FrameRate.den, 1001);

    EXPECT_EQ(ErrorOf("croptop", "240"),
              "Vertical crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    EXPECT_EQ(ErrorOf("cropright", "320"),
              "Horizontal crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    Parser.ParseOption("croptop", "0");
    Parser.ParseOption("cropleft", "-5");
    EXPECT_EQ(Settings.FrameHeight, 240);
    EXPECT_EQ(Settings.FrameWidth, 320);
    EXPECT_EQ(Settings.FrameTopBand, 0);
    EXPECT_FALSE(Logged("CropXXX"));

    Parser.ParseOption("croptop", "10");
    Parser.ParseOption("cropbottom", "20");
    Parser.ParseOption("cropleft", "8");
    EXPECT_EQ(Settings.FrameTopBand, 10);
    EXPECT_EQ(Settings.FrameBottomBand, 20);
    EXPECT_EQ(Settings.FrameLeftBand, 8);
    EXPECT_EQ(Settings.FrameHeight, 210);
    EXPECT_EQ(Settings.FrameWidth, 312);
    EXPECT_TRUE(Logged("CropXXX is deprecated in favor of the crop avfilter"));
    // The reduced height is what the next band is checked against.
    EXPECT_NE(ErrorOf("cropbottom", "210"), "");

    Parser.ParseOption("aspect", "16:9");
    EXPECT_DOUBLE_EQ(Settings.FrameAspectRatio, 16.0 / 9.0);
    Parser.ParseOption("aspect", "1.3333");
    EXPECT_DOUBLE_EQ(Settings.FrameAspectRatio, 1.3333);
    Parser.ParseOption("pix_fmt", "yuv422p");
    EXPECT_EQ(Settings.FramePixFmt, AV_PIX_FMT_YUV422P);
}

TEST_F(OptionTable, ListsOfFormatsAreLoggedAtInfoLevel) {
    Parser.ParseOption("pix_fmt", "list");
    EXPECT_EQ(Lines.size(), 68u);  // a header line and formats 0 to 66
    EXPECT_TRUE(Logged("yuv420p"));
    EXPECT_EQ(Settings.FramePixFmt, -1);
    Lines.clear();
    Parser.ParseOption("sample_fmt", "list");
    EXPECT_EQ(Lines.size(), 6u);
    EXPECT_TRUE(Logged("s16"));
    Parser.ParseOption("sample_fmt", "fltp");
    EXPECT_EQ(Settings.AudioSampleFmt, AV_SAMPLE_FMT_FLTP);
}

TEST_F(OptionTable, QuantizerMatrices) {
    std::string values;
    for (int i = 1; i <= 64; ++i) values += (i > 1 ? "," : "") + std::to_string(i + 8);
    Parser.ParseOption("intra_matrix", values);
    ASSERT_TRUE(Settings.IntraMatrix.has_value());
    EXPECT_EQ((*Settings.IntraMatrix)[0], 9);
    EXPECT_EQ((*Settings.IntraMatrix)[63], 72);
    EXPECT_FALSE(Settings.InterMatrix.has_value());

    std::string ten = "16,16,16,16,16,16,16,16,16,16";
    EXPECT_EQ(ErrorOf("inter_matrix", ten), "Syntax error in matrix \"" + ten + "\" at coeff 10");
    EXPECT_FALSE(Settings.InterMatrix.has_value());
    // A zero coefficient would make the encoder divide by zero.
    std::string zero = "16,0" + values.substr(values.find(',', 3));
    EXPECT_EQ(ErrorOf("inter_matrix", zero), "Syntax error in matrix \"" + zero + "\" at coeff 1");
}

TEST_F(OptionTable, StreamMapsMetadataAndStreamIds) {
    Parser.ParseOption("map", "0.1");
    Parser.ParseOption("map", "1:0:0.2");
    ASSERT_EQ(Settings.StreamMaps.size(), 2u);
    EXPECT_EQ(Settings.StreamMaps[0].FileIndex, 0);
    EXPECT_EQ(Settings.StreamMaps[0].StreamIndex, 1);
    EXPECT_EQ(Settings.StreamMaps[0].SyncFileIndex, 0);  // its own sync stream
    EXPECT_EQ(Settings.StreamMaps[0].SyncStreamIndex, 1);
    EXPECT_EQ(Settings.StreamMaps[1].FileIndex, 1);
    EXPECT_EQ(Settings.StreamMaps[1].SyncStreamIndex, 2);
    EXPECT_NE(ErrorOf("map", "first"), "");

    for (int i = 2; i < MAX_STREAM_MAPS; ++i) Parser.ParseOption("map", "0.0");
    EXPECT_NE(ErrorOf("map", "0.0"), "");  // the table is full
    EXPECT_EQ(Settings.StreamMaps.size(), size_t(MAX_STREAM_MAPS));

    Parser.ParseOption("map_meta_data", "0:1");
    ASSERT_EQ(Settings.MetaDataMaps.size(), 1u);
    EXPECT_EQ(Settings.MetaDataMaps[0].OutFile, 0);
    EXPECT_EQ(Settings.MetaDataMaps[0].InFile, 1);

    Parser.ParseOption("metadata", "title=A = B");
    ASSERT_EQ(Settings.MetaData.size(), 1u);
    EXPECT_EQ(Settings.MetaData[0].first, "title");
    EXPECT_EQ(Settings.MetaData[0].second, "A = B");

    Parser.ParseOption("streamid", "3:257");
    EXPECT_EQ(Settings.StreamIdMap[3], 257);
    EXPECT_EQ(Settings.StreamIdMapSize, 4);
}

TEST_F(OptionTable, CodecsTagsLanguagesAndNewStreams) {
    Parser.ParseOption("vcodec", "libx264");
    Parser.ParseOption("acodec", "copy");
    Parser.ParseOption("vtag", "avc1");
    Parser.ParseOption("alang", "eng");
    EXPECT_EQ(Settings.VideoCodecName, "libx264");
    EXPECT_FALSE(Settings.VideoStreamCopy);
    EXPECT_TRUE(Settings.AudioStreamCopy);
    EXPECT_EQ(Settings.VideoCodecTag, "avc1");
    EXPECT_EQ(Settings.AudioLanguage, "eng");

    Host.Outputs = 1;
    Parser.ParseOption("newvideo", "");
    Parser.ParseOption("newsubtitle", "");
    EXPECT_EQ(Host.NewStreams, (std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_SUBTITLE}));

    Parser.ParseOption("vbsf", "h264_mp4toannexb");
    Parser.ParseOption("absf", "=ignored");
    ASSERT_EQ(Settings.BitstreamFilters[AVMEDIA_TYPE_VIDEO].size(), 1u);
    EXPECT_EQ(Settings.BitstreamFilters[AVMEDIA_TYPE_VIDEO][0].Name, "h264_mp4toannexb");
    EXPECT_TRUE(Settings.BitstreamFilters[AVMEDIA_TYPE_AUDIO].empty());

    Parser.ParseOption("f", "pgmyuv");
    EXPECT_EQ(Settings.ForcedFormat, "image2");
    EXPECT_TRUE(Settings.PgmYuvCompatibility);
    EXPECT_TRUE(Logged("pgmyuv format is deprecated, use image2"));
}

TEST_F(OptionTable, StatisticsFileIsNamedInTheProgramFolder) {
    Parser.ParseOption("vstats", "");
    std::regex pattern(std::regex_replace(ProgramFolder() + "/", std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                       R"(vstats_\d{6}\.log)");
    EXPECT_TRUE(std::regex_match(Settings.VStatsFilename, pattern)) << Settings.VStatsFilename;
}

using GenericStore = OptionsFixture;

TEST_F(GenericStore, OptionsLandOnTheTemplatesOfTheirMediaTypes) {
    EXPECT_TRUE(Parser.SetGenericOption("g", "15"));
    EXPECT_EQ(VideoInt("g"), 15);
    EXPECT_NE(AudioInt("g"), 15);  // a video-only option
    EXPECT_TRUE(Parser.SetGenericOption(" ar ", " 22050 "));  // trimmed
    EXPECT_EQ(AudioInt("ar"), 22050);
    EXPECT_TRUE(Parser.SetGenericOption("packetsize", "2048"));
    int64_t packet = 0;
    avutil().av_opt_get_int(Generic.MutableFormatTemplate(), "packetsize", 0, &packet);
    EXPECT_EQ(packet, 2048);
    EXPECT_TRUE(Parser.SetGenericOption("sws_flags", "lanczos"));
    EXPECT_EQ(Generic.ScalerFlags(), SWS_LANCZOS);
    // The prefixed form reaches one type only: "vqmin" is qmin of video.
    EXPECT_TRUE(Parser.SetGenericOption("vqmin", "7"));
    EXPECT_EQ(VideoInt("qmin"), 7);
    EXPECT_EQ(Generic.SetNames(), (std::vector<std::string>{"g", "ar", "packetsize", "sws_flags", "vqmin"}));

    EXPECT_FALSE(Parser.SetGenericOption("nonsense", "1"));
    EXPECT_FALSE(Parser.SetGenericOption("g", ""));
    EXPECT_FALSE(Parser.SetGenericOption("g", "many"));
    EXPECT_TRUE(Logged("Invalid value \"many\" for option \"g\""));
    EXPECT_EQ(VideoInt("g"), 15);
    EXPECT_EQ(Generic.SetNames().size(), 5u);
}

TEST_F(GenericStore, SetValuesAreCopiedOntoRealContexts) {
    Parser.SetGenericOption("g", "25");
    Parser.SetGenericOption("bf", "0");
    Parser.SetGenericOption("flags", "+global_header");
    Parser.SetGenericOption("maxrate", "900000");
    const AVCodec* mpeg4 = avcodec().avcodec_find_encoder_by_name("mpeg4");
    ASSERT_NE(mpeg4, nullptr);
    CodecContextPtr ctx(avcodec().avcodec_alloc_context3(mpeg4));
    const int64_t defaultBitrate = ctx->bit_rate;
    Generic.ApplyToCodecContext(AVMEDIA_TYPE_VIDEO, ctx.get(), AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
    EXPECT_EQ(ctx->gop_size, 25);
    EXPECT_EQ(ctx->max_b_frames, 0);
    EXPECT_TRUE(ctx->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_EQ(ctx->rc_max_rate, 900000);
    EXPECT_EQ(ctx->bit_rate, defaultBitrate);  // never set, so left alone

    SwsPtr sws(swscale().sws_alloc_context());
    Parser.SetGenericOption("sws_flags", "neighbor");
    Generic.ApplyToScaler(sws.get());
    int64_t flags = 0;
    avutil().av_opt_get_int(sws.get(), "sws_flags", 0, &flags);
    EXPECT_EQ(flags, SWS_POINT);
}

TEST_F(GenericStore, DebugValuesRaiseTheLogLevel) {
    EXPECT_TRUE(Parser.SetGenericOption("debug", "pict"));
    EXPECT_EQ(FFLogger().LogLevel(), llDebug);
}

TEST_F(GenericStore, PrivateOptionsOfTheChosenEncoderGoToItsDictionary) {
    EXPECT_FALSE(Parser.SetGenericOption("tune", "film"));  // no encoder chosen: unknown
    Parser.ParseOption("vcodec", "libx264");
    EXPECT_TRUE(Parser.SetGenericOption("tune", "film"));
    EXPECT_TRUE(Parser.SetGenericOption("profile", "main"));  // rejected by the common setting
    EXPECT_FALSE(Parser.SetGenericOption("aq-mode", "sideways"));
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "tune"), "film");
    EXPECT_EQ(Generic.PrivateOption(AVMEDIA_TYPE_VIDEO, "profile"), "main");

    AVDictionary* copy = Generic.CodecPrivateOptions(AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(avutil().av_dict_count(copy), 2);
    avutil().av_dict_free(&copy);
    EXPECT_EQ(Generic.CodecPrivateOptions(AVMEDIA_TYPE_AUDIO), nullptr);
}

using CodecNames = OptionsFixture;

TEST_F(CodecNames, ResolutionErrorsAndTodaysEncoderNames) {
    auto error = [](const std::string& name, AVMediaType type, bool encoder) -> std::string {
        try {
            FindCodecOrThrow(name, type, encoder, FF_COMPLIANCE_NORMAL);
        } catch (const FFmpegException& e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(error("nosuch", AVMEDIA_TYPE_VIDEO, true), "Unknown encoder 'nosuch'");
    EXPECT_EQ(error("nosuch", AVMEDIA_TYPE_VIDEO, false), "Unknown decoder 'nosuch'");
    EXPECT_EQ(error("mp2", AVMEDIA_TYPE_VIDEO, true), "Invalid encoder type 'mp2'");
    EXPECT_EQ(error("libopencore_amrnb", AVMEDIA_TYPE_AUDIO, true), "Unknown encoder 'libopencore_amrnb'");
    EXPECT_EQ(error("dca", AVMEDIA_TYPE_AUDIO, true),
              "encoder 'dca' is experimental and might produce bad results.\r\n"
              "Add '-strict experimental' if you want to use it.");
    EXPECT_EQ(error("opus", AVMEDIA_TYPE_AUDIO, true),
              "encoder 'opus' is experimental and might produce bad results.\r\n"
              "Add '-strict experimental' if you want to use it.\r\n"
              "Or use the non experimental encoder 'libopus'.");
    EXPECT_NE(FindCodecOrThrow("dca", AVMEDIA_TYPE_AUDIO, true, FF_COMPLIANCE_EXPERIMENTAL), nullptr);

    EXPECT_STREQ(FindCodecOrThrow("libfaac", AVMEDIA_TYPE_AUDIO, true, 0)->name, "aac");
    EXPECT_STREQ(FindCodecOrThrow("vorbis", AVMEDIA_TYPE_AUDIO, true, 0)->name, "libvorbis");
    EXPECT_STREQ(FindCodecOrThrow("libflac", AVMEDIA_TYPE_AUDIO, true, 0)->name, "flac");
    // Decoders keep their names: the native vorbis decoder is not experimental.
    EXPECT_STREQ(FindCodecOrThrow("vorbis", AVMEDIA_TYPE_AUDIO, false, 0)->name, "vorbis");
}

TEST_F(OptionTable, MalformedValuesRaiseEngineErrorsOrAreTakenNeverAnythingElse) {
    const char* names[] = {"loglevel", "f", "map", "map_meta_data", "t", "fs", "ss", "itsoffset", "itsscale",
                           "timestamp", "metadata", "dframes", "dump", "loop_output", "v", "target", "vsync",
                           "async", "adrift_threshold", "vglobal", "dts_delta_threshold", "programid", "copyinkf",
                           "b", "vb", "vframes", "r", "s", "aspect", "pix_fmt", "croptop", "cropleft", "vdt",
                           "qscale", "vcodec", "me_threshold", "pass", "top", "dc", "intra_matrix", "vtag",
                           "streamid", "ab", "aframes", "aq", "ar", "ac", "vol", "sample_fmt", "vc", "muxdelay",
                           "muxpreload", "absf", "vbsf", "vpre", "fpre", "flags", "flags2", "partitions",
                           "me_method", "deblockalpha", "g"};
    const char* values[] = {"", "x", "-1", "0", "99999999999999999999", "1:2:3", "=", ":", ".", "1e999",
                            "0x7fffffff", "-", "+", "+-+", "nan"};
    for (const char* name : names) {
        for (const char* value : values) {
            SCOPED_TRACE(std::string(name) + "=" + value);
            try {
                Parser.ParseOption(name, value);
            } catch (const FFmpegException&) {
            } catch (const std::exception& e) {
                ADD_FAILURE() << "unexpected error: " << e.what();
            }
        }
    }
    FFLogger().SetLogLevel(llInfo);
}
