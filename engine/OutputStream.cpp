#include <algorithm>
#include <cstring>
#include <mutex>

#include "engine/AVHandles.h"
#include "engine/AudioOutput.h"
#include "engine/EngineSettings.h"
#include "engine/EngineStreams.h"
#include "engine/EngineText.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegOptions.h"
#include "engine/VideoOutput.h"

namespace {
uint32_t FourCC(const std::string& tag) {
    if (tag.size() != 4) return 0;
    return MKTAG(tag[0], tag[1], tag[2], tag[3]);
}

// The options of one media type that every stage reads the same way.
struct TTypeOptions {
    const std::string& Tag;
    const std::string& Language;
};

TTypeOptions OptionsOf(const TEngineSettings& s, AVMediaType type) {
    if (type == AVMEDIA_TYPE_VIDEO) return {s.VideoCodecTag, s.VideoLanguage};
    if (type == AVMEDIA_TYPE_AUDIO) return {s.AudioCodecTag, s.AudioLanguage};
    return {s.SubtitleCodecTag, s.SubtitleLanguage};
}
}  // namespace

std::unique_ptr<TOutputStream> MakeOutputStage(AVMediaType type, bool copy) {
    if (copy) return std::make_unique<TCopyOutput>(type);
    if (type == AVMEDIA_TYPE_VIDEO) return std::make_unique<TVideoOutput>();
    if (type == AVMEDIA_TYPE_AUDIO) return std::make_unique<TAudioOutput>();
    return std::make_unique<TSubtitleOutput>();
}

void TOutputStream::Configure(const TStreamSetup& setup, TRunServices& run) {
    FOutFormat = setup.Output->oformat;
    ConfigureStage(setup, run);
    const TTypeOptions options = OptionsOf(setup.Settings, FType);
    if (uint32_t tag = FourCC(options.Tag)) {
        St->codecpar->codec_tag = tag;
        if (Enc) Enc->codec_tag = tag;
    }
    if (!options.Language.empty()) avutil().av_dict_set(&St->metadata, "language", options.Language.c_str(), 0);
}

AVCodecContext* TOutputStream::MakeEncoder(const TStreamSetup& setup, const std::string& name, int typeFlag) {
    const AVCodec* codec = nullptr;
    if (!name.empty()) {
        const AVCodecContext* tmpl = setup.Generic.Template(FType);
        codec = FindCodecOrThrow(name, FType, true, tmpl ? tmpl->strict_std_compliance : 0);
    } else {
        AVFormatContext* oc = setup.Output;
        AVCodecID id = avformat().av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, FType);
        codec = avcodec().avcodec_find_encoder(id);
        if (!codec)
            throw FFmpegException(Format("Encoder (codec id %d) not found for output stream #%d.%d (%s)", int(id),
                                         FileIndex, Index, EngineCodecName(id).c_str()));
    }
    EncCodec = codec;
    Enc.reset(avcodec().avcodec_alloc_context3(codec));
    if (!Enc) throw FFmpegException("avcodec_alloc_context failed");
    setup.Generic.ApplyToCodecContext(FType, Enc.get(), AV_OPT_FLAG_ENCODING_PARAM | typeFlag);
    return Enc.get();
}

void TCopyOutput::ConfigureStage(const TStreamSetup& setup, TRunServices&) {
    const TEngineSettings& s = setup.Settings;
    if (Type() == AVMEDIA_TYPE_VIDEO && s.FrameAspectRatio > 0) {
        double sar = s.FrameWidth > 0 && s.FrameHeight > 0 ? s.FrameAspectRatio * s.FrameHeight / s.FrameWidth
                                                           : s.FrameAspectRatio * 3 / 4;
        St->sample_aspect_ratio = avutil().av_d2q(sar, 255);
    }
}

void TCopyOutput::Open(TInputStream& source, TRunServices&) {
    AVCodecParameters* par = St->codecpar;
    const uint32_t tag = par->codec_tag;
    const AVRational sar = St->sample_aspect_ratio;
    if (avcodec().avcodec_parameters_copy(par, source.St->codecpar) < 0)
        throw FFmpegException("icodec.extradata_size is invalid (too large)");
    if (tag) {
        par->codec_tag = tag;
    } else if (OutFormat()->codec_tag) {
        unsigned int found = 0;
        if (!avformat().av_codec_get_tag2(OutFormat()->codec_tag, par->codec_id, &found) || found != par->codec_tag)
            par->codec_tag = 0;
    }
    St->time_base = source.St->time_base;
    St->avg_frame_rate = source.St->avg_frame_rate;
    St->r_frame_rate = source.St->r_frame_rate;
    St->sample_aspect_ratio = sar.num ? sar : source.St->sample_aspect_ratio;
    if (sar.num) par->sample_aspect_ratio = sar;
    St->disposition = source.St->disposition;
    if (source.St->duration > 0) St->duration = source.St->duration;
}

void TSubtitleOutput::ConfigureStage(const TStreamSetup& setup, TRunServices&) {
    MakeEncoder(setup, setup.Settings.SubtitleCodecName, AV_OPT_FLAG_SUBTITLE_PARAM)->time_base = AV_TIME_BASE_Q;
}

TOutputStream::~TOutputStream() {
    if (Enc) Enc->stats_in = nullptr;  // points into PassStats
}

