// Damaged sources through reelshift-cli --format 0 (the MP3 of format 200 for sound alone): each
// kind of damage is made at test time from a generated clip, and each run must end within
// seconds, write a bounded file or none, and tell the right outcome by its exit status and message.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <thread>

#include "tests/support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

extern char** environ;

namespace {

using Bytes = std::string;

Bytes Load(const std::string& path) { return ReadFile(path); }
void Save(const std::string& path, const Bytes& bytes) { WriteFile(path, bytes); }

uint32_t Le32(const Bytes& b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}
void PutLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = char(v >> (8 * i) & 0xFF);
}
uint32_t Be(const Bytes& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | uint8_t(b[at + size_t(i)]);
    return v;
}

// AVI: the picture stream's header says one picture every 10^9 seconds.
void AbsurdAviRate(const std::string& path) {
    Bytes b = Load(path);
    const size_t strh = b.find("strh");
    ASSERT_NE(strh, Bytes::npos);
    ASSERT_EQ(b.compare(strh + 8, 4, "vids"), 0);
    PutLe32(b, strh + 28, 1000000000);  // dwScale
    PutLe32(b, strh + 32, 1);           // dwRate
    Save(path, b);
}

// AVI: every picture chunk of the movi list zeroed, so no picture decodes; the sound stays.
void UndecodableAviPictures(const std::string& path) {
    Bytes b = Load(path);
    const size_t movi = b.find("movi");
    ASSERT_NE(movi, Bytes::npos);
    const size_t end = std::min(b.size(), movi - 4 + Le32(b, movi - 4));
    int zeroed = 0;
    for (size_t p = movi + 4; p + 8 <= end;) {
        const uint32_t size = Le32(b, p + 4);
        if (b.compare(p, 4, "00dc") == 0 && p + 8 + size <= b.size()) {
            std::memset(&b[p + 8], 0, size);
            ++zeroed;
        }
        p += 8 + size + (size & 1);
    }
    ASSERT_GT(zeroed, 10);
    Save(path, b);
}

// FLV: one picture tag in the middle stamped an hour later; the file states two seconds.
void HourJumpInFlv(const std::string& path) {
    Bytes b = Load(path);
    int pictures = 0;
    for (size_t p = 9 + 4; p + 11 <= b.size();) {
        const uint32_t size = Be(b, p + 1, 3);
        if (b[p] == 9 && ++pictures == 26) {
            const uint32_t ms = 3601000;
            b[p + 4] = char(ms >> 16 & 0xFF), b[p + 5] = char(ms >> 8 & 0xFF), b[p + 6] = char(ms & 0xFF);
            b[p + 7] = char(ms >> 24);
        }
        p += 11 + size + 4;
    }
    ASSERT_GT(pictures, 26);
    Save(path, b);
}

// MPEG-TS: every sound packet stamped two hours late. Its length is measured from the time
// stamps, so the file says it lasts two hours and the sound begins at their end.
void SoundTwoHoursLateInTs(const std::string& path) {
    Bytes b = Load(path);
    const uint64_t late = uint64_t(2 * 3600) * 90000;
    int stamped = 0;
    for (size_t i = 0; i + 188 <= b.size(); i += 188) {
        if (uint8_t(b[i]) != 0x47 || !(b[i + 1] & 0x40)) continue;  // not the start of a PES packet
        size_t p = i + 4;
        if (b[i + 3] & 0x20) p += 1 + uint8_t(b[i + 4]);
        if (p + 14 > i + 188 || Be(b, p, 3) != 1 || (uint8_t(b[p + 3]) & 0xE0) != 0xC0 || !(b[p + 7] & 0x80)) continue;
        uint64_t pts = uint64_t(uint8_t(b[p + 9]) >> 1 & 7) << 30 | uint64_t(Be(b, p + 10, 2) >> 1) << 15 |
                       Be(b, p + 12, 2) >> 1;
        pts = (pts + late) & ((uint64_t(1) << 33) - 1);
        b[p + 9] = char((uint8_t(b[p + 9]) & 0xF1) | (pts >> 30 & 7) << 1);
        const uint32_t mid = uint32_t(pts >> 15 & 0x7FFF) << 1 | 1, low = uint32_t(pts & 0x7FFF) << 1 | 1;
        b[p + 10] = char(mid >> 8), b[p + 11] = char(mid & 0xFF), b[p + 12] = char(low >> 8), b[p + 13] = char(low & 0xFF);
        ++stamped;
    }
    ASSERT_GT(stamped, 10);
    Save(path, b);
}

// MP4: every track box renamed to free space: a valid file with no stream.
void Mp4WithoutStreams(const std::string& path) {
    Bytes b = Load(path);
    const size_t moov = b.find("moov");
    ASSERT_NE(moov, Bytes::npos);
    const size_t end = moov - 4 + Be(b, moov - 4, 4);
    int tracks = 0;
    for (size_t p = moov + 4; p + 8 <= end; p += Be(b, p, 4)) {
        if (Be(b, p, 4) < 8) break;
        if (b.compare(p + 4, 4, "trak") == 0) b.replace(p + 4, 4, "free"), ++tracks;
    }
    ASSERT_GT(tracks, 0);
    Save(path, b);
}

