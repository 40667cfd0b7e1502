#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "formats/Catalogue.h"
#include "formats/Edition.h"
#include "platform/IniFile.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(Catalogue, VideoEditionHas28CategoriesAnd121FormatsThenTodaysFormats) {
    const auto& categories = CatalogueCategories(TEdition::Video);
    ASSERT_EQ(categories.size(), 29u);
    for (size_t i = 0; i < categories.size(); ++i) EXPECT_EQ(categories[i].Number, int(i));
    EXPECT_EQ(CatalogueFormatCodes(TEdition::Video).size(), 121u + 14u);
    EXPECT_EQ(categories[13].Name, "Nitendeo WII");
    EXPECT_EQ(categories[26].Name, "General Video formates");
    EXPECT_EQ(categories[27].Name, "General Audio formates");
}

TEST(Catalogue, CodesAreCategoryTimesHundredPlusIndex) {
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 0), "iPod Video MPEG-4 (*.mp4)");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 101), "iPhone MPEG-4 Wide Screen (*.mp4)");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 2706), "AC-3 Audio Codec (*.ac3)");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 1009), "iRiver PMP-120/140/IMP-1000/1100 Video (*.avi)");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 1707), "General Pocket PC Video (*.wmv)");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 2108), "HD MPEG2-TS Video (*.ts)");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 2609), "DV - PAL -Digital Video Format (*.dv)");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 1402), "Mobile Phone 3GP2 h263 Video(*.3gp)");
    // Past the end of a category, of the catalogue, and negative codes name nothing.
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 9), "");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 2707), "");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 2800), "MP4 - H.265/HEVC Video (*.mp4)");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 2813), "ALAC - Apple Lossless Audio (*.m4a)");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 2814), "");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, 2900), "");
    EXPECT_EQ(CatalogueFormatName(TEdition::Video, -1), "");
    const auto codes = CatalogueFormatCodes(TEdition::Video);
    EXPECT_EQ(std::set<int>(codes.begin(), codes.end()).size(), codes.size());
    EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end()));
}

TEST(Catalogue, Mp4AviEditionSharesTheGeneralCategoriesAndTodaysFormats) {
    const auto& categories = CatalogueCategories(TEdition::Mp4Avi);
    ASSERT_EQ(categories.size(), 4u);
    EXPECT_EQ(categories[0].Name, "Audio-Video-Interleaved - AVI");
    EXPECT_EQ(CatalogueFormatName(TEdition::Mp4Avi, 0), "AVI - Audio-Video-Interleaved(*.avi)");
    std::vector<int> expected{0, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109,
                              200, 201, 202, 203, 204, 205, 206};
    for (int i = 0; i < 14; ++i) expected.push_back(300 + i);
    EXPECT_EQ(CatalogueFormatCodes(TEdition::Mp4Avi), expected);
    // Today's formats come last in both editions, under the next free number of each.
    EXPECT_EQ(categories[3].Name, CatalogueCategories(TEdition::Video)[28].Name);
    EXPECT_EQ(categories[3].Formats, CatalogueCategories(TEdition::Video)[28].Formats);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(CatalogueFormatName(TEdition::Mp4Avi, 100 + i), CatalogueFormatName(TEdition::Video, 2600 + i));
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(CatalogueFormatName(TEdition::Mp4Avi, 200 + i), CatalogueFormatName(TEdition::Video, 2700 + i));
    EXPECT_EQ(CatalogueFormatName(TEdition::Mp4Avi, 2706), "");
}

TEST(Edition, ProfilesNameTheEditionsFiles) {
    EXPECT_EQ(EditionProfile(TEdition::Mp4Avi).SettingsFileName, "zantomp4aviconverter.ini");
    EXPECT_EQ(EditionProfile(TEdition::Mp4Avi).FormatFileName, "zantomp4aviformat.ini");
    EXPECT_EQ(EditionProfile(TEdition::Mp4Avi).Title, "Zanto MP4 to AVI Converter");
    EXPECT_EQ(EditionProfile(TEdition::Video).SettingsFileName, "zantoreelshift.ini");
    EXPECT_EQ(EditionProfile(TEdition::Video).FormatFileName, "zantovideoformat.ini");
    EXPECT_EQ(EditionProfile(TEdition::Video).Title, "Zanto Video Converter");
    EXPECT_EQ(CompiledEdition(), REELSHIFT_EDITION_VIDEO ? TEdition::Video : TEdition::Mp4Avi);
}

TEST(Edition, FormatFileIsFoundBesideTheProgramThenInTheDataFolder) {
    testsupport::TempDir dir;
    const auto bin = dir.path() / "bin";
    const auto share = dir.path() / "share" / "reelshift";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(share);
    const std::string name = EditionProfile(TEdition::Video).FormatFileName;
    // Neither there: the path beside the program, so reads give every format's defaults.
    EXPECT_EQ(FindFormatFile(TEdition::Video, bin.string()), (bin / name).string());
    testsupport::WriteFile((share / name).string(), "[formatInfo0]\n");
    EXPECT_EQ(FindFormatFile(TEdition::Video, bin.string()), (share / name).string());
    testsupport::WriteFile((bin / name).string(), "[formatInfo0]\n");
    EXPECT_EQ(FindFormatFile(TEdition::Video, bin.string()), (bin / name).string());
    // The other edition's file is not taken for this one.
    EXPECT_EQ(FindFormatFile(TEdition::Mp4Avi, bin.string()),
              (bin / EditionProfile(TEdition::Mp4Avi).FormatFileName).string());
}

