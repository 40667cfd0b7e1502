#include "engine/TaskOptions.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

TEST(TaskOptions, ResetReturnsEveryFieldToNotSet) {
    TOutputOptions o;
    o.FileFormat = "avi";
    o.AudioVolume = 3;
    o.CropTop = 8;
    o.Target = 3;
    o.TargetNorm = 2;
    o.DefaultNorm = 2;
    o.VideoDisable = true;
    o.RecordingTime = 5;
    o.Metadata.Title = "x";
    o.Reset();
    EXPECT_EQ(o.FileFormat, "");
    EXPECT_EQ(o.AudioVolume, -1);
    EXPECT_EQ(o.CropTop, -1);
    EXPECT_EQ(o.Target, 0);
    EXPECT_EQ(o.TargetNorm, 0);
    EXPECT_EQ(o.DefaultNorm, 1);
    EXPECT_FALSE(o.VideoDisable);
    EXPECT_EQ(o.RecordingTime, NoTimestamp);
    EXPECT_EQ(o.Metadata.Title, "");
    EXPECT_EQ(o.Metadata.Timestamp, -1.0);
    EXPECT_TRUE(ToEngineOptions(o).empty());

    TInputOptions i;
    i.StartTime = 0;
    i.ProgramId = 4;
    i.Reset();
    EXPECT_EQ(i.StartTime, NoTimestamp);
    EXPECT_EQ(i.ProgramId, -1);
}

TEST(TaskOptions, ExtraOptionLinesSplitAtLineBreaksAndCRLFMarks) {
    const auto lines = ParseExtOptions("  vn=1<CRLF>Metadata=title=a=b\r\nflags\r\rsn = 1 \n");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], (TExtOption{"vn", "1"}));
    EXPECT_EQ(lines[1], (TExtOption{"Metadata", "title=a=b"}));  // split at the first "="
    EXPECT_EQ(lines[1].KeyLower(), "metadata");
    EXPECT_EQ(lines[2], (TExtOption{"flags", ""}));
    EXPECT_EQ(lines[3], (TExtOption{"sn", "1"}));

    std::string text;
    AddExtOption(text, "vn", "1");
    EXPECT_EQ(text, "vn=1");
    AddExtOption(text, "sn", "1");
    EXPECT_EQ(text, "vn=1\r\nsn=1");
    EXPECT_EQ(ExtOptionsToSingleLine(text), "vn=1<CRLF>sn=1");
    EXPECT_EQ(ParseExtOptions(ExtOptionsToSingleLine(text)), ParseExtOptions(text));
}

TEST(TaskOptions, EngineOptionsFollowTheComponentsOrder) {
    TOutputOptions o;
    o.Target = 3;
    o.TargetNorm = 1;
    o.VideoCodec = "mpeg2video";
    o.FrameSize = "720x576";
    o.VideoFilters = "pad=720:576:0:72";
    o.AudioVolume = 0;  // 0 is a volume too
    o.CropLeft = 8;
    o.VideoBitrate = 6000000;
    o.StartTime = 1500000;
    o.Metadata.Year = 2009;
    o.Metadata.Title = "Clip";
    o.Metadata.Timestamp = 25569.5;  // 1970-01-01 noon
    o.ExtOptions = "acodec=mp2<CRLF>g=15<CRLF>s=352x288<CRLF>newaudio=<CRLF>acodec=ac3<CRLF>newaudio=";
    EXPECT_EQ(ToEngineOptions(o),
              (Lines{{"target", "pal-dvd"},
                     {"acodec", "mp2"},  // no field: the first extra line is the default
                     {"vcodec", "mpeg2video"},
                     {"g", "15"},
                     {"vol", "0"},
                     {"cropleft", "8"},
                     {"vb", "6000000"},
                     {"ss", "1.500000"},
                     {"timestamp", "1970-01-01 12:00:00"},
                     {"metadata", "year=2009"},
                     {"metadata", "title=Clip"},
                     {"s", "720x576"},  // the field wins over the extra line
                     {"vf", "pad=720:576:0:72"},
                     {"acodec", "mp2"},
                     {"newaudio", ""},
                     {"acodec", "ac3"},
                     {"newaudio", ""}}));
}

TEST(TaskOptions, InputOptionsKeepOnlyInputLines) {
    TInputOptions i;
    i.ExtOptions = "vn=1\r\nvf=hflip\r\nvpre=fast";
    i.FileFormat = "mpegts";
    i.StartTime = -250000;
    i.ProgramId = 0;
    EXPECT_EQ(ToEngineOptions(i),
              (Lines{{"vn", "1"}, {"f", "mpegts"}, {"ss", "-0.250000"}, {"programid", "0"}}));
}

}  // namespace
