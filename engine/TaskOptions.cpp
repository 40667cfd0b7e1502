#include "engine/TaskOptions.h"

#include "platform/Text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <deque>
#include <map>

#include "engine/FFUtils.h"

namespace {

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
}

// Days since 1970-01-01 → year, month, day of the proleptic Gregorian calendar.
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

// A day count since 1899-12-30 (local time) as a local date text the date parser reads.
std::string LocalDateText(double days) {
    const double seconds = std::round((days - 25569.0) * 86400.0);  // 25569: 1899-12-30 → 1970-01-01
    const int64_t s = static_cast<int64_t>(seconds);
    int64_t day = s / 86400;
    int64_t rest = s % 86400;
    if (rest < 0) {
        rest += 86400;
        --day;
    }
    int y, m, d;
    CivilFromDays(day, y, m, d);
    return Format("%04d-%02d-%02d %02d:%02d:%02d", y, m, d, static_cast<int>(rest / 3600),
                  static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
}

}  // namespace

std::string TExtOption::KeyLower() const { return Lower(Key); }

std::vector<TExtOption> ParseExtOptions(const std::string& text) {
    std::string t = Trim(text);
    ReplaceAll(t, "<CRLF>", "\n");
    ReplaceAll(t, "\r\n", "\n");
    ReplaceAll(t, "\r", "\n");
    std::vector<TExtOption> lines;
    size_t start = 0;
    while (start <= t.size()) {
        size_t end = t.find('\n', start);
        if (end == std::string::npos) end = t.size();
        const std::string line = Trim(t.substr(start, end - start));
        if (!line.empty()) {
            const size_t eq = line.find('=');
            if (eq == std::string::npos)
                lines.push_back({line, {}});
            else
                lines.push_back({Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))});
        }
        start = end + 1;
    }
    return lines;
}

void AddExtOption(std::string& text, const std::string& key, const std::string& value) {
    if (!Trim(text).empty()) {
        text = Trim(text);
        text += "\r\n";
    } else {
        text.clear();
    }
    text += key + "=" + value;
}

std::string ExtOptionsToSingleLine(const std::string& text) {
    std::string out;
    for (const auto& line : ParseExtOptions(text)) {
        if (!out.empty()) out += "<CRLF>";
        out += line.Key + "=" + line.Value;
    }
    return out;
}

std::optional<std::string> CurrentEncoderName(const std::string& name) {
    static const std::map<std::string, std::string> renamed = {
        {"libfaac", "aac"}, {"vorbis", "libvorbis"}, {"libflac", "flac"}};
    if (name == "libopencore_amrnb" || name == "libamr_nb" || name == "msmpeg4v1") return std::nullopt;
    auto it = renamed.find(name);
    return it != renamed.end() ? it->second : name;
}

std::string DurationText(int64_t microseconds) {
    const char* sign = microseconds < 0 ? "-" : "";
    const uint64_t us = microseconds < 0 ? 0 - static_cast<uint64_t>(microseconds) : static_cast<uint64_t>(microseconds);
    return Format("%s%llu.%06llu", sign, static_cast<unsigned long long>(us / 1000000),
                  static_cast<unsigned long long>(us % 1000000));
}

