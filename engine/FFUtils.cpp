#include "engine/FFUtils.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "engine/AVHandles.h"
#include "engine/LibAVApi.h"

std::string FormatV(const char* fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return {};
    if (size_t(n) < sizeof small) return std::string(small, size_t(n));
    std::vector<char> big(size_t(n) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, ap);
    return std::string(big.data(), size_t(n));
}

std::string Format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = FormatV(fmt, ap);
    va_end(ap);
    return s;
}

std::string TimeToText(std::int64_t us) {
    if (us == AV_NOPTS_VALUE) return "N/A";
    // A negative time keeps its sign in front rather than in every field.
    const char* sign = us < 0 ? "-" : "";
    const std::uint64_t a = us < 0 ? std::uint64_t(0) - std::uint64_t(us) : std::uint64_t(us);
    const std::uint64_t ms = a / 1000;
    return Format("%s%.2d:%.2d:%.2d.%.3d", sign, int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60),
                  int(ms % 1000));
}

std::string ErrorMessage(int code) {
    switch (code) {
    case AVERROR_PATCHWELCOME: return "Not yet implemented in FFmpeg";
    case AVERROR_PROTOCOL_NOT_FOUND: return "Unsupported network protocol";
    case AVERROR_DEMUXER_NOT_FOUND: return "Unknown format";
    case AVERROR_EOF: return "End of file";
    case AVERROR_INVALIDDATA: return "Invalid data found when processing input";
    case AVERROR(ENOMEM): return "Not enough memory";
    case AVERROR(EIO): return "I/O error";
    case AVERROR(ENOENT): return "No such file or directory";
    default: break;
    }
    // Today's libraries have many more codes; their own text beats a bare number.
    if (avutil().av_strerror) {
        char buf[256] = {};
        if (avutil().av_strerror(code, buf, sizeof buf) == 0 && buf[0]) return buf;
    }
    return Format("Error number %d occurred", code);
}

std::string ErrorText(const std::string& name, int code) { return name + ": " + ErrorMessage(code); }

std::string CodecTypeName(int type) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO: return "Video";
    case AVMEDIA_TYPE_AUDIO: return "Audio";
    case AVMEDIA_TYPE_DATA: return "Data";
    case AVMEDIA_TYPE_SUBTITLE: return "Subtitle";
    case AVMEDIA_TYPE_ATTACHMENT: return "Attachment";
    default: return "Unknown";
    }
}

