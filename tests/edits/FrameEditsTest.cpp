// The drawing on each frame: the colour and exposure tables against values worked by hand,
// image blending and cutting, text placement, the order of the steps, and the run's hook.
#include <gtest/gtest.h>

#include <QImage>

#include <cstring>
#include <functional>
#include <stdexcept>

#include "edits/FrameEdits.h"
#include "engine/FFmpegVCL.h"
#include "tests/edits/EditsTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

TFrameBitmap Filled(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    TFrameBitmap f;
    f.Resize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = f.Row(y) + 3 * x;
            p[0] = b, p[1] = g, p[2] = r;
        }
    return f;
}

// Every byte value in every channel somewhere, with neighbours that differ.
TFrameBitmap Ramp(int w = 64, int h = 48) {
    TFrameBitmap f;
    f.Resize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = f.Row(y) + 3 * x;
            p[0] = uint8_t(x * 4 + y), p[1] = uint8_t(y * 5 + x * 3), p[2] = uint8_t(x * y + 7);
        }
    return f;
}

std::array<int, 3> Pixel(const TFrameBitmap& f, int x, int y) {
    const uint8_t* p = f.Row(y) + 3 * x;
    return {p[0], p[1], p[2]};  // blue, green, red
}

bool SamePixels(const TFrameBitmap& a, const TFrameBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.Row(y), b.Row(y), size_t(a.Width()) * 3) != 0) return false;
    return true;
}

int CountPixels(const TFrameBitmap& f, const std::function<bool(int, int, int)>& bgr, int x0 = 0, int y0 = 0,
                int x1 = -1, int y1 = -1) {
    if (x1 < 0) x1 = f.Width();
    if (y1 < 0) y1 = f.Height();
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            auto p = Pixel(f, x, y);
            if (bgr(p[0], p[1], p[2])) ++n;
        }
    return n;
}

// A BMP file of the picture, for the watermark image.
class TemporaryImage {
public:
    explicit TemporaryImage(const TFrameBitmap& picture) {
        QImage image(picture.Width(), picture.Height(), QImage::Format_RGB32);
        for (int y = 0; y < picture.Height(); ++y)
            for (int x = 0; x < picture.Width(); ++x) {
                auto p = Pixel(picture, x, y);
                image.setPixel(x, y, qRgb(p[2], p[1], p[0]));
            }
        FPath = FDir.file("picture.bmp");
        if (!image.save(QString::fromStdString(FPath), "BMP")) throw std::runtime_error("cannot save " + FPath);
    }
    const std::string& Path() const { return FPath; }

private:
    TempDir FDir;
    std::string FPath;
};

bool IsRed(int b, int g, int r) { return r > 180 && g < 90 && b < 90; }

class WithFonts : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
};

}  // namespace

TEST(ColorTables, BrightnessScalesBeforeContrastAndSaturationZeroGivesGrey) {
    const TColorTables t = MakeColorTables(128, 0, 0);
    // v = (256 - 128 + 128 j) div 256 = (j + 1) div 2
    EXPECT_EQ(t.BT[0], 0);
    EXPECT_EQ(t.BT[1], 1);
    EXPECT_EQ(t.BT[2], 1);
    EXPECT_EQ(t.BT[60], 30);
    EXPECT_EQ(t.BT[255], 128);
    for (int k : {0, 100, 255}) EXPECT_EQ(t.ST[k], 0);
    EXPECT_EQ(t.GT[180], 60);
    EXPECT_EQ(t.GT[767], 255);
    TFrameBitmap f = Filled(2, 2, 30, 60, 90);
    AdjustColors(f, 128, 0, 0);
    EXPECT_EQ(Pixel(f, 1, 1), (std::array<int, 3>{30, 30, 30}));
    // Brightness 512 doubles and clips; at j = 0 the value falls below 0 and is clamped.
    const TColorTables up = MakeColorTables(512, 0, 256);
    EXPECT_EQ(up.BT[0], 0);
    EXPECT_EQ(up.BT[100], 199);
    EXPECT_EQ(up.BT[200], 255);
}

