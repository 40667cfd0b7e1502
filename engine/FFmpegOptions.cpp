#include "engine/FFmpegOptions.h"

#include "platform/Text.h"

#include "platform/ProgramFolder.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLogger.h"
#include "engine/OptionNames.h"
#include "engine/Presets.h"

namespace {

[[noreturn]] void NotANumber(const std::string& name, const std::string& value) {
    throw FFmpegException(Format("Expected number for %s but found: %s", name.c_str(), value.c_str()));
}

int64_t ToInt64(const std::string& name, const std::string& value) {
    std::string t = Trim(value);
    if (t.empty()) NotANumber(name, value);
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(t.c_str(), &end, 10);
    if (*end || errno == ERANGE) NotANumber(name, value);
    return v;
}

int ToInt(const std::string& name, const std::string& value) {
    int64_t v = ToInt64(name, value);
    if (v < INT_MIN || v > INT_MAX) NotANumber(name, value);
    return int(v);
}

double ToDouble(const std::string& name, const std::string& value) {
    std::string t = Trim(value);
    char* end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    if (t.empty() || *end || !std::isfinite(v)) NotANumber(name, value);
    return v;
}

bool ToBool(const std::string& value) { return value != "0"; }

int64_t ToDuration(const std::string& name, const std::string& value) {
    int64_t us = 0;
    if (avutil().av_parse_time(&us, value.c_str(), 1) < 0)
        throw FFmpegException(Format("Invalid duration specification for %s: %s", name.c_str(), value.c_str()));
    return us;
}

const int kTypeFlags[GENERIC_CODEC_TYPES] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                             AV_OPT_FLAG_SUBTITLE_PARAM, 0};

// An encoder by the name the options use, or null.
const AVCodec* FindEncoder(const std::string& name) {
    if (name.empty()) return nullptr;
    return avcodec().avcodec_find_encoder_by_name(MapEncoderName(name).c_str());
}

