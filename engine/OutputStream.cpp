#include <algorithm>
#include <cstring>
#include <mutex>

#include "engine/AVHandles.h"
#include "engine/CodecLock.h"
#include "engine/EngineStreams.h"
#include "engine/EngineText.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"

TOutputStream::~TOutputStream() {
    if (PassLog) std::fclose(PassLog);
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
    {
        std::lock_guard lock(CodecLock());
        r = avcodec().avcodec_open2(Enc.get(), EncCodec, privateOptions);
    }
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