namespace {

// The option list being built, and when a field is left out of it.
class TOptionList {
public:
    void Add(const std::string& key, const std::string& value) { FOut.emplace_back(key, value); }
    void Text(const char* key, const std::string& value) {
        if (!value.empty()) Add(key, value);
    }
    void Positive(const char* key, int64_t value) {
        if (value > 0) Add(key, std::to_string(value));
    }
    void Flag(const char* key, bool value) {
        if (value) Add(key, "1");
    }
    std::vector<std::pair<std::string, std::string>> Take() { return std::move(FOut); }

private:
    std::vector<std::pair<std::string, std::string>> FOut;
};

// Codec, preset, size and filter defaults: the field, or else the first extra line
// naming it. All extra lines of these keys also queue up for the added streams.
struct TStreamDefaults {
    std::map<std::string, std::string> Value;
    std::map<std::string, std::deque<std::string>> Pending;
};

TStreamDefaults StreamDefaults(const TOutputOptions& o, const std::vector<TExtOption>& ext) {
    TStreamDefaults d;
    d.Value = {{"acodec", o.AudioCodec}, {"vcodec", o.VideoCodec},  {"scodec", o.SubtitleCodec},
               {"apre", o.AudioPreset},  {"vpre", o.VideoPreset},   {"spre", o.SubtitlePreset},
               {"s", o.FrameSize},       {"vf", o.VideoFilters}};
    for (const auto& line : ext) {
        std::string key = line.KeyLower();
        if (key == "vfilters") key = "vf";
        if (!d.Value.count(key) || line.Value.empty()) continue;
        if (d.Value[key].empty()) d.Value[key] = line.Value;
        d.Pending[key].push_back(line.Value);
    }
    return d;
}

void AddTarget(TOptionList& out, const TOutputOptions& o) {
    if (o.Target >= 1 && o.Target <= 3) {
        static const char* types[] = {"", "vcd", "svcd", "dvd"};
        const char* norm = o.TargetNorm == 1 ? "pal-" : o.TargetNorm == 2 ? "ntsc-" : "";
        out.Add("target", std::string(norm) + types[o.Target]);
    }
}

// The extra lines as they stand, but for those the stream defaults and the added streams take.
void AddExtraLines(TOptionList& out, const std::vector<TExtOption>& ext) {
    static const char* handledElsewhere[] = {"newvideo", "newaudio", "newsubtitle", "apre",   "vpre",  "spre",
                                             "vfilters", "vf",       "acodec",      "vcodec", "scodec", "s"};
    for (const auto& line : ext) {
        const std::string key = line.KeyLower();
        if (std::find(std::begin(handledElsewhere), std::end(handledElsewhere), key) != std::end(handledElsewhere))
            continue;
        out.Add(line.Key, line.Value);
    }
}

void AddFormatOptions(TOptionList& out, const TOutputOptions& o) {
    out.Text("f", o.FileFormat);
    out.Positive("packetsize", o.PacketSize);
    out.Positive("muxrate", o.MuxRate);
    if (o.MuxDelay > 0) out.Add("muxdelay", Format("%g", o.MuxDelay));
    if (o.MuxPreload > 0) out.Add("muxpreload", Format("%g", o.MuxPreload));
}

// The fields the component always assigns (language, sync, tag, …) are emitted only when
// they differ from the engine's own starting value; the result is the same.
void AddAudioOptions(TOptionList& out, const TOutputOptions& o) {
    out.Flag("an", o.AudioDisable);
    if (o.AudioVolume >= 0) out.Add("vol", std::to_string(o.AudioVolume));
    out.Positive("ac", o.AudioChannels);
    out.Positive("ar", o.AudioSampleRate);
    out.Positive("ab", o.AudioBitrate);
    out.Positive("abt", o.AudioBitrateTolerance);
    out.Text("alang", o.AudioLanguage);
    if (o.AudioSync != 0) out.Add("async", std::to_string(o.AudioSync));
    out.Text("atag", o.AudioTag);
}

void AddVideoOptions(TOptionList& out, const TOutputOptions& o) {
    out.Flag("vn", o.VideoDisable);
    out.Text("r", o.FrameRate);
    out.Text("aspect", o.AspectRatio);
    out.Positive("croptop", o.CropTop);
    out.Positive("cropbottom", o.CropBottom);
    out.Positive("cropleft", o.CropLeft);
    out.Positive("cropright", o.CropRight);
    out.Positive("g", o.GopSize);
    out.Positive("vb", o.VideoBitrate);
    out.Positive("maxrate", o.MaxRate);
    out.Positive("minrate", o.MinRate);
    out.Positive("bt", o.VideoBitrateTolerance);
    out.Positive("bufsize", o.BufSize);
    if (o.VideoSync != -1) out.Add("vsync", std::to_string(o.VideoSync));
    out.Text("vtag", o.VideoTag);
    out.Text("vlang", o.VideoLanguage);
}

void AddSubtitleOptions(TOptionList& out, const TOutputOptions& o) {
    out.Flag("sn", o.SubtitleDisable);
    out.Text("slang", o.SubtitleLanguage);
}

void AddTimingOptions(TOptionList& out, const TOutputOptions& o) {
    out.Flag("isync", o.InputSync);
    out.Flag("copyts", o.CopyTimestamps);
    if (o.StartTime != NoTimestamp) out.Add("ss", DurationText(o.StartTime));
    if (o.RecordingTime != NoTimestamp) out.Add("t", DurationText(o.RecordingTime));
}

void AddMetadata(TOptionList& out, const TStreamInfo& m) {
    if (m.Timestamp == 0.0)
        out.Add("timestamp", "now");
    else if (m.Timestamp > 0.0)
        out.Add("timestamp", LocalDateText(m.Timestamp));
    if (m.Year > 0) out.Add("metadata", "year=" + std::to_string(m.Year));
    if (m.Track > 0) out.Add("metadata", "track=" + std::to_string(m.Track));
    const std::pair<const char*, const std::string*> texts[] = {{"title", &m.Title},         {"author", &m.Author},
                                                                {"copyright", &m.Copyright}, {"comment", &m.Comment},
                                                                {"album", &m.Album},         {"genre", &m.Genre}};
    for (const auto& [key, value] : texts)
        if (!value->empty()) out.Add("metadata", std::string(key) + "=" + *value);
}

// Lines that add a stream once the output is open: each first takes the next queued
// codec (and preset, size, filter) of its kind, or the default when none is queued.
void AddStreamLines(TOptionList& out, const std::vector<TExtOption>& ext, TStreamDefaults& defaults) {
    auto takePending = [&](const char* key) {
        auto& queue = defaults.Pending[key];
        std::string value = defaults.Value[key];
        if (!queue.empty()) {
            value = queue.front();
            queue.pop_front();
        }
        out.Text(key, value);
    };
    for (const auto& line : ext) {
        const std::string key = line.KeyLower();
        if (key == "newaudio") {
            takePending("acodec");
            takePending("apre");
        } else if (key == "newvideo") {
            takePending("vcodec");
            takePending("vpre");
            takePending("s");
            takePending("vf");
        } else if (key == "newsubtitle") {
            takePending("scodec");
            takePending("spre");
        } else {
            continue;
        }
        out.Add(line.Key, line.Value);
    }
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ToEngineOptions(const TOutputOptions& o) {
    TOptionList out;
    const std::vector<TExtOption> ext = ParseExtOptions(o.ExtOptions);
    TStreamDefaults defaults = StreamDefaults(o, ext);
    AddTarget(out, o);
    for (const char* key : {"acodec", "vcodec", "scodec", "apre", "vpre", "spre"}) out.Text(key, defaults.Value[key]);
    AddExtraLines(out, ext);
    AddFormatOptions(out, o);
    AddAudioOptions(out, o);
    AddVideoOptions(out, o);
    AddSubtitleOptions(out, o);
    AddTimingOptions(out, o);
    AddMetadata(out, o.Metadata);
    out.Text("s", defaults.Value["s"]);
    out.Text("vf", defaults.Value["vf"]);
    AddStreamLines(out, ext, defaults);
    return out.Take();
}

std::vector<std::pair<std::string, std::string>> ToEngineOptions(const TInputOptions& o) {
    std::vector<std::pair<std::string, std::string>> out;
    static const char* outputOnly[] = {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"};
    for (const auto& line : ParseExtOptions(o.ExtOptions)) {
        const std::string key = line.KeyLower();
        if (std::find(std::begin(outputOnly), std::end(outputOnly), key) != std::end(outputOnly)) continue;
        out.emplace_back(line.Key, line.Value);
    }
    if (!o.FileFormat.empty()) out.emplace_back("f", o.FileFormat);
    if (o.StartTime != NoTimestamp) out.emplace_back("ss", DurationText(o.StartTime));
    if (o.ProgramId >= 0) out.emplace_back("programid", std::to_string(o.ProgramId));
    return out;
}
