#include "engine/AudioOutput.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/EngineSettings.h"
#include "engine/EngineText.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/SourceDamage.h"

namespace {
template <typename T, typename Wide>
void ScaleSamples(T* p, size_t n, int volume, Wide lo, Wide hi) {
    for (size_t i = 0; i < n; ++i) {
        Wide v = (Wide(p[i]) * volume + 128) >> 8;
        p[i] = T(std::clamp(v, lo, hi));
    }
}
template <typename T>
void ScaleFloats(T* p, size_t n, int volume) {
    const T f = T(volume) / T(256);
    for (size_t i = 0; i < n; ++i) p[i] = std::clamp(p[i] * f, T(-1), T(1));
}
bool LayoutListed(const AVChannelLayout* list, const AVChannelLayout& l) {
    for (; list && list->nb_channels; ++list)
        if (avutil().av_channel_layout_compare(list, &l) == 0) return true;
    return false;
}
}  // namespace

void TAudioOutput::ConfigureStage(const TStreamSetup& setup, TRunServices& run) {
    const TEngineSettings& s = setup.Settings;
    AVCodecContext* enc = MakeEncoder(setup, s.AudioCodecName, AV_OPT_FLAG_AUDIO_PARAM);
    const AVCodec* codec = EncCodec;
    if (s.AudioQScale > -99999.0f) {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = int(FF_QP2LAMBDA * s.AudioQScale);
    }
    const int channels = s.AudioChannels > 0 ? s.AudioChannels : 2;
    avutil().av_channel_layout_uninit(&enc->ch_layout);
    if (setup.InputLayout.nb_channels == channels && setup.InputLayout.order != AV_CHANNEL_ORDER_UNSPEC)
        avutil().av_channel_layout_copy(&enc->ch_layout, &setup.InputLayout);
    else
        avutil().av_channel_layout_default(&enc->ch_layout, channels);
    if (codec->ch_layouts && !LayoutListed(codec->ch_layouts, enc->ch_layout)) {
        // The encoder's own layout with the same number of channels, else the closest count.
        const AVChannelLayout* best = nullptr;
        for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l) {
            if (!best || std::abs(l->nb_channels - channels) < std::abs(best->nb_channels - channels)) best = l;
        }
        if (best) {
            avutil().av_channel_layout_uninit(&enc->ch_layout);
            avutil().av_channel_layout_copy(&enc->ch_layout, best);
        }
    }
    AVSampleFormat fmt = s.AudioSampleFmt >= 0 ? AVSampleFormat(s.AudioSampleFmt) : AV_SAMPLE_FMT_S16;
    if (codec->sample_fmts) {
        bool listed = false;
        for (const AVSampleFormat* p = codec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p) listed |= *p == fmt;
        // Opus codes in float: a float source is handed over as float, not cut to 16 bits first.
        if (!listed && std::strcmp(codec->name, "libopus") == 0 &&
            avutil().av_get_packed_sample_fmt(fmt) == AV_SAMPLE_FMT_FLT)
            fmt = AV_SAMPLE_FMT_FLT;
        else if (!listed)
            fmt = codec->sample_fmts[0];
    }
    enc->sample_fmt = fmt;
    int rate = s.AudioSampleRate > 0 ? s.AudioSampleRate : 44100;
    if (codec->supported_samplerates) {
        int best = 0;
        bool listed = false;
        for (const int* p = codec->supported_samplerates; *p; ++p) {
            if (*p == rate) listed = true;
            if (!best || std::abs(*p - rate) < std::abs(best - rate)) best = *p;
        }
        if (!listed && best) {
            run.Log(llWarning, Format("Requested sampling rate unsupported using closest supported (%d)", best));
            rate = best;
        }
    }
    enc->sample_rate = rate;
    enc->time_base = AVRational{1, rate};
    enc->thread_count = s.ThreadCount;
    if (setup.Output->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    PrivateOptions = Dictionary(setup.Generic.CodecPrivateOptions(AVMEDIA_TYPE_AUDIO));
    Cfg.SyncMethod = s.AudioSyncMethod;
    Cfg.DriftThreshold = s.AudioDriftThreshold;
}

