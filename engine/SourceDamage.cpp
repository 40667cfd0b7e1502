// The run's guards against damaged sources: time stamps far past the stated length are
// dropped, the pictures an output may hold are bounded, an output without a single picture
// fails, and a source that ends clearly short of its stated length marks the job incomplete.
#include "engine/SourceDamage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

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

int64_t StatedLengthUs(const AVFormatContext* ic, int64_t lengthUs) {
    int64_t stated = lengthUs;
    if (!ic->iformat || std::strcmp(ic->iformat->name, "avi") != 0) return stated;
    // An AVI picture stream's time base is one picture; its header's count stays as written.
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || !IsPictureOrSound(st) || st->nb_frames <= 0 ||
            AbsurdPictureRate(StreamPictureRate(st)) || st->time_base.num <= 0 || st->time_base.den <= 0)
            continue;
        const int64_t us = avutil().av_rescale_q(st->nb_frames, st->time_base, AV_TIME_BASE_Q);
        if (stated == AV_NOPTS_VALUE || us > stated) stated = us;
    }
    return stated;
}

bool SourceLengthTrusted(const AVFormatContext* ic, int64_t lengthUs) {
    return lengthUs != AV_NOPTS_VALUE && lengthUs > 0 && ic->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
}

int64_t LengthMarginUs(int64_t lengthUs) { return lengthUs / 2 + 10 * int64_t(AV_TIME_BASE); }

double ContentLimitSeconds(int64_t contentUs) {
    if (contentUs < 0) return std::numeric_limits<double>::infinity();
    return Seconds(contentUs + LengthMarginUs(contentUs));
}

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

namespace {
// One step of a stream's time stamps counts at most this much towards what was read: a
// damaged stamp hours ahead adds no hours, a slide show's long pictures still count.
constexpr int64_t kLongestStepUs = 30 * int64_t(AV_TIME_BASE);
}  // namespace

void TCustomFFmpeg::NoteRead(TInputFile& file, TInputStream& ist, AVPacket& pkt) {
    int64_t step = 0;
    if (ist.CountedTimestamps) {
        // Its own times would mislead the decoder and the clock: the pictures are counted.
        pkt.pts = pkt.dts = AV_NOPTS_VALUE;
        pkt.duration = 0;
        step = AV_TIME_BASE * int64_t(FallbackPictureRate.den) / FallbackPictureRate.num;
    } else {
        const int64_t start = file.Ctx->start_time != AV_NOPTS_VALUE ? file.Ctx->start_time : 0;
        const int64_t t = pkt.pts != AV_NOPTS_VALUE ? pkt.pts : pkt.dts;
        if (t != AV_NOPTS_VALUE) {
            int64_t end = avutil().av_rescale_q(t, ist.St->time_base, AV_TIME_BASE_Q) - start;
            if (pkt.duration > 0) end += avutil().av_rescale_q(pkt.duration, ist.St->time_base, AV_TIME_BASE_Q);
            if (ist.ReadEndUs == AV_NOPTS_VALUE || end > ist.ReadEndUs) ist.ReadEndUs = end;
        }
        const int64_t d = pkt.dts != AV_NOPTS_VALUE ? pkt.dts : pkt.pts;
        if (d != AV_NOPTS_VALUE) {
            const int64_t us = avutil().av_rescale_q(d, ist.St->time_base, AV_TIME_BASE_Q);
            if (ist.PrevReadUs != AV_NOPTS_VALUE) step = std::clamp<int64_t>(us - ist.PrevReadUs, 0, kLongestStepUs);
            ist.PrevReadUs = us;
        }
    }
    ist.ContentUs += step;
    if (ist.ContentUs <= file.ContentUs || ReadContentUs < 0) return;
    file.ContentUs = ist.ContentUs;
    int64_t all = 0;
    for (const auto& f : FInputs) all += f->ContentUs + f->ShiftUs;
    ReadContentUs = all;
}