void CutTo(const std::string& path, double share) {
    fs::resize_file(path, uintmax_t(double(fs::file_size(path)) * share));
}

struct Outcome {
    int exitCode = -1;
    bool timedOut = false;
    std::string err;
};

// Runs the program with its output in files; kills it when it outlives the limit. While it
// runs, duringRun is called every few milliseconds until it returns true.
Outcome RunBounded(const std::vector<std::string>& argv, const TempDir& dir, int limitSeconds,
                   const std::function<bool()>& duringRun) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, dir.file("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, dir.file("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> copy = argv;
    std::vector<char*> args;
    for (auto& a : copy) args.push_back(a.data());
    args.push_back(nullptr);
    Outcome o;
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) != 0) return o;
    posix_spawn_file_actions_destroy(&fa);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    bool during = !duringRun;
    int status = 0;
    for (;;) {
        if (::waitpid(pid, &status, WNOHANG) == pid) break;
        if (!during) during = duringRun();
        if (std::chrono::steady_clock::now() > deadline) {
            o.timedOut = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!o.timedOut && WIFEXITED(status)) o.exitCode = WEXITSTATUS(status);
    o.err = ReadFile(dir.file("stderr.txt"));
    return o;
}

enum class Written { Nothing, File };

struct DamageCase {
    const char* Name;
    // Makes the damaged source in the folder and returns its path.
    std::function<std::string(const TempDir&)> Make;
    int ExitCode;
    const char* Message;  // part of what the program says on stderr
    Written Output;
    double MaxSeconds = 0;       // a written file lasts at most this long
    bool CutWhileConverting = false;
    bool ProgramAlone = false;   // the program copied to a folder without its data files
    bool SoundOnly = false;      // converted to MP3 rather than to the AVI of format 0
    const char* Format = "0";    // the format of a picture output, and the size it makes
    const char* Size = "640x480";
};

std::string Clip(const TempDir& dir, const std::string& name, double seconds, std::vector<std::string> args) {
    const std::string path = dir.file(name);
    MakeClip(path, seconds, args);
    return path;
}

// Raw 10-bit 4:2:2 pictures of noise over all 16 bits of each sample, as a damaged or
// badly made raw file holds them.
std::string NoiseBeyondTenBits(const TempDir& dir) {
    const int width = 256, height = 144, pictures = 10;
    std::string raw(size_t(width) * height * 2 * 2 * pictures, '\0');
    uint32_t seed = 22;
    for (char& c : raw) c = char((seed = seed * 1664525u + 1013904223u) >> 24);
    WriteFile(dir.file("noise.yuv"), raw);
    const std::string path = dir.file("noise.nut");
    auto r = Run({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt", "yuv422p10le", "-s",
                  "256x144", "-r", "10", "-i", dir.file("noise.yuv"), "-c:v", "rawvideo", path});
    if (r.exitCode != 0) throw std::runtime_error(r.err);
    return path;
}

const std::vector<std::string> kAvi = {"-c:v", "mpeg4", "-c:a", "libmp3lame", "-ar", "22050"};