bool HasPrivateOption(const AVCodec* codec, const std::string& name) {
    if (!codec || !codec->priv_class) return false;
    return avutil().av_opt_find(const_cast<AVClass**>(&codec->priv_class), name.c_str(), nullptr, 0,
                                AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

// Whether the encoder accepts the value for its private option (checked on a scratch context).
bool PrivateValueAccepted(const AVCodec* codec, const std::string& name, const std::string& value) {
    CodecContextPtr ctx(avcodec().avcodec_alloc_context3(codec));
    if (!ctx || !ctx->priv_data) return false;
    return avutil().av_opt_set(ctx->priv_data, name.c_str(), value.c_str(), 0) >= 0;
}

// Hook modules stay loaded once loaded: frames of a running task may still be in them.
struct THookModule {
    void* Handle = nullptr;
    THookConfigureFunc Configure = nullptr;
    THookProcessFunc Process = nullptr;
    THookReleaseFunc Release = nullptr;
};

const THookModule* LoadHookModule(const std::string& path) {
    static std::mutex lock;
    static std::map<std::string, THookModule> modules;
    std::lock_guard<std::mutex> guard(lock);
    auto it = modules.find(path);
    if (it != modules.end()) return &it->second;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    THookModule m;
    m.Handle = handle;
    m.Process = reinterpret_cast<THookProcessFunc>(::dlsym(handle, "Process"));
    m.Configure = reinterpret_cast<THookConfigureFunc>(::dlsym(handle, "Configure"));
    m.Release = reinterpret_cast<THookReleaseFunc>(::dlsym(handle, "Release"));
    if (!m.Process) {
        ::dlclose(handle);
        return nullptr;
    }
    return &modules.emplace(path, m).first->second;
}

}  // namespace

const AVCodec* FindCodecOrThrow(const std::string& name, AVMediaType type, bool encoder, int strict) {
    const char* codecString = encoder ? "encoder" : "decoder";
    const AVCodec* codec = encoder ? FindEncoder(name) : avcodec().avcodec_find_decoder_by_name(name.c_str());
    if (!codec) throw FFmpegException(Format("Unknown %s '%s'", codecString, name.c_str()));
    if (codec->type != type) throw FFmpegException(Format("Invalid %s type '%s'", codecString, name.c_str()));
    if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && strict > FF_COMPLIANCE_EXPERIMENTAL) {
        std::string msg = Format("%s '%s' is experimental and might produce bad results.\r\n"
                                 "Add '-strict experimental' if you want to use it.",
                                 codecString, name.c_str());
        const AVCodec* other =
            encoder ? avcodec().avcodec_find_encoder(codec->id) : avcodec().avcodec_find_decoder(codec->id);
        if (other && !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
            msg += Format("\r\nOr use the non experimental %s '%s'.", codecString, other->name);
        throw FFmpegException(msg);
    }
    return codec;
}

TOptionParser::TOptionParser(TEngineSettings& settings, TGenericOptions& generic, TOptionHost& host)
    : FSettings(settings), FGeneric(generic), FHost(host) {}

void TOptionParser::Log(int level, const std::string& text) const {
    FFLogger().Log(FHost.LogSender(), TLogLevel(level), text);
}

void TOptionParser::LogInfo(const std::string& text) const { Log(llInfo, text); }

void TOptionParser::DoNothing(const std::string& name) const { LogInfo("Do nothing: option - " + name); }

// ---------------------------------------------------------------- option table

void TOptionParser::ParseOption(const std::string& name, const std::string& value) {
    const TOptionEntry* e = FindEntry(name);
    if (!e) {
        SetGenericOption(name, value);  // unknown names are ignored
        return;
    }
    TEngineSettings& s = FSettings;
    switch (e->Kind) {
        case TOptionKind::Int: s.*std::get<int TEngineSettings::*>(e->Target) = ToInt(name, value); break;
        case TOptionKind::Int64: s.*std::get<int64_t TEngineSettings::*>(e->Target) = ToInt64(name, value); break;
        case TOptionKind::Real: s.*std::get<float TEngineSettings::*>(e->Target) = float(ToDouble(name, value)); break;
        case TOptionKind::Bool: s.*std::get<bool TEngineSettings::*>(e->Target) = ToBool(value); break;
        case TOptionKind::NonZero: s.*std::get<bool TEngineSettings::*>(e->Target) = ToInt(name, value) != 0; break;
        case TOptionKind::Flag: s.*std::get<bool TEngineSettings::*>(e->Target) = true; break;
        case TOptionKind::Duration:
            s.*std::get<int64_t TEngineSettings::*>(e->Target) = ToDuration(name, value);
            break;
        case TOptionKind::Text: s.*std::get<std::string TEngineSettings::*>(e->Target) = value; break;
        case TOptionKind::Handler: (this->*std::get<TOptionHandler>(e->Target))(name, value); break;
        case TOptionKind::Nothing: DoNothing(name); break;
        case TOptionKind::Warning: Log(llWarning, e->Message); break;
        case TOptionKind::Rejected: throw FFmpegException(e->Message);
    }
}

// ---------------------------------------------------------------- handlers of the table

void TOptionParser::LogLevelOption(const std::string&, const std::string& value) {
    FFLogger().SetLogLevelText(value);
}

void TOptionParser::FormatOption(const std::string&, const std::string& value) {
    if (value == "pgmyuv") {
        LogInfo("pgmyuv format is deprecated, use image2");
        FSettings.ForcedFormat = "image2";
        FSettings.PgmYuvCompatibility = true;
    } else {
        FSettings.ForcedFormat = value;
    }
}

void TOptionParser::RecordingTimeOption(const std::string& name, const std::string& value) {
    SetRecordingTime(ToDuration(name, value));
}

// "stream:scale" for the input that is opened next.
void TOptionParser::TsScaleOption(const std::string&, const std::string& value) {
    const char* p = value.c_str();
    char* end = nullptr;
    long stream = std::strtol(p, &end, 10);
    if (*end) ++end;
    double scale = std::strtod(end, nullptr);
    if (stream < 0 || stream >= MAX_STREAMS)
        throw FFmpegException(Format("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
    int input = FHost.InputCount();
    if (input >= 0 && input < MAX_FILES) FSettings.InputTsScale[input][stream] = scale;
}

void TOptionParser::TimestampOption(const std::string& name, const std::string& value) {
    int64_t us = 0;
    if (avutil().av_parse_time(&us, value.c_str(), 0) < 0)
        throw FFmpegException(Format("Invalid date specification for %s: %s", name.c_str(), value.c_str()));
    FSettings.RecordingTimestamp = int64_t(std::llround(double(us) / 1000000.0));
}

void TOptionParser::MetaDataOption(const std::string&, const std::string& value) {
    size_t eq = value.find('=');
    if (eq == std::string::npos) throw FFmpegException("Missing =");
    FSettings.MetaData.emplace_back(value.substr(0, eq), value.substr(eq + 1));
}

// "vframes", "aframes", "dframes".
void TOptionParser::MaxFramesOption(const std::string& name, const std::string& value) {
    AVMediaType type = name[0] == 'v' ? AVMEDIA_TYPE_VIDEO : name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_DATA;
    FSettings.MaxFrames[type] = ToInt(name, value);
}

void TOptionParser::FrameRateOption(const std::string&, const std::string& value) {
    AVRational rate{0, 0};
    if (avutil().av_parse_video_rate(&rate, value.c_str()) < 0) throw FFmpegException("Incorrect frame rate");
    FSettings.FrameRate = rate;
}

void TOptionParser::FrameSizeOption(const std::string&, const std::string& value) {
    int w = 0, h = 0;
    if (avutil().av_parse_video_size(&w, &h, value.c_str()) < 0) throw FFmpegException("Incorrect frame size");
    FSettings.FrameWidth = w;
    FSettings.FrameHeight = h;
    FSettings.FrameSizeGiven = true;
}

void TOptionParser::AspectOption(const std::string&, const std::string& value) {
    double ar = 0;
    size_t colon = value.find(':');
    if (colon != std::string::npos) {
        double x = std::strtod(value.substr(0, colon).c_str(), nullptr);
        double y = std::strtod(value.substr(colon + 1).c_str(), nullptr);
        if (y > 0) ar = x / y;
    } else {
        ar = std::strtod(value.c_str(), nullptr);
    }
    // A negative or non-finite ratio would reach the encoder as a broken sample aspect.
    if (!(ar > 0) || !std::isfinite(ar)) throw FFmpegException("Incorrect aspect ratio specification.");
    FSettings.FrameAspectRatio = ar;
}

void TOptionParser::QScaleOption(const std::string& name, const std::string& value) {
    double q = ToDouble(name, value);
    if (q <= 0 || q > 255) throw FFmpegException("qscale must be > 0.0 and <= 255");
    FSettings.VideoQScale = float(q);
}

// "vcodec", "acodec", "scodec".
void TOptionParser::CodecOption(const std::string& name, const std::string& value) {
    SetCodec(name[0] == 'v' ? AVMEDIA_TYPE_VIDEO : name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_SUBTITLE, value);
}

void TOptionParser::PassOption(const std::string& name, const std::string& value) {
    int pass = ToInt(name, value);
    if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
    FSettings.DoPass = pass;
}

// "vstats": a statistics file in the program folder, named by the time of day.
void TOptionParser::VStatsOption(const std::string&, const std::string&) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char hhnnss[16];
    std::strftime(hhnnss, sizeof hhnnss, "%H%M%S", &local);
    FSettings.VStatsFilename = Format("%s/vstats_%s.log", ProgramFolder().c_str(), hhnnss);
}

// "newvideo", "newaudio", "newsubtitle".
void TOptionParser::NewStreamOption(const std::string& name, const std::string&) {
    if (FHost.OutputCount() <= 0) throw FFmpegException("At least one output file must be specified");
    FHost.NewStream(name == "newvideo"   ? AVMEDIA_TYPE_VIDEO
                    : name == "newaudio" ? AVMEDIA_TYPE_AUDIO
                                         : AVMEDIA_TYPE_SUBTITLE);
}

void TOptionParser::SampleRateOption(const std::string& name, const std::string& value) {
    SetAudioSampleRate(ToInt(name, value));
}

void TOptionParser::ChannelsOption(const std::string& name, const std::string& value) {
    SetAudioChannels(ToInt(name, value));
}

// ---------------------------------------------------------------- typed setters

void TOptionParser::SetRecordingTime(int64_t us) {
    FSettings.RecordingTime = us;
    FHost.RecordingTimeChanged(us);
}

void TOptionParser::SetAudioChannels(int channels) {
    if (channels > 0) FSettings.AudioChannels = channels;
}

void TOptionParser::SetAudioSampleRate(int rate) {
    if (rate > 0) FSettings.AudioSampleRate = rate;
}

void TOptionParser::SetCodec(AVMediaType type, const std::string& name) {
    auto& s = FSettings;
    bool& copy = type == AVMEDIA_TYPE_VIDEO   ? s.VideoStreamCopy
                 : type == AVMEDIA_TYPE_AUDIO ? s.AudioStreamCopy
                                              : s.SubtitleStreamCopy;
    std::string& codec = type == AVMEDIA_TYPE_VIDEO   ? s.VideoCodecName
                         : type == AVMEDIA_TYPE_AUDIO ? s.AudioCodecName
                                                      : s.SubtitleCodecName;
    if (name == "copy")
        copy = true;
    else
        codec = name;
}

// ---------------------------------------------------------------- single options

void TOptionParser::BitrateOption(const std::string& name, const std::string& value) {
    if (!SetGenericOption(name, value)) return;
    const AVCodecContext* ctx = FGeneric.Template(name == "ab" ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO);
    int64_t b = 0;
    if (ctx && avutil().av_opt_get_int(const_cast<AVCodecContext*>(ctx), "b", 0, &b) >= 0 && b < 1000)
        Log(llWarning, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TOptionParser::CropOption(const std::string& name, const std::string& value) {
    auto& s = FSettings;
    int band = ToInt(name, value);
    if (band <= 0) return;
    bool vertical = name == "croptop" || name == "cropbottom";
    int& size = vertical ? s.FrameHeight : s.FrameWidth;
    if (band >= size)
        throw FFmpegException(vertical ? "Vertical crop dimensions are outside the range of the original image.\n"
                                         "Remember to crop first and scale second."
                                       : "Horizontal crop dimensions are outside the range of the original image.\n"
                                         "Remember to crop first and scale second.");
    Log(llWarning, "CropXXX is deprecated in favor of the crop avfilter");
    if (name == "croptop") s.FrameTopBand = band;
    else if (name == "cropbottom") s.FrameBottomBand = band;
    else if (name == "cropleft") s.FrameLeftBand = band;
    else s.FrameRightBand = band;
    size -= band;
}

void TOptionParser::MatrixOption(const std::string& name, const std::string& value) {
    std::array<uint16_t, 64> m{};
    const char* p = value.c_str();
    for (int i = 0; i < 64; ++i) {
        // Each coefficient must be there and usable: a zero or out-of-range entry would
        // make the encoder divide by zero or overflow its tables.
        char* end = nullptr;
        long v = std::strtol(p, &end, 10);
        if (end == p || v < 1 || v > 255)
            throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i));
        m[size_t(i)] = uint16_t(v);
        if (i == 63) break;
        const char* comma = std::strchr(end, ',');
        if (!comma) throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i + 1));
        p = comma + 1;
    }
    (name == "intra_matrix" ? FSettings.IntraMatrix : FSettings.InterMatrix) = m;
}

