#include "engine/VideoOutput.h"

#include <cmath>
#include <mutex>

#include "engine/CodecLock.h"
#include "engine/EngineText.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"

namespace {
struct InOutFree {
    void operator()(AVFilterInOut* p) const { avfilter().avfilter_inout_free(&p); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutFree>;

int Even(int v) { return v & ~1; }
}  // namespace

TVideoOutput::~TVideoOutput() {
    if (PrivateOptions) avutil().av_dict_free(&PrivateOptions);
}

void TVideoOutput::BuildGraph(int width, int height, int format, AVRational sar) {
    FGraph.reset(avfilter().avfilter_graph_alloc());
    if (!FGraph) throw FFmpegException("Error opening filters!");
    FGraph->scale_sws_opts = avutil().av_strdup(Format("flags=0x%X", unsigned(Cfg.ScalerFlags)).c_str());
    FGraph->nb_threads = 1;  // the few filters here are cheap; the codecs have the cores

    if (sar.num <= 0 || sar.den <= 0) sar = AVRational{0, 1};
    std::string args = Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", width, height, format,
                              AV_TIME_BASE, sar.num, sar.den);
    int r = avfilter().avfilter_graph_create_filter(&FSource, avfilter().avfilter_get_by_name("buffer"), "src",
                                                     args.c_str(), nullptr, FGraph.get());
    if (r < 0) throw FFmpegException("Error opening filters: " + EngineErrorMessage(r));
    r = avfilter().avfilter_graph_create_filter(&FSink, avfilter().avfilter_get_by_name("buffersink"),
                                                 "ffmpeg_output", nullptr, nullptr, FGraph.get());
    if (r < 0) throw FFmpegException("Error opening filters: " + EngineErrorMessage(r));

    std::string chain;
    auto add = [&](const std::string& f) {
        if (!chain.empty()) chain += ',';
        chain += f;
    };
    const bool crop = Cfg.TopBand || Cfg.BottomBand || Cfg.LeftBand || Cfg.RightBand;
    int cw = width - Cfg.LeftBand - Cfg.RightBand;
    int ch = height - Cfg.TopBand - Cfg.BottomBand;
    if (cw <= 0 || ch <= 0) throw FFmpegException("Error opening filters: the crop bands leave no picture");
    if (crop) add(Format("crop=%d:%d:%d:%d", cw, ch, Cfg.LeftBand, Cfg.TopBand));
    int ew = Enc->width > 0 ? Enc->width : cw;
    int eh = Enc->height > 0 ? Enc->height : ch;
    if (ew != cw || eh != ch) add(Format("scale=%d:%d", ew, eh));
    if (!Cfg.Filters.empty()) add(Cfg.Filters);
    // Once the encoder is open its size is fixed: whatever the chain makes is brought to
    // it (the scaler passes frames of the right size through untouched).
    if (Opened) add(Format("scale=%d:%d", Enc->width, Enc->height));
    const char* fmtName = avutil().av_get_pix_fmt_name(Enc->pix_fmt);
    add(Format("format=pix_fmts=%s", fmtName ? fmtName : "yuv420p"));

