// The run of a task: the packet loop between the preparation and the flushing.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/FFUtils.h"
#include "engine/FFmpeg.h"
#include "engine/FFmpegException.h"
#include "engine/Pipeline.h"

int TCustomFFmpeg::CodecThreads() const {
    if (FSettings.ThreadCount) return FSettings.ThreadCount;
    const int cores = int(std::thread::hardware_concurrency());
    // A share of the machine: as many threads as cores in it; all of it: the library's choice.
    return CoreShare > 0 && CoreShare < cores ? CoreShare : 0;
}

bool TCustomFFmpeg::PipelineFits() const {
    const auto& s = FSettings;
    if (!s.Pipeline) return false;
    if (const char* e = std::getenv("REELSHIFT_PIPELINE"); e && std::strcmp(e, "0") == 0) return false;
    const int cores = int(std::thread::hardware_concurrency());
    if ((CoreShare > 0 ? CoreShare : cores) < 2) return false;
    // These decide from what the encoders have already written (the frame limits, the
    // file size, the end of a joined input, which input to read next): the stages would
    // answer late, so such runs keep to one thread.
    if (FJoin || FInputs.size() != 1 || s.LimitFileSize > 0) return false;
    for (const auto& ost : FOutputStreams)
        if (ost->MaxFrames != INT64_MAX) return false;
    return true;
}

void TCustomFFmpeg::WriteFrame(TOutputStream& ost, AVFrame* frame, int64_t ptsUs) {
    if (FPipeline && FPipeline->Handles(ost))
        FPipeline->Write(ost, *frame, ptsUs);
    else
        ost.Write(frame, ptsUs, *this);
}

bool TCustomFFmpeg::Transcode() {
    TRunServices::DupCount = TRunServices::DropCount = 0;
    TRunServices::VideoBytes = TRunServices::AudioBytes = TRunServices::ExtraBytes = 0;
    FFrameNumber = 0;
    PrepareRun();
    // A run that fails leaves through here: the stages are cancelled and joined before
    // anything they use is freed.
    struct PipelineEnd {
        std::unique_ptr<TPipeline>& Pipeline;
        ~PipelineEnd() { Pipeline.reset(); }
    } pipelineEnd{FPipeline};
    if (PipelineFits()) {
        FPipeline = std::make_unique<TPipeline>(static_cast<TRunServices&>(*this), 4);
        for (auto& ost : FOutputStreams)
            if (ost->Opened && (ost->Type() == AVMEDIA_TYPE_VIDEO || ost->Type() == AVMEDIA_TYPE_AUDIO))
                FPipeline->Add(*ost);
    }
    FDecoded.reset(avutil().av_frame_alloc());
    FReport.Start(avutil().av_gettime_relative());
    Loop();
    for (auto& ist : FInputStreams)
        if (ist->Dec && !ist->Flushed) ProcessPacket(*ist, nullptr);
    if (FPipeline) FPipeline->Finish(FControl.Stopping());
    for (auto& ost : FOutputStreams)
        if (!FPipeline || !FPipeline->Handles(*ost)) ost->Flush(*this);
    FPipeline.reset();
    for (auto& file : FOutputs)
        if (file->HeaderWritten) {
            avformat().av_write_trailer(file->Ctx.get());
            file->HeaderWritten = false;
        }
    Report(true, -1);
    ReleaseRun();
    return !FControl.Stopping();
}