void TOptionParser::TagOption(const std::string& name, const std::string& value) {
    const char* kind = name == "vtag" ? "video" : name == "atag" ? "audio" : "subtitle";
    if (value.size() != 4) throw FFmpegException(Format("%s tag parameter must be 4 chars", kind));
    (name == "vtag" ? FSettings.VideoCodecTag : name == "atag" ? FSettings.AudioCodecTag : FSettings.SubtitleCodecTag) =
        value;
}

void TOptionParser::StreamIdOption(const std::string& name, const std::string& value) {
    auto invalid = [&]() {
        return FFmpegException(Format("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                                      value.c_str(), name.c_str()));
    };
    size_t colon = value.find(':');
    if (colon == std::string::npos) throw invalid();
    char* end = nullptr;
    std::string idxText = value.substr(0, colon), idText = value.substr(colon + 1);
    long idx = std::strtol(idxText.c_str(), &end, 10);
    if (idxText.empty() || *end || idx < 0 || idx >= MAX_STREAM_IDS) throw invalid();
    long id = std::strtol(idText.c_str(), &end, 10);
    if (idText.empty() || *end || id < 0 || id > INT_MAX) throw invalid();
    FSettings.StreamIdMap[size_t(idx)] = int(id);
    FSettings.StreamIdMapSize = std::max(FSettings.StreamIdMapSize, int(idx) + 1);
}

namespace {
// "a.b" or "a.b:c.d" with any one separator character between the numbers.
bool ReadNumber(const char*& p, int& out) {
    char* end = nullptr;
    long v = std::strtol(p, &end, 10);
    if (end == p || v < 0 || v > INT_MAX) return false;
    out = int(v);
    p = end;
    return true;
}
}  // namespace

void TOptionParser::MapOption(const std::string&, const std::string& value) {
    auto& maps = FSettings.StreamMaps;
    if (int(maps.size()) >= MAX_STREAM_MAPS)
        throw FFmpegException(Format("Too many stream maps (at most %d)", MAX_STREAM_MAPS));
    TStreamMap m;
    const char* p = value.c_str();
    bool ok = ReadNumber(p, m.FileIndex) && *p && (++p, ReadNumber(p, m.StreamIndex));
    if (ok && *p) {
        ++p;
        ok = ReadNumber(p, m.SyncFileIndex) && *p && (++p, ReadNumber(p, m.SyncStreamIndex));
    } else {
        m.SyncFileIndex = m.FileIndex;
        m.SyncStreamIndex = m.StreamIndex;
    }
    if (!ok) throw FFmpegException(Format("Invalid stream map \"%s\"", value.c_str()));
    maps.push_back(m);
}

void TOptionParser::MapMetaDataOption(const std::string&, const std::string& value) {
    auto& maps = FSettings.MetaDataMaps;
    if (int(maps.size()) >= MAX_META_DATA_MAPS)
        throw FFmpegException(Format("Too many metadata maps (at most %d)", MAX_META_DATA_MAPS));
    TMetaDataMap m;
    const char* p = value.c_str();
    if (!(ReadNumber(p, m.OutFile) && *p && (++p, ReadNumber(p, m.InFile))))
        throw FFmpegException(Format("Invalid metadata map \"%s\"", value.c_str()));
    maps.push_back(m);
}

// "absf", "vbsf", "sbsf".
void TOptionParser::BitstreamFilterOption(const std::string& name, const std::string& value) {
    if (!value.empty() && value[0] == '=') return;
    const AVMediaType type = name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : name[0] == 'v' ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_SUBTITLE;
    size_t eq = value.find('=');
    TBitstreamFilterSpec filter{value.substr(0, eq), eq == std::string::npos ? std::string() : value.substr(eq + 1)};
    if (!avcodec().av_bsf_get_by_name(filter.Name.c_str()))
        throw FFmpegException(Format("Unknown bitstream filter %s", filter.Name.c_str()));
    FSettings.BitstreamFilters[type].push_back(filter);
}

void TOptionParser::VideoHookOption(const std::string&, const std::string& value) {
    std::vector<std::string> words;
    const char* separators = value.find('|') != std::string::npos ? "|" : " \t";
    size_t i = 0;
    while (i < value.size() && words.size() < 254) {
        size_t b = value.find_first_not_of(separators, i);
        if (b == std::string::npos) break;
        size_t e = value.find_first_of(separators, b);
        if (e == std::string::npos) e = value.size();
        words.push_back(value.substr(b, e - b));
        i = e;
    }
    const std::string fail = "Failed to add video hook function: " + value;
    if (words.empty()) throw FFmpegException(fail);
    const THookModule* module = LoadHookModule(words[0]);
    if (!module) throw FFmpegException(fail);
    void* context = nullptr;
    if (module->Configure) {
        std::vector<std::vector<char>> storage;
        std::vector<char*> argv;
        for (auto& w : words) {
            storage.emplace_back(w.begin(), w.end());
            storage.back().push_back('\0');
        }
        for (auto& w : storage) argv.push_back(w.data());
        argv.push_back(nullptr);
        if (module->Configure(&context, int(words.size()), argv.data()) != 0) {
            Log(llError, Format("Failed to Configure %s\n", words[0].c_str()));
            throw FFmpegException(fail);
        }
    }
    FSettings.VideoHooks.push_back(
        std::make_shared<TVideoHook>(words[0], module->Process, module->Release, context));
}

void TOptionParser::PixelFormatOption(const std::string&, const std::string& value) {
    if (value == "list") {
        char line[256];
        for (int code = -1; code <= 66; ++code) {
            avutil().av_get_pix_fmt_string(line, sizeof line, AVPixelFormat(code));
            LogInfo(line);
        }
        return;
    }
    AVPixelFormat fmt = avutil().av_get_pix_fmt(value.c_str());
    if (fmt == AV_PIX_FMT_NONE) throw FFmpegException(Format("Unknown pixel format requested: %s", value.c_str()));
    FSettings.FramePixFmt = fmt;
}

void TOptionParser::SampleFormatOption(const std::string&, const std::string& value) {
    if (value == "list") {
        char line[128];
        for (int code = -1; code <= 4; ++code) {
            avutil().av_get_sample_fmt_string(line, sizeof line, AVSampleFormat(code));
            LogInfo(line);
        }
        return;
    }
    FSettings.AudioSampleFmt = avutil().av_get_sample_fmt(value.c_str());
}

void TOptionParser::TargetOption(const std::string&, const std::string& value) {
    std::string norm = "auto", type = value;
    for (const char* prefix : {"pal", "ntsc", "film"}) {
        std::string p = std::string(prefix) + "-";
        if (value.compare(0, p.size(), p) == 0) {
            norm = prefix;
            type = value.substr(p.size());
            break;
        }
    }
    ApplyTarget(type, norm, "ntsc");
}

// ---------------------------------------------------------------- generic store

std::string TOptionParser::TargetEncoderName(AVMediaType type) const {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            return !FPresetEncoder.empty() ? FPresetEncoder : FSettings.VideoCodecName;
        case AVMEDIA_TYPE_AUDIO:
            return FSettings.AudioCodecName;
        case AVMEDIA_TYPE_SUBTITLE:
            return FSettings.SubtitleCodecName;
        default:
            return {};
    }
}

bool TOptionParser::SetOnTemplates(const std::string& name, const std::string& value, bool& found) {
    found = false;
    const char* n = name.c_str();
    // Today's libraries share "b" between picture and sound; in the option table it is the
    // video bit rate, and "ab" is the sound's.
    const bool videoOnly = name == "b";
    for (int t = 0; t < GENERIC_CODEC_TYPES; ++t) {
        if (videoOnly && t != AVMEDIA_TYPE_VIDEO) continue;
        AVCodecContext* ctx = FGeneric.MutableTemplate(AVMediaType(t));
        if (!ctx || !avutil().av_opt_find(ctx, n, nullptr, kTypeFlags[t], 0)) continue;
        found = true;
        if (avutil().av_opt_set(ctx, n, value.c_str(), 0) < 0) return false;
        FGeneric.MarkCodecOption(AVMediaType(t), name);
    }
    if (found) return true;
    if (AVFormatContext* fmt = FGeneric.MutableFormatTemplate();
        fmt && avutil().av_opt_find(fmt, n, nullptr, 0, 0)) {
        found = true;
        if (avutil().av_opt_set(fmt, n, value.c_str(), 0) < 0) return false;
        FGeneric.MarkFormatOption(name);
        return true;
    }
    if (SwsContext* sws = FGeneric.MutableScalerTemplate(); sws && avutil().av_opt_find(sws, n, nullptr, 0, 0)) {
        found = true;
        if (avutil().av_opt_set(sws, n, value.c_str(), 0) < 0) return false;
        FGeneric.MarkScalerOption(name);
        return true;
    }
    if (name.size() > 1 && (name[0] == 'a' || name[0] == 'v' || name[0] == 's')) {
        AVMediaType t = name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : name[0] == 'v' ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_SUBTITLE;
        std::string rest = name.substr(1);
        AVCodecContext* ctx = FGeneric.MutableTemplate(t);
        if (ctx && avutil().av_opt_find(ctx, rest.c_str(), nullptr, 0, 0)) {
            found = true;
            if (avutil().av_opt_set(ctx, rest.c_str(), value.c_str(), 0) < 0) return false;
            FGeneric.MarkCodecOption(t, rest);
            return true;
        }
    }
    return false;
}

// Stores an encoder-private option. With the target encoder known and offering the option,
// the value is checked against it first.
bool TOptionParser::SetPrivateOption(AVMediaType type, const std::string& rawName, const std::string& rawValue) {
    std::string name = rawName, value = rawValue;
    // "deblock#0": one half of an "a:b" setting; the other half is kept.
    size_t hash = name.find('#');
    if (hash != std::string::npos) {
        int part = name[hash + 1] - '0';
        name = name.substr(0, hash);
        std::string old = FGeneric.PrivateOption(type, name);
        size_t colon = old.find(':');
        std::string a = colon == std::string::npos ? (old.empty() ? "0" : old) : old.substr(0, colon);
        std::string b = colon == std::string::npos ? "0" : old.substr(colon + 1);
        (part == 0 ? a : b) = value;
        value = a + ":" + b;
    }
    // Flag words of the MPEG-family encoders accumulate.
    if (name == "mpv_flags") value = FGeneric.PrivateOption(type, name) + value;
    const AVCodec* target = FindEncoder(TargetEncoderName(type));
    if (HasPrivateOption(target, name) && !PrivateValueAccepted(target, name, value)) return false;
    FGeneric.SetPrivateOption(type, name, value);
    return true;
}

bool TOptionParser::SetTranslated(const std::string& name, const std::string& value, bool& handled) {
    auto steps = TranslateLegacyOption(name, value);
    handled = bool(steps);
    if (!steps) return false;
    for (const auto& step : *steps) {
        bool ok = true;
        switch (step.Kind) {
            case TOptionStep::okGeneric: {
                bool found = false;
                ok = SetOnTemplates(step.Name, step.Value, found) && found;
                break;
            }
            case TOptionStep::okCodecPrivate:
                ok = SetPrivateOption(IsAudioPrivateOption(step.Name) ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO,
                                      step.Name, step.Value);
                break;
            case TOptionStep::okFormatPrivate:
                FGeneric.SetFormatPrivateOption(step.Name, step.Value);
                break;
            case TOptionStep::okSkip:
                LogInfo(Format("Option %s=%s no longer exists in the media libraries; skipped", name.c_str(),
                               step.Value.c_str()));
                break;
        }
        if (!ok) return false;
    }
    return true;
}

bool TOptionParser::SetGenericOption(const std::string& rawName, const std::string& rawValue) {
    const std::string name = Trim(rawName), value = Trim(rawValue);
    if (name.empty() || value.empty() || !FGeneric.Ready()) return false;

    bool handled = false, found = false;
    bool ok = SetTranslated(name, value, handled);
    if (!handled) {
        ok = SetOnTemplates(name, value, found);
        if (!ok) {
            // Not a common setting, or one whose value only an encoder understands (x264's
            // "profile=baseline"): the encoders chosen so far may take it privately.
            for (AVMediaType t : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}) {
                if (HasPrivateOption(FindEncoder(TargetEncoderName(t)), name) && SetPrivateOption(t, name, value)) {
                    ok = found = true;
                    break;
                }
            }
            // A built-in preset for an encoder this library build lacks is kept as written:
            // the preset must not fail, the missing encoder is reported when a stream needs it.
            if (!found && !FPresetEncoder.empty() && !FindEncoder(FPresetEncoder)) {
                FGeneric.SetPrivateOption(AVMEDIA_TYPE_VIDEO, name, value);
                ok = found = true;
            }
        }
        if (!found) return false;
    }
    if (!ok) {
        avutil().av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(), name.c_str());
        return false;
    }
    FGeneric.AddSetName(name);
    const AVCodecContext* video = FGeneric.Template(AVMEDIA_TYPE_VIDEO);
    const AVFormatContext* format = FGeneric.FormatTemplate();
    if ((video && video->debug) || (format && format->debug)) FFLogger().SetLogLevel(llDebug);
    return true;
}

