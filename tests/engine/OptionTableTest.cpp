// The option table against the names and kinds the options have always had, and the
// steps that reset what an input or an output used up.
#include <functional>
#include <set>

#include "OptionsTestSupport.h"

using OptionNames = OptionsFixture;

namespace {
// Every name the option handler accepts, written out by hand: a name missing from the table
// would silently fall through to the generic store.
const char* const kKnownNames[] = {
    "L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "loglevel", "f", "i", "y", "map",
    "map_meta_data", "t", "fs", "ss", "itsoffset", "itsscale", "timestamp", "metadata", "dframes", "benchmark",
    "timelimit", "dump", "hex", "re", "loop_input", "loop_output", "v", "target", "threads", "vsync", "async",
    "adrift_threshold", "vglobal", "copyts", "shortest", "dts_delta_threshold", "programid", "xerror",
    "copyinkf", "b", "vb", "vframes", "r", "s", "aspect", "pix_fmt", "croptop", "cropbottom", "cropleft",
    "cropright", "padtop", "padbottom", "padleft", "padright", "padcolor", "intra", "vn", "vdt", "qscale",
    "rc_override", "vcodec", "me_threshold", "sameq", "deinterlace", "autorotate", "autodeinterlace", "autotonemap", "psnr", "qphist", "force_fps", "pass",
    "passlogfile", "vstats", "vstats_file", "vhook", "vfilters", "vf", "intra_matrix", "inter_matrix", "top",
    "dc", "vtag", "atag", "stag", "newvideo", "newaudio", "newsubtitle", "vlang", "alang", "slang", "streamid",
    "ab", "aframes", "aq", "ar", "ac", "an", "sn", "acodec", "scodec", "vol", "sample_fmt", "vc", "tvstd",
    "isync", "muxdelay", "muxpreload", "absf", "vbsf", "sbsf", "apre", "vpre", "spre", "fpre"};

struct TFieldCase {
    const char* Name;
    const char* Value;
    std::function<bool(const TEngineSettings&)> Written;
};
}  // namespace

TEST_F(OptionNames, TheTableHoldsEveryKnownNameOnceAndNoOther) {
    std::set<std::string> known(std::begin(kKnownNames), std::end(kKnownNames));
    std::set<std::string> inTable;
    for (const TOptionEntry& e : TOptionParser::Entries()) {
        EXPECT_TRUE(inTable.insert(e.Name).second) << "twice: " << e.Name;
        EXPECT_TRUE(known.count(e.Name)) << "new name: " << e.Name;
    }
    for (const std::string& n : known) {
        const TOptionEntry* e = TOptionParser::FindEntry(n);
        ASSERT_NE(e, nullptr) << n;
        EXPECT_EQ(e->Name, n);
    }
    // Names compare exactly; other spellings are the generic store's.
    EXPECT_EQ(TOptionParser::FindEntry("VCODEC"), nullptr);
    EXPECT_EQ(TOptionParser::FindEntry("vcodec "), nullptr);
    EXPECT_EQ(TOptionParser::FindEntry("g"), nullptr);
}

TEST_F(OptionNames, EachFieldOptionWritesItsFieldAndAliasesShareIt) {
    const TFieldCase cases[] = {
        {"ss", "1.5", [](auto& s) { return s.StartTime == 1500000; }},
        {"itsoffset", "-2", [](auto& s) { return s.InputTsOffset == -2000000; }},
        {"loop_input", "1", [](auto& s) { return s.LoopInput; }},
        {"programid", "7", [](auto& s) { return s.ProgramId == 7; }},
        {"vdt", "48", [](auto& s) { return s.VideoDiscard == 48; }},
        {"vc", "3", [](auto& s) { return s.VideoChannel == 3; }},
        {"tvstd", "pal", [](auto& s) { return s.VideoStandard == "pal"; }},
        {"intra", "1", [](auto& s) { return s.IntraOnly; }},
        {"vn", "1", [](auto& s) { return s.VideoDisable; }},
        {"rc_override", "0,10,2", [](auto& s) { return s.VideoRcOverride == "0,10,2"; }},
        {"me_threshold", "5", [](auto& s) { return s.MeThreshold == 5; }},
        {"sameq", "1", [](auto& s) { return s.SameQuality; }},
        {"deinterlace", "1", [](auto& s) { return s.DoDeinterlace; }},
        {"psnr", "1", [](auto& s) { return s.DoPSNR; }},
        {"qphist", "1", [](auto& s) { return s.QpHist; }},
        {"force_fps", "1", [](auto& s) { return s.ForceFps; }},
        {"passlogfile", "/tmp/p", [](auto& s) { return s.PassLogFileName == "/tmp/p"; }},
        {"vstats_file", "v.log", [](auto& s) { return s.VStatsFilename == "v.log"; }},
        {"vfilters", "hflip", [](auto& s) { return s.VFilters == "hflip"; }},
        {"vf", "vflip", [](auto& s) { return s.VFilters == "vflip"; }},
        {"top", "1", [](auto& s) { return s.TopFieldFirst == 1; }},
        {"dc", "10", [](auto& s) { return s.IntraDCPrecision == 10; }},
        {"vlang", "eng", [](auto& s) { return s.VideoLanguage == "eng"; }},
        {"aq", "2.5", [](auto& s) { return s.AudioQScale == 2.5f; }},
        {"an", "1", [](auto& s) { return s.AudioDisable; }},
        {"vol", "512", [](auto& s) { return s.AudioVolume == 512; }},
        {"alang", "fra", [](auto& s) { return s.AudioLanguage == "fra"; }},
        {"sn", "1", [](auto& s) { return s.SubtitleDisable; }},
        {"slang", "deu", [](auto& s) { return s.SubtitleLanguage == "deu"; }},
        {"fs", "123456789012", [](auto& s) { return s.LimitFileSize == 123456789012; }},
        {"dump", "1", [](auto& s) { return s.DoPktDump; }},
        {"hex", "1", [](auto& s) { return s.DoHexDump; }},
        {"re", "1", [](auto& s) { return s.RateEmu; }},
        {"loop_output", "3", [](auto& s) { return s.LoopOutput == 3; }},
        {"v", "2", [](auto& s) { return s.Verbose == 2; }},
        {"vsync", "0", [](auto& s) { return s.VideoSyncMethod == 0; }},
        {"async", "100", [](auto& s) { return s.AudioSyncMethod == 100; }},
        {"adrift_threshold", "0.5", [](auto& s) { return s.AudioDriftThreshold == 0.5f; }},
        {"vglobal", "2", [](auto& s) { return s.VideoGlobalHeader == 2; }},
        {"copyts", "0", [](auto& s) { return s.CopyTs; }},  // set whatever the value
        {"shortest", "1", [](auto& s) { return s.OptShortest; }},
        {"dts_delta_threshold", "4", [](auto& s) { return s.DtsDeltaThreshold == 4.0f; }},
        {"xerror", "0", [](auto& s) { return s.ExitOnError; }},
        {"copyinkf", "2", [](auto& s) { return s.CopyInitialNonKeyframes; }},
        {"isync", "1", [](auto& s) { return s.InputSync; }},
        {"muxdelay", "0.25", [](auto& s) { return s.MuxMaxDelay == 0.25f; }},
        {"muxpreload", "1.5", [](auto& s) { return s.MuxPreload == 1.5f; }},
    };
    for (const auto& c : cases) {
        TEngineSettings fresh;
        ASSERT_FALSE(c.Written(fresh)) << c.Name << " already holds the value";
        TOptionParser parser(fresh, Generic, Host);
        ASSERT_NO_THROW(parser.ParseOption(c.Name, c.Value)) << c.Name;
        EXPECT_TRUE(c.Written(fresh)) << c.Name << "=" << c.Value;
    }
}

