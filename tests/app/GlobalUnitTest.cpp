#include "app/GlobalUnit.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/TestSupport.h"

using testsupport::TempDir;

TEST(GlobalObject, PathSettersRefuseTextsOfThreeCharactersOrLess) {
    TGlobalObject g;
    g.SetSettingsFile("/home/u/a.ini");
    g.SetSettingsFile("a.i");
    EXPECT_EQ(g.SettingsFile(), "/home/u/a.ini");
    g.SetSettingsFile("b.in");
    EXPECT_EQ(g.SettingsFile(), "b.in");
    g.SetFormatFile("/f.ini");
    g.SetFormatFile("");
    g.SetFormatFile("abc");
    EXPECT_EQ(g.FormatFile(), "/f.ini");
}

TEST(GlobalObject, TextSettersRefuseOnlyEmptyTexts) {
    TGlobalObject g;
    g.SetTitle("T");
    g.SetTitle("");
    g.SetVersionText(" 1.000 ");
    g.SetVersionText("");
    g.SetHelpAddress("h");
    g.SetHelpAddress("");
    g.SetWebSiteAddress("w");
    g.SetWebSiteAddress("");
    g.SetDownloadAddress("d");
    g.SetDownloadAddress("");
    EXPECT_EQ(g.Title(), "T");
    EXPECT_EQ(g.VersionText(), " 1.000 ");
    EXPECT_EQ(g.HelpAddress(), "h");
    EXPECT_EQ(g.WebSiteAddress(), "w");
    EXPECT_EQ(g.DownloadAddress(), "d");
}

TEST(GlobalObject, VersionTextRunsTheLastThreeNumbersTogether) {
    EXPECT_EQ(FormatVersionText(3, 3, 0, 0), " 3.300 ");
    EXPECT_EQ(FormatVersionText(4, 12, 1, 7), " 4.1217 ");
    EXPECT_EQ(CompiledVersionText(), " 3.300 ");
}

TEST(GlobalObject, SettingsFileSitsBesideAWritableProgramOtherwiseInTheConfigFolder) {
    TempDir dir;
    EXPECT_EQ(SettingsFileLocation(dir.path().string(), "s.ini", dir.file("cfg")), dir.file("s.ini"));
    const std::string missingProgramFolder = dir.file("no/such/folder");
    EXPECT_EQ(SettingsFileLocation(missingProgramFolder, "s.ini", dir.file("cfg/reelshift")),
              dir.file("cfg/reelshift") + "/s.ini");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("cfg/reelshift")));
}

TEST(GlobalObject, TheCompiledEditionNamesItsFilesTitleAndWebPages) {
    const TGlobalObject g = EditionGlobalObject();
    EXPECT_EQ(g.Title(), "Zanto MP4 to AVI Converter");
    EXPECT_EQ(std::filesystem::path(g.SettingsFile()).filename(), "zantomp4aviconverter.ini");
    EXPECT_EQ(std::filesystem::path(g.FormatFile()).filename(), "zantomp4aviformat.ini");
    for (const std::string& address : {g.HelpAddress(), g.WebSiteAddress(), g.DownloadAddress()})
        EXPECT_EQ(address.rfind("https://", 0), 0u) << address;
    EXPECT_TRUE(g.VersionText().empty());  // computed when the main window first shows
}