TEST(ColorTables, ContrastTurnsAroundThePivot170WithRoundingHalfToEven) {
    const TColorTables up = MakeColorTables(256, 50, 256);  // K = sqrt 2
    EXPECT_EQ(up.CT[0], 0);
    EXPECT_EQ(up.CT[100], 71);
    EXPECT_EQ(up.CT[170], 170);
    EXPECT_EQ(up.CT[200], 212);
    EXPECT_EQ(up.CT[255], 255);
    const TColorTables down = MakeColorTables(256, -50, 256);  // K = cos(0.7854)
    EXPECT_EQ(down.CT[0], 50);
    EXPECT_EQ(down.CT[100], 121);
    EXPECT_EQ(down.CT[255], 230);

    EXPECT_EQ(MakeColorTables(256, 100, 256).CT, MakeColorTables(256, 99, 256).CT);
    EXPECT_NE(MakeColorTables(256, 99, 256).CT, MakeColorTables(256, 98, 256).CT);
    EXPECT_EQ(MakeColorTables(256, 99, 256).CT[171], 234);

    TFrameBitmap a = Ramp(), b = Ramp();
    AdjustColors(a, 255, 100, 255);
    AdjustColors(b, 255, 99, 255);
    EXPECT_TRUE(SamePixels(a, b));

    TFrameBitmap flat = Ramp();
    AdjustColors(flat, 256, -100, 256);
    EXPECT_EQ(CountPixels(flat, [](int b, int g, int r) { return b == 170 && g == 170 && r == 170; }),
              flat.Width() * flat.Height());
}

TEST(ColorTables, SaturationMovesChannelsTowardsTheirGreyAndTheNeutralSetLeavesEveryPixel) {
    TFrameBitmap f = Filled(1, 1, 0, 0, 255);
    AdjustColors(f, 256, 0, 128);
    // sum 255 -> l 85, base 85 - ST[85] = 85 - 43 = 42; red 42 + ST[255] = 42 + 128
    EXPECT_EQ(Pixel(f, 0, 0), (std::array<int, 3>{42, 42, 170}));

    TFrameBitmap ramp = Ramp(), original = Ramp();
    AdjustColors(ramp, 256, 0, 256);
    EXPECT_TRUE(SamePixels(ramp, original));
    // The stored neutral values (255, 0, 255) are not quite neutral, which is why the drawing
    // skips the routine for them.
    AdjustColors(ramp, 255, 0, 255);
    EXPECT_FALSE(SamePixels(ramp, original));
}

// The pixel step written out plainly, channel by channel, to hold the folded tables to.
void ReferenceColors(TFrameBitmap& f, int b, int c, int s) {
    const TColorTables t = MakeColorTables(b, c, s);
    auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
    for (int y = 0; y < f.Height(); ++y)
        for (int x = 0; x < f.Width(); ++x) {
            uint8_t* p = f.Row(y) + 3 * x;
            const int base = t.GT[p[0] + p[1] + p[2]];
            for (int k = 0; k < 3; ++k) p[k] = uint8_t(t.BT[clamp(base + t.ST[p[k]])]);
        }
}

TEST(ColorPass, FoldedTablesGiveThePixelsOfTheColourRoutineFollowedByExposure) {
    for (auto [b, c, s, x] : {std::array<int, 4>{512, 0, 512, 0}, {0, -100, 0, 512}, {300, 40, 200, -255},
                              {255, 100, 511, 40}, {128, -30, 600, 7}, {700, 0, -20, -3}}) {
        TFrameBitmap expected = Ramp(), folded = Ramp();
        ReferenceColors(expected, b, c, s);
        const auto exposure = MakeExposureTable(x);
        if (x != 0) AdjustExposure(expected, exposure);
        TColorPass(MakeColorTables(b, c, s), x != 0 ? &exposure : nullptr).Run(folded);
        EXPECT_TRUE(SamePixels(expected, folded)) << b << " " << c << " " << s << " " << x;
    }
}

