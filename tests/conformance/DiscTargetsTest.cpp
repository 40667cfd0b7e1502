// The disc profiles make files a disc player takes: the mux rate in the pack headers is the
// one the ffmpeg program writes for the same target, and the picture's bit rate, buffer,
// group of pictures and size stay within the disc's limits. Everything is read from the file.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "tests/support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

struct Disc {
    int Code;            // video edition
    const char* Target;  // ffmpeg's -target
    int Width, Height;
    const char* Rate;
    int64_t MaxBitRate;  // bit/s the sequence header may announce
    int MaxVbv;          // buffer size in units of 16 kbit
    int MaxGop;
    double Shape;        // display aspect
};

const Disc kDiscs[] = {
    {2200, "ntsc-dvd", 720, 480, "30000/1001", 9800000, 112, 18, 16.0 / 9},
    {2201, "pal-dvd", 720, 576, "25/1", 9800000, 112, 15, 16.0 / 9},
    {2300, "ntsc-svcd", 480, 480, "30000/1001", 2600000, 112, 18, 4.0 / 3},
    {2301, "pal-svcd", 480, 576, "25/1", 2600000, 112, 15, 4.0 / 3},
    {2400, "ntsc-vcd", 352, 240, "30000/1001", 1150000, 20, 18, 4.0 / 3},
    {2401, "pal-vcd", 352, 288, "25/1", 1150000, 20, 15, 4.0 / 3},
};

// The program mux rate of the first pack header, in bit/s (MPEG-1 and MPEG-2 packs).
int64_t PackMuxRate(const std::string& bytes) {
    const size_t i = bytes.find(std::string("\x00\x00\x01\xba", 4));
    if (i == std::string::npos || i + 13 > bytes.size()) return -1;
    auto b = [&](size_t k) { return int64_t(static_cast<unsigned char>(bytes[i + k])); };
    const int64_t units = (b(4) >> 6) == 1 ? (b(10) << 14) | (b(11) << 6) | (b(12) >> 2)
                                           : ((b(9) & 0x7f) << 15) | (b(10) << 7) | (b(11) >> 1);
    return units * 400;  // units of 50 bytes a second
}

// Bit rate (bit/s) and buffer size (16 kbit units) of the first sequence header.
std::pair<int64_t, int> SequenceRate(const std::string& bytes) {
    const size_t i = bytes.find(std::string("\x00\x00\x01\xb3", 4));
    if (i == std::string::npos || i + 12 > bytes.size()) return {-1, -1};
    auto b = [&](size_t k) { return int64_t(static_cast<unsigned char>(bytes[i + k])); };
    const int64_t rate = ((b(8) << 10) | (b(9) << 2) | (b(10) >> 6)) * 400;
    const int vbv = int(((b(10) & 0x1f) << 5) | (b(11) >> 3));
    return {rate, vbv};
}

// The longest run of pictures from one I picture to the next.
int LongestGop(const std::string& file) {
    auto r = Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "frame=pict_type", "-of",
                  "default=noprint_wrappers=1:nokey=1", file});
    std::istringstream in(r.out);
    std::string type;
    int longest = 0, run = 0;
    bool seenI = false;
    while (std::getline(in, type)) {
        if (type == "I") {
            seenI = true;
            run = 0;
        }
        longest = std::max(longest, ++run);
    }
    return seenI ? longest : -1;
}

TEST(DiscTargets, MuxRateBitRateGopAndSizeMatchTheDisc) {
    TempDir work;
    const std::string source = work.file("film.mp4");
    MakeClip(source, 1.0, {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    for (const Disc& d : kDiscs) {
        const std::string dir = work.file(std::to_string(d.Code));
        auto r = testsupport::Run({BinDir() + "/reelshift-cli", "--format", std::to_string(d.Code), "--edition", "video", "--settings",
                      dir + "/untouched.ini", "--output-dir", dir, source});
        ASSERT_EQ(r.exitCode, 0) << d.Target << ": " << r.err;
        const std::string ours = dir + "/film_(new).mpg";
        const std::string reference = work.file(std::string("ffmpeg-") + d.Target + ".mpg");
        auto ref = testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source, "-target", d.Target, reference});
        ASSERT_EQ(ref.exitCode, 0) << ref.err;

        const std::string bytes = ReadFile(ours);
        const int64_t expected = PackMuxRate(ReadFile(reference));
        EXPECT_GT(expected, 0) << d.Target;
        EXPECT_EQ(PackMuxRate(bytes), expected) << d.Target;

        const auto [rate, vbv] = SequenceRate(bytes);
        EXPECT_GT(rate, 0) << d.Target;
        EXPECT_LE(rate, d.MaxBitRate) << d.Target;
        EXPECT_GT(vbv, 0) << d.Target;
        EXPECT_LE(vbv, d.MaxVbv) << d.Target;
        const int gop = LongestGop(ours);
        EXPECT_GT(gop, 0) << d.Target;
        EXPECT_LE(gop, d.MaxGop) << d.Target;
        EXPECT_EQ(ProbeValue(ours, "stream=width,height,r_frame_rate", "v:0"),
                  std::to_string(d.Width) + "\n" + std::to_string(d.Height) + "\n" + d.Rate)
            << d.Target;
        // The player shows the frame at the disc's shape (MPEG-1 knows it only roughly).
        int n = 0, m = 0;
        const std::string shape = ProbeValue(ours, "stream=display_aspect_ratio", "v:0");
        ASSERT_EQ(std::sscanf(shape.c_str(), "%d:%d", &n, &m), 2) << d.Target << " " << shape;
        EXPECT_NEAR(double(n) / m, d.Shape, 0.01 * d.Shape) << d.Target << " " << shape;
    }
}

}  // namespace