std::vector<DamageCase> Cases() {
    return {
        {"PictureRateOfOneInABillionSeconds",
         [](const TempDir& d) {
             auto p = Clip(d, "rate.avi", 2, kAvi);
             AbsurdAviRate(p);
             return p;
         },
         0, "", Written::File, 4.0},
        {"TimeStampJumpOfAnHour",
         [](const TempDir& d) {
             auto p = Clip(d, "jump.flv", 2, {"-c:v", "flv1", "-c:a", "libmp3lame", "-ar", "22050"});
             HourJumpInFlv(p);
             return p;
         },
         0, "", Written::File, 4.0},
        {"PictureStreamWithNothingDecodable",
         [](const TempDir& d) {
             auto p = Clip(d, "blank.avi", 2, kAvi);
             UndecodableAviPictures(p);
             return p;
         },
         1, "No picture could be decoded", Written::Nothing},
        {"ContainerWithoutAStream",
         [](const TempDir& d) {
             auto p = Clip(d, "empty.mp4", 1, {"-c:v", "mpeg4", "-c:a", "aac"});
             Mp4WithoutStreams(p);
             return p;
         },
         1, "The file has no picture or sound stream to convert", Written::Nothing},
        {"SourceCutBeforeTheRun",
         [](const TempDir& d) {
             // Matroska states its length up front; the cues at its end are lost.
             auto p = Clip(d, "cut.mkv", 4, kAvi);
             CutTo(p, 0.4);
             return p;
         },
         3, "s could be read: the output is incomplete", Written::File, 3.0},
        {"AviCutBeforeTheRun",
         [](const TempDir& d) {
             // Its index at the end is lost, so the demuxer measures what is left; the headers
             // still count the pictures it was written with.
             auto p = Clip(d, "cut.avi", 4, kAvi);
             CutTo(p, 0.4);
             return p;
         },
         3, "s could be read: the output is incomplete", Written::File, 3.0},
        {"SoundStampedTwoHoursLate",
         [](const TempDir& d) {
             auto p = Clip(d, "late.ts", 2, {"-c:v", "mpeg2video", "-c:a", "mp2"});
             SoundTwoHoursLateInTs(p);
             return p;
         },
         0, "", Written::File, 4.0},
        {"SoundAloneEndingLongBeforeThePicture",
         [](const TempDir& d) { return Clip(d, "quiet.mkv", 6, {"-c:v", "mpeg4", "-af", "atrim=end=2", "-c:a", "libvorbis"}); },
         0, "", Written::File, 3.0, false, false, true},
        {"SourceCutWhileItConverts",
         [](const TempDir& d) { return Clip(d, "growing.avi", 20, {"-s", "640x480", "-c:v", "mpeg4", "-q:v", "2", "-c:a", "libmp3lame"}); },
         3, "s could be read: the output is incomplete", Written::File, 19.0, true},
        {"PictureFourThousandWideAndSixteenHigh",
         [](const TempDir& d) { return Clip(d, "wide.mp4", 1, {"-s", "4000x16", "-c:v", "libx264", "-preset", "ultrafast"}); },
         0, "", Written::File, 3.0},
        {"PictureSixteenWideAndThreeThousandHigh",
         [](const TempDir& d) { return Clip(d, "tall.avi", 1, {"-s", "16x3000", "-c:v", "mpeg4", "-c:a", "libmp3lame"}); },
         0, "", Written::File, 3.0},
        // DNxHR took such samples as in range: its bits overran the frame and the program aborted.
        {"TenBitSamplesBeyondTheirDepthIntoDnxhr", NoiseBeyondTenBits, 0, "", Written::File, 1.5, false, false, false,
         "307", "256x144"},
        {"FormatDefinitionFilesMissing",
         [](const TempDir& d) { return Clip(d, "plain.avi", 1, kAvi); },
         1, "zantomp4aviformat.ini", Written::Nothing, 0, false, true},
    };
}

class DamagedSource : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedSource, EndsWithinSecondsWithABoundedFileOrNoneAndTheRightOutcome) {
    const DamageCase& c = GetParam();
    TempDir dir;
    const std::string source = c.Make(dir);
    if (::testing::Test::HasFatalFailure()) return;
    std::string program = BinDir() + "/reelshift-cli";
    if (c.ProgramAlone) {
        fs::create_directory(dir.file("alone"));
        fs::copy_file(program, dir.file("alone/reelshift-cli"));
        program = dir.file("alone/reelshift-cli");
    }
    const std::string out = dir.file("out");
    fs::create_directory(out);
    std::vector<std::string> argv = {program, "--format", c.SoundOnly ? "200" : c.Format, "--edition", "mp4avi", "--settings",
                                     dir.file("settings.ini"), "--output-dir", out, source};
    std::function<bool()> cut;
    if (c.CutWhileConverting)
        // Once the output's header is written the source is being read: cut it to a third.
        cut = [&] {
            if (fs::is_empty(out)) return false;
            CutTo(source, 0.3);
            return true;
        };
    const Outcome o = RunBounded(argv, dir, 60, cut);

    ASSERT_FALSE(o.timedOut) << "still running after 60 s";
    EXPECT_EQ(o.exitCode, c.ExitCode) << o.err;
    EXPECT_NE(o.err.find(c.Message), std::string::npos) << o.err;
    std::vector<fs::path> written;
    for (const auto& entry : fs::directory_iterator(out)) written.push_back(entry.path());
    if (c.Output == Written::Nothing) {
        EXPECT_TRUE(written.empty()) << written.front();
        return;
    }
    ASSERT_EQ(written.size(), 1u);
    const std::string file = written.front().string();
    // Read back: a picture stream of the format's shape (or sound alone), and no longer than
    // the source allows.
    if (c.SoundOnly) {
        EXPECT_EQ(ProbeValue(file, "stream=codec_type", "a:0"), "audio");
        EXPECT_EQ(ProbeValue(file, "stream=codec_type", "v"), "");
    } else {
        EXPECT_EQ(ProbeValue(file, "stream=codec_type", "v:0"), "video");
        EXPECT_EQ(ProbeValue(file, "stream=width", "v:0") + "x" + ProbeValue(file, "stream=height", "v:0"), c.Size);
    }
    const double seconds = std::stod("0" + ProbeValue(file, "format=duration"));
    EXPECT_GT(seconds, 0.2);
    EXPECT_LE(seconds, c.MaxSeconds);
    EXPECT_LT(fs::file_size(file), uintmax_t(8) << 20);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedSource, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.Name); });

}  // namespace