std::string CodecName(const AVCodecParameters& par, bool encoder) {
    const AVCodec* codec = nullptr;
    if (avcodec().avcodec_find_encoder)
        codec = encoder ? avcodec().avcodec_find_encoder(par.codec_id) : avcodec().avcodec_find_decoder(par.codec_id);
    if (codec) {
        std::string name = codec->name ? codec->name : "";
        if (codec->long_name && codec->long_name[0] && codec->long_name[0] != ' ')
            name += Format("(%s)", codec->long_name);
        return name;
    }
    if (par.codec_id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
    if (par.codec_id != AV_CODEC_ID_NONE && avcodec().avcodec_descriptor_get) {
        if (const AVCodecDescriptor* d = avcodec().avcodec_descriptor_get(par.codec_id); d && d->name) return d->name;
    }
    const unsigned tag = par.codec_tag;
    const unsigned char c[4] = {static_cast<unsigned char>(tag & 0xff), static_cast<unsigned char>((tag >> 8) & 0xff),
                                static_cast<unsigned char>((tag >> 16) & 0xff), static_cast<unsigned char>(tag >> 24)};
    bool printable = true;
    for (unsigned char ch : c) printable = printable && ch >= 32 && ch <= 126;
    if (printable) return Format("%c%c%c%c / 0x%04X", c[0], c[1], c[2], c[3], tag);
    return Format("0x%04x", tag);
}

std::string FileSizeText(std::int64_t size) {
    if (size > 1073741824) return Format("%.2f GB", double(size) / 1073741824.0);
    if (size > 1048576) return Format("%.2f MB", double(size) / 1048576.0);
    if (size > 1024) return Format("%.2f KB", double(size) / 1024.0);
    return Format("%d Byte", int(size));
}

std::string MetadataValue(const AVDictionary* dict, const char* key, const std::string& def) {
    if (!dict || !avutil().av_dict_get) return def;
    const AVDictionaryEntry* e = avutil().av_dict_get(dict, key, nullptr, 0);
    return e && e->value ? std::string(e->value) : def;
}

void AppendCodecParams(AVDictionary** dict, const char* key, const std::string& params) {
    if (params.empty()) return;
    const AVDictionaryEntry* given = avutil().av_dict_get(*dict, key, nullptr, 0);
    const std::string value = given && given->value[0] ? std::string(given->value) + ":" + params : params;
    avutil().av_dict_set(dict, key, value.c_str(), 0);
}

std::int64_t ReadWholeFile(const std::string& path, std::string& data) {
    data.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    // A folder opens too, and reports a size that is no size at all.
    struct stat st {};
    if (::fstat(::fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        return -1;
    }
    const std::int64_t size = st.st_size;
    try {
        data.resize(size_t(size));  // std::string keeps the terminating zero after the data
    } catch (const std::bad_alloc&) {
        std::fclose(f);
        return -12;
    } catch (const std::length_error&) {
        std::fclose(f);
        return -12;
    }
    const size_t got = size ? std::fread(data.data(), 1, size_t(size), f) : 0;
    std::fclose(f);
    if (got != size_t(size)) {
        data.clear();
        return -1;  // the file shrank or could not be read (a folder, for one)
    }
    return size;
}

namespace {
constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 counted from 1899-12-30

long LocalBias(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm.tm_gmtoff;
}
}  // namespace

double UnixToDateTime(std::int64_t s) {
    return kUnixEpochDays + double(s + LocalBias(std::time_t(s))) / 86400.0;
}

std::int64_t DateTimeToUnix(double dt) {
    const std::int64_t local = std::llround((dt - kUnixEpochDays) * 86400.0);
    // The bias belongs to the UTC moment, which is not known yet: take the bias at the
    // local reading, then correct once across a daylight-saving change.
    std::int64_t utc = local - LocalBias(std::time_t(local));
    utc = local - LocalBias(std::time_t(utc));
    return utc;
}

std::string LocalDateTimeText(std::int64_t s) {
    std::time_t t = std::time_t(s);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return "";
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

AVRational DoubleToRational(double x, int max) {
    if (std::isnan(x)) return AVRational{0, 0};
    if (std::isinf(x)) return AVRational{x < 0 ? -1 : 1, 0};
    if (std::fabs(x) > double(std::numeric_limits<int>::max()) + 3.0)
        return AVRational{x < 0 ? -1 : 1, 0};  // beyond any bound: the libraries' "infinite"
    int e = int(std::lround(std::log2(std::fabs(x) + 1e-20)));
    if (e < 0) e = 0;
    const std::int64_t den = std::int64_t(1) << (61 - e);
    const std::int64_t num = std::int64_t(std::floor(x * double(den) + 0.5));
    AVRational r{0, 1};
    avutil().av_reduce(&r.num, &r.den, num, den, max);
    return r;
}

int LinkFilterChain(AVFilterGraph& graph, AVFilterContext* source, AVFilterContext* sink, const std::string& chain) {
    FilterInOutPtr outputs(avfilter().avfilter_inout_alloc());
    FilterInOutPtr inputs(avfilter().avfilter_inout_alloc());
    if (!outputs || !inputs) return AVERROR(ENOMEM);
    outputs->name = avutil().av_strdup("in");
    outputs->filter_ctx = source;
    inputs->name = avutil().av_strdup("out");
    inputs->filter_ctx = sink;
    AVFilterInOut* in = inputs.release();
    AVFilterInOut* out = outputs.release();
    const int r = avfilter().avfilter_graph_parse_ptr(&graph, chain.c_str(), &in, &out, nullptr);
    avfilter().avfilter_inout_free(&in);
    avfilter().avfilter_inout_free(&out);
    return r;
}
