// The device kinds of the catalogue and what the builder makes of them.
#include "formats/DeviceLimits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "formats/Catalogue.h"
#include "formats/OptionsBuilder.h"
#include "platform/IniFile.h"
#include "tests/support/TestSupport.h"

namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

std::string ShippedVideoDefinitions() {
    const std::string name = EditionProfile(TEdition::Video).FormatFileName;
    const auto configured = std::filesystem::path(testsupport::SourceDir()) / "data" / name;
    if (std::filesystem::exists(configured)) return configured.string();
    return (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "data" / name).lexically_normal().string();
}

// Players that decode only constrained Baseline H.264 without B-frames, and the two Apple
// and Sony devices with Main profile.
TEST(DeviceLimits, EveryFormatOfAPlayerCarriesItsDeviceKind) {
    const std::set<std::string> portable = {"Apple iPod",    "Apple iPhone", "GPhone",       "Microsoft Zune",
                                            "Sony Walkman",  "Archos",       "Creative Zen", "iRiver",
                                            "Sandisk Sansa", "Mobile Phone", "BlackBerry",   "Nokia"};
    const IniFile definitions(ShippedVideoDefinitions());
    int checked = 0;
    for (const auto& category : CatalogueCategories(TEdition::Video)) {
        const std::string expected = portable.count(category.Name) ? "portable"
                                     : category.Name == "Sony PSP" ? "psp"
                                     : category.Name == "Apple TV" ? "appletv"
                                                                   : "";
        for (size_t i = 0; i < category.Formats.size(); ++i) {
            const int code = category.Number * 100 + int(i);
            EXPECT_EQ(definitions.ReadString(FormatSectionName(code), "Device", ""), expected)
                << code << " " << category.Name;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 121 + 14);
    // Every kind a definition names is in the table.
    for (const char* kind : {"portable", "psp", "appletv"}) EXPECT_EQ(DeviceLimitsOf(kind).Device, kind);
    EXPECT_EQ(DeviceLimitsOf("a toaster").Device, "");
    EXPECT_EQ(DeviceLimitsOf("").H264Profile, "high");
}

TEST(DeviceLimits, TheBuilderPutsTheDevicesLimitsAfterThePreset) {
    testsupport::TempDir dir;
    IniFile formats(dir.file("format.ini")), settings(dir.file("settings.ini"));
    TDefaultSizeAnswer answer;
    auto build = [&](const char* device, const char* encoder) {
        formats.WriteString("formatInfo1", "Format", "ipod");
        formats.WriteString("formatInfo1", "Device", device);
        settings.WriteString("formatInfo1", "paraVideoEncoder", encoder);
        settings.WriteString("formatInfo1", "paraVideoSize", "320x240");
        TOutputOptions out;
        out.Reset();
        TInputOptions in;
        BuildOutputOptions(1, formats, settings, {}, TSourceSummary{1, 320, 240, 0}, answer, out, in);
        const Lines all = ToEngineOptions(out);
        const auto preset = std::find_if(all.begin(), all.end(), [](const auto& o) { return o.first == "vpre"; });
        Lines picked;
        for (auto it = all.begin(); it != all.end(); ++it)
            if (it->first == "profile" || it->first == "level" || it->first == "bf")
                picked.emplace_back(it->first, preset == all.end() || preset < it ? it->second : "before the preset");
        return picked;
    };
    EXPECT_EQ(build("portable", "libx264"), (Lines{{"profile", "baseline"}, {"level", "30"}, {"bf", "0"}}));
    EXPECT_EQ(build("psp", "libx264"), (Lines{{"profile", "main"}, {"level", "30"}}));
    EXPECT_EQ(build("appletv", "libx264"), (Lines{{"profile", "main"}, {"level", "31"}}));
    EXPECT_EQ(build("", "libx264"), (Lines{{"profile", "high"}, {"level", "41"}}));
    EXPECT_EQ(build("portable", "mpeg4"), (Lines{{"bf", "0"}}));
    EXPECT_EQ(build("", "mpeg4"), Lines{});
}

}  // namespace