void TOutputStream::Encode(AVFrame* frame, TRunServices& run) {
    const bool video = FType == AVMEDIA_TYPE_VIDEO;
    int r = avcodec().avcodec_send_frame(Enc.get(), frame);
    if (r < 0 && r != AVERROR_EOF) throw FFmpegException(video ? "Video encoding failed" : "Audio encoding failed");
    PacketPtr pkt(avcodec().av_packet_alloc());
    for (;;) {
        r = avcodec().avcodec_receive_packet(Enc.get(), pkt.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) throw FFmpegException(video ? "Video encoding failed" : "Audio encoding failed");
        size_t sideSize = 0;
        if (const uint8_t* q = avcodec().av_packet_get_side_data(pkt.get(), AV_PKT_DATA_QUALITY_STATS, &sideSize);
            q && sideSize >= 4) {
            int quality = int(q[0] | (q[1] << 8) | (q[2] << 16) | (uint32_t(q[3]) << 24));
            LastQuality = double(quality) / FF_QP2LAMBDA;
            const int errors = sideSize >= 6 ? std::min<int>(q[5], 4) : 0;
            for (int i = 0; i < errors && sideSize >= size_t(8 + 8 * (i + 1)); ++i) {
                uint64_t e;
                std::memcpy(&e, q + 8 + 8 * i, 8);
                LastErrors[i] = e;
            }
        }
        LastFrameBytes = pkt->size;
        if (video) {
            run.VideoBytes += pkt->size;
            run.VideoFrameEncoded(*this, *pkt);
        } else {
            run.AudioBytes += pkt->size;
        }
        run.WritePacket(*this, pkt.get(), Enc->time_base);
        avcodec().av_packet_unref(pkt.get());
    }
}

void TOutputStream::OpenEncoder(AVDictionary** privateOptions, TRunServices& run) {
    if (!EncCodec)
        throw FFmpegException(Format("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                                     int(Enc->codec_id), FileIndex, Index, EngineCodecName(Enc->codec_id).c_str()));
    int r;
    r = avcodec().avcodec_open2(Enc.get(), EncCodec, privateOptions);
    if (r < 0)
        throw FFmpegException(Format("Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect "
                                     "parameters such as bit_rate, rate, width or height. Please check error log "
                                     "message to find out more detail information.",
                                     FileIndex, Index, EngineCodecName(Enc.get()).c_str()));
    Opened = true;
    if (privateOptions && *privateOptions) {
        const AVDictionaryEntry* e = nullptr;
        while ((e = avutil().av_dict_get(*privateOptions, "", e, AV_DICT_IGNORE_SUFFIX)))
            run.Log(llVerbose, Format("Option %s not used by encoder %s", e->key, EncCodec->name));
    }
    avcodec().avcodec_parameters_from_context(St->codecpar, Enc.get());
    // What the encoder tells the muxer beside its parameters (the MPEG muxers size their
    // mux rate from the rate-control buffer).
    for (int i = 0; i < Enc->nb_coded_side_data; ++i) {
        const AVPacketSideData& sd = Enc->coded_side_data[i];
        if (uint8_t* dst = avformat().av_stream_new_side_data(St, sd.type, sd.size)) std::memcpy(dst, sd.data, sd.size);
    }
    St->time_base = Enc->time_base;
    if (FType == AVMEDIA_TYPE_VIDEO) {
        St->avg_frame_rate = Enc->framerate;
        St->sample_aspect_ratio = Enc->sample_aspect_ratio;
    }
    if (Enc->extradata_size > 0) run.ExtraBytes += Enc->extradata_size;
}

void TSubtitleOutput::Open(TInputStream& source, TRunServices& run) {
    if (source.Dec && source.Dec->subtitle_header && !Enc->subtitle_header) {
        Enc->subtitle_header = static_cast<uint8_t*>(avutil().av_mallocz(source.Dec->subtitle_header_size + 1));
        if (Enc->subtitle_header) {
            std::memcpy(Enc->subtitle_header, source.Dec->subtitle_header, source.Dec->subtitle_header_size);
            Enc->subtitle_header_size = source.Dec->subtitle_header_size;
        }
    }
    OpenEncoder(nullptr, run);
}

void TSubtitleOutput::WriteSubtitle(const AVSubtitle& sub, int64_t ptsUs, TRunServices& run) {
    if (ptsUs == AV_NOPTS_VALUE) throw FFmpegException("Subtitle packets must have a pts");
    constexpr int kBufSize = 1024 * 1024;
    // The DVB encoder draws the subtitle, then clears it with a second packet.
    const int passes = Enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE ? 2 : 1;
    AVSubtitle copy = sub;
    for (int i = 0; i < passes; ++i) {
        if (i == 1) copy.num_rects = 0;
        PacketPtr pkt(avcodec().av_packet_alloc());
        if (avcodec().av_new_packet(pkt.get(), kBufSize) < 0) throw FFmpegException("Subtitle encoding failed");
        int size = avcodec().avcodec_encode_subtitle(Enc.get(), pkt->data, kBufSize, &copy);
        if (size < 0) throw FFmpegException("Subtitle encoding failed");
        avcodec().av_shrink_packet(pkt.get(), size);
        int64_t start = ptsUs + int64_t(sub.start_display_time) * 1000;
        pkt->pts = pkt->dts = start;
        pkt->duration = int64_t(sub.end_display_time - sub.start_display_time) * 1000;
        if (i == 1) pkt->pts = pkt->dts = ptsUs + int64_t(sub.end_display_time) * 1000;
        ++FrameCount;
        run.WritePacket(*this, pkt.get(), AV_TIME_BASE_Q);
    }
}