TEST(Edition, AProgramIsInstalledWhenItsDefinitionFileIsOnlyInTheDataFolder) {
    testsupport::TempDir dir;
    const std::filesystem::path bin = dir.file("prefix/bin"), share = dir.file("prefix/share/reelshift");
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(share);
    const std::string name = EditionProfile(TEdition::Mp4Avi).FormatFileName;
    EXPECT_FALSE(RunsInstalled(TEdition::Mp4Avi, bin.string()));  // no definition file anywhere
    testsupport::WriteFile((share / name).string(), "[formatInfo0]\n");
    EXPECT_TRUE(RunsInstalled(TEdition::Mp4Avi, bin.string()));
    testsupport::WriteFile((bin / name).string(), "[formatInfo0]\n");
    EXPECT_FALSE(RunsInstalled(TEdition::Mp4Avi, bin.string()));  // a portable folder wins

}

class CatalogueModel : public ::testing::Test {
protected:
    testsupport::TempDir Dir;
    IniFile Settings{Dir.file("settings.ini")};
    TFormatCatalogueModel Model;

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (int i = 0; i < Model.RowCount(); ++i) texts.push_back(Model.RowText(i));
        return texts;
    }
};

TEST_F(CatalogueModel, StartsCollapsedWhenNothingIsStored) {
    Model.Build(TEdition::Video, Settings);
    ASSERT_EQ(Model.RowCount(), 29);
    for (int i = 0; i < 29; ++i) {
        const TItemInfo& row = Model.Row(i);
        EXPECT_TRUE(row.IsCategory && !row.IsFormat && row.Collapsed);
        EXPECT_EQ(row.Code, i);
    }
    EXPECT_EQ(Model.RowText(19), "Flash Video");
    // The name table holds every format even while its category is closed.
    EXPECT_EQ(Model.FormatNames().Cell(27, 6), "AC-3 Audio Codec (*.ac3)");
    EXPECT_EQ(Model.FormatNames().Cell(27, 7), "");
}

TEST_F(CatalogueModel, StoredStateOpensCategoriesAtBuildAndRoundTrips) {
    Settings.WriteBool("lstformat", "1", false);
    Settings.WriteBool("lstformat", "2", true);
    Model.Build(TEdition::Mp4Avi, Settings);
    const std::vector<std::string> expected{"Audio-Video-Interleaved - AVI", "General Video formates",
                                            "MPEG-1 Video (*.mpg)", "MPEG-2 Video (*.mpg)", "MPEG-4 Video (*.mp4)",
                                            "H.264/MPEG-4 AVC Video (*.mp4)", "AVI Video (*.avi)",
                                            "WMV Video (*.wmv)", "Divx Video (*.avi)", "Xvid Video (*.avi)",
                                            "DV - NTSC -Digital Video Format (*.dv)",
                                            "DV - PAL -Digital Video Format (*.dv)", "General Audio formates",
                                            "Today's Formats - HEVC, AV1, VP9, Lossless"};
    EXPECT_EQ(Texts(), expected);
    EXPECT_TRUE(Model.Row(2).IsFormat);
    EXPECT_EQ(Model.Row(2).Code, 100);
    EXPECT_EQ(Model.Row(11).Code, 109);
    EXPECT_FALSE(Model.Row(1).Collapsed);

    Model.Toggle(0);  // opens "Audio-Video-Interleaved - AVI": its one format follows it
    ASSERT_EQ(Model.RowText(1), "AVI - Audio-Video-Interleaved(*.avi)");
    Model.Toggle(2);  // closes "General Video formates"
    const std::vector<std::string> after{"Audio-Video-Interleaved - AVI", "AVI - Audio-Video-Interleaved(*.avi)",
                                         "General Video formates", "General Audio formates",
                                         "Today's Formats - HEVC, AV1, VP9, Lossless"};
    EXPECT_EQ(Texts(), after);
    Model.SaveCollapseState(Settings);
    // Booleans are stored the way the settings file writes them.
    EXPECT_EQ(Settings.ReadString("lstformat", "0", ""), "0");
    EXPECT_EQ(Settings.ReadString("lstformat", "1", ""), "1");
    EXPECT_EQ(Settings.ReadString("lstformat", "2", ""), "1");

    TFormatCatalogueModel again;
    again.Build(TEdition::Mp4Avi, Settings);
    ASSERT_EQ(again.RowCount(), Model.RowCount());
    for (int i = 0; i < Model.RowCount(); ++i) {
        EXPECT_EQ(again.RowText(i), Model.RowText(i));
        EXPECT_EQ(again.Row(i).Collapsed, Model.Row(i).Collapsed);
        EXPECT_EQ(again.Row(i).Code, Model.Row(i).Code);
    }
}

