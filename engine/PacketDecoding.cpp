// One packet of an input stream: copied to the stream-copy outputs, decoded, and each
// decoded frame or subtitle handed to the encoded outputs.
#include "engine/AudioOutput.h"
#include "engine/EngineText.h"
#include "engine/FFUtils.h"
#include "engine/FFmpeg.h"
#include "engine/FFmpegException.h"
#include "engine/SourceDamage.h"

bool TCustomFFmpeg::ProcessPacket(TInputStream& ist, AVPacket* pkt) {
    const AVRational tb = ist.St->time_base;
    if (pkt && pkt->dts != AV_NOPTS_VALUE) {
        ist.Pts = avutil().av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
        ist.NextDts = ist.Pts + (pkt->duration > 0 ? avutil().av_rescale_q(pkt->duration, tb, AV_TIME_BASE_Q) : 0);
    }
    if (pkt)
        for (TOutputStream* ost : ist.Outputs)
            if (ost->StreamCopy) CopyPacket(ist, *ost, *pkt);
    if (!ist.DecodingNeeded || !ist.Dec) return false;
    if (ist.St->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) return DecodeSubtitle(ist, pkt);
    return DecodeFrames(ist, pkt);
}

// Raised with "xerror", else a warning: the run goes on with the next packet.
void TCustomFFmpeg::DecodeError(const TInputStream& ist) {
    std::string msg = Format("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                             EngineCodecName(ist.Dec.get()).c_str());
    if (FSettings.ExitOnError) throw FFmpegException(msg);
    if (FSettings.Verbose >= 0) Log(llWarning, msg);
}

bool TCustomFFmpeg::DecodeSubtitle(TInputStream& ist, AVPacket* pkt) {
    const AVRational tb = ist.St->time_base;
    if (!pkt) {
        ist.Flushed = true;
        return false;
    }
    AVSubtitle sub{};
    int got = 0;
    int r = avcodec().avcodec_decode_subtitle2(ist.Dec.get(), &sub, &got, pkt);
    if (r < 0) {
        DecodeError(ist);
        return false;
    }
    if (got) {
        int64_t ptsUs = sub.pts;
        if (ptsUs == AV_NOPTS_VALUE && pkt->pts != AV_NOPTS_VALUE) ptsUs = avutil().av_rescale_q(pkt->pts, tb, AV_TIME_BASE_Q);
        if (ptsUs != AV_NOPTS_VALUE) ptsUs -= FOutputStart;
        try {
            for (TOutputStream* ost : ist.Outputs)
                if (!ost->StreamCopy) ost->WriteSubtitle(sub, ptsUs, *this);
        } catch (...) {
            avcodec().avsubtitle_free(&sub);
            throw;
        }
        avcodec().avsubtitle_free(&sub);
    }
    return got != 0;
}

// Video and sound: every frame the packet gives (null drains the decoder).
bool TCustomFFmpeg::DecodeFrames(TInputStream& ist, AVPacket* pkt) {
    const AVMediaType type = ist.St->codecpar->codec_type;
    if (!pkt) ist.Flushed = true;
    int r = avcodec().avcodec_send_packet(ist.Dec.get(), pkt);
    if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_EOF) {
        DecodeError(ist);
        ist.SamplesMayExceedDepth = true;
        return false;
    }
    int frames = 0;
    for (;;) {
        r = avcodec().avcodec_receive_frame(ist.Dec.get(), FDecoded.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) {
            DecodeError(ist);
            ist.SamplesMayExceedDepth = true;
            break;
        }
        ++frames;
        if (frames == 2 && pkt && type == AVMEDIA_TYPE_VIDEO &&
            (FSettings.Verbose > 1 || (FSettings.Verbose > 0 && !FMultipleFramesWarned))) {
            FMultipleFramesWarned = true;
            Log(llVerbose, Format("Multiple frames in a packet from stream %d", ist.StreamIndex));
        }
        try {
            if (type == AVMEDIA_TYPE_VIDEO)
                DecodeVideo(ist, FDecoded.get());
            else if (type == AVMEDIA_TYPE_AUDIO)
                DecodeAudio(ist, FDecoded.get());
        } catch (...) {
            avutil().av_frame_unref(FDecoded.get());
            throw;
        }
        avutil().av_frame_unref(FDecoded.get());
        if (StopRequested()) break;
    }
    // The last pictures a deinterlacer holds.
    if (!pkt && type == AVMEDIA_TYPE_VIDEO)
        for (auto& kind : ist.PictureKinds)
            if (kind->Picture.Push(nullptr)) PullSourcePictures(ist, *kind);
    return frames > 0;
}