TEST(Exposure, BrightensTowardsWhiteForPositiveAndDarkensForNegativeValues) {
    const auto up = MakeExposureTable(128);
    EXPECT_EQ(up[0], 0);
    EXPECT_EQ(up[64], 139);
    EXPECT_EQ(up[128], 208);
    EXPECT_EQ(up[255], 255);
    const auto down = MakeExposureTable(-32);
    EXPECT_EQ(down[0], 0);
    EXPECT_EQ(down[128], 92);
    EXPECT_EQ(down[200], 174);
    EXPECT_EQ(down[255], 255);
    EXPECT_EQ(MakeExposureTable(-255)[128], 0);  // clamped

    TFrameBitmap f = Filled(3, 2, 128, 200, 0);
    AdjustExposure(f, -32);
    EXPECT_EQ(Pixel(f, 2, 1), (std::array<int, 3>{92, 174, 0}));
}

TEST(Blend, StyleOneMixesByOpacityAndStyleTwoMultipliesIgnoringIt) {
    const TFrameBitmap image = Filled(4, 4, 0, 128, 255);
    TFrameBitmap f = Filled(8, 8, 200, 200, 200), original = f;
    BlendImage(f, image, 2, 1, 0, 2);
    EXPECT_TRUE(SamePixels(f, original));

    BlendImage(f, image, 2, 1, 128, 2);
    // (128 * 200 + 128 * I) >> 8
    EXPECT_EQ(Pixel(f, 2, 2), (std::array<int, 3>{100, 164, 227}));
    EXPECT_EQ(Pixel(f, 5, 5), (std::array<int, 3>{100, 164, 227}));
    EXPECT_EQ(Pixel(f, 6, 6), (std::array<int, 3>{200, 200, 200}));
    EXPECT_EQ(Pixel(f, 1, 2), (std::array<int, 3>{200, 200, 200}));

    TFrameBitmap m = Filled(8, 8, 200, 200, 200);
    BlendImage(m, image, 0, 2, 0, 0);
    EXPECT_EQ(Pixel(m, 3, 3), (std::array<int, 3>{0, 100, 200}));  // F * I div 255
    TFrameBitmap m2 = Filled(8, 8, 200, 200, 200);
    BlendImage(m2, image, 0, 2, 255, 0);
    EXPECT_TRUE(SamePixels(m, m2));
}

TEST(Blend, AnImageIsCutAtTheFrameEdgesAndNothingIsDrawnAtOrBeyondThem) {
    const TFrameBitmap big = Filled(10, 10, 0, 0, 0);
    TFrameBitmap f = Filled(8, 6, 255, 255, 255);
    BlendImage(f, big, 5, 1, 256, 3);  // opacity 256: the image alone
    EXPECT_EQ(CountPixels(f, [](int b, int, int) { return b == 0; }), 3 * 3);
    EXPECT_EQ(CountPixels(f, [](int b, int, int) { return b == 0; }, 5, 3, 8, 6), 9);

    TFrameBitmap atEdge = Filled(8, 6, 255, 255, 255), original = atEdge;
    BlendImage(atEdge, big, 8, 1, 256, 0);  // 100 % of the width
    BlendImage(atEdge, big, 0, 1, 256, 6);  // 100 % of the height
    BlendImage(atEdge, big, 20, 2, 256, 20);
    // Positions at the ends of the int range, as a damaged job list could hold, are beyond
    // the frame too: nothing may wrap round into it or write outside it.
    BlendImage(atEdge, big, 2147483637, 1, 256, 0);
    BlendImage(atEdge, big, 0, 1, 256, 2147483637);
    BlendImage(atEdge, big, -2147483647 - 1, 1, 256, -2147483647 - 1);
    EXPECT_TRUE(SamePixels(atEdge, original));

    TFrameBitmap whole = Filled(8, 6, 255, 255, 255);
    BlendImage(whole, big, 0, 1, 256, 0);
    EXPECT_EQ(CountPixels(whole, [](int b, int, int) { return b == 0; }), 8 * 6);
}