void ApplyVolume(AVFrame& frame, int volume) {
    const AVSampleFormat fmt = AVSampleFormat(frame.format);
    const bool planar = avutil().av_sample_fmt_is_planar(fmt);
    const int channels = frame.ch_layout.nb_channels;
    const int planes = planar ? channels : 1;
    const size_t n = size_t(frame.nb_samples) * size_t(planar ? 1 : channels);
    for (int p = 0; p < planes; ++p) {
        uint8_t* d = frame.extended_data[p];
        switch (avutil().av_get_packed_sample_fmt(fmt)) {
            case AV_SAMPLE_FMT_S16:
                ScaleSamples<int16_t, int32_t>(reinterpret_cast<int16_t*>(d), n, volume, -32768, 32767);
                break;
            case AV_SAMPLE_FMT_S32:
                ScaleSamples<int32_t, int64_t>(reinterpret_cast<int32_t*>(d), n, volume, INT32_MIN, INT32_MAX);
                break;
            case AV_SAMPLE_FMT_FLT: ScaleFloats(reinterpret_cast<float*>(d), n, volume); break;
            case AV_SAMPLE_FMT_DBL: ScaleFloats(reinterpret_cast<double*>(d), n, volume); break;
            case AV_SAMPLE_FMT_U8:
                for (size_t i = 0; i < n; ++i) {
                    int v = (((int(d[i]) - 128) * volume + 128) >> 8) + 128;
                    d[i] = uint8_t(std::clamp(v, 0, 255));
                }
                break;
            default: break;
        }
    }
}

TAudioOutput::~TAudioOutput() {
    if (avutil().av_channel_layout_uninit) avutil().av_channel_layout_uninit(&FInLayout);
}

void TAudioOutput::Open(TInputStream& source, TRunServices& run) {
    OpenEncoder(PrivateOptions.Address(), run);
    int size = std::max(Enc->frame_size, 1024);
    FFifo.reset(avutil().av_audio_fifo_alloc(Enc->sample_fmt, Enc->ch_layout.nb_channels, size));
    if (!FFifo) throw FFmpegException("av_fifo_alloc fail");
}

void TAudioOutput::Configure(const AVFrame& frame, TRunServices& run) {
    if (FSwr && frame.format == FInFormat && frame.sample_rate == FInRate &&
        avutil().av_channel_layout_compare(&frame.ch_layout, &FInLayout) == 0)
        return;
    AVChannelLayout inLayout{};
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame.ch_layout.nb_channels <= 0)
        avutil().av_channel_layout_default(&inLayout, std::max(frame.ch_layout.nb_channels, 1));
    else
        avutil().av_channel_layout_copy(&inLayout, &frame.ch_layout);
    SwrContext* swr = nullptr;
    int r = swresample().swr_alloc_set_opts2(&swr, &Enc->ch_layout, Enc->sample_fmt, Enc->sample_rate, &inLayout,
                                             AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr);
    SwrPtr owner(swr);
    if (r >= 0 && Cfg.SyncMethod > 1) avutil().av_opt_set_int(swr, "async", 0, 0);  // compensation is ours
    if (r >= 0) r = swresample().swr_init(swr);
    avutil().av_channel_layout_uninit(&inLayout);
    if (r < 0)
        throw FFmpegException(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                     frame.ch_layout.nb_channels, frame.sample_rate, Enc->ch_layout.nb_channels,
                                     Enc->sample_rate));
    if (FSwr) {
        // Samples still inside the old converter belong before the new ones.
        Convert(nullptr, 0, run);
    }
    FSwr = std::move(owner);
    FInFormat = frame.format;
    FInRate = frame.sample_rate;
    avutil().av_channel_layout_uninit(&FInLayout);
    avutil().av_channel_layout_copy(&FInLayout, &frame.ch_layout);
}

