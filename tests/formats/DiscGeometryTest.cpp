// Discs are seen at 4:3 or 16:9 whatever their pixel count: the zoom modes place the picture
// in that shape and name it, so that a player shows it undistorted.
#include <gtest/gtest.h>

#include "formats/OptionsBuilder.h"
#include "platform/IniFile.h"
#include "tests/support/TestSupport.h"

namespace {

struct Geometry {
    std::string Size, Aspect, Filters;
    int CropLeft = 0, CropTop = 0;
};

Geometry Build(const char* format, const char* size, const char* mode, TSourceSummary source, TJobGeometry job = {}) {
    testsupport::TempDir dir;
    IniFile formats(dir.file("format.ini")), settings(dir.file("settings.ini"));
    formats.WriteString("formatInfo5", "Format", format);
    settings.WriteString("formatInfo5", "paraVideoEncoder", "mpeg2video");
    settings.WriteString("formatInfo5", "paraVideoSize", size);
    job.ZoomMode = mode;
    TDefaultSizeAnswer answer;
    TOutputOptions out;
    out.Reset();
    TInputOptions in;
    BuildOutputOptions(5, formats, settings, job, source, answer, out, in);
    return {out.FrameSize, out.AspectRatio, out.VideoFilters, out.CropLeft, out.CropTop};
}

TEST(DiscGeometry, LetterboxWorksInTheShapeTheDiscIsShownAt) {
    // A 16:9 film on a 4:3 SVCD: bars above and below, the picture named 16:9.
    Geometry g = Build("ntsc-svcd", "480x480", "lbox", {1, 640, 360, 0});
    EXPECT_EQ(g.Size, "480x360");
    EXPECT_EQ(g.Aspect, "16:9");
    EXPECT_EQ(g.Filters, "pad=480:480:0:60");
    // A 4:3 film on a wide DVD: bars left and right (90 pixels are 106 square units).
    g = Build("ntsc-dvd", "720x480", "lbox", {1, 320, 240, 0});
    EXPECT_EQ(g.Size, "540x480");
    EXPECT_EQ(g.Filters, "pad=720:480:90:0");
    // A 16:9 film on a wide DVD fills it.
    g = Build("pal-dvd", "720x576", "lbox", {1, 1280, 720, 0});
    EXPECT_EQ(g.Size, "720x576");
    EXPECT_EQ(g.Filters, "");
    // Cropped: the filters make the whole frame, which is the disc's shape.
    TJobGeometry crop;
    crop.CropMarginTop = crop.CropMarginBottom = 20;
    g = Build("pal-svcd", "480x576", "lbox", {1, 640, 360, 0}, crop);
    EXPECT_EQ(g.Size, "");
    EXPECT_EQ(g.Aspect, "4:3");
}

TEST(DiscGeometry, FullScreenPanAndCentreNameTheDiscsShape) {
    EXPECT_EQ(Build("ntsc-vcd", "352x240", "full", {1, 640, 360, 0}).Aspect, "4:3");
    // Pan and scan cuts a wide DVD's source to 16:9, not to 4:3.
    Geometry g = Build("ntsc-dvd", "720x480", "pan", {1, 640, 360, 0});
    EXPECT_EQ(g.Aspect, "16:9");
    EXPECT_EQ(g.CropLeft, 0);
    g = Build("ntsc-dvd", "720x480", "pan", {1, 640, 480, 0});
    EXPECT_EQ(g.CropTop, 60);  // 640x480 cut to 640x360
    // A small picture keeps its seen size: at 4:3, 320 square units are 176 of 352 pixels.
    g = Build("ntsc-dvd", "352x480", "center", {1, 320, 240, 0});
    EXPECT_EQ(g.Size, "176x240");
}

}  // namespace