TEST_F(WithFonts, TextIsDrawnInTheFontColourWithItsTopLeftCornerAtThePosition) {
    TFrameBitmap f = Filled(200, 80, 40, 40, 40);
    TJobFont font;
    font.Name = "DejaVu Sans";
    font.Size = 20;
    font.Color = 0xFF0000;
    font.Bold = true;
    DrawText(f, "WWW", font, 30, 20);
    EXPECT_GT(CountPixels(f, IsRed), 100);
    EXPECT_EQ(CountPixels(f, IsRed, 0, 0, 200, 20), 0);  // nothing above the top
    EXPECT_EQ(CountPixels(f, IsRed, 0, 0, 30, 80), 0);   // nor left of the left edge
    // No background box: the pixels between the letters' strokes keep the frame's colour.
    EXPECT_GT(CountPixels(f, [](int b, int g, int r) { return b == 40 && g == 40 && r == 40; }, 30, 20, 120, 50), 100);
}

TEST_F(WithFonts, TheTwoFlagsDecideWhatTheEffectsRecolour) {
    // Brightness 0 turns every pixel it reaches into value 1: what keeps its colour was drawn
    // after the effects.
    const TemporaryImage green(Filled(6, 6, 0, 255, 0));
    struct Case {
        bool processText, processImage, textKeepsColour, imageKeepsColour;
    } cases[] = {{true, false, false, true}, {false, true, true, false}, {true, true, false, false},
                 {false, false, true, true}};
    for (const Case& c : cases) {
        TlvFilesRecord job;
        job.WatermarkText = "WW";
        job.WatermarkFont = {"DejaVu Sans", 16, 0xFF0000, true, false, false, false};
        job.TextLeft = 2, job.TextTop = 2;
        job.WatermarkImage = green.Path();
        job.ImageLeft = 60, job.ImageTop = 4, job.ImageAlpha = 256, job.TransparentStyle = 1;
        job.Brightness = 0;
        job.ProcessText = c.processText;
        job.ProcessImage = c.processImage;
        TFrameBitmap f = Filled(80, 30, 90, 90, 90);
        DrawFrameEdits(f, job);
        SCOPED_TRACE(testing::Message() << "ProcessText " << c.processText << " ProcessImage " << c.processImage);
        EXPECT_EQ(CountPixels(f, IsRed, 0, 0, 58, 30) > 20, c.textKeepsColour);
        EXPECT_EQ(Pixel(f, 63, 7) == (std::array<int, 3>{0, 255, 0}), c.imageKeepsColour);
        EXPECT_EQ(Pixel(f, 40, 28), (std::array<int, 3>{1, 1, 1}));  // the frame itself, always
    }
}

TEST_F(WithFonts, APreparedJobDrawsTheSamePixelsAsDrawingFromTheRecord) {
    const TemporaryImage picture(Ramp(20, 10));
    TlvFilesRecord job;
    job.WatermarkText = "Ab";
    job.WatermarkFont.Color = 0x00FF80;
    job.TextLeft = 5, job.TextTop = 30;
    job.WatermarkImage = picture.Path();
    job.ImageLeft = 50, job.ImageTop = 40;
    job.Brightness = 300, job.Contrast = 20, job.Saturation = 100, job.Exposure = -40;
    job.ProcessImage = true;
    TFrameBitmap a = Ramp(), b = Ramp();
    DrawFrameEdits(a, job);
    const TFrameEdits prepared(job);
    prepared.Draw(b);
    EXPECT_TRUE(SamePixels(a, b));
    EXPECT_FALSE(SamePixels(a, Ramp()));
}

TEST(WatermarkImage, ABmpIsReadAsBlueGreenRedAndOtherFilesAreRefused) {
    TempDir dir;
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(QColor(10, 20, 30));
    image.setPixelColor(2, 1, QColor(200, 100, 50));
    ASSERT_TRUE(image.save(QString::fromStdString(dir.file("p.bmp")), "BMP"));
    TFrameBitmap into;
    ASSERT_TRUE(LoadWatermarkImage(dir.file("p.bmp"), into));
    EXPECT_EQ(into.Width(), 3);
    EXPECT_EQ(Pixel(into, 0, 0), (std::array<int, 3>{30, 20, 10}));
    EXPECT_EQ(Pixel(into, 2, 1), (std::array<int, 3>{50, 100, 200}));
    ASSERT_TRUE(image.save(QString::fromStdString(dir.file("png.bmp")), "PNG"));
    EXPECT_FALSE(LoadWatermarkImage(dir.file("png.bmp"), into));
    EXPECT_FALSE(LoadWatermarkImage(dir.file("missing.bmp"), into));
}