// ---------------------------------------------------------------- presets

bool TOptionParser::FindBuiltinPreset(const std::string& name, std::string& resolvedName, std::string& text) {
    std::string key = Lower(name);
    for (const auto& p : BuiltinPresets()) {
        if (Lower(p.Name) == key) {
            resolvedName = p.Name;
            text = p.Text;
            return true;
        }
    }
    return false;
}

void TOptionParser::ApplyPreset(const std::string& kind, const std::string& value) {
    if (value.empty()) return;
    std::string presetName, text;
    bool builtin = false;
    if (kind != "fpre") {
        builtin = FindBuiltinPreset(value, presetName, text);
        if (!builtin) {
            const std::string& codec = kind == "vpre"   ? FSettings.VideoCodecName
                                       : kind == "apre" ? FSettings.AudioCodecName
                                                        : FSettings.SubtitleCodecName;
            builtin = FindBuiltinPreset(codec + "-" + value, presetName, text);
        }
    }
    if (!builtin) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(value, ec))
            throw FFmpegException(Format("Preset \"%s\" not found", value.c_str()));
        std::ifstream in(value, std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        presetName = value;
        text = buffer.str();
    }

    // The built-in x264 presets name x264's own settings; they are checked against it.
    struct TPresetScope {
        std::string& Slot;
        std::string Saved;
        ~TPresetScope() { Slot = Saved; }
    } scope{FPresetEncoder, FPresetEncoder};
    if (builtin && Lower(presetName).rfind("libx264-", 0) == 0) FPresetEncoder = "libx264";

    std::istringstream lines(Trim(text));
    std::string line;
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (line.empty()) continue;
        size_t eq = line.find('=');
        std::string key = Trim(line.substr(0, eq));
        std::string val = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
        if (key.empty() || val.empty())
            throw FFmpegException(Format("%s: Invalid syntax: \"%s\"", presetName.c_str(), line.c_str()));
        std::string lowerKey = Lower(key);
        if (lowerKey == "vcodec") SetCodec(AVMEDIA_TYPE_VIDEO, val);
        else if (lowerKey == "acodec") SetCodec(AVMEDIA_TYPE_AUDIO, val);
        else if (lowerKey == "scodec") SetCodec(AVMEDIA_TYPE_SUBTITLE, val);
        else if (!SetGenericOption(key, val))
            throw FFmpegException(Format("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                                         presetName.c_str(), line.c_str(), key.c_str(), val.c_str()));
    }
}

