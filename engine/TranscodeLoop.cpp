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
    FIncompleteText.clear();
    PrepareRun();
    PlanOutputBounds();
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
    LogDamageSummary();
    CheckPicturesWritten();
    FIncompleteText = Shortfall();
    if (!FIncompleteText.empty()) Log(llWarning, FIncompleteText);
    ReleaseRun();
    if (FControl.Stopping()) return false;
    CommitOutputs();
    return true;
}

void TCustomFFmpeg::Loop() {
    PacketPtr pkt(avcodec().av_packet_alloc());
    while (!StopRequested()) {
        int fileIndex = -1;
        const TLoopStep next = FJoin ? NextJoinedInput(fileIndex) : NextInputByTime(fileIndex);
        if (next == TLoopStep::End) break;
        if (next == TLoopStep::Again) continue;
        if (FileSizeLimitReached()) break;

        TInputFile& file = *FInputs[fileIndex];
        TInputStream* ist = nullptr;
        const TLoopStep read = ReadPacket(file, pkt.get(), ist);
        if (read == TLoopStep::End) break;
        if (read == TLoopStep::Again) continue;
        if (DamagedTimestamp(file, *ist, *pkt)) {
            avcodec().av_packet_unref(pkt.get());
            continue;
        }
        NoteRead(file, *ist, *pkt);
        AdjustTimestamps(file, *ist, pkt.get());
        if (PastRecordingTime(*ist, *pkt)) {
            avcodec().av_packet_unref(pkt.get());
            continue;
        }
        PaceToRealTime(*pkt, ist->St->time_base);
        FLastFileIndex = fileIndex;
        ProcessPacket(*ist, pkt.get());
        avcodec().av_packet_unref(pkt.get());
        if (FReport.Due(avutil().av_gettime_relative(), ProgressInterval)) Report(false, fileIndex);
    }
}

// Joined inputs are read one after the other; the next takes over when one ends.
TCustomFFmpeg::TLoopStep TCustomFFmpeg::NextJoinedInput(int& fileIndex) {
    for (auto& ost : FOutputStreams)
        if (ost->FrameCount >= ost->MaxFrames) return TLoopStep::End;
    TInputFile& cur = *FInputs[FJoinCurrent];
    if (cur.EofReached) {
        if (FJoinCurrent + 1 >= int(FInputs.size())) return TLoopStep::End;
        FinishJoinedInput(FJoinCurrent);
        return TLoopStep::Again;
    }
    if (cur.NoPacket) {
        cur.NoPacket = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return TLoopStep::Again;
    }
    fileIndex = FJoinCurrent;
    return TLoopStep::Go;
}

// Otherwise the input of the output stream that is furthest behind is read next.
TCustomFFmpeg::TLoopStep TCustomFFmpeg::NextInputByTime(int& fileIndex) {
    const auto& s = FSettings;
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
        if (ost->FrameCount >= ost->MaxFrames) return TLoopStep::End;
        if (file.EofReached) continue;
        double t = s.InputSync ? double(ist.Pts) / AV_TIME_BASE
                               : (ost->LastDts == AV_NOPTS_VALUE ? -1e300 : double(ost->LastDts) * av_q2d(ost->St->time_base));
        if (t < best) {
            best = t;
            fileIndex = ist.FileIndex;
        }
    }
    if (fileIndex >= 0) return TLoopStep::Go;
    if (!anyNoPacket) return TLoopStep::End;
    for (auto& f : FInputs) f->NoPacket = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return TLoopStep::Again;
}

bool TCustomFFmpeg::FileSizeLimitReached() const {
    const auto& s = FSettings;
    return s.LimitFileSize > 0 && !FOutputs.empty() && FOutputs[0]->Ctx->pb &&
           avformat().avio_seek(FOutputs[0]->Ctx->pb, 0, SEEK_CUR) >= s.LimitFileSize;
}

TCustomFFmpeg::TLoopStep TCustomFFmpeg::ReadPacket(TInputFile& file, AVPacket* pkt, TInputStream*& ist) {
    const auto& s = FSettings;
    int r = avformat().av_read_frame(file.Ctx.get(), pkt);
    if (r == AVERROR(EAGAIN)) {
        file.NoPacket = true;
        return TLoopStep::Again;
    }
    if (r < 0) {
        file.EofReached = true;
        return s.OptShortest && !FJoin ? TLoopStep::End : TLoopStep::Again;
    }
    for (auto& f : FInputs) f->NoPacket = false;
    if (s.DoPktDump)
        Log(llInfo, Format("stream #%d: keyframe=%d size=%d dts=%lld pts=%lld", pkt->stream_index,
                           (pkt->flags & AV_PKT_FLAG_KEY) ? 1 : 0, pkt->size, (long long)pkt->dts,
                           (long long)pkt->pts));
    if (pkt->stream_index >= file.NbStreams) {
        avcodec().av_packet_unref(pkt);
        return TLoopStep::Again;
    }
    TInputStream& stream = *FInputStreams[file.IstIndex + pkt->stream_index];
    if (stream.Discard) {
        avcodec().av_packet_unref(pkt);
        return TLoopStep::Again;
    }
    ist = &stream;
    return TLoopStep::Go;
}

// The file's offset and scale, then a jump in a format that may jump: the offset follows it.
void TCustomFFmpeg::AdjustTimestamps(TInputFile& file, const TInputStream& ist, AVPacket* pkt) {
    const auto& s = FSettings;
    const AVRational tb = ist.St->time_base;
    const int64_t offset = avutil().av_rescale_q(file.TsOffset, AV_TIME_BASE_Q, tb);
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
    if (pkt->stream_index < MAX_STREAMS && file.TsScale[pkt->stream_index] != 1.0) {
        const double scale = file.TsScale[pkt->stream_index];
        if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llrint(pkt->dts * scale);
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llrint(pkt->pts * scale);
    }
    if ((file.Ctx->iformat->flags & AVFMT_TS_DISCONT) && pkt->dts != AV_NOPTS_VALUE && ist.NextDts != AV_NOPTS_VALUE &&
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
}

// A stream whose packets reach the recording time ("t") is read no further.
bool TCustomFFmpeg::PastRecordingTime(TInputStream& ist, const AVPacket& pkt) {
    const auto& s = FSettings;
    if (s.RecordingTime != INT64_MAX && pkt.dts != AV_NOPTS_VALUE &&
        avutil().av_compare_ts(pkt.dts, ist.St->time_base, s.RecordingTime + FOutputStart, AV_TIME_BASE_Q) >= 0) {
        ist.IsPastRecordingTime = true;
        return true;
    }
    return false;
}

// "re": a packet is not handed on before its time has come.
void TCustomFFmpeg::PaceToRealTime(const AVPacket& pkt, AVRational tb) {
    if (!FSettings.RateEmu || pkt.dts == AV_NOPTS_VALUE) return;
    const int64_t pktUs = avutil().av_rescale_q(pkt.dts, tb, AV_TIME_BASE_Q);
    const int64_t elapsed = avutil().av_gettime_relative() - FReport.StartTime;
    if (pktUs - elapsed > 1000) std::this_thread::sleep_for(std::chrono::milliseconds((pktUs - elapsed) / 1000));
}
