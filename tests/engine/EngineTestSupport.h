#pragma once
// Running engine tasks in the test process, on clips generated once per test program.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/FFmpeg.h"
#include "tests/support/TestSupport.h"

namespace enginetest {

using Options = std::vector<std::pair<std::string, std::string>>;

struct Job {
    std::vector<std::string> inputs;
    Options inputOptions;   // before each input
    std::string output;
    Options outputOptions;  // before the output
    bool join = false;
    std::function<void(TCustomFFmpeg&)> setup;  // hooks, callbacks
};

struct Outcome {
    bool ok = false;        // every step succeeded
    bool finished = false;  // the run reached its end without a stop request
    std::string error;
    int64_t dups = 0;
    int64_t drops = 0;
    int64_t totalDuration = -1;
    std::vector<TEngineProgress> reports;
    std::vector<std::string> log;
};

// Loads the engine libraries once; false with a test failure when they cannot be loaded.
bool LoadEngine();
Outcome Convert(const Job& job);

// A scratch folder for the whole program, with the shared clips made on first use.
testsupport::TempDir& Scratch();
// 320x240 at 25 fps with a 44.1 kHz mono tone, 1 s, H.264 + AAC in MP4.
const std::string& BasicClip();
// The same picture at another frame rate (and length), cached by name.
std::string ClipAtRate(const std::string& rate, double seconds);
// One second at 320x240, then one at 160x120 (MPEG-2 transport streams glued together; the
// second restarts its clock).
const std::string& SizeChangingClip();

// Frame n of a file as 8-bit grey, width*height bytes (through the ffmpeg program).
std::string GrayFrame(const std::string& file, int width, int height, int n = 0);
double Mean(const std::string& bytes, size_t from = 0, size_t count = std::string::npos);
int ProbeInt(const std::string& file, const std::string& entry, const std::string& streams = "");
double ProbeDouble(const std::string& file, const std::string& entry, const std::string& streams = "");
int CountFrames(const std::string& file);

// Everything the conversion checks need from one ffprobe call: "format.format_name",
// "format.duration", and per first stream of a kind "v.codec_name", "a.channels", ...
// (kinds v, a, s). Absent keys read as "".
class ProbeReport {
public:
    explicit ProbeReport(const std::string& file);
    std::string operator[](const std::string& key) const;
    int Int(const std::string& key) const;
    double Double(const std::string& key) const;

private:
    std::map<std::string, std::string> FValues;
};

}  // namespace enginetest
