#include <cmath>
#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

#include "engine/FFUtils.h"
#include "engine/FFmpegLoader.h"
#include "engine/LibAVApi.h"
#include "engine/SourcePicture.h"
#include "tests/support/TestSupport.h"

namespace {

class FFUtilsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError(); }
};

// Runs the body with the given POSIX time zone, restoring the previous one.
class TimeZone {
public:
    explicit TimeZone(const char* tz) {
        const char* old = std::getenv("TZ");
        FHad = old != nullptr;
        if (old) FOld = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~TimeZone() {
        if (FHad)
            ::setenv("TZ", FOld.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool FHad = false;
    std::string FOld;
};

}  // namespace

TEST(FFUtils, TimeTextHasHoursMinutesSecondsAndMilliseconds) {
    EXPECT_EQ(TimeToText(0), "00:00:00.000");
    EXPECT_EQ(TimeToText(3723004999), "01:02:03.004");  // the microseconds are cut, not rounded
    EXPECT_EQ(TimeToText(int64_t(100) * 3600 * 1000000), "100:00:00.000");
    EXPECT_EQ(TimeToText(AV_NOPTS_VALUE), "N/A");
    EXPECT_EQ(TimeToText(-1500000), "-00:00:01.500");
}

TEST_F(FFUtilsTest, ErrorTextsOfTheLibrariesCodes) {
    EXPECT_EQ(ErrorText("a.mp4", AVERROR_EOF), "a.mp4: End of file");
    EXPECT_EQ(ErrorText("a.mp4", AVERROR_INVALIDDATA), "a.mp4: Invalid data found when processing input");
    EXPECT_EQ(ErrorText("a.mp4", AVERROR(ENOENT)), "a.mp4: No such file or directory");
    EXPECT_EQ(ErrorMessage(AVERROR(ENOMEM)), "Not enough memory");
    EXPECT_EQ(ErrorMessage(AVERROR(EIO)), "I/O error");
    EXPECT_EQ(ErrorMessage(AVERROR_PATCHWELCOME), "Not yet implemented in FFmpeg");
    EXPECT_EQ(ErrorMessage(AVERROR_PROTOCOL_NOT_FOUND), "Unsupported network protocol");
    EXPECT_EQ(ErrorMessage(AVERROR_DEMUXER_NOT_FOUND), "Unknown format");
    // Codes outside the table: the libraries' own words, or the number.
    EXPECT_EQ(ErrorMessage(AVERROR(EISDIR)), "Is a directory");
    EXPECT_EQ(ErrorMessage(-1234567), "Error number -1234567 occurred");
}

TEST_F(FFUtilsTest, CodecNameOfAStream) {
    AVCodecParameters par{};
    par.codec_id = AV_CODEC_ID_MPEG4;
    EXPECT_EQ(CodecName(par, false), "mpeg4(MPEG-4 part 2)");
    par.codec_id = AV_CODEC_ID_MPEG2TS;
    EXPECT_EQ(CodecName(par, false), "mpeg2ts");
    par.codec_id = AV_CODEC_ID_NONE;
    par.codec_tag = MKTAG('X', 'V', 'I', 'D');
    EXPECT_EQ(CodecName(par, false), "XVID / 0x44495658");
    par.codec_tag = 0x0002;
    EXPECT_EQ(CodecName(par, true), "0x0002");
    par.codec_tag = MKTAG('a', 'b', 'c', 0x7f);  // one byte outside the printable range
    EXPECT_EQ(CodecName(par, true), "0x7f636261");
}

TEST(FFUtils, FileSizeTextSwitchesUnitsAboveEachBoundary) {
    EXPECT_EQ(FileSizeText(0), "0 Byte");
    EXPECT_EQ(FileSizeText(1024), "1024 Byte");
    EXPECT_EQ(FileSizeText(1025), "1.00 KB");
    EXPECT_EQ(FileSizeText(1048576), "1024.00 KB");
    EXPECT_EQ(FileSizeText(1048577), "1.00 MB");
    EXPECT_EQ(FileSizeText(1073741824), "1024.00 MB");
    EXPECT_EQ(FileSizeText(int64_t(5) * 1073741824 + 536870912), "5.50 GB");
}

TEST_F(FFUtilsTest, MetadataValueOrTheDefault) {
    AVDictionary* d = nullptr;
    avutil().av_dict_set(&d, "title", "Clip", 0);
    EXPECT_EQ(MetadataValue(d, "title"), "Clip");
    EXPECT_EQ(MetadataValue(d, "TITLE"), "Clip");  // tags are matched without regard to case
    EXPECT_EQ(MetadataValue(d, "album", "N/A"), "N/A");
    EXPECT_EQ(MetadataValue(nullptr, "title", "none"), "none");
    avutil().av_dict_free(&d);
}

TEST(FFUtils, ReadsAWholeFileOrSaysWhyNot) {
    testsupport::TempDir dir;
    const std::string bytes("a\0b\r\nc", 6);
    testsupport::WriteFile(dir.file("x.bin"), bytes);
    testsupport::WriteFile(dir.file("empty"), "");
    std::string data = "old";
    EXPECT_EQ(ReadWholeFile(dir.file("x.bin"), data), 6);
    EXPECT_EQ(data, bytes);
    EXPECT_EQ(data.c_str()[6], '\0');
    EXPECT_EQ(ReadWholeFile(dir.file("empty"), data), 0);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(ReadWholeFile(dir.file("missing"), data), -1);
    EXPECT_EQ(ReadWholeFile(dir.path().string(), data), -1);
}

TEST(FFUtils, UnixTimeAndLocalDateTimeAreOneBiasApart) {
    {
        TimeZone utc("UTC0");
        EXPECT_DOUBLE_EQ(UnixToDateTime(0), 25569.0);
        EXPECT_DOUBLE_EQ(UnixToDateTime(86400 + 43200), 25570.5);
        EXPECT_EQ(DateTimeToUnix(25569.0), 0);
        EXPECT_EQ(LocalDateTimeText(1262304000), "2010-01-01 00:00:00");
    }
    {
        TimeZone east("XYZ-2");  // two hours ahead of UTC
        EXPECT_DOUBLE_EQ(UnixToDateTime(0), 25569.0 + 2.0 / 24.0);
        EXPECT_EQ(LocalDateTimeText(1262304000), "2010-01-01 02:00:00");
        for (std::int64_t t : {std::int64_t(0), std::int64_t(1262304001), std::int64_t(1700000000)})
            EXPECT_EQ(DateTimeToUnix(UnixToDateTime(t)), t);
        // The reverse rounds to whole seconds.
        EXPECT_EQ(DateTimeToUnix(UnixToDateTime(100) + 0.4 / 86400.0), 100);
        EXPECT_EQ(DateTimeToUnix(UnixToDateTime(100) + 0.6 / 86400.0), 101);
    }
}

TEST_F(FFUtilsTest, DoubleToRationalStaysWithinTheBound) {
    AVRational r = DoubleToRational(29.97, 1001000);
    EXPECT_EQ(r.num, 2997);
    EXPECT_EQ(r.den, 100);
    r = DoubleToRational(30000.0 / 1001.0, 100000);
    EXPECT_EQ(r.num, 30000);
    EXPECT_EQ(r.den, 1001);
    r = DoubleToRational(-0.5, 255);
    EXPECT_EQ(r.num, -1);
    EXPECT_EQ(r.den, 2);
    r = DoubleToRational(M_PI, 100);
    EXPECT_LE(std::abs(r.num), 100);
    EXPECT_LE(r.den, 100);
    EXPECT_NEAR(double(r.num) / r.den, M_PI, 0.01);
    r = DoubleToRational(std::nan(""), 100);
    EXPECT_EQ(r.den, 0);
    r = DoubleToRational(1e300, 100);
    EXPECT_EQ(r.num, 1);
    EXPECT_EQ(r.den, 0);
}

// The display matrices files carry (16.16 fixed point) and the steps that turn them upright.
TEST_F(FFUtilsTest, DisplayMatricesGiveTurnsAndMirrorsAndTheirFilters) {
    const struct {
        int a, b, c, d;
        int rotation;
        bool mirror;
        const char* filters;
    } cases[] = {
        {1, 0, 0, 1, 0, false, ""},
        {0, 1, -1, 0, 90, false, "transpose=clock"},  // a phone held upright
        {-1, 0, 0, -1, 180, false, "hflip,vflip"},
        {0, -1, 1, 0, 270, false, "transpose=cclock"},
        {-1, 0, 0, 1, 0, true, "hflip"},
        {1, 0, 0, -1, 180, true, "vflip"},
        {0, 1, 1, 0, 90, true, "transpose=clock,hflip"},  // rows and columns swapped
    };
    for (const auto& c : cases) {
        const int32_t m[9] = {c.a * 65536, c.b * 65536, 0, c.c * 65536, c.d * 65536, 0, 0, 0, 1 << 30};
        const TSourceOrientation o = OrientationOfMatrix(m);
        EXPECT_EQ(o.Rotation, c.rotation) << c.a << c.b << c.c << c.d;
        EXPECT_EQ(o.Mirror, c.mirror) << c.a << c.b << c.c << c.d;
        TSourcePicturePlan plan;
        plan.Orientation = o;
        EXPECT_EQ(SourcePictureFilters(plan, false, 0, 0, 0, 0), c.filters);
        const TPictureShape shape = SourcePictureShape(plan, {1280, 720, AV_PIX_FMT_YUV420P, {4, 3}});
        EXPECT_EQ(shape.Width, o.SwapsSides() ? 720 : 1280);
        EXPECT_EQ(shape.SampleAspect.num, o.SwapsSides() ? 3 : 4);
    }
    // Fields first, on the coded rows; the tone-map ends in 8-bit BT.709; the turn last.
    TSourcePicturePlan all;
    all.Orientation.Rotation = 90;
    all.ToneMap = true;
    all.ColorTransfer = AVCOL_TRC_ARIB_STD_B67;
    const std::string chain = SourcePictureFilters(all, true, AVCOL_TRC_UNSPECIFIED, AVCOL_PRI_BT2020,
                                                   AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_MPEG);
    EXPECT_EQ(chain.find("bwdif"), 0u) << chain;
    EXPECT_NE(chain.find("tin=arib-std-b67:pin=2020:min=2020_ncl:rin=limited"), std::string::npos) << chain;
    EXPECT_LT(chain.find("format=yuv420p"), chain.find("transpose=clock")) << chain;
    EXPECT_EQ(SourcePictureShape(all, {640, 360, AV_PIX_FMT_YUV420P10LE, {0, 1}}).Format, AV_PIX_FMT_YUV420P);

    EXPECT_TRUE(OutputCarriesHdr(AV_CODEC_ID_HEVC, AV_PIX_FMT_YUV420P10LE));
    EXPECT_TRUE(OutputCarriesHdr(AV_CODEC_ID_VP9, AV_PIX_FMT_YUV420P10LE));
    EXPECT_FALSE(OutputCarriesHdr(AV_CODEC_ID_HEVC, AV_PIX_FMT_YUV420P));
    EXPECT_FALSE(OutputCarriesHdr(AV_CODEC_ID_H264, AV_PIX_FMT_YUV420P10LE));
    EXPECT_TRUE(OutputCarriesHdr(AV_CODEC_ID_AV1, AV_PIX_FMT_YUV422P10LE));
    EXPECT_FALSE(OutputCarriesHdr(AV_CODEC_ID_HEVC, AV_PIX_FMT_GBRP10LE));
    EXPECT_TRUE(OutputKeepsFields(AV_CODEC_ID_MPEG2VIDEO, "dvd"));
    EXPECT_FALSE(OutputKeepsFields(AV_CODEC_ID_MPEG2VIDEO, "mpegts"));
}