void TCustomFFmpeg::DecodeVideo(TInputStream& ist, AVFrame* frame) {
    if (frame->decode_error_flags) ist.SamplesMayExceedDepth = true;
    if (ist.SamplesMayExceedDepth && !LimitSamplesToDepth(*frame)) throw FFmpegException("Out of memory");
    if (ist.PictureKinds.empty()) PlanPictureKinds(ist);
    if (ist.PictureKinds.size() == 1) {
        TSourcePictureKind& kind = *ist.PictureKinds.front();
        if (kind.Picture.Push(frame))
            PullSourcePictures(ist, kind);
        else
            DecodeVideoPicture(ist, kind, frame);
        return;
    }
    // Outputs that need different pictures: each kind that passes the frame as it is gets a
    // reference of its own, so that a hook drawing on it copies the picture first and the
    // other kinds still see the decoder's.
    for (auto& kind : ist.PictureKinds) {
        if (kind->Picture.Push(frame)) {
            PullSourcePictures(ist, *kind);
            continue;
        }
        FramePtr own(avutil().av_frame_clone(frame));
        if (!own) throw FFmpegException("Out of memory");
        DecodeVideoPicture(ist, *kind, own.get());
    }
}

void TCustomFFmpeg::PullSourcePictures(TInputStream& ist, TSourcePictureKind& kind) {
    AVFrame* looked = kind.Looked.get();
    while (kind.Picture.Pull(looked)) {
        try {
            DecodeVideoPicture(ist, kind, looked);
        } catch (...) {
            avutil().av_frame_unref(looked);
            throw;
        }
        avutil().av_frame_unref(looked);
    }
}

// One picture as the source means it to be seen: the hooks, then the outputs of its kind.
void TCustomFFmpeg::DecodeVideoPicture(TInputStream& ist, TSourcePictureKind& kind, AVFrame* frame) {
    const AVRational tb = ist.St->time_base;
    const bool counted = ist.CountedTimestamps;  // only the pictures' count tells the time
    int64_t ptsUs = frame->best_effort_timestamp != AV_NOPTS_VALUE && !counted
                        ? avutil().av_rescale_q(frame->best_effort_timestamp, tb, AV_TIME_BASE_Q)
                        : (kind.NextPts != AV_NOPTS_VALUE ? kind.NextPts : 0);
    AVRational rate = counted                       ? FallbackPictureRate
                      : ist.St->avg_frame_rate.num > 0 ? ist.St->avg_frame_rate
                                                       : ist.St->r_frame_rate;
    int64_t duration = frame->pkt_duration > 0 && !counted
                           ? avutil().av_rescale_q(frame->pkt_duration, tb, AV_TIME_BASE_Q)
                       : rate.num > 0 ? avutil().av_rescale(AV_TIME_BASE, rate.den, rate.num)
                                      : 40000;
    duration += duration * frame->repeat_pict / 2;
    kind.NextPts = ptsUs + duration;
    // Frames before the start position come from seeking to the previous key frame, or
    // lie before the output's start.
    ptsUs -= FOutputStart;
    if ((FInputs[ist.FileIndex]->SeekPos > 0 || FOutputStart > 0) && ptsUs < 0) return;
    // The first kind counts the run's pictures; the others count their own alike.
    const int number = &kind == ist.PictureKinds.front().get() ? ++FFrameNumber : ++kind.Pictures;
    if (FHook.On() && OnCustomHook)
        FHook.Run(frame, ptsUs, number, OnCustomHook, [this](const std::string& e) { Log(llError, e); });
    if (!FSettings.VideoHooks.empty() && avutil().av_frame_make_writable(frame) >= 0) {
        TVideoHookPicture pict{};
        for (int i = 0; i < 4; ++i) {
            pict.data[i] = frame->data[i];
            pict.linesize[i] = frame->linesize[i];
        }
        for (const auto& hook : FSettings.VideoHooks) hook->Run(&pict, frame->format, frame->width, frame->height, ptsUs);
    }
    for (TOutputStream* ost : kind.Outputs) WriteFrame(*ost, frame, ptsUs);
}

