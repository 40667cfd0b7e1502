#include "player/AVProbe.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "engine/LibAVApi.h"
#include "engine/SourcePicture.h"

namespace {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec().avcodec_free_context(&c); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

// ID3v2 frame names shown under generic names; first match wins.
const std::pair<const char*, const char*> kKeyNames[] = {
    {"TALB", "album"},     {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
    {"TCO", "genre"},      {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
    {"TEN", "encoder"},    {"TIT2", "title"},     {"TT2", "title"},      {"TLAN", "language"},
    {"TPE1", "artist"},    {"TP1", "artist"},     {"TPOS", "disc"},      {"TPUB", "publisher"},
    {"TRCK", "track"},     {"TRK", "track"},      {"TSOA", "albumsort"}, {"TSOP", "authorsort"},
    {"TSOT", "titlesort"}, {"TYER", "year"},
};

int Clamp32(std::int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return int(v);
}

std::int64_t ToMicroseconds(std::int64_t value, AVRational tb) {
    return avutil().av_rescale_q(value, tb, AVRational{1, AV_TIME_BASE});
}

// The leading whole number of a tag such as "2009-05-01" or "3/12"; 0 when there is none.
int LeadingNumber(const std::string& text) { return int(std::strtol(text.c_str(), nullptr, 10)); }

// The codec description line, from a context filled with the stream's parameters.
std::string CodecDescription(const AVStream& st) {
    CodecContextPtr ctx(avcodec().avcodec_alloc_context3(nullptr));
    if (!ctx || avcodec().avcodec_parameters_to_context(ctx.get(), st.codecpar) < 0) return "";
    char buf[256] = {};
    avcodec().avcodec_string(buf, sizeof buf, ctx.get(), 0);
    return buf;
}

// The decoder's own time base. Today's decoders fill it in only while decoding, so when
// opening leaves it unset it is derived as they define it: one tick per field or frame of
// the stream's base rate.
AVRational CodecTimeBase(const AVStream& st) {
    AVRational tb{0, 1};
    int ticksPerFrame = 1;
    const AVCodec* decoder = avcodec().avcodec_find_decoder(st.codecpar->codec_id);
    if (decoder) {
        CodecContextPtr ctx(avcodec().avcodec_alloc_context3(decoder));
        if (ctx && avcodec().avcodec_parameters_to_context(ctx.get(), st.codecpar) >= 0) {
            ctx->thread_count = 1;
            if (avcodec().avcodec_open2(ctx.get(), decoder, nullptr) >= 0) {
                tb = ctx->time_base;
                if (ctx->ticks_per_frame > 0) ticksPerFrame = ctx->ticks_per_frame;
            }
        }
    }
    if ((!tb.num || !tb.den) && st.r_frame_rate.num > 0 && st.r_frame_rate.den > 0)
        tb = AVRational{st.r_frame_rate.den, st.r_frame_rate.num * ticksPerFrame};
    return tb;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string RateText(double x, const char* unit) {
    const long long v = std::llround(x * 100);
    if (v % 100) return Format(", %3.2f %s", x, unit);
    if (v % (100 * 1000)) return Format(", %1.0f %s", x, unit);
    return Format(", %1.0fk %s", x / 1000, unit);
}

std::string SecondsText(std::int64_t us) {
    const char* sign = us < 0 ? "-" : "";
    const std::uint64_t a = us < 0 ? std::uint64_t(0) - std::uint64_t(us) : std::uint64_t(us);
    return Format("%s%d.%.6d", sign, int(a / 1000000), int(a % 1000000));
}

std::string MetadataKeyName(const std::string& key) {
    for (const auto& [id3, name] : kKeyNames)
        if (key == id3) return name;
    return key;
}

void RepairTimeBase(int& num, int& den) {
    if (den == 0) den = num != 0 ? num : 1;
}

// ---------------------------------------------------------------------------------------

TCustomAVProbe::TCustomAVProbe() = default;

TCustomAVProbe::~TCustomAVProbe() {
    // Closing here rather than through CloseFile: a derived part is already gone.
    if (FContext && FOwnsContext) {
        avformat().avformat_close_input(&FContext);
    }
}

void TCustomAVProbe::Fail(int level, const std::string& message) {
    FLastError = message;
    FFLogger().Log(this, TLogLevel(level), message);
}

void TCustomAVProbe::ResetFileValues() {
    FFileSize = -1;
    FStreamCount = FProgramCount = -1;
    FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
    FFirstAudioStreamIndex = FFirstVideoStreamIndex = FFirstSubtitleStreamIndex = -1;
}

bool TCustomAVProbe::LoadFile(const std::string& fileName, const std::string& formatName) {
    if (!FFLoader().LibrarySetLoaded(LibBit(liAVCodec))) throw FFmpegException("LibAVCodec not loaded.");
    if (!FFLoader().LibrarySetLoaded(LibBit(liAVFormat))) throw FFmpegException("LibAVFormat not loaded.");
    if (!FFLoader().LibrarySetLoaded(LibBit(liAVUtil))) throw FFmpegException("LibAVUtil not loaded.");
    if (!FFLoader().LibrarySetLoaded(LibBit(liSWScale))) throw FFmpegException("LibSwScale not loaded.");

    CloseFile();

    const AVInputFormat* format = nullptr;
    if (!formatName.empty()) {
        format = avformat().av_find_input_format(formatName.c_str());
        if (!format) {
            Fail(llError, Format("Unknown input format: %s", formatName.c_str()));
            return false;
        }
    }

    // A local file whose name looks like "scheme:..." would be taken for a protocol URL;
    // an existing file is always opened as that file.
    std::string url = fileName;
    const auto colon = fileName.find(':');
    const bool needsPrefix = colon != std::string::npos && fileName.find('/') > colon && IsRegularFile(fileName);
    if (needsPrefix) url = "file:" + fileName;

    AVFormatContext* ctx = avformat().avformat_alloc_context();
    if (!ctx) {
        Fail(llError, ErrorText(fileName, AVERROR(ENOMEM)));
        return false;
    }
    // On failure the library frees the context and sets it to null.
    const int opened = avformat().avformat_open_input(&ctx, url.c_str(), format, nullptr);
    if (opened < 0) {
        Fail(llError, ErrorText(fileName, opened));
        CloseFile();
        return false;
    }
    FContext = ctx;
    FOwnsContext = true;
    FAddedFilePrefix = needsPrefix;

    int found;
    found = avformat().avformat_find_stream_info(FContext, nullptr);
    if (found < 0) {
        Fail(llError, Format("%s: could not find codec parameters", fileName.c_str()));
        CloseFile();
        return false;
    }
    ComputeFileValues();
    FForcedFormatName = formatName;
    DoOpened();
    return true;
}

void TCustomAVProbe::AttachContext(AVFormatContext* context) {
    CloseFile();
    if (!context) return;
    FContext = context;
    FOwnsContext = false;
    ComputeFileValues();
    DoOpened();
}

void TCustomAVProbe::CloseFile() {
    FForcedFormatName.clear();
    if (FContext && FOwnsContext) {
        avformat().avformat_close_input(&FContext);
    }
    FContext = nullptr;
    FOwnsContext = false;
    FAddedFilePrefix = false;
    ResetFileValues();
    DoClosed();
}

void TCustomAVProbe::ComputeFileValues() {
    ResetFileValues();
    std::int64_t size = FContext->pb ? avformat().avio_size(FContext->pb) : -1;
    if (size <= 0) {
        struct stat st {};
        const std::string name = FileName();
        if (!name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
    }
    FFileSize = size;
    FStreamCount = int(FContext->nb_streams);
    FProgramCount = int(FContext->nb_programs);
    FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
    for (int i = 0; i < FStreamCount; ++i) {
        switch (FContext->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (FVideoStreamCount++ == 0) FFirstVideoStreamIndex = i;
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (FAudioStreamCount++ == 0) FFirstAudioStreamIndex = i;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (FSubtitleStreamCount++ == 0) FFirstSubtitleStreamIndex = i;
            break;
        default: break;
        }
    }
}

std::string TCustomAVProbe::FileName() const {
    if (!FContext || !FContext->url) return "";
    std::string name = FContext->url;
    if (FAddedFilePrefix && name.rfind("file:", 0) == 0) name.erase(0, 5);
    return name;
}

std::string TCustomAVProbe::InputFormatName() const {
    return FContext && FContext->iformat && FContext->iformat->name ? FContext->iformat->name : "";
}

TFileStreamInfo TCustomAVProbe::FileStreamInfo() {
    TFileStreamInfo info;
    if (!FContext) {
        Fail(llWarning, "file not loaded.");
        return info;
    }
    const AVFormatContext& c = *FContext;
    info.StartTime = c.start_time == AV_NOPTS_VALUE ? -1 : c.start_time;
    info.Duration = c.duration == AV_NOPTS_VALUE ? -1 : c.duration;
    info.BitRate = Clamp32(c.bit_rate);
    // Today's demuxers keep these as tags.
    info.TimeStamp = 0;
    const std::string created = MetadataValue(c.metadata, "creation_time");
    std::int64_t us = 0;
    if (!created.empty() && avutil().av_parse_time(&us, created.c_str(), 0) == 0) info.TimeStamp = us / 1000000;
    std::string year = MetadataValue(c.metadata, "year");
    if (year.empty()) year = MetadataValue(c.metadata, "date");
    info.Year = LeadingNumber(year);
    info.Track = LeadingNumber(MetadataValue(c.metadata, "track"));
    info.Title = MetadataValue(c.metadata, "title");
    info.Author = MetadataValue(c.metadata, "author");
    if (info.Author.empty()) info.Author = MetadataValue(c.metadata, "artist");
    info.CopyrightText = MetadataValue(c.metadata, "copyright");
    info.Comment = MetadataValue(c.metadata, "comment");
    info.Album = MetadataValue(c.metadata, "album");
    info.Genre = MetadataValue(c.metadata, "genre");
    return info;
}

AVStream* TCustomAVProbe::StreamOfKind(int index, int kind) {
    const char* kindName = kind == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
    if (!FContext) {
        Fail(llWarning, "file not loaded.");
        return nullptr;
    }
    if (index >= FStreamCount) {
        Fail(llError, Format("stream index #%d is invalid.", index));
        return nullptr;
    }
    if (index < 0) {
        index = kind == AVMEDIA_TYPE_VIDEO ? FFirstVideoStreamIndex : FFirstAudioStreamIndex;
        if (index < 0) {
            Fail(llError, Format("no %s stream.", kindName));
            return nullptr;
        }
    }
    AVStream* st = FContext->streams[index];
    if (st->codecpar->codec_type != kind) {
        Fail(llError, Format("stream #%d is not %s stream.", index, kindName));
        return nullptr;
    }
    RepairTimeBase(st->time_base.num, st->time_base.den);
    return st;
}

namespace {
template <typename Info>
void FillCommon(Info& info, const AVStream& st) {
    info.Language = MetadataValue(st.metadata, "language");
    info.CodecName = CodecDescription(st);
    info.StartTime = st.start_time;
    if (st.start_time != AV_NOPTS_VALUE) info.StartTimeUs = ToMicroseconds(st.start_time, st.time_base);
    info.Duration = st.duration;
    if (st.duration != AV_NOPTS_VALUE) info.DurationUs = ToMicroseconds(st.duration, st.time_base);
    info.BitRate = Clamp32(st.codecpar->bit_rate);
}
}  // namespace

std::string PictureNotes(const AVStream& st) {
    std::string notes;
    const TSourceOrientation o = StreamOrientation(st);
    if (o.Rotation) notes += Format(", rotated %d\xC2\xB0 clockwise", o.Rotation);
    if (o.Mirror) notes += ", mirrored";
    const int order = st.codecpar->field_order;
    if (order == AV_FIELD_TT || order == AV_FIELD_TB) notes += ", interlaced (top field first)";
    if (order == AV_FIELD_BB || order == AV_FIELD_BT) notes += ", interlaced (bottom field first)";
    if (st.codecpar->color_trc == AVCOL_TRC_SMPTE2084) notes += ", HDR (PQ)";
    if (st.codecpar->color_trc == AVCOL_TRC_ARIB_STD_B67) notes += ", HDR (HLG)";
    return notes;
}

TVideoStreamInfo TCustomAVProbe::VideoStreamInfo(int index) {
    TVideoStreamInfo info;
    const AVStream* st = StreamOfKind(index, AVMEDIA_TYPE_VIDEO);
    if (!st) return info;
    FillCommon(info, *st);
    const AVCodecParameters& par = *st->codecpar;
    info.Width = par.width;
    info.Height = par.height;
    if (par.width > 0 && par.height > 0) {
        // An unknown sample aspect ratio counts as square pixels.
        const double sar = par.sample_aspect_ratio.num > 0 && par.sample_aspect_ratio.den > 0
                               ? av_q2d(par.sample_aspect_ratio)
                               : 1.0;
        info.DisplayAspectRatio = float(sar * par.width / par.height);
    }
    info.PixelFormat = par.format;
    info.FrameRateNum = st->r_frame_rate.num;
    info.FrameRateDen = st->r_frame_rate.den;
    const TSourceOrientation o = StreamOrientation(*st);
    info.Rotation = o.Rotation;
    info.Mirrored = o.Mirror;
    if (par.sample_aspect_ratio.num > 0 && par.sample_aspect_ratio.den > 0) {
        info.SampleAspectNum = par.sample_aspect_ratio.num;
        info.SampleAspectDen = par.sample_aspect_ratio.den;
    }
    info.FieldOrder = par.field_order;
    info.Interlaced = IsInterlacedFieldOrder(par.field_order);
    info.ColorTransfer = par.color_trc;
    info.Hdr = IsHdrTransfer(par.color_trc);
    return info;
}

TAudioStreamInfo TCustomAVProbe::AudioStreamInfo(int index) {
    TAudioStreamInfo info;
    const AVStream* st = StreamOfKind(index, AVMEDIA_TYPE_AUDIO);
    if (!st) return info;
    FillCommon(info, *st);
    const AVCodecParameters& par = *st->codecpar;
    info.Channels = par.ch_layout.nb_channels;
    info.SampleRate = par.sample_rate;
    info.SampleFormat = par.format;
    return info;
}

bool TCustomAVProbe::IsStreamOfType(int index, int type) {
    if (!FContext) {
        Fail(llWarning, "file not loaded.");
        return false;
    }
    if (index < 0 || index >= FStreamCount) {
        Fail(llError, Format("stream index #%d is invalid.", index));
        return false;
    }
    return FContext->streams[index]->codecpar->codec_type == type;
}

bool TCustomAVProbe::IsAudioStream(int index) { return IsStreamOfType(index, AVMEDIA_TYPE_AUDIO); }

bool TCustomAVProbe::IsVideoStream(int index) { return IsStreamOfType(index, AVMEDIA_TYPE_VIDEO); }

std::string TCustomAVProbe::MetadataBlock(const AVDictionary* metadata, const std::string& indent) const {
    if (!metadata) return "";
    const int count = avutil().av_dict_count(metadata);
    if (count == 0) return "";
    if (count == 1 && avutil().av_dict_get(metadata, "language", nullptr, 0)) return "";
    std::string out = Format("%sMetadata:", indent.c_str());
    const AVDictionaryEntry* e = nullptr;
    while ((e = avutil().av_dict_get(metadata, "", e, AV_DICT_IGNORE_SUFFIX))) {
        if (std::string(e->key) == "language") continue;
        out += "\n" + Format("%s  %-16s: %s", indent.c_str(), MetadataKeyName(e->key).c_str(), e->value);
    }
    return out;
}

std::string TCustomAVProbe::StreamLine(int index) const {
    AVStream& st = *FContext->streams[index];
    RepairTimeBase(st.time_base.num, st.time_base.den);
    std::string line = Format("Stream #%d", index);
    if (FContext->iformat && (FContext->iformat->flags & AVFMT_SHOW_IDS)) line += Format("[0x%x]", st.id);
    const std::string language = MetadataValue(st.metadata, "language");
    if (!language.empty()) line += Format("(%s)", language.c_str());

    int g = int(avutil().av_gcd(st.time_base.num, st.time_base.den));
    if (g == 0) g = 1;
    line += Format(", %d/%d", st.time_base.num / g, st.time_base.den / g);
    line += ": " + CodecDescription(st);

    const AVCodecParameters& par = *st.codecpar;
    if (st.sample_aspect_ratio.num && av_cmp_q(st.sample_aspect_ratio, par.sample_aspect_ratio) != 0) {
        AVRational dar{0, 1};
        avutil().av_reduce(&dar.num, &dar.den, std::int64_t(par.width) * st.sample_aspect_ratio.num,
                           std::int64_t(par.height) * st.sample_aspect_ratio.den, 1024 * 1024);
        line = Format("%s, PAR %d:%d DAR %d:%d", line.c_str(), st.sample_aspect_ratio.num, st.sample_aspect_ratio.den,
                      dar.num, dar.den);
    }

    if (par.codec_type == AVMEDIA_TYPE_VIDEO) {
        if (st.avg_frame_rate.num && st.avg_frame_rate.den) line += RateText(av_q2d(st.avg_frame_rate), "fps");
        if (st.r_frame_rate.num && st.r_frame_rate.den) line += RateText(av_q2d(st.r_frame_rate), "tbr");
        if (st.time_base.num && st.time_base.den) line += RateText(1 / av_q2d(st.time_base), "tbn");
        const AVRational codecTb = CodecTimeBase(st);
        if (codecTb.num && codecTb.den) line += RateText(1 / av_q2d(codecTb), "tbc");
        line += PictureNotes(st);
    }

    if (st.start_time != AV_NOPTS_VALUE)
        line += ", StartTime: " + SecondsText(ToMicroseconds(st.start_time, st.time_base));
    // A negative length is as good as none.
    if (st.duration == AV_NOPTS_VALUE || st.duration < 0)
        line += ", Duration: N/A";
    else
        line += ", Duration: " + TimeToText(ToMicroseconds(st.duration, st.time_base));

    const std::string metadata = MetadataBlock(st.metadata, "  ");
    if (!metadata.empty()) line += "\n" + metadata;
    return line;
}

std::string TCustomAVProbe::FileInfoText() {
    if (!FContext) {
        Fail(llWarning, "file not loaded.");
        return "";
    }
    const AVFormatContext& c = *FContext;
    std::vector<std::string> lines;
    lines.push_back(Format("File Name: %s", FileName().c_str()));
    lines.push_back(Format("Format Name: %s", c.iformat && c.iformat->name ? c.iformat->name : ""));
    lines.push_back(Format("Format Long Name: %s", c.iformat && c.iformat->long_name ? c.iformat->long_name : ""));
    lines.push_back(Format("File Size: %s", FileSizeText(FFileSize).c_str()));
    if (c.duration == AV_NOPTS_VALUE || c.duration < 0)
        lines.push_back("Duration: N/A");
    else
        lines.push_back(Format("Duration: %s", TimeToText(c.duration).c_str()));
    if (c.start_time != AV_NOPTS_VALUE && c.start_time >= 0)
        lines.push_back("StartTime: " + SecondsText(c.start_time));
    if (c.bit_rate < 1)
        lines.push_back("Bit Rate: N/A");
    else
        lines.push_back(Format("Bit Rate: %d kb/s", Clamp32(c.bit_rate / 1000)));
    const TFileStreamInfo fileInfo = FileStreamInfo();
    if (fileInfo.TimeStamp > 0) lines.push_back("Time Stamp: " + LocalDateTimeText(fileInfo.TimeStamp));
    if (std::string m = MetadataBlock(c.metadata, ""); !m.empty()) lines.push_back(m);

    std::vector<bool> shown(c.nb_streams, false);
    for (unsigned p = 0; p < c.nb_programs; ++p) {
        const AVProgram& program = *c.programs[p];
        // Today's demuxers name these service_provider and service_name.
        std::string provider = MetadataValue(program.metadata, "provider_name",
                                             MetadataValue(program.metadata, "service_provider", "N/A"));
        std::string name = MetadataValue(program.metadata, "name", MetadataValue(program.metadata, "service_name", "N/A"));
        lines.push_back(Format("Program %d %s@%s", program.id, provider.c_str(), name.c_str()));
        if (std::string m = MetadataBlock(program.metadata, "  "); !m.empty()) lines.push_back(m);
        for (unsigned k = 0; k < program.nb_stream_indexes; ++k) {
            const unsigned s = program.stream_index[k];
            if (s >= c.nb_streams || shown[s]) continue;
            lines.push_back(StreamLine(int(s)));
            shown[s] = true;
        }
    }
    for (unsigned s = 0; s < c.nb_streams; ++s)
        if (!shown[s]) lines.push_back(StreamLine(int(s)));

    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
    return text;
}

// ---------------------------------------------------------------------------------------

TAVProbe::~TAVProbe() = default;

void TAVProbe::DoOpened() {
    const AVFormatContext* c = FormatContext();
    FDefaultStreamIndex = FirstVideoStreamIndex() >= 0 ? FirstVideoStreamIndex() : FirstAudioStreamIndex();
    FDefaultStartTime = 0;
    if (FDefaultStreamIndex >= 0) {
        const AVStream& st = *c->streams[FDefaultStreamIndex];
        if (st.start_time != AV_NOPTS_VALUE && st.time_base.den)
            FDefaultStartTime = ToMicroseconds(st.start_time, st.time_base);
    } else if (c->start_time != AV_NOPTS_VALUE) {
        FDefaultStartTime = c->start_time;
    }
}

void TAVProbe::DoClosed() {
    FDefaultStreamIndex = -1;
    FDefaultStartTime = 0;
}