void TAudioOutput::Convert(const uint8_t* const* in, int count, TRunServices& run) {
    int needed = swresample().swr_get_out_samples(FSwr.get(), count);
    if (needed <= 0) return;
    if (needed > FConvCapacity) {
        FConv.reset();
        FConvCapacity = 0;
        auto* planes = static_cast<uint8_t**>(avutil().av_mallocz(sizeof(uint8_t*) * AV_NUM_DATA_POINTERS));
        if (!planes) throw FFmpegException("Out of memory in do_audio_out");
        if (avutil().av_samples_alloc(planes, nullptr, Enc->ch_layout.nb_channels, needed, Enc->sample_fmt, 0) < 0) {
            avutil().av_free(planes);
            throw FFmpegException("Out of memory in do_audio_out");
        }
        FConv.reset(planes);
        FConvCapacity = needed;
    }
    int got = swresample().swr_convert(FSwr.get(), FConv.get(), FConvCapacity, const_cast<const uint8_t**>(in), count);
    if (got < 0) throw FFmpegException("av_audio_convert() failed");
    if (got > 0 && avutil().av_audio_fifo_write(FFifo.get(), reinterpret_cast<void**>(FConv.get()), got) < got)
        throw FFmpegException("av_fifo_realloc2() failed");
}

void TAudioOutput::Write(AVFrame* frame, int64_t ptsUs, TRunServices& run) {
    if (FFlushed) return;
    Configure(*frame, run);
    const int inRate = frame->sample_rate > 0 ? frame->sample_rate : Enc->sample_rate;
    const int outRate = Enc->sample_rate;
    const AVSampleFormat inFmt = AVSampleFormat(frame->format);
    const int inChannels = frame->ch_layout.nb_channels;
    const int bps = avutil().av_get_bytes_per_sample(inFmt);
    const bool planar = avutil().av_sample_fmt_is_planar(inFmt);
    int skip = 0;
    int count = frame->nb_samples;
    if (ptsUs == AV_NOPTS_VALUE) ptsUs = 0;
    // Cut what lies past the recording time.
    if (RecordingTimeUs != INT64_MAX) {
        int64_t allowed = avutil().av_rescale(RecordingTimeUs - ptsUs, inRate, AV_TIME_BASE);
        if (allowed <= 0) return;
        if (allowed < count) count = int(allowed);
    }
    const int fifoSamples = avutil().av_audio_fifo_size(FFifo.get());
    const double syncTime = double(ptsUs) / AV_TIME_BASE;
    if (Cfg.SyncMethod > 0) {
        double delta = syncTime * outRate - FLeap - double(SyncOpts) - fifoSamples;
        if (std::fabs(delta) > 50) {
            if (!FStarted || std::fabs(delta) > Cfg.DriftThreshold * outRate) {
                int64_t inSamples = std::llrint(delta * inRate / outRate);
                if (inSamples < 0) {
                    int drop = int(std::min<int64_t>(-inSamples, count));
                    if (run.Verbose() > 2) run.Log(llInfo, Format("discarding %d audio samples", drop));
                    skip = drop;
                    count -= drop;
                    if (count <= 0) {
                        FStarted = true;
                        return;
                    }
                } else if ((JumpLimit > 0 && delta > JumpLimit) ||
                           (syncTime - FLeap / outRate > ContentLimitSeconds(run.ReadContentUs))) {
                    LeapIsDamage(delta, outRate, run);
                } else {
                    if (run.Verbose() > 2) run.Log(llInfo, Format("adding %d audio samples of silence", int(inSamples)));
                    AddSilence(std::llrint(delta), run);
                }
            } else if (Cfg.SyncMethod >= 2) {
                int comp = int(std::clamp<int64_t>(std::llrint(delta), -Cfg.SyncMethod, Cfg.SyncMethod));
                if (run.Verbose() > 2)
                    run.Log(llInfo, Format("compensating audio timestamp drift:%f compensation:%d in:%d", delta, comp,
                                           frame->nb_samples));
                swresample().swr_set_compensation(FSwr.get(), comp, outRate);
            }
        }
    } else {
        // Follow the source's clock at the start and across gaps; never step back, which
        // the muxers refuse.
        int64_t target = std::llrint(syncTime * outRate - FLeap) - fifoSamples;
        if (!FStarted) {
            // Sound that begins after the picture is led in by silence: muxers that keep
            // no time stamps for sound (AVI, DV) would otherwise play it early, and DV
            // refuses frames whose sound is missing.
            SyncOpts = 0;
            // Nor longer than the source could be, nor past what the packets read so far hold.
            if ((JumpLimit > 0 && target > JumpLimit) ||
                double(target) / outRate > ContentLimitSeconds(run.ReadContentUs)) {
                LeapIsDamage(double(target), outRate, run);
                target = 0;
            }
            AddSilence(target, run);
        } else if (target - SyncOpts > outRate) {
            if (JumpLimit > 0 && target - SyncOpts > JumpLimit)
                LeapIsDamage(double(target - SyncOpts), outRate, run);
            else
                SyncOpts = target;
        }
    }
    FStarted = true;
    const uint8_t* in[AV_NUM_DATA_POINTERS] = {};
    const int planes = planar ? inChannels : 1;
    for (int p = 0; p < planes && p < AV_NUM_DATA_POINTERS; ++p)
        in[p] = frame->extended_data[p] + size_t(skip) * bps * (planar ? 1 : inChannels);
    if (planes > AV_NUM_DATA_POINTERS) throw FFmpegException("Buffer sizes too large in do_audio_out");
    Convert(in, count, run);
    EncodeFromFifo(false, run);
}