TEST(HasFrameEdits, AnyEffectTextOrImageCountsAndTheNeutralJobHasNone) {
    TlvFilesRecord job;
    EXPECT_FALSE(HasFrameEdits(job));
    job.ImageAlpha = 0, job.TransparentStyle = 2, job.ProcessText = true, job.TextLeft = 9;
    EXPECT_FALSE(HasFrameEdits(job));  // settings of edits that are not there
    for (auto change : std::vector<std::function<void(TlvFilesRecord&)>>{
             [](TlvFilesRecord& j) { j.Brightness = 256; }, [](TlvFilesRecord& j) { j.Contrast = -1; },
             [](TlvFilesRecord& j) { j.Saturation = 0; }, [](TlvFilesRecord& j) { j.Exposure = 1; },
             [](TlvFilesRecord& j) { j.WatermarkText = "x"; }, [](TlvFilesRecord& j) { j.WatermarkImage = "a.bmp"; }}) {
        TlvFilesRecord edited;
        change(edited);
        EXPECT_TRUE(HasFrameEdits(edited));
    }
    // Brightness 256 runs the colour routine, which then changes no pixel.
    TlvFilesRecord neutral;
    neutral.Brightness = 256, neutral.Saturation = 256;
    TFrameBitmap f = Ramp();
    DrawFrameEdits(f, neutral);
    EXPECT_TRUE(SamePixels(f, Ramp()));
}

TEST(RunFrameEdits, AJobWithoutEditsStopsTheHookAndLeavesTheFrameOneWithEditsDrawsOnEveryFrame) {
    TRunFrameEdits run;
    TlvFilesRecord plain, darker;
    darker.Brightness = 128;
    TFrameBitmap f = Ramp();
    THookInfo info;
    info.Bitmap = &f;
    info.TaskIndex = 0;
    run.Hook(info, plain);
    EXPECT_FALSE(info.Update);
    EXPECT_TRUE(info.StopHook);
    EXPECT_TRUE(SamePixels(f, Ramp()));

    for (int frame = 0; frame < 2; ++frame) {
        THookInfo next;
        next.Bitmap = &f;
        next.TaskIndex = 1;
        run.Hook(next, darker);
        EXPECT_TRUE(next.Update);
        EXPECT_FALSE(next.StopHook);
    }
    TFrameBitmap twice = Ramp();
    AdjustColors(twice, 128, 0, 255);
    AdjustColors(twice, 128, 0, 255);
    EXPECT_TRUE(SamePixels(f, twice));

    // A new run forgets the jobs of the last one: task 0 is another job now, with or
    // without the reset.
    THookInfo again;
    again.Bitmap = &f;
    again.TaskIndex = 0;
    run.Hook(again, darker);
    EXPECT_TRUE(again.Update);
    run.Clear();
    THookInfo plainAgain;
    plainAgain.Bitmap = &f;
    plainAgain.TaskIndex = 1;
    run.Hook(plainAgain, plain);
    EXPECT_TRUE(plainAgain.StopHook);
}

TEST(RunFrameEdits, AnUnreadableImageRaisesNamingItBeforeAnythingIsDrawn) {
    // The window's run fails such a job with this text (a conversion test shows it); the
    // frame itself is never half drawn.
    TRunFrameEdits run;
    TlvFilesRecord job;
    job.WatermarkImage = "/nonexistent/logo.bmp";
    job.Brightness = 100;
    TFrameBitmap f = Ramp();
    THookInfo info;
    info.Bitmap = &f;
    info.TaskIndex = 0;
    try {
        run.Hook(info, job);
        ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), "The watermark image /nonexistent/logo.bmp cannot be read as a BMP picture.");
    }
    EXPECT_TRUE(SamePixels(f, Ramp()));
}