void TCustomFFmpeg::DecodeAudio(TInputStream& ist, AVFrame* frame) {
    const AVRational tb = ist.St->time_base;
    int64_t ptsUs = frame->best_effort_timestamp != AV_NOPTS_VALUE
                        ? avutil().av_rescale_q(frame->best_effort_timestamp, tb, AV_TIME_BASE_Q)
                        : (ist.NextPts != AV_NOPTS_VALUE ? ist.NextPts : 0);
    const int rate = frame->sample_rate > 0 ? frame->sample_rate : 44100;
    ist.NextPts = ptsUs + avutil().av_rescale(frame->nb_samples, AV_TIME_BASE, rate);
    ptsUs -= FOutputStart;
    if ((FInputs[ist.FileIndex]->SeekPos > 0 || FOutputStart > 0) && ptsUs < 0) {
        // Keep only what lies after the start position.
        const int64_t skip = avutil().av_rescale(-ptsUs, rate, AV_TIME_BASE);
        if (skip >= frame->nb_samples) return;
        const AVSampleFormat fmt = AVSampleFormat(frame->format);
        const int bps = avutil().av_get_bytes_per_sample(fmt);
        const bool planar = avutil().av_sample_fmt_is_planar(fmt);
        const int channels = frame->ch_layout.nb_channels;
        const int planes = planar ? channels : 1;
        for (int p = 0; p < planes; ++p)
            frame->extended_data[p] += size_t(skip) * bps * (planar ? 1 : channels);
        frame->nb_samples -= int(skip);
        ptsUs = 0;
    }
    if (FSettings.AudioVolume != 256) {
        if (avutil().av_frame_make_writable(frame) < 0) throw FFmpegException("Out of memory in do_audio_out");
        ApplyVolume(*frame, FSettings.AudioVolume);
    }
    for (TOutputStream* ost : ist.Outputs)
        if (!ost->StreamCopy) WriteFrame(*ost, frame, ptsUs);
}

void TCustomFFmpeg::CopyPacket(TInputStream& ist, TOutputStream& ost, const AVPacket& pkt) {
    const AVMediaType type = ist.St->codecpar->codec_type;
    if (!ost.SeenKeyFrame && type == AVMEDIA_TYPE_VIDEO && !(pkt.flags & AV_PKT_FLAG_KEY) &&
        !FSettings.CopyInitialNonKeyframes)
        return;
    if (FOutputStart > 0) {
        const int64_t t = pkt.pts != AV_NOPTS_VALUE ? pkt.pts : pkt.dts;
        if (t != AV_NOPTS_VALUE && avutil().av_rescale_q(t, ist.St->time_base, AV_TIME_BASE_Q) < FOutputStart) return;
    }
    ost.SeenKeyFrame = true;
    if (ost.FrameCount >= ost.MaxFrames) return;
    PacketPtr copy(avcodec().av_packet_clone(&pkt));
    if (!copy) throw FFmpegException("Out of memory");
    if (FOutputStart > 0) {
        const int64_t shift = avutil().av_rescale_q(FOutputStart, AV_TIME_BASE_Q, ist.St->time_base);
        if (copy->pts != AV_NOPTS_VALUE) copy->pts -= shift;
        if (copy->dts != AV_NOPTS_VALUE) copy->dts -= shift;
    }
    if (type == AVMEDIA_TYPE_VIDEO)
        TRunServices::VideoBytes += pkt.size;
    else if (type == AVMEDIA_TYPE_AUDIO)
        TRunServices::AudioBytes += pkt.size;
    ++ost.FrameCount;
    WritePacket(ost, copy.get(), ist.St->time_base);
}