void TCustomFFmpeg::Loop() {
    auto& s = FSettings;
    PacketPtr pkt(avcodec().av_packet_alloc());
    while (!StopRequested()) {
        int fileIndex = -1;
        bool limitReached = false;
        if (FJoin) {
            for (auto& ost : FOutputStreams)
                if (ost->FrameCount >= ost->MaxFrames) limitReached = true;
            if (limitReached) break;
            TInputFile& cur = *FInputs[FJoinCurrent];
            if (cur.EofReached) {
                if (FJoinCurrent + 1 >= int(FInputs.size())) break;
                FinishJoinedInput(FJoinCurrent);
                continue;
            }
            if (cur.NoPacket) {
                cur.NoPacket = false;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            fileIndex = FJoinCurrent;
        } else {
            double best = 1e300;
            bool anyNoPacket = false;
            for (auto& ost : FOutputStreams) {
                TInputStream& ist = *FInputStreams[ost->SourceIndex];
                TInputFile& file = *FInputs[ist.FileIndex];
                if (ist.IsPastRecordingTime) continue;
                if (file.NoPacket) {
                    anyNoPacket = true;
                    continue;
                }
                if (ost->FrameCount >= ost->MaxFrames) {
                    limitReached = true;
                    break;
                }
                if (file.EofReached) continue;
                double t = s.InputSync ? double(ist.Pts) / AV_TIME_BASE
                                       : (ost->LastDts == AV_NOPTS_VALUE ? -1e300 : double(ost->LastDts) * av_q2d(ost->St->time_base));
                if (t < best) {
                    best = t;
                    fileIndex = ist.FileIndex;
                }
            }
            if (limitReached) break;
            if (fileIndex < 0) {
                if (anyNoPacket) {
                    for (auto& f : FInputs) f->NoPacket = false;
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    continue;
                }
                break;
            }
        }
        if (s.LimitFileSize > 0 && !FOutputs.empty() && FOutputs[0]->Ctx->pb &&
            avformat().avio_seek(FOutputs[0]->Ctx->pb, 0, SEEK_CUR) >= s.LimitFileSize)
            break;

        TInputFile& file = *FInputs[fileIndex];
        AVFormatContext* ic = file.Ctx.get();
        int r = avformat().av_read_frame(ic, pkt.get());
        if (r == AVERROR(EAGAIN)) {
            file.NoPacket = true;
            continue;
        }
        if (r < 0) {
            file.EofReached = true;
            if (s.OptShortest && !FJoin) break;
            continue;
        }
        for (auto& f : FInputs) f->NoPacket = false;
        if (s.DoPktDump)
            Log(llInfo, Format("stream #%d: keyframe=%d size=%d dts=%lld pts=%lld", pkt->stream_index,
                               (pkt->flags & AV_PKT_FLAG_KEY) ? 1 : 0, pkt->size, (long long)pkt->dts,
                               (long long)pkt->pts));
        if (pkt->stream_index >= file.NbStreams) {
            avcodec().av_packet_unref(pkt.get());
            continue;
        }
        TInputStream& ist = *FInputStreams[file.IstIndex + pkt->stream_index];
        if (ist.Discard) {
            avcodec().av_packet_unref(pkt.get());
            continue;
        }
        const AVRational tb = ist.St->time_base;
        const int64_t offset = avutil().av_rescale_q(file.TsOffset, AV_TIME_BASE_Q, tb);
        if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
        if (pkt->stream_index < MAX_STREAMS && file.TsScale[pkt->stream_index] != 1.0) {
            const double scale = file.TsScale[pkt->stream_index];
            if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llrint(pkt->dts * scale);
            if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llrint(pkt->pts * scale);
        }
        if ((ic->iformat->flags & AVFMT_TS_DISCONT) && pkt->dts != AV_NOPTS_VALUE && ist.NextDts != AV_NOPTS_VALUE &&
            !s.CopyTs) {
            const int64_t dtsUs = avutil().av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
            const int64_t delta = dtsUs - ist.NextDts;
            if (std::llabs(delta) > int64_t(s.DtsDeltaThreshold * AV_TIME_BASE) || dtsUs + 1 < ist.Pts) {
                file.TsOffset -= delta;
                const int64_t d = avutil().av_rescale_q(delta, AV_TIME_BASE_Q, tb);
                pkt->dts -= d;
                if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= d;
                if (s.Verbose > 2)
                    Log(llInfo, Format("timestamp discontinuity %lld, new offset= %lld", (long long)delta,
                                       (long long)file.TsOffset));
            }
        }
        if (s.RecordingTime != INT64_MAX && pkt->dts != AV_NOPTS_VALUE &&
            avutil().av_compare_ts(pkt->dts, tb, s.RecordingTime + FOutputStart, AV_TIME_BASE_Q) >= 0) {
            ist.IsPastRecordingTime = true;
            avcodec().av_packet_unref(pkt.get());
            continue;
        }
        if (s.RateEmu && pkt->dts != AV_NOPTS_VALUE) {
            const int64_t pktUs = avutil().av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
            const int64_t elapsed = avutil().av_gettime_relative() - FReport.StartTime;
            if (pktUs - elapsed > 1000) std::this_thread::sleep_for(std::chrono::milliseconds((pktUs - elapsed) / 1000));
        }
        FLastFileIndex = fileIndex;
        ProcessPacket(ist, pkt.get());
        avcodec().av_packet_unref(pkt.get());
        if (FReport.Due(avutil().av_gettime_relative(), ProgressInterval)) Report(false, fileIndex);
    }
}
