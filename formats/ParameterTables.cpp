#include "formats/ParameterTables.h"

#include "platform/Text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "engine/TaskOptions.h"
#include "platform/IniFile.h"

namespace {

const char* BaseName(TParameter p) {
    switch (p) {
    case TParameter::VideoSize: return "VideoSize";
    case TParameter::VideoBitRate: return "VideoBitRate";
    case TParameter::FrameRate: return "FrameRate";
    case TParameter::VideoEncoder: return "VideoEncoder";
    case TParameter::AudioBitRate: return "AudioBitRate";
    case TParameter::SampleRate: return "SampleRate";
    case TParameter::AudioEncoder: return "AudioEncoder";
    case TParameter::Channel: return "Channel";
    case TParameter::Volume: return "Volume";
    }
    return "";
}

// Exact match first; then both sides without surrounding blanks.
std::optional<std::string> Lookup(const TNameTable& table, const std::string& key) {
    for (const auto& [display, engine] : table)
        if (display == key) return engine;
    const std::string trimmed = Trim(key);
    for (const auto& [display, engine] : table)
        if (Trim(display) == trimmed) return engine;
    return std::nullopt;
}

std::optional<std::string> ReverseLookup(const TNameTable& table, const std::string& value) {
    for (const auto& [display, engine] : table)
        if (engine == value) return display;
    return std::nullopt;
}

bool IsAsSource(const std::string& text) { return text == "as source"; }

}  // namespace

const std::vector<TParameter>& AllParameters() {
    static const std::vector<TParameter> all = {
        TParameter::VideoSize,  TParameter::VideoBitRate, TParameter::FrameRate,
        TParameter::VideoEncoder, TParameter::AudioBitRate, TParameter::SampleRate,
        TParameter::AudioEncoder, TParameter::Channel,    TParameter::Volume};
    return all;
}

std::string ListKey(TParameter p) { return BaseName(p); }
std::string IndexKey(TParameter p) { return std::string("i") + BaseName(p); }
std::string ValueKey(TParameter p) { return std::string("para") + BaseName(p); }

bool ListOffered(TParameter p, const std::string& listValue) {
    if (listValue == "null") return false;
    const bool emptyIsAList =
        p == TParameter::VideoSize || p == TParameter::VideoBitRate || p == TParameter::FrameRate;
    return emptyIsAList || !listValue.empty();
}

