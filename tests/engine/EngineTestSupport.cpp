#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <mutex>

#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/MainThread.h"
#include "engine/FFmpegLogger.h"

namespace enginetest {

bool LoadEngine() {
    if (!FFLoader().LoadLibrarySet(EngineLibraries)) {
        ADD_FAILURE() << FFLoader().LastError();
        return false;
    }
    static std::once_flag attached;
    std::call_once(attached, [] {
        FFLogger().TriggerEventInMainThread = false;
        FFLogger().Attach();
    });
    return true;
}

Outcome Convert(const Job& job) {
    Outcome out;
    if (!LoadEngine()) return out;
    FFLogger().SetLogLevel(llInfo);
    // The component's tests hand lines to the main thread; these take them where they arise.
    FFLogger().TriggerEventInMainThread = false;
    // Lines come straight from the codecs' own threads too.
    auto logLock = std::make_shared<std::mutex>();
    FFLogger().OnLog = [&out, logLock](const void*, TThreadID, TLogLevel, const std::string& msg) {
        std::lock_guard lock(*logLock);
        out.log.push_back(msg);
    };
    TCustomFFmpeg task;
    task.OnProgress = [&out](const TEngineProgress& info, const std::string&) { out.reports.push_back(info); };
    if (job.setup) job.setup(task);
    try {
        for (const auto& in : job.inputs) {
            for (const auto& [k, v] : job.inputOptions) task.ParseOption(k, v);
            if (!task.OpenInput(in)) throw FFmpegException(task.ErrorText());
        }
        for (const auto& [k, v] : job.outputOptions) task.ParseOption(k, v);
        if (task.OpenOutput(job.output, job.join) < 0) throw FFmpegException(task.ErrorText());
        out.totalDuration = task.TotalDuration();
        out.finished = task.Transcode();
        out.ok = true;
    } catch (const std::exception& e) {
        out.error = e.what();
    }
    out.dups = task.DupCount();
    out.drops = task.DropCount();
    task.CloseAll();
    // Lines a job's setup had posted to the main thread are written here, while out lives.
    if (TheMainThread().IsMainThread()) TheMainThread().ServePending();
    FFLogger().OnLog = nullptr;
    return out;
}

testsupport::TempDir& Scratch() {
    static testsupport::TempDir dir;
    return dir;
}

const std::string& BasicClip() {
    static const std::string path = [] {
        std::string p = Scratch().file("basic.mp4");
        testsupport::MakeClip(p, 1.0, {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
        return p;
    }();
    return path;
}

const std::string& SizeChangingClip() {
    static const std::string path = [] {
        std::string big = Scratch().file("big.ts"), small = Scratch().file("small.ts");
        for (auto [file, size] : {std::pair{big, "320x240"}, std::pair{small, "160x120"}})
            testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                              std::string("testsrc2=rate=25:size=") + size, "-t", "1", "-c:v", "mpeg2video", file});
        std::string glued = Scratch().file("glued.ts");
        testsupport::WriteFile(glued, testsupport::ReadFile(big) + testsupport::ReadFile(small));
        return glued;
    }();
    return path;
}

std::string ClipAtRate(const std::string& rate, double seconds) {
    static std::map<std::string, std::string> made;
    std::string key = rate + "_" + std::to_string(seconds);
    auto it = made.find(key);
    if (it != made.end()) return it->second;
    std::string p = Scratch().file("rate_" + std::to_string(made.size()) + ".mp4");
    testsupport::MakeClip(p, seconds, {"-r", rate, "-c:v", "libx264", "-preset", "ultrafast", "-an"});
    made[key] = p;
    return p;
}

std::string GrayFrame(const std::string& file, int width, int height, int n) {
    auto r = testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-vf",
                               "select=eq(n\\," + std::to_string(n) + ")", "-frames:v", "1", "-f", "rawvideo",
                               "-pix_fmt", "gray", "-"});
    if (r.out.size() != size_t(width) * size_t(height)) ADD_FAILURE() << "frame of " << file << ": " << r.err;
    return r.out;
}

double Mean(const std::string& bytes, size_t from, size_t count) {
    if (from >= bytes.size()) return 0;
    count = std::min(count, bytes.size() - from);
    double sum = 0;
    for (size_t i = from; i < from + count; ++i) sum += static_cast<unsigned char>(bytes[i]);
    return count ? sum / double(count) : 0;
}

int ProbeInt(const std::string& file, const std::string& entry, const std::string& streams) {
    std::string v = testsupport::ProbeValue(file, entry, streams);
    try {
        return std::stoi(v);
    } catch (...) {
        ADD_FAILURE() << entry << " of " << file << " is '" << v << "'";
        return -1;
    }
}

double ProbeDouble(const std::string& file, const std::string& entry, const std::string& streams) {
    std::string v = testsupport::ProbeValue(file, entry, streams);
    try {
        return std::stod(v);
    } catch (...) {
        ADD_FAILURE() << entry << " of " << file << " is '" << v << "'";
        return -1;
    }
}

int CountFrames(const std::string& file) {
    auto r = testsupport::Run({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                               "stream=nb_read_frames", "-of", "default=noprint_wrappers=1:nokey=1", file});
    try {
        return std::stoi(r.out);
    } catch (...) {
        return -1;
    }
}

ProbeReport::ProbeReport(const std::string& file) {
    auto r = testsupport::Run({"ffprobe", "-v", "error", "-show_entries",
                               "format=format_name,duration:stream=codec_type,codec_name,width,height,r_frame_rate,"
                               "sample_rate,channels,display_aspect_ratio,profile",
                               "-of", "flat", file});
    std::map<std::string, std::map<std::string, std::string>> streams;  // index -> key -> value
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        if (key.rfind("format.", 0) == 0) {
            FValues[key] = value;
        } else if (key.rfind("streams.stream.", 0) == 0) {
            std::string rest = key.substr(15);
            auto dot = rest.find('.');
            if (dot != std::string::npos) streams[rest.substr(0, dot)][rest.substr(dot + 1)] = value;
        }
    }
    // Streams in index order; the first of each kind wins.
    std::vector<std::pair<int, std::map<std::string, std::string>*>> ordered;
    for (auto& [index, values] : streams) ordered.emplace_back(std::stoi(index), &values);
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [index, values] : ordered) {
        const std::string type = (*values)["codec_type"];
        const std::string kind = type == "video" ? "v" : type == "audio" ? "a" : type == "subtitle" ? "s" : "d";
        if (FValues.count(kind + ".codec_type")) continue;
        for (auto& [k, v] : *values) FValues[kind + "." + k] = v;
    }
}

std::string ProbeReport::operator[](const std::string& key) const {
    auto it = FValues.find(key);
    return it == FValues.end() ? std::string() : it->second;
}

int ProbeReport::Int(const std::string& key) const {
    try {
        return std::stoi((*this)[key]);
    } catch (...) {
        return -1;
    }
}

double ProbeReport::Double(const std::string& key) const {
    try {
        return std::stod((*this)[key]);
    } catch (...) {
        return -1;
    }
}

}  // namespace enginetest