// A leap of the sound's time stamps longer than the source could be is damage: it is not
// filled with silence, and the sound goes on without a gap.
void TAudioOutput::LeapIsDamage(double samples, int rate, TRunServices& run) {
    run.Log(llWarning, Format("Output stream #%d.%d: the sound's time stamps leap %.1f s: taken as damage, the "
                              "sound goes on without a gap",
                              FileIndex, Index, samples / rate));
    FLeap += samples;
}

// Encoded as it is made: a long lead-in never waits whole in the FIFO.
void TAudioOutput::AddSilence(int64_t samples, TRunServices& run) {
    constexpr int64_t kChunk = 4096;
    while (samples > 0 && !run.StopRequested()) {
        const int n = int(std::min(samples, kChunk));
        FramePtr quiet(avutil().av_frame_alloc());
        quiet->nb_samples = n;
        quiet->format = Enc->sample_fmt;
        avutil().av_channel_layout_copy(&quiet->ch_layout, &Enc->ch_layout);
        if (avutil().av_frame_get_buffer(quiet.get(), 0) < 0) throw FFmpegException("Out of memory in do_audio_out");
        avutil().av_samples_set_silence(quiet->extended_data, 0, n, Enc->ch_layout.nb_channels, Enc->sample_fmt);
        if (avutil().av_audio_fifo_write(FFifo.get(), reinterpret_cast<void**>(quiet->extended_data), n) < n)
            throw FFmpegException("av_fifo_realloc2() failed");
        samples -= n;
        EncodeFromFifo(false, run);
    }
}

void TAudioOutput::EncodeFromFifo(bool final, TRunServices& run) {
    const bool variable = Enc->frame_size <= 1 || (EncCodec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const int frameSize = variable ? 4096 : Enc->frame_size;
    for (;;) {
        int available = avutil().av_audio_fifo_size(FFifo.get());
        if (available <= 0) break;
        if (available < frameSize && !variable && !final) break;
        if (MaxFrames <= FrameCount) break;
        int take = std::min(available, frameSize);
        FramePtr out(avutil().av_frame_alloc());
        const bool pad = take < frameSize && !variable && !(EncCodec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
        out->nb_samples = pad ? frameSize : take;
        out->format = Enc->sample_fmt;
        out->sample_rate = Enc->sample_rate;
        avutil().av_channel_layout_copy(&out->ch_layout, &Enc->ch_layout);
        if (avutil().av_frame_get_buffer(out.get(), 0) < 0) throw FFmpegException("Out of memory in do_audio_out");
        if (pad)
            avutil().av_samples_set_silence(out->extended_data, 0, out->nb_samples, Enc->ch_layout.nb_channels,
                                            Enc->sample_fmt);
        avutil().av_audio_fifo_read(FFifo.get(), reinterpret_cast<void**>(out->extended_data), take);
        out->pts = SyncOpts;
        SyncOpts += out->nb_samples;
        ++FrameCount;
        Encode(out.get(), run);
    }
}

void TAudioOutput::Flush(TRunServices& run) {
    if (FFlushed || !Opened) return;
    FFlushed = true;
    if (FSwr) Convert(nullptr, 0, run);
    EncodeFromFifo(true, run);
    Encode(nullptr, run);
}