std::vector<std::string> SplitList(const std::string& listValue) {
    std::vector<std::string> entries;
    size_t start = 0;
    for (;;) {
        const size_t comma = listValue.find(',', start);
        entries.push_back(listValue.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return entries;
}

const TNameTable& VideoEncoderTable() {
    static const TNameTable table = {
        {"mpeg-4", "mpeg4"},       {"3gp", "3gp"},
        {"3g2", "3g2"},            {"xvid", "libxvid"},
        {"mov", "mov"},            {"wmv1", "wmv1"},
        {"wmv2", "wmv2"},          {"wmv3", "wmv3"},
        {"flv", "flv"},            {"swf", "swf"},
        {"msmpeg4", "msmpeg4"},    {"msmpeg4v1", "msmpeg4v1"},
        {"msmpeg4v2", "msmpeg4v2"}, {"mpeg1video", "mpeg1video"},
        {"mpeg2video", "mpeg2video"}, {"h263", "h263"},
        {"h263p", "h263p"},        {"rawvideo", "rawvideo"},
        {"rv10", "rv10"},          {"rv20", "rv20"},
        {"dvvideo", "dvvideo"},    {"huffyuv", "huffyuv"},
        {"ljpeg", "ljpeg"},        {"mjpeg", "mjpeg"},
        {"svq1", "svq1"},          {"zlib", "zlib"},
        {"h264", "libx264"},
        // Today's encoders, offered by the formats added after the original catalogue.
        {"h265", "libx265"},       {"av1", "libsvtav1"},
        {"vp9", "libvpx-vp9"},     {"prores", "prores_ks"},
        {"dnxhr", "dnxhd"},
    };
    return table;
}

const TNameTable& AudioEncoderTable() {
    static const TNameTable table = {
        {"mp3", "libmp3lame"},       {"ogg", "vorbis"},         {"mp2", "mp2"},
        {"aac", "libfaac"},          {"ac-3", "ac3"},           {"flac", "libflac"},
        {"amr_nb", "libopencore_amrnb"}, {"pcm_s16", "pcm_s16le"}, {"pcm_u16", "pcm_u16le"},
        {"pcm_alaw", "pcm_alaw"},    {"pcm_mulaw ", "pcm_mulaw"}, {"adpcm_ms", "adpcm_ms"},
        {"adpcm_ima_wav", "adpcm_ima_wav"}, {"wma1", "wmav1"},  {"wma2", "wmav2"},
        {"opus", "libopus"},         {"alac", "alac"},          {"pcm_s24", "pcm_s24le"},
    };
    return table;
}

const TNameTable& ChannelTable() {
    static const TNameTable table = {
        {"as source", "as source"}, {"mono 1 channel", "1"}, {"stereo 2 channels", "2"}};
    return table;
}

const std::vector<std::pair<int, int>>& VolumeTable() {
    static const std::vector<std::pair<int, int>> table = {
        {25, 64},   {50, 128},  {75, 192},  {100, 256}, {125, 320}, {150, 384},
        {175, 448}, {200, 512}, {250, 640}, {300, 768}, {350, 896}, {400, 1024}};
    return table;
}

std::optional<long double> ParseNumber(const std::string& text) {
    const std::string t = Trim(text);
    if (t.empty()) return std::nullopt;
    // Plain decimal notation only: no hex, "inf" or "nan".
    for (char c : t)
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E')
            return std::nullopt;
    char* end = nullptr;
    const long double v = std::strtold(t.c_str(), &end);
    if (end != t.c_str() + t.size()) return std::nullopt;
    return v;
}

namespace {

// One side of a frame size: decimal digits only, 0 .. MaxFrameSide.
std::optional<int> FrameSide(const std::string& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v > MaxFrameSide) return std::nullopt;
    return v;
}

}  // namespace

std::optional<TFrameSize> ParseFrameSize(const std::string& text) {
    const std::string t = Trim(text);
    const size_t x = t.find('x');
    if (x == std::string::npos) return std::nullopt;
    const auto w = FrameSide(t.substr(0, x)), h = FrameSide(t.substr(x + 1));
    if (!w || !h || *w < 1 || *h < 1) return std::nullopt;
    return TFrameSize{*w, *h};
}

TFrameSizeCheck CheckFrameSize(const std::string& text) {
    if (Lower(text).find("as source") != std::string::npos) return {TFrameSizeCheck::fsAsSource, {}};
    const size_t x = text.rfind('x');
    if (x == std::string::npos) return {};
    // A signed or hexadecimal side would be taken for a size and fail every conversion.
    const auto a = FrameSide(Trim(text.substr(0, x)));
    const auto b = FrameSide(Trim(text.substr(x + 1)));
    if (!a || !b) return {};
    // Stored as the two numbers alone, the form every reader takes.
    if (*a % 2 == 0 && *b % 2 == 0 && *a != 0 && *b != 0)
        return {TFrameSizeCheck::fsValid, std::to_string(*a) + "x" + std::to_string(*b)};
    auto even = [](int v) {
        v = v / 2 * 2;  // toward zero
        return v == 0 ? 2 : v;
    };
    return {TFrameSizeCheck::fsCorrected, std::to_string(even(*a)) + "x" + std::to_string(even(*b))};
}

std::optional<int> QualityEntry(const std::string& text) {
    static const std::string head = "CRF ", tail = "";
    if (text.size() <= head.size() + tail.size() || text.compare(0, head.size(), head) != 0 ||
        text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
        return std::nullopt;
    const auto crf = ParseInteger(text.substr(head.size(), text.size() - head.size() - tail.size()));
    if (!crf || *crf < 0 || *crf > 63) return std::nullopt;
    return crf;
}

std::optional<int> TargetSizeEntry(const std::string& text) {
    static const std::string head = "", tail = " MB";
    if (text.size() <= head.size() + tail.size() || text.compare(0, head.size(), head) != 0 ||
        text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
        return std::nullopt;
    const auto megabytes = ParseInteger(text.substr(head.size(), text.size() - head.size() - tail.size()));
    if (!megabytes || *megabytes < 1 || *megabytes > 100000) return std::nullopt;
    return megabytes;
}

bool ValidVideoBitRate(const std::string& text) {
    // Only a list entry can hold the words of a rate mode: typed text is digits alone.
    return IsAsSource(text) || ParseInteger(text).has_value() || QualityEntry(text) || TargetSizeEntry(text);
}
bool ValidSampleRate(const std::string& text) { return IsAsSource(text) || ParseInteger(text).has_value(); }
bool ValidAudioBitRate(const std::string& text) {
    return IsAsSource(text) || ParseInteger(text).has_value() || ParseNumber(text).has_value();
}

std::optional<std::string> EngineValue(TParameter p, const std::string& display) {
    switch (p) {
    case TParameter::VideoSize: {
        // An "as source" entry is stored as it stands when picked from the list.
        const TFrameSizeCheck check = CheckFrameSize(display);
        if (check.Kind == TFrameSizeCheck::fsAsSource) return std::string("as source");
        if (check.Kind == TFrameSizeCheck::fsInvalid) return std::nullopt;
        return check.Value;
    }
    case TParameter::VideoBitRate:
        return ValidVideoBitRate(display) ? std::optional<std::string>(display) : std::nullopt;
    case TParameter::SampleRate:
        return ValidSampleRate(display) ? std::optional<std::string>(display) : std::nullopt;
    case TParameter::AudioBitRate:
        return ValidAudioBitRate(display) ? std::optional<std::string>(display) : std::nullopt;
    case TParameter::FrameRate:
        return display;
    case TParameter::VideoEncoder:
        return Lookup(VideoEncoderTable(), Lower(display));
    case TParameter::AudioEncoder:
        return Lookup(AudioEncoderTable(), Lower(display));
    case TParameter::Channel:
        return Lookup(ChannelTable(), display);
    case TParameter::Volume: {
        const std::string t = Trim(display);
        if (t.empty()) return std::nullopt;
        const auto percent = ParseInteger(t.substr(0, t.size() - 1));
        if (!percent || *percent <= 0) return std::nullopt;
        for (const auto& [pc, volume] : VolumeTable())
            if (pc == *percent) return std::to_string(volume);
        return std::nullopt;
    }
    }
    return std::nullopt;
}

std::optional<std::string> DisplayName(TParameter p, const std::string& engineValue) {
    switch (p) {
    case TParameter::VideoEncoder: return ReverseLookup(VideoEncoderTable(), engineValue);
    case TParameter::AudioEncoder: return ReverseLookup(AudioEncoderTable(), engineValue);
    case TParameter::Channel: return ReverseLookup(ChannelTable(), engineValue);
    case TParameter::Volume:
        for (const auto& [pc, volume] : VolumeTable())
            if (std::to_string(volume) == engineValue) return std::to_string(pc) + "%";
        return std::nullopt;
    default: return engineValue;
    }
}

bool EncoderAvailable(const std::string& engineName) {
    // Names that only choose a container's default encoder count as available.
    return CurrentEncoderName(engineName).has_value();
}
