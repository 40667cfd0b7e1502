// reelshift-cli --format with per-file edits: watermarks and effects drawn on the converted
// pictures, trim, crop in both zoom modes, and values refused before anything is written.
// Output pictures are decoded with the ffmpeg program and read byte by byte.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "tests/support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr int W = 320, H = 240;

// One decoded picture, red-green-blue bytes, top row first.
struct Picture {
    std::string Bytes;
    const uint8_t* At(int x, int y) const { return reinterpret_cast<const uint8_t*>(Bytes.data()) + 3 * (y * W + x); }
    bool Valid() const { return Bytes.size() == size_t(3 * W * H); }
};

Picture Decode(const std::string& file, const std::string& filter) {
    auto r = Run({"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-vf", filter, "-frames:v", "1", "-f", "rawvideo",
                  "-pix_fmt", "rgb24", "-"});
    return Picture{r.out};
}
Picture Frame(const std::string& file, int n, const std::string& after = "") {
    return Decode(file, "select=eq(n\\," + std::to_string(n) + ")" + (after.empty() ? "" : "," + after));
}

// Mean absolute difference of the bytes in a rectangle.
double Difference(const Picture& a, const Picture& b, int x0 = 0, int y0 = 0, int x1 = W, int y1 = H) {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c) sum += std::abs(int(a.At(x, y)[c]) - int(b.At(x, y)[c]));
    return sum / (3.0 * (x1 - x0) * (y1 - y0));
}

bool Near(const uint8_t* p, int r, int g, int b, int tolerance) {
    return std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance && std::abs(p[2] - b) <= tolerance;
}

class ConvertEdits : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Media = new TempDir;
        // A flat grey picture (96 in every channel) for the drawing, a moving pattern with a
        // clock for trim and crop.
        auto r = testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=0x606060:s=320x240:r=25",
                      "-t", "1", "-c:v", "libx264", "-preset", "ultrafast", "-qp", "0", "-pix_fmt", "yuv444p",
                      Media->file("grey.mp4")});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        MakeClip(Media->file("pattern.mp4"), 3, {"-c:v", "libx264", "-preset", "ultrafast", "-qp", "0", "-an"});
        QImage logo(40, 30, QImage::Format_RGB32);
        logo.fill(QColor(0, 255, 0));
        ASSERT_TRUE(logo.save(QString::fromStdString(Media->file("logo.bmp")), "BMP"));
    }
    static void TearDownTestSuite() {
        delete Media;
        Media = nullptr;
    }

    // Format 0 at the source's size and rate, with a high bit rate and no sound.
    CommandResult Cli(std::vector<std::string> args, const std::string& outDir = "out") {
        WriteFile(Dir.file("settings.ini"),
                  "[formatInfo0]\nparaVideoSize=as source\nparaFrameRate=as source\nparaVideoBitRate=6000\n"
                  "paraAudioEncoder=\n");
        std::vector<std::string> argv = {BinDir() + "/reelshift-cli", "--format", "0", "--settings",
                                         Dir.file("settings.ini"), "--output-dir", Dir.file(outDir)};
        argv.insert(argv.end(), args.begin(), args.end());
        return testsupport::Run(argv);
    }
    std::string Output(const std::string& source, const std::string& outDir = "out") const {
        return Dir.file(outDir) + "/" + fs::path(source).stem().string() + "_(new).avi";
    }

    static TempDir* Media;
    TempDir Dir;
};
TempDir* ConvertEdits::Media = nullptr;

}  // namespace

TEST_F(ConvertEdits, TextImageAndBrightnessAppearOnTheConvertedPictures) {
    const std::string source = Media->file("grey.mp4");
    auto r = Cli({"--text", "WWWW", "--font", "DejaVu Sans,24,#FF0000,bold", "--text-at", "5%,5%", "--image",
                  Media->file("logo.bmp"), "--image-at", "50%,50%", "--image-opacity", "255", "--brightness", "400",
                  source});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Picture p = Frame(Output(source), 10);
    ASSERT_TRUE(p.Valid());
    // Brightness 400: (256 - 400 + 400 * 96) div 256 = 149.
    EXPECT_TRUE(Near(p.At(300, 220), 149, 149, 149, 4));
    EXPECT_TRUE(Near(p.At(5, 200), 149, 149, 149, 4));
    // The picture, laid after the effects, at 50 % of 320 x 240 and 40 x 30 large.
    for (auto [x, y] : {std::pair{165, 125}, {194, 125}, {165, 144}, {194, 144}, {180, 135}})
        EXPECT_TRUE(Near(p.At(x, y), 0, 254, 0, 12)) << x << "," << y;
    for (auto [x, y] : {std::pair{155, 135}, {205, 135}, {180, 115}, {180, 155}})
        EXPECT_TRUE(Near(p.At(x, y), 149, 149, 149, 6)) << x << "," << y;
    // The red text from (16, 12): red pixels there, none elsewhere.
    int inBox = 0, outside = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const uint8_t* q = p.At(x, y);
            if (q[0] > 200 && q[1] < 80 && q[2] < 80) (x >= 16 && y >= 12 && y < 50 ? inBox : outside)++;
        }
    EXPECT_GT(inBox, 150);
    EXPECT_EQ(outside, 0);
}