    InOutPtr outputs(avfilter().avfilter_inout_alloc());
    InOutPtr inputs(avfilter().avfilter_inout_alloc());
    if (!outputs || !inputs) throw FFmpegException("Error opening filters!");
    outputs->name = avutil().av_strdup("in");
    outputs->filter_ctx = FSource;
    outputs->pad_idx = 0;
    outputs->next = nullptr;
    inputs->name = avutil().av_strdup("out");
    inputs->filter_ctx = FSink;
    inputs->pad_idx = 0;
    inputs->next = nullptr;
    AVFilterInOut* in = inputs.release();
    AVFilterInOut* out = outputs.release();
    r = avfilter().avfilter_graph_parse_ptr(FGraph.get(), chain.c_str(), &in, &out, nullptr);
    avfilter().avfilter_inout_free(&in);
    avfilter().avfilter_inout_free(&out);
    if (r < 0) throw FFmpegException("Error opening filters: " + EngineErrorMessage(r));
    r = avfilter().avfilter_graph_config(FGraph.get(), nullptr);
    if (r < 0) throw FFmpegException("Error opening filters: " + EngineErrorMessage(r));
    FInWidth = width;
    FInHeight = height;
    FInFormat = format;
}

void TVideoOutput::Open(TInputStream& source, TRunServices& run) {
    FSourceName = Format("#%d.%d", source.FileIndex, source.StreamIndex);
    const AVCodecParameters* par = source.St->codecpar;
    if (Enc->pix_fmt == AV_PIX_FMT_NONE) throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
    if (par->width > 0 && par->height > 0 && par->format >= 0) {
        const int askedWidth = Enc->width, askedHeight = Enc->height;
        BuildGraph(par->width, par->height, par->format, par->sample_aspect_ratio);
        Enc->width = avfilter().av_buffersink_get_w(FSink);
        Enc->height = avfilter().av_buffersink_get_h(FSink);
        // DV's sampling is part of its profile, known once the final size is: 525-line DV
        // at 25 Mbit/s is 4:1:1.
        if (Enc->codec_id == AV_CODEC_ID_DVVIDEO && Enc->height == 480 && Enc->pix_fmt == AV_PIX_FMT_YUV420P) {
            Enc->pix_fmt = AV_PIX_FMT_YUV411P;
            Enc->width = askedWidth;
            Enc->height = askedHeight;
            BuildGraph(par->width, par->height, par->format, par->sample_aspect_ratio);
            Enc->width = avfilter().av_buffersink_get_w(FSink);
            Enc->height = avfilter().av_buffersink_get_h(FSink);
        }
        if (Cfg.AspectOfFinalSize > 0 && Enc->width > 0 && Enc->height > 0)
            Enc->sample_aspect_ratio =
                avutil().av_d2q(Cfg.AspectOfFinalSize * Enc->height / Enc->width, 255);
    } else if (Enc->width <= 0 || Enc->height <= 0) {
        Enc->width = par->width;
        Enc->height = par->height;
    }
    if (Enc->width <= 0 || Enc->height <= 0)
        throw FFmpegException(Format("Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect "
                                     "parameters such as bit_rate, rate, width or height. Please check error log "
                                     "message to find out more detail information.",
                                     FileIndex, Index, EngineCodecName(Enc.get()).c_str()));
    if (Enc->rc_buffer_size > 0 && Enc->rc_initial_buffer_occupancy <= 0)
        Enc->rc_initial_buffer_occupancy = Enc->rc_buffer_size * 3 / 4;
    if (Cfg.TopFieldFirst >= 0) Enc->field_order = Cfg.TopFieldFirst ? AV_FIELD_TT : AV_FIELD_BB;
    FFiltered.reset(avutil().av_frame_alloc());
    if (Enc->framerate.num <= 0) Enc->framerate = av_inv_q(Enc->time_base);
    OpenEncoder(&PrivateOptions, run);
}

void TVideoOutput::Write(AVFrame* frame, int64_t ptsUs, TRunServices& run) {
    if (!FGraph || frame->width != FInWidth || frame->height != FInHeight || frame->format != FInFormat) {
        if (FGraph) {
            const char* name = avutil().av_get_pix_fmt_name(AVPixelFormat(frame->format));
            run.Log(llInfo, Format("Input Stream %s frame size changed to %dx%d, %s", FSourceName.c_str(), frame->width,
                                   frame->height, name ? name : "?"));
            Drain(run);
            // Bands keep their share of the picture.
            if (FInWidth > 0 && FInHeight > 0) {
                Cfg.TopBand = Even(Cfg.TopBand * frame->height / FInHeight);
                Cfg.BottomBand = Even(Cfg.BottomBand * frame->height / FInHeight);
                Cfg.LeftBand = Even(Cfg.LeftBand * frame->width / FInWidth);
                Cfg.RightBand = Even(Cfg.RightBand * frame->width / FInWidth);
            }
        }
        BuildGraph(frame->width, frame->height, frame->format, frame->sample_aspect_ratio);
    }
    const int64_t saved = frame->pts;
    frame->pts = ptsUs;
    int r = avfilter().av_buffersrc_add_frame_flags(FSource, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
    frame->pts = saved;
    if (r < 0) throw FFmpegException("Error while filtering: " + EngineErrorMessage(r));
    Drain(run);
}

void TVideoOutput::Drain(TRunServices& run) {
    if (!FSink) return;
    const AVRational tb = avfilter().av_buffersink_get_time_base(FSink);
    for (;;) {
        int r = avfilter().av_buffersink_get_frame(FSink, FFiltered.get());
        if (r < 0) break;
        int64_t pts = FFiltered->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                                         : avutil().av_rescale_q(FFiltered->pts, tb, AV_TIME_BASE_Q);
        Output(FFiltered.get(), pts, run);
        avutil().av_frame_unref(FFiltered.get());
    }
}

void TVideoOutput::Output(AVFrame* frame, int64_t ptsUs, TRunServices& run) {
    if (ptsUs != AV_NOPTS_VALUE && ptsUs >= Cfg.RecordingTimeUs) return;
    const double syncIpts =
        ptsUs == AV_NOPTS_VALUE ? double(SyncOpts) : double(ptsUs) / AV_TIME_BASE / av_q2d(Enc->time_base);
    int64_t count = 1;
    if (Cfg.SyncMethod != 0) {
        const double delta = syncIpts - double(SyncOpts);
        if (delta < -1.1) {
            count = 0;
        } else if (Cfg.SyncMethod == 2 || (Cfg.SyncMethod == -1 && Cfg.VariableFps)) {
            if (delta <= -0.6)
                count = 0;
            else if (delta > 0.6)
                SyncOpts = std::llrint(syncIpts);
        } else if (delta > 1.1) {
            count = std::llrint(delta);
        }
        if (count == 0) {
            ++run.DropCount;
            run.DupDropChanged = true;
            if (run.Verbose() > 2) run.Log(llInfo, "*** drop!");
        } else if (count > 1) {
            run.DupCount += count - 1;
            run.DupDropChanged = true;
            if (run.Verbose() > 2) run.Log(llInfo, Format("*** %d dup!", int(count - 1)));
        }
    } else {
        SyncOpts = std::llrint(syncIpts);
    }
    if (MaxFrames - FrameCount < count) count = MaxFrames - FrameCount;
    for (int64_t i = 0; i < count; ++i) {
        if (run.StopRequested()) break;
        frame->pts = SyncOpts;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (Enc->flags & AV_CODEC_FLAG_QSCALE) frame->quality = Enc->global_quality;
        if (Cfg.TopFieldFirst >= 0) {
            frame->top_field_first = Cfg.TopFieldFirst;
        }
        run.VideoFrameToEncode(*frame, ptsUs);
        Encode(frame, run);
        ++SyncOpts;
        ++FrameCount;
    }
}

void TVideoOutput::Flush(TRunServices& run) {
    if (FFlushed || !Enc || !Opened) return;
    FFlushed = true;
    if (FSource) {
        avfilter().av_buffersrc_add_frame_flags(FSource, nullptr, 0);
        Drain(run);
    }
    Encode(nullptr, run);
}
