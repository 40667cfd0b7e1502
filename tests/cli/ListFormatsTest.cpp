#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

using testsupport::BinDir;


std::vector<std::vector<std::string>> Lines(const std::string& out) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream f(line);
        for (std::string field; std::getline(f, field, '\t');) fields.push_back(field);
        lines.push_back(fields);
    }
    return lines;
}

std::string Cli() { return BinDir() + "/reelshift-cli"; }

TEST(ListFormats, Mp4AviEditionListsItsEighteenFormatsAndTodaysWithTheirExtensions) {
    auto r = testsupport::Run({Cli(), "--list-formats", "--edition", "mp4avi"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 18u + 14u);
    std::vector<std::string> codes{"0",   "100", "101", "102", "103", "104", "105", "106", "107",
                                   "108", "109", "200", "201", "202", "203", "204", "205", "206"};
    for (int i = 0; i < 14; ++i) codes.push_back(std::to_string(300 + i));
    for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].size(), 4u) << i;
        EXPECT_EQ(lines[i][0], codes[i]);
    }
    EXPECT_EQ(lines[0], (std::vector<std::string>{"0", "Audio-Video-Interleaved - AVI",
                                                  "AVI - Audio-Video-Interleaved(*.avi)", "avi"}));
    EXPECT_EQ(lines[3], (std::vector<std::string>{"102", "General Video formates", "MPEG-4 Video (*.mp4)", "mp4"}));
    EXPECT_EQ(lines[9][2], "DV - NTSC -Digital Video Format (*.dv)");
    EXPECT_EQ(lines[9][3], "dv");
    EXPECT_EQ(lines[12], (std::vector<std::string>{"201", "General Audio formates",
                                                   "AAC Advenced Audio Codec (*.aac)", "aac"}));
    EXPECT_EQ(lines[14][2], "WMA - Windows Meida Audio (*.wma)");
    EXPECT_EQ(lines[14][3], "wma");
    EXPECT_EQ(lines[22], (std::vector<std::string>{"304", "Today's Formats - HEVC, AV1, VP9, Lossless",
                                                   "WebM - VP9 Video with Opus (*.webm)", "webm"}));
    EXPECT_EQ(lines[31][3], "m4a");
}

TEST(ListFormats, VideoEditionListsAllCategories) {
    auto r = testsupport::Run({Cli(), "--list-formats", "--edition", "video"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 121u + 14u);
    EXPECT_EQ(lines[0], (std::vector<std::string>{"0", "Apple iPod", "iPod Video MPEG-4 (*.mp4)", "mp4"}));
    EXPECT_EQ(lines[10], (std::vector<std::string>{"101", "Apple iPhone", "iPhone MPEG-4 Wide Screen (*.mp4)", "mp4"}));
    EXPECT_EQ(lines[120], (std::vector<std::string>{"2706", "General Audio formates", "AC-3 Audio Codec (*.ac3)", "ac3"}));
    EXPECT_EQ(lines[121][0], "2800");
    EXPECT_EQ(lines[134], (std::vector<std::string>{"2813", "Today's Formats - HEVC, AV1, VP9, Lossless",
                                                    "ALAC - Apple Lossless Audio (*.m4a)", "m4a"}));
    int threeG2 = 0;
    for (const auto& l : lines) {
        ASSERT_EQ(l.size(), 4u);
        EXPECT_FALSE(l[3].empty()) << l[0];
        if (l[0] == "1402") EXPECT_EQ(l[3], "3g2");
        if (l[3] == "3g2") ++threeG2;
    }
    EXPECT_EQ(threeG2, 2);
}

TEST(ListFormats, DefaultsToTheCompiledEdition) {
    auto r = testsupport::Run({Cli(), "--list-formats"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(r.out).size(), REELSHIFT_EDITION_VIDEO ? 121u + 14u : 18u + 14u);
}

TEST(ListFormats, RefusesAnUnknownEditionOrArgument) {
    auto r = testsupport::Run({Cli(), "--list-formats", "--edition", "dvd"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("dvd"), std::string::npos);
    r = testsupport::Run({Cli(), "--list-formats", "--edition"});
    EXPECT_EQ(r.exitCode, 2);
    r = testsupport::Run({Cli(), "--list-formats", "extra"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.empty());
}

}  // namespace
