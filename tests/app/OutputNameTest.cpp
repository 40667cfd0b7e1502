#include "formats/OutputName.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/IniFile.h"
#include "tests/app/AppTestSupport.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct TOutputNameTest : ::testing::Test {
    apptest::TScratchHome home;
    TempDir dir;
    IniFile settings{dir.file("settings.ini")};
    std::vector<std::string> warnings;
    TWarningSink warn = [this](const std::string& text) { warnings.push_back(text); };
};

}  // namespace

TEST_F(TOutputNameTest, AddsTheFirstFreeNumberWhenTheNameIsTaken) {
    const std::string out = dir.file("out");
    fs::create_directory(out);
    settings.WriteString("settings", "OutPutDir", out);

    EXPECT_EQ(OutputFileName(settings, "/a/clip.avi", ".mp4", warn), out + "/clip_(new).mp4");
    WriteFile(out + "/clip_(new).mp4", "x");
    EXPECT_EQ(OutputFileName(settings, "/a/clip.avi", ".mp4", warn), out + "/clip_(new_1).mp4");
    WriteFile(out + "/clip_(new_1).mp4", "x");
    EXPECT_EQ(OutputFileName(settings, "/a/clip.avi", ".mp4", warn), out + "/clip_(new_2).mp4");
    // A folder of that name blocks the file just as well.
    fs::create_directory(out + "/clip_(new_2).mp4");
    EXPECT_EQ(OutputFileName(settings, "/a/clip.avi", ".mp4", warn), out + "/clip_(new_3).mp4");
    EXPECT_TRUE(warnings.empty());
}

TEST_F(TOutputNameTest, OnlyTheLastExtensionIsDroppedAndTheSuffixIsKeptWhole) {
    const std::string out = dir.file("o");
    settings.WriteString("settings", "OutPutDir", out + "/");
    // A folder that already ends with the separator gets no second one.
    EXPECT_EQ(OutputFileName(settings, "/m/holiday.2019.mp4", "_ipod.avi", warn), out + "/holiday.2019_(new)_ipod.avi");
    EXPECT_EQ(OutputFileName(settings, "/m/noext", ".mp3", warn), out + "/noext_(new).mp3");
    EXPECT_EQ(OutputFileName(settings, "/m/dir.d/noext", ".mp3", warn), out + "/noext_(new).mp3");

    // The run's name takes the format's extension; one that would leave the folder is refused.
    IniFile formats(dir.file("formats.ini"));
    formats.WriteString("formatInfo0", "FileExt", "avi");
    formats.WriteString("formatInfo1", "FileExt", "../../up");
    formats.WriteString("formatInfo2", "FileExt", "..");
    EXPECT_EQ(RunOutputFileName(settings, formats, 0, "/m/clip.mp4", warn), out + "/clip_(new).avi");
    EXPECT_EQ(RunOutputFileName(settings, formats, 1, "/m/clip.mp4", warn), out + "/clip_(new).mp4");
    EXPECT_EQ(RunOutputFileName(settings, formats, 2, "/m/clip.mp4", warn), out + "/clip_(new).mp4");
    EXPECT_EQ(RunOutputFileName(settings, formats, 3, "/m/clip.mp4", warn), out + "/clip_(new).mp4");
}

TEST_F(TOutputNameTest, CreatesAMissingFolderWithItsParents) {
    const std::string deep = dir.file("a/b/c");
    settings.WriteString("settings", "OutPutDir", deep);
    EXPECT_EQ(OutputFileName(settings, "x.mp4", ".avi", warn), deep + "/x_(new).avi");
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(settings.ReadString("settings", "OutPutDir", ""), deep);
}

TEST_F(TOutputNameTest, AFolderThatCannotBeMadeFallsBackToTheHomeFolderAndIsStored) {
    WriteFile(dir.file("plain-file"), "not a folder");
    const std::string bad = dir.file("plain-file/sub");
    settings.WriteString("settings", "OutPutDir", bad);

    const std::string fallback = home.Path() + "/reelshift";
    EXPECT_EQ(DefaultOutputFolder(), fallback);
    EXPECT_EQ(OutputFileName(settings, "/v/clip.mp4", ".avi", warn), fallback + "/clip_(new).avi");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "Cannot create output directory:" + bad + ".It will create default directory " + fallback + "!");
    EXPECT_TRUE(fs::is_directory(fallback));
    EXPECT_EQ(settings.ReadString("settings", "OutPutDir", ""), fallback);
}

TEST_F(TOutputNameTest, WithoutAStoredFolderTheHomeFolderIsUsed) {
    EXPECT_EQ(StoredOutputFolder(settings), home.Path() + "/reelshift");
    EXPECT_EQ(OutputFileName(settings, "/v/clip.mp4", ".avi", warn), home.Path() + "/reelshift/clip_(new).avi");
    EXPECT_TRUE(warnings.empty());
    // An empty stored folder names nothing that can be made.
    settings.WriteString("settings", "OutPutDir", "");
    OutputFileName(settings, "/v/clip.mp4", ".avi", warn);
    EXPECT_EQ(warnings.size(), 1u);
}
