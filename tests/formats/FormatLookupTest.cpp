#include <gtest/gtest.h>

#include "formats/FormatLookup.h"
#include "platform/IniFile.h"
#include "tests/support/TestSupport.h"

namespace {
IniFile Definitions(TEdition edition) {
    return IniFile(testsupport::SourceDir() + "/data/" + EditionProfile(edition).FormatFileName);
}
}  // namespace

TEST(FormatLookup, FindsACodeANameWithOrWithoutItsPatternOrAUniqueExtension) {
    const IniFile mp4avi = Definitions(TEdition::Mp4Avi);
    EXPECT_EQ(FindFormats(TEdition::Mp4Avi, mp4avi, "0"), std::vector<int>{0});
    EXPECT_EQ(FindFormats(TEdition::Mp4Avi, mp4avi, " 205 "), std::vector<int>{205});
    EXPECT_EQ(FindFormats(TEdition::Mp4Avi, mp4avi, "xvid video"), std::vector<int>{107});
    EXPECT_EQ(FindFormats(TEdition::Mp4Avi, mp4avi, "Xvid Video (*.avi)"), std::vector<int>{107});
    EXPECT_EQ(FindFormats(TEdition::Mp4Avi, mp4avi, "mp3"), std::vector<int>{200});
    EXPECT_EQ(FindFormats(TEdition::Mp4Avi, mp4avi, ".MP3"), std::vector<int>{200});
    const IniFile video = Definitions(TEdition::Video);
    EXPECT_EQ(FindFormats(TEdition::Video, video, "iPod Video H.264"), std::vector<int>{1});
    // Today's formats are found by name and extension like the others.
    EXPECT_EQ(FindFormats(TEdition::Video, video, "webm - vp9 video with opus"), std::vector<int>{2804});
    EXPECT_EQ(FindFormats(TEdition::Mp4Avi, mp4avi, "flac"), std::vector<int>{312});
    EXPECT_EQ(FindFormats(TEdition::Mp4Avi, mp4avi, "opus"), std::vector<int>{311});
}

TEST(FormatLookup, AnAmbiguousOrUnknownTextNamesEveryCandidateOrNone) {
    const IniFile mp4avi = Definitions(TEdition::Mp4Avi);
    EXPECT_EQ(FindFormats(TEdition::Mp4Avi, mp4avi, "avi"), (std::vector<int>{0, 104, 106, 107}));
    EXPECT_TRUE(FindFormats(TEdition::Mp4Avi, mp4avi, "1").empty());  // no such code in this edition
    EXPECT_EQ(FindFormats(TEdition::Mp4Avi, mp4avi, "mkv"), (std::vector<int>{301, 305}));
    EXPECT_TRUE(FindFormats(TEdition::Mp4Avi, mp4avi, "mpeg-ts").empty());
    EXPECT_TRUE(FindFormats(TEdition::Mp4Avi, mp4avi, "").empty());
}