TEST_F(CatalogueModel, CollapsingRemovesOnlyTheRunRightAfterTheCategory) {
    for (const char* key : {"0", "1", "2"}) Settings.WriteBool("lstformat", key, false);
    Model.Build(TEdition::Video, Settings);
    ASSERT_EQ(Model.RowCount(), 29 + 9 + 5 + 6);
    const int iphone = Model.FindRow("Apple iPhone");
    ASSERT_EQ(iphone, 10);
    Model.Toggle(iphone);
    EXPECT_EQ(Model.RowCount(), 29 + 9 + 6);
    EXPECT_TRUE(Model.Row(iphone).Collapsed);
    EXPECT_EQ(Model.RowText(iphone + 1), "Apple TV");
    EXPECT_EQ(Model.RowText(iphone - 1), "iPod Touch MPEG-4 Wide Screen (*.mp4)");
    EXPECT_EQ(Model.RowText(iphone + 2), "Apple TV (640 x 480) MPEG-4 Excellent (*.mp4)");
    // Opening again puts the formats back in index order with their codes.
    Model.Toggle(iphone);
    EXPECT_FALSE(Model.Row(iphone).Collapsed);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(Model.Row(iphone + 1 + i).IsFormat);
        EXPECT_EQ(Model.Row(iphone + 1 + i).Code, 100 + i);
    }
    EXPECT_EQ(Model.RowText(iphone + 2), "iPhone MPEG-4 Wide Screen (*.mp4)");
}

TEST_F(CatalogueModel, ToggleLeavesFormatRowsAndOutOfRangeRowsAlone) {
    Settings.WriteBool("lstformat", "27", false);
    Model.Build(TEdition::Video, Settings);
    const int rows = Model.RowCount();
    const int ac3 = Model.FindRow("AC-3 Audio Codec (*.ac3)");
    ASSERT_EQ(ac3, rows - 2);  // the closed category of today's formats follows
    EXPECT_EQ(Model.Row(ac3).Code, 2706);
    Model.Toggle(ac3);
    Model.Toggle(-1);
    Model.Toggle(rows);
    EXPECT_EQ(Model.RowCount(), rows);
    EXPECT_FALSE(Model.Row(ac3).Collapsed);
}

TEST_F(CatalogueModel, FindRowIgnoresSurroundingBlanksOnly) {
    Settings.WriteBool("lstformat", "1", false);
    Model.Build(TEdition::Video, Settings);
    const int wide = Model.FindRow("  iPhone MPEG-4 Wide Screen (*.mp4)\t ");
    ASSERT_GE(wide, 0);
    EXPECT_EQ(Model.Row(wide).Code, 101);
    EXPECT_EQ(Model.FindRow("iPhone  MPEG-4 Wide Screen (*.mp4)"), -1);
    EXPECT_EQ(Model.FindRow("iphone mpeg-4 wide screen (*.mp4)"), -1);
    // The stored default names no row; a closed category hides its formats from the search.
    EXPECT_EQ(Model.FindRow("Apple iPod Video MPEG-4 Movie (*.mp4)"), -1);
    EXPECT_EQ(Model.FindRow("iPod Video MPEG-4 (*.mp4)"), -1);
    EXPECT_EQ(Model.FindRow(" Apple iPod "), 0);
    EXPECT_EQ(Model.FindRow(""), -1);
}

TEST_F(CatalogueModel, BuildStartsAfresh) {
    Settings.WriteBool("lstformat", "0", false);
    Model.Build(TEdition::Video, Settings);
    ASSERT_EQ(Model.RowCount(), 29 + 9);
    Model.Build(TEdition::Mp4Avi, Settings);
    EXPECT_EQ(Model.RowCount(), 4 + 1);
    // Names of the other edition are gone from the table.
    EXPECT_EQ(Model.FormatNames().Cell(27, 0), "");
    EXPECT_EQ(Model.FormatNames().Cell(0, 0), "AVI - Audio-Video-Interleaved(*.avi)");
    EXPECT_EQ(Model.FormatNames().Cell(50, 50), "");
    EXPECT_THROW(Model.FormatNames().Cell(51, 0), std::out_of_range);
}

TEST(CatalogueListHeight, GrowsByRowsUntilItReachesItsLimit) {
    EXPECT_EQ(TFormatCatalogueModel::ListHeight(18), 380);
    EXPECT_EQ(TFormatCatalogueModel::ListHeight(19), 362);
    EXPECT_EQ(TFormatCatalogueModel::ListHeight(121), 362);
    EXPECT_EQ(TFormatCatalogueModel::ListHeight(3), 80);
    EXPECT_EQ(TFormatCatalogueModel::ListHeight(0), 20);
    EXPECT_EQ(TFormatCatalogueModel::ListHeight(12, 30), 390);
    EXPECT_EQ(TFormatCatalogueModel::ListHeight(12, 25), 325);
}

}  // namespace
