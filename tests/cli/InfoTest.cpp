#include <string>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

using testsupport::TempDir;

namespace {
std::string Cli() { return testsupport::BinDir() + "/reelshift-cli"; }
bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
}  // namespace

TEST(InfoCommand, PrintsTheReportOfEachFile) {
    TempDir dir;
    testsupport::MakeClip(dir.file("a.mp4"), 1, {"-c:v", "mpeg4", "-c:a", "aac"});
    testsupport::MakeClip(dir.file("b.ts"), 1, {"-c:v", "mpeg2video", "-c:a", "mp2"});
    const auto r = testsupport::Run({Cli(), "--info", dir.file("a.mp4"), dir.file("b.ts")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("File Name: " + dir.file("a.mp4") + "\nFormat Name: mov,mp4,m4a,3gp,3g2,mj2\n", 0), 0u) << r.out;
    EXPECT_TRUE(Contains(r.out, "\n\nFile Name: " + dir.file("b.ts") + "\nFormat Name: mpegts\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Stream #0[0x1](und), 1/12800: Video: mpeg4")) << r.out;
    EXPECT_TRUE(Contains(r.out, ", 25 fps, 25 tbr, 90k tbn")) << r.out;
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
}

TEST(InfoCommand, AFileThatCannotBeOpenedFailsTheRunButNotTheOthers) {
    TempDir dir;
    testsupport::MakeClip(dir.file("good.mp4"), 1, {"-c:v", "mpeg4", "-c:a", "aac"});
    testsupport::WriteFile(dir.file("bad.mp4"), "no media here");
    const auto r = testsupport::Run({Cli(), "--info", dir.file("missing.mp4"), dir.file("bad.mp4"), dir.file("good.mp4")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, dir.file("missing.mp4") + ": No such file or directory\n" + dir.file("bad.mp4") +
                         ": Invalid data found when processing input\n");
    EXPECT_EQ(r.out.rfind("File Name: " + dir.file("good.mp4") + "\n", 0), 0u) << r.out;
}

TEST(InfoCommand, WithoutFilesItShowsHowToUseIt) {
    const auto r = testsupport::Run({Cli(), "--info"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "usage: reelshift-cli --info FILE...")) << r.err;
}