TEST_F(OptionNames, NumbersAreCheckedBooleansNeverAre) {
    for (const char* n : {"programid", "vdt", "vc", "me_threshold", "top", "dc", "vol", "loop_output", "v",
                          "vsync", "async", "vglobal", "copyinkf", "fs", "aq", "adrift_threshold",
                          "dts_delta_threshold", "muxdelay", "muxpreload", "vframes", "aframes", "dframes"})
        EXPECT_EQ(ErrorOf(n, "x1"), std::string("Expected number for ") + n + " but found: x1");
    for (const char* n : {"ss", "itsoffset", "t"})
        EXPECT_EQ(ErrorOf(n, "soon"), std::string("Invalid duration specification for ") + n + ": soon");
    for (const char* n : {"loop_input", "intra", "vn", "sameq", "deinterlace", "psnr", "qphist", "force_fps", "an",
                          "sn", "dump", "hex", "re", "shortest", "isync"})
        EXPECT_EQ(ErrorOf(n, "yes"), "") << n;
    EXPECT_TRUE(Settings.VideoDisable && Settings.AudioDisable && Settings.InputSync);
    Parser.ParseOption("vn", "0");
    EXPECT_FALSE(Settings.VideoDisable);
}

TEST(SettingsRecords, AnInputAndAnOutputResetWhatTheyUsedUpAndKeepTheRest) {
    TEngineSettings s;
    s.ForcedFormat = "rawvideo";
    s.ProgramId = 4;
    s.StartTime = 5;
    s.VideoChannel = 2;
    s.VideoStandard = "ntsc";
    s.VideoCodecName = "h264";
    s.AudioCodecName = "aac";
    s.SubtitleCodecName = "srt";
    s.InputTsOffset = 7;
    s.LoopInput = true;
    s.VideoDiscard = 16;
    s.VideoDisable = true;
    s.AudioDisable = true;
    s.SubtitleDisable = true;
    s.StreamIdMap[1] = 33;
    s.StreamIdMapSize = 2;
    s.RecordingTime = 9;

    TEngineSettings failed = s;
    failed.ForgetCodecNames();
    EXPECT_TRUE(failed.VideoCodecName.empty() && failed.AudioCodecName.empty() && failed.SubtitleCodecName.empty());
    EXPECT_EQ(failed.StartTime, 5);
    EXPECT_EQ(failed.VideoStandard, "ntsc");

    s.ConsumeInput();
    EXPECT_TRUE(s.ForcedFormat.empty());
    EXPECT_EQ(s.ProgramId, -1);
    EXPECT_EQ(s.StartTime, 0);
    EXPECT_EQ(s.VideoChannel, 0);
    EXPECT_TRUE(s.VideoStandard.empty());
    EXPECT_TRUE(s.VideoCodecName.empty() && s.AudioCodecName.empty() && s.SubtitleCodecName.empty());
    // Kept for the inputs that follow, and for the outputs.
    EXPECT_EQ(s.InputTsOffset, 7);
    EXPECT_TRUE(s.LoopInput);
    EXPECT_EQ(s.VideoDiscard, 16);
    EXPECT_TRUE(s.VideoDisable && s.AudioDisable && s.SubtitleDisable);
    EXPECT_EQ(s.StreamIdMapSize, 2);

    s.ConsumeStreamChoice();
    EXPECT_FALSE(s.VideoDisable || s.AudioDisable || s.SubtitleDisable);
    EXPECT_EQ(s.StreamIdMap[1], 33);
    s.ConsumeOutput();
    EXPECT_EQ(s.StreamIdMap[1], 0);
    EXPECT_EQ(s.StreamIdMapSize, 0);
    EXPECT_EQ(s.RecordingTime, 9);
}
