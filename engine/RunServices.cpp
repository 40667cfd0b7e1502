// What the run gives its output stages: muxing (one packet at a time, whatever thread
// the stage runs on), the statistics and pass logs, the preview, the stop request.
#include <algorithm>
#include <cstdio>
#include <mutex>

#include "engine/EngineText.h"
#include "engine/FFUtils.h"
#include "engine/FFmpeg.h"
#include "engine/FFmpegException.h"

bool TCustomFFmpeg::StopRequested() { return FControl.StopRequested(); }

void TCustomFFmpeg::WritePacket(TOutputStream& ost, AVPacket* pkt, AVRational tb) {
    // The stages write from their own threads; the muxer takes one packet at a time.
    std::lock_guard lock(FMuxLock);
    TOutputFile& file = *FOutputs[ost.FileIndex];
    AVFormatContext* oc = file.Ctx.get();
    avcodec().av_packet_rescale_ts(pkt, tb, ost.St->time_base);
    pkt->stream_index = ost.St->index;

    std::vector<PacketPtr> packets;
    packets.emplace_back(avcodec().av_packet_clone(pkt));
    for (auto& bsf : ost.Bsfs) {
        std::vector<PacketPtr> out;
        for (auto& p : packets) {
            int r = avcodec().av_bsf_send_packet(bsf.get(), p.get());
            while (r >= 0) {
                PacketPtr q(avcodec().av_packet_alloc());
                r = avcodec().av_bsf_receive_packet(bsf.get(), q.get());
                if (r < 0) break;
                out.push_back(std::move(q));
            }
            if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_EOF) {
                std::string msg = Format("%s failed for stream %d, codec %s", bsf->filter->name, ost.St->index,
                                         ost.StreamCopy ? "copy" : EngineCodecName(ost.Enc.get()).c_str());
                msg += ": " + EngineErrorMessage(r);
                if (FSettings.ExitOnError) throw FFmpegException(msg);
                Log(llError, msg);
            }
        }
        packets = std::move(out);
    }
    const bool strict = !(oc->oformat->flags & AVFMT_TS_NONSTRICT);
    for (auto& p : packets) {
        p->stream_index = ost.St->index;
        if (!(oc->oformat->flags & AVFMT_NOTIMESTAMPS) && p->dts != AV_NOPTS_VALUE && ost.LastDts != AV_NOPTS_VALUE) {
            // Muxers refuse timestamps that go back; nudge them forward.
            const int64_t least = ost.LastDts + (strict ? 1 : 0);
            if (p->dts < least) {
                if (p->pts != AV_NOPTS_VALUE && p->pts >= p->dts) p->pts = std::max(p->pts, least);
                p->dts = least;
            }
        }
        if (p->dts != AV_NOPTS_VALUE) ost.LastDts = p->dts;
        int64_t end = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        if (end != AV_NOPTS_VALUE) {
            end += std::max<int64_t>(p->duration, 0);
            ost.EndTimeUs = std::max(ost.EndTimeUs.load(), avutil().av_rescale_q(end, ost.St->time_base, AV_TIME_BASE_Q));
        }
        int r = avformat().av_interleaved_write_frame(oc, p.get());
        if (r < 0) throw FFmpegException("av_interleaved_write_frame(): " + EngineErrorMessage(r));
    }
}

void TCustomFFmpeg::VideoFrameEncoded(TOutputStream& ost, const AVPacket& pkt) {
    std::lock_guard lock(FStatsLock);
    if (ost.PassLog && ost.Enc->stats_out) std::fputs(ost.Enc->stats_out, ost.PassLog.get());
    if (!FSettings.VStatsFilename.empty()) FVStats.Write(FSettings.VStatsFilename, ost, pkt, TRunServices::VideoBytes);
}

void TCustomFFmpeg::VideoFrameToEncode(const AVFrame& frame, int64_t ptsUs) {
    if (!(PreviewFlags & 3) || !OnPreviewBitmap) return;
    std::lock_guard lock(FStatsLock);
    FPreview.Offer(frame, ptsUs, FFrameNumber, OnPreviewBitmap);
}