TEST_F(ConvertEdits, ATrimmedOutputLastsTheSelectionAndBeginsWithThePictureAtItsStart) {
    const std::string source = Media->file("pattern.mp4");
    auto r = Cli({"--trim", "1,2.5", source});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string out = Output(source);
    EXPECT_NEAR(std::stod(ProbeValue(out, "format=duration")), 1.5, 0.1);
    const Picture first = Frame(out, 0);
    ASSERT_TRUE(first.Valid());
    // The clock in the top left corner tells the frames apart.
    double best = 1e9;
    int bestFrame = -1;
    for (int n : {22, 24, 25, 26, 28}) {
        const double d = Difference(first, Frame(source, n), 0, 0, 110, 40);
        if (d < best) best = d, bestFrame = n;
    }
    EXPECT_EQ(bestFrame, 25);

    // The same times as a clock give the same file.
    auto again = Cli({"--trim", "0:00:01.000,0:00:02.5", source}, "clock");
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(ReadFile(Output(source, "clock")), ReadFile(out));
}

TEST_F(ConvertEdits, CropInFullZoomScalesTheCroppedPictureToTheFrameAndOddMarginsAreMadeEven) {
    const std::string source = Media->file("pattern.mp4");
    auto r = Cli({"--crop", "40,20,40,20", "--zoom", "full", source});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Picture p = Frame(Output(source), 10);
    ASSERT_TRUE(p.Valid());
    const Picture cropped = Frame(source, 10, "crop=240:200:40:20,scale=320:240");
    EXPECT_LT(Difference(p, cropped), 6.0);
    EXPECT_GT(Difference(p, Frame(source, 10)), 3 * Difference(p, cropped));

    auto odd = Cli({"--crop", "41,21,41,21", "--zoom", "full", source}, "odd");
    ASSERT_EQ(odd.exitCode, 0) << odd.err;
    EXPECT_EQ(ReadFile(Output(source, "odd")), ReadFile(Output(source)));
}

TEST_F(ConvertEdits, CropInLetterboxZoomGoesThroughTheFiltersAndKeepsTheBars) {
    const std::string source = Media->file("pattern.mp4");
    auto r = Cli({"--crop", "40,20,40,20", "--zoom", "lbox", source});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Picture p = Frame(Output(source), 10);
    ASSERT_TRUE(p.Valid());
    // 240 x 200 fitted into 320 x 240: 288 x 240 between two bars of 16.
    const Picture reference = Frame(source, 10, "crop=240:200:40:20,scale=288:240,pad=320:240:16:0");
    EXPECT_LT(Difference(p, reference), 6.0);
    EXPECT_LT(Difference(p, reference, 0, 0, 14, H), 4.0);  // the bars are black
    for (int y : {10, 120, 230}) EXPECT_TRUE(Near(p.At(4, y), 0, 0, 0, 12));
}

TEST_F(ConvertEdits, ValuesOutOfRangeAreRefusedNamingTheOptionBeforeAnythingIsWritten) {
    const std::string source = Media->file("pattern.mp4");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--brightness", "513"}, "--brightness needs a whole number from 0 to 512"},
        {{"--contrast", "-101"}, "--contrast needs a whole number from -100 to 100"},
        {{"--saturation", "much"}, "--saturation needs a whole number from 0 to 512"},
        {{"--exposure", "-256"}, "--exposure needs a whole number from -255 to 512"},
        {{"--image-opacity", "256"}, "--image-opacity needs a whole number from 0 to 255"},
        {{"--image-style", "3"}, "--image-style needs a whole number from 1 to 2"},
        {{"--text-at", "101%,5%"}, "--text-at needs X%,Y% with each from 0 to 100"},
        {{"--image-at", "5"}, "--image-at needs X%,Y% with each from 0 to 100"},
        {{"--font", "DejaVu Sans,71,#FF0000"}, "with SIZE from 7 to 70"},
        {{"--font", "DejaVu Sans,12,red"}, "--font needs"},
        {{"--zoom", "wide"}, "--zoom needs one of full, lbox, pan, center"},
        {{"--trim", "2,1"}, "--trim needs START,END"},
        {{"--trim", "1:75,2"}, "--trim needs START,END"},
        {{"--crop", "1,2,3"}, "--crop needs LEFT,TOP,RIGHT,BOTTOM"},
        {{"--image", Dir.file("missing.bmp")}, "--image cannot read"},
        {{"--trim", "1,9"}, "--trim ends at 00:00:09.000, after the end of"},
        {{"--crop", "160,0,160,0"}, "--crop leaves nothing of the 320x240 picture"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(source);
        auto r = Cli(args);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(Dir.file("out"))) << c.message;
    }
}