// ---------------------------------------------------------------- targets

void TOptionParser::ApplyTarget(const std::string& type, const std::string& normText, const std::string& defaultNorm) {
    enum { PAL, NTSC, FILM, UNKNOWN } norm = UNKNOWN;
    if (normText == "pal") norm = PAL;
    else if (normText == "ntsc") norm = NTSC;
    else if (normText == "film") norm = FILM;
    else {
        auto byRate = [&](long rate) {
            if (rate == 25000) norm = PAL;
            else if (rate == 29970 || rate == 23976) norm = NTSC;
        };
        const AVRational& r = FSettings.FrameRate;
        if (r.den == 0) throw FFmpegException("frame_rate is invalid.");
        byRate(std::lround(r.num * 1000.0 / r.den));
        if (norm == UNKNOWN) {
            for (const AVRational& in : FHost.InputVideoFrameRates()) {
                if (in.den == 0 || in.num == 0) continue;
                byRate(std::lround(in.num * 1000.0 / in.den));
                if (norm != UNKNOWN) break;
            }
        }
        if (norm == UNKNOWN) norm = defaultNorm == "film" ? FILM : defaultNorm == "ntsc" ? NTSC : PAL;
        if (FSettings.Verbose > 0) LogInfo(Format("Assuming %s for target.", norm == PAL ? "PAL" : "NTSC"));
    }

    const bool pal = norm == PAL;
    const char* rate = norm == PAL ? "25" : norm == NTSC ? "30000/1001" : "24000/1001";
    const char* gop = pal ? "15" : "18";
    auto defaultAspect = [&](bool wide) {
        if (FSettings.FrameAspectRatio != 0.0) return;
        FSettings.FrameAspectRatio = wide ? 16.0 / 9.0 : 4.0 / 3.0;
        LogInfo(wide ? "Assuming 16:9 for aspect ratio" : "Assuming 4:3 for aspect ratio");
    };

    if (type == "vcd") {
        SetCodec(AVMEDIA_TYPE_VIDEO, "mpeg1video");
        SetCodec(AVMEDIA_TYPE_AUDIO, "mp2");
        ParseOption("f", "vcd");
        ParseOption("s", pal ? "352x288" : "352x240");
        ParseOption("r", rate);
        SetGenericOption("g", gop);
        SetGenericOption("b", "1150000");
        SetGenericOption("maxrate", "1150000");
        SetGenericOption("minrate", "1150000");
        SetGenericOption("bufsize", "327680");  // 40 KiB of VBV buffer
        SetGenericOption("ab", "224000");
        FSettings.AudioSampleRate = 44100;
        FSettings.AudioChannels = 2;
        SetGenericOption("packetsize", "2324");
        SetGenericOption("muxrate", "1411200");  // 75 sectors of 2352 bytes a second
        FSettings.MuxPreload = 0.44f;
        defaultAspect(false);
    } else if (type == "svcd") {
        SetCodec(AVMEDIA_TYPE_VIDEO, "mpeg2video");
        SetCodec(AVMEDIA_TYPE_AUDIO, "mp2");
        ParseOption("f", "svcd");
        ParseOption("s", pal ? "480x576" : "480x480");
        ParseOption("r", rate);
        SetGenericOption("g", gop);
        SetGenericOption("b", "2040000");
        SetGenericOption("maxrate", "2516000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        SetGenericOption("flags", "+scan_offset");
        SetGenericOption("ab", "224000");
        FSettings.AudioSampleRate = 44100;
        SetGenericOption("packetsize", "2324");
        if (FSettings.AudioChannels == 1) FSettings.AudioChannels = 2;
        defaultAspect(false);
    } else if (type == "dvd") {
        SetCodec(AVMEDIA_TYPE_VIDEO, "mpeg2video");
        SetCodec(AVMEDIA_TYPE_AUDIO, "ac3");
        ParseOption("f", "dvd");
        ParseOption("s", pal ? "720x576" : "720x480");
        ParseOption("r", rate);
        SetGenericOption("g", gop);
        SetGenericOption("b", "6000000");
        SetGenericOption("maxrate", "9000000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        SetGenericOption("packetsize", "2048");
        SetGenericOption("muxrate", "10080000");
        SetGenericOption("ab", "448000");
        FSettings.AudioSampleRate = 48000;
        if (FSettings.AudioChannels == 1) FSettings.AudioChannels = 2;
        defaultAspect(true);
    } else if (type == "dv" || type == "dv50") {
        ParseOption("f", "dv");
        ParseOption("s", pal ? "720x576" : "720x480");
        ParseOption("pix_fmt", type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        ParseOption("r", rate);
        FSettings.AudioSampleRate = 48000;
        FSettings.AudioChannels = 2;
    } else {
        throw FFmpegException("Unknown target type");
    }
}