void TCustomFFmpeg::PlanOutputBounds() {
    const auto& s = FSettings;
    // Times copied as they are may start anywhere: only the stated length bounds them.
    int64_t shift = 0;
    for (const auto& file : FInputs) shift += file->ShiftUs;
    ReadContentUs = s.CopyTs ? -1 : shift;
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

std::string TCustomFFmpeg::Shortfall() {
    const auto& s = FSettings;
    if (FControl.Stopping()) return {};
    for (auto& fileRecord : FInputs) {
        TInputFile& file = *fileRecord;
        if (!file.EofReached || !(file.LengthTrusted || file.StatedUs > file.Duration)) continue;
        int64_t expected = file.StatedUs;
        if (s.RecordingTime != INT64_MAX && !FJoin)
            expected = std::min(expected, file.SeekPos + FOutputStart + s.RecordingTime);
        int64_t read = AV_NOPTS_VALUE;
        bool cutByRecordingTime = false, unread = false;
        for (int i = 0; i < file.NbStreams; ++i) {
            const TInputStream& ist = *FInputStreams[file.IstIndex + i];
            if (ist.CountedTimestamps || !IsPictureOrSound(ist.St)) continue;
            if (ist.Discard || ist.St->discard == AVDISCARD_ALL) {
                unread = true;
                continue;
            }
            cutByRecordingTime |= ist.IsPastRecordingTime;
            if (ist.ReadEndUs != AV_NOPTS_VALUE) read = std::max(read, ist.ReadEndUs);
        }
        if (cutByRecordingTime) continue;
        if (read == AV_NOPTS_VALUE) read = 0;
        const int64_t allowed = std::max<int64_t>(AV_TIME_BASE, expected / 20);
        if (expected - read <= allowed) continue;
        // The file's length is its longest stream's: the picture of a film whose sound was
        // taken alone may well go on after the sound.
        if (unread && UnreadStreamsReach(file, expected - allowed)) continue;
        const int64_t from = file.SeekPos + FOutputStart;
        return Format("Only %.1f s of the source's %.1f s could be read: the output is incomplete",
                      Seconds(std::max<int64_t>(read - from, 0)), Seconds(expected - from));
    }
    return {};
}

// Whether a stream the run did not read has a packet that ends at or past us (from the
// file's start): looked for from a seek to there, after the run, a bounded number of
// packets. A file that cannot seek there has none.
bool TCustomFFmpeg::UnreadStreamsReach(TInputFile& file, int64_t us) {
    AVFormatContext* ic = file.Ctx.get();
    std::vector<bool> look(ic->nb_streams, false);
    for (int i = 0; i < file.NbStreams && i < int(ic->nb_streams); ++i) {
        const TInputStream& ist = *FInputStreams[file.IstIndex + i];
        look[size_t(i)] = !ist.CountedTimestamps && IsPictureOrSound(ist.St);
        ic->streams[i]->discard = look[size_t(i)] ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    const int64_t start = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    if (avformat().avformat_seek_file(ic, -1, INT64_MIN, start + us, start + us, 0) < 0) return false;
    PacketPtr pkt(avcodec().av_packet_alloc());
    for (int n = 0; n < 4096 && avformat().av_read_frame(ic, pkt.get()) >= 0; ++n) {
        bool reached = false;
        const int index = pkt->stream_index;
        const int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (index >= 0 && index < int(look.size()) && look[size_t(index)] && t != AV_NOPTS_VALUE) {
            const AVRational tb = ic->streams[index]->time_base;
            int64_t end = avutil().av_rescale_q(t, tb, AV_TIME_BASE_Q) - start;
            if (pkt->duration > 0) end += avutil().av_rescale_q(pkt->duration, tb, AV_TIME_BASE_Q);
            reached = end >= us;
        }
        avcodec().av_packet_unref(pkt.get());
        if (reached) return true;
    }
    return false;
}

void TCustomFFmpeg::LogDamageSummary() {
    for (auto& ist : FInputStreams)
        if (ist->DamagedPackets > 1)
            Log(llWarning, Format("Stream #%d.%d: %lld packets with damaged time stamps were dropped", ist->FileIndex,
                                  ist->StreamIndex, (long long)ist->DamagedPackets));
}
