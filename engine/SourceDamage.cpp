// The run's guards against damaged sources: time stamps far past the stated length are
// dropped, the pictures an output may hold are bounded, an output without a single picture
// fails, and a source that ends clearly short of its stated length marks the job incomplete.
#include "engine/SourceDamage.h"

#include <algorithm>
#include <cmath>

#include "engine/EngineText.h"
#include "engine/FFUtils.h"
#include "engine/FFmpeg.h"
#include "engine/FFmpegException.h"

bool AbsurdPictureRate(AVRational rate) {
    return rate.num > 0 && rate.den > 0 && av_q2d(rate) < 1.0 / 3600;
}

AVRational StreamPictureRate(const AVStream* st) {
    return st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0 ? st->r_frame_rate : st->avg_frame_rate;
}

namespace {
bool IsPictureOrSound(const AVStream* st) {
    const AVMediaType type = st->codecpar->codec_type;
    return (type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) ||
           type == AVMEDIA_TYPE_AUDIO;
}

double Seconds(int64_t us) { return double(us) / AV_TIME_BASE; }
}  // namespace

int64_t SourceLengthUs(const AVFormatContext* ic) {
    bool absurd = false;
    int64_t others = AV_NOPTS_VALUE;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && AbsurdPictureRate(StreamPictureRate(st))) {
            absurd = true;
            continue;
        }
        if (IsPictureOrSound(st) && st->duration != AV_NOPTS_VALUE && st->duration > 0)
            others = std::max(others, avutil().av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q));
    }
    return absurd ? others : ic->duration;
}

bool SourceLengthTrusted(const AVFormatContext* ic, int64_t lengthUs) {
    return lengthUs != AV_NOPTS_VALUE && lengthUs > 0 && ic->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
}

int64_t LengthMarginUs(int64_t lengthUs) { return lengthUs / 2 + 10 * int64_t(AV_TIME_BASE); }

bool TCustomFFmpeg::DamagedTimestamp(TInputFile& file, TInputStream& ist, const AVPacket& pkt) {
    if (!file.LengthTrusted || FSettings.CopyTs || ist.CountedTimestamps) return false;
    const int64_t t = pkt.dts != AV_NOPTS_VALUE ? pkt.dts : pkt.pts;
    if (t == AV_NOPTS_VALUE) return false;
    const int64_t start = file.Ctx->start_time != AV_NOPTS_VALUE ? file.Ctx->start_time : 0;
    const int64_t us = avutil().av_rescale_q(t, ist.St->time_base, AV_TIME_BASE_Q) - start;
    const int64_t margin = LengthMarginUs(file.Duration);
    // Within the stated length, or a stream that keeps going steadily past a header that
    // was only wrong: both are kept. A leap far past the end is damage.
    if (us <= file.Duration + margin || (ist.LastGoodUs != AV_NOPTS_VALUE && us - ist.LastGoodUs <= margin)) {
        if (ist.LastGoodUs == AV_NOPTS_VALUE || us > ist.LastGoodUs) ist.LastGoodUs = us;
        return false;
    }
    if (ist.DamagedPackets++ == 0)
        Log(llWarning, Format("Stream #%d.%d: a packet stamped at %.3f s, far past the source's length of %.3f s, "
                              "is taken as damage and dropped",
                              ist.FileIndex, ist.StreamIndex, Seconds(us), Seconds(file.Duration)));
    return true;
}

void TCustomFFmpeg::NoteRead(const TInputFile& file, TInputStream& ist, AVPacket& pkt) {
    if (ist.CountedTimestamps) {
        // Its own times would mislead the decoder and the clock: the pictures are counted.
        pkt.pts = pkt.dts = AV_NOPTS_VALUE;
        pkt.duration = 0;
        return;
    }
    const int64_t t = pkt.pts != AV_NOPTS_VALUE ? pkt.pts : pkt.dts;
    if (t == AV_NOPTS_VALUE) return;
    const int64_t start = file.Ctx->start_time != AV_NOPTS_VALUE ? file.Ctx->start_time : 0;
    int64_t end = avutil().av_rescale_q(t, ist.St->time_base, AV_TIME_BASE_Q) - start;
    if (pkt.duration > 0) end += avutil().av_rescale_q(pkt.duration, ist.St->time_base, AV_TIME_BASE_Q);
    if (ist.ReadEndUs == AV_NOPTS_VALUE || end > ist.ReadEndUs) ist.ReadEndUs = end;
}

void TCustomFFmpeg::PlanOutputBounds() {
    const auto& s = FSettings;
    for (auto& ost : FOutputStreams) {
        const bool picture = ost->Type() == AVMEDIA_TYPE_VIDEO;
        if (ost->StreamCopy || !ost->Enc || (!picture && ost->Type() != AVMEDIA_TYPE_AUDIO)) continue;
        const TInputFile& file = *FInputs[FInputStreams[ost->SourceIndex]->FileIndex];
        // The stage counts pictures in encoder ticks, sound in samples.
        const double tick = picture ? av_q2d(ost->Enc->time_base) : (ost->Enc->sample_rate > 0 ? 1.0 / ost->Enc->sample_rate : 0.0);
        if (tick <= 0) continue;
        int64_t length = file.LengthTrusted ? file.Duration - file.SeekPos - FOutputStart : AV_NOPTS_VALUE;
        if (FJoin) length = FTotalDuration;
        if (s.RecordingTime != INT64_MAX && (length == AV_NOPTS_VALUE || s.RecordingTime < length))
            length = s.RecordingTime;
        if (length == AV_NOPTS_VALUE || length <= 0) {
            // Nothing tells how long the source is: a leap of a minute is damage.
            ost->JumpLimit = 60.0 / tick;
            continue;
        }
        const double allowed = Seconds(length + LengthMarginUs(length));
        ost->JumpLimit = allowed / tick;
        if (picture) ost->PictureBudget = int64_t(std::ceil(allowed / tick));
    }
}

void TCustomFFmpeg::CheckPicturesWritten() {
    if (FControl.Stopping()) return;
    for (auto& ost : FOutputStreams) {
        if (ost->StreamCopy || ost->Type() != AVMEDIA_TYPE_VIDEO || !ost->Opened || ost->MaxFrames <= 0) continue;
        if (ost->FrameCount > 0) continue;
        const TInputStream& ist = *FInputStreams[ost->SourceIndex];
        throw FFmpegException(Format("No picture could be decoded from input stream #%d.%d (%s): the output would "
                                     "hold no picture",
                                     ist.FileIndex, ist.StreamIndex,
                                     EngineCodecName(ist.St->codecpar->codec_id).c_str()));
    }
}

std::string TCustomFFmpeg::Shortfall() const {
    const auto& s = FSettings;
    if (FControl.Stopping()) return {};
    for (auto& fileRecord : FInputs) {
        const TInputFile& file = *fileRecord;
        if (!file.EofReached || !file.LengthTrusted) continue;
        int64_t expected = file.Duration;
        if (s.RecordingTime != INT64_MAX && !FJoin)
            expected = std::min(expected, file.SeekPos + FOutputStart + s.RecordingTime);
        int64_t read = AV_NOPTS_VALUE;
        bool cutByRecordingTime = false;
        for (int i = 0; i < file.NbStreams; ++i) {
            const TInputStream& ist = *FInputStreams[file.IstIndex + i];
            if (ist.Discard || ist.CountedTimestamps || !IsPictureOrSound(ist.St)) continue;
            cutByRecordingTime |= ist.IsPastRecordingTime;
            if (ist.ReadEndUs != AV_NOPTS_VALUE) read = std::max(read, ist.ReadEndUs);
        }
        if (cutByRecordingTime) continue;
        if (read == AV_NOPTS_VALUE) read = 0;
        const int64_t missing = expected - read;
        if (missing <= std::max<int64_t>(AV_TIME_BASE, expected / 20)) continue;
        const int64_t from = file.SeekPos + FOutputStart;
        return Format("Only %.1f s of the source's %.1f s could be read: the output is incomplete",
                      Seconds(std::max<int64_t>(read - from, 0)), Seconds(expected - from));
    }
    return {};
}

void TCustomFFmpeg::LogDamageSummary() {
    for (auto& ist : FInputStreams)
        if (ist->DamagedPackets > 1)
            Log(llWarning, Format("Stream #%d.%d: %lld packets with damaged time stamps were dropped", ist->FileIndex,
                                  ist->StreamIndex, (long long)ist->DamagedPackets));
}
