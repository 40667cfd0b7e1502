#include "player/PictureConverter.h"

#include "engine/FFUtils.h"

void TPictureConverter::SetSource(const AVStream& stream, const TSourcePictureSwitches& switches) {
    FPlan = PlanSourcePicture(stream, switches, false, false);
    FDeinterlacing = false;
}

bool TPictureConverter::BuildGraph(const AVFrame& frame, AVRational timeBase) {
    FGraph.reset(avfilter().avfilter_graph_alloc());
    FIn = FOut = nullptr;
    if (!FGraph) return false;
    FGraph->scale_sws_opts = avutil().av_strdup(Format("flags=%d", SWS_BICUBIC).c_str());
    FGraph->nb_threads = 1;
    AVRational sar = frame.sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) sar = AVRational{0, 1};
    const std::string args = Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", frame.width,
                                    frame.height, frame.format, timeBase.num, timeBase.den, sar.num,
                                    sar.den ? sar.den : 1);
    if (avfilter().avfilter_graph_create_filter(&FIn, avfilter().avfilter_get_by_name("buffer"), "src",
                                                args.c_str(), nullptr, FGraph.get()) < 0)
        return false;
    if (avfilter().avfilter_graph_create_filter(&FOut, avfilter().avfilter_get_by_name("buffersink"), "out",
                                                nullptr, nullptr, FGraph.get()) < 0)
        return false;
    const AVPixelFormat formats[] = {AV_PIX_FMT_BGR24};
    if (avutil().av_opt_set_bin(FOut, "pix_fmts", reinterpret_cast<const std::uint8_t*>(formats), sizeof formats,
                                AV_OPT_SEARCH_CHILDREN) < 0)
        return false;
    // The source's own steps, made upright last: the panel is fitted in the coded picture's
    // sides.
    const bool swaps = FPlan.Orientation.SwapsSides();
    const std::string chain = SourcePictureFilters(
        FPlan, FDeinterlacing, frame.color_trc, frame.color_primaries, frame.colorspace, frame.color_range,
        swaps ? FPanelHeight : FPanelWidth, swaps ? FPanelWidth : FPanelHeight, frame.width, frame.height);
    FOwnChain = !chain.empty();
    if (!FOwnChain) {
        if (avfilter().avfilter_link(FIn, 0, FOut, 0) < 0) return false;
    } else {
        if (LinkFilterChain(*FGraph, FIn, FOut, chain) < 0) return false;
    }
    if (avfilter().avfilter_graph_config(FGraph.get(), nullptr) < 0) return false;
    FTimeBase = timeBase;
    FWidth = frame.width;
    FHeight = frame.height;
    FFormat = frame.format;
    return true;
}

bool TPictureConverter::Push(AVFrame& decoded, AVRational timeBase, bool* unbuildable) {
    if (unbuildable) *unbuildable = false;
    if (FFinished) Reset();
    // Deinterlacing starts with the first picture flagged interlaced and then stays.
    const bool deinterlace = FPlan.DeinterlaceAllowed && (FDeinterlacing || decoded.interlaced_frame);
    if (deinterlace != FDeinterlacing) {
        FDeinterlacing = deinterlace;
        FGraph.reset();
    }
    if (FOwnChain || FPlan.Orientation.Any() || FPlan.ToneMap || deinterlace)
        if (decoded.best_effort_timestamp != AV_NOPTS_VALUE) decoded.pts = decoded.best_effort_timestamp;
    if (!FGraph || decoded.width != FWidth || decoded.height != FHeight || decoded.format != FFormat) {
        if (!BuildGraph(decoded, timeBase)) {
            FGraph.reset();
            if (unbuildable) *unbuildable = true;
            avutil().av_frame_unref(&decoded);
            return false;
        }
    }
    // The buffer source takes the frame's references.
    if (avfilter().av_buffersrc_add_frame(FIn, &decoded) < 0) {
        avutil().av_frame_unref(&decoded);
        return false;
    }
    return true;
}

bool TPictureConverter::Pull(AVFrame& bgr) {
    if (!FGraph) return false;
    if (avfilter().av_buffersink_get_frame(FOut, &bgr) < 0) {
        if (FFinished) Reset();  // ended: a graph that took its end takes no more pictures
        return false;
    }
    // A deinterlacer counts in half the time base: times go back to the stream's.
    const AVRational tb = avfilter().av_buffersink_get_time_base(FOut);
    if (FOwnChain && bgr.pts != AV_NOPTS_VALUE && av_cmp_q(tb, FTimeBase) != 0)
        bgr.pts = avutil().av_rescale_q(bgr.pts, tb, FTimeBase);
    return true;
}

bool TPictureConverter::Finish() {
    if (!FGraph || !FDeinterlacing) return false;
    if (avfilter().av_buffersrc_add_frame(FIn, nullptr) < 0) return false;
    FFinished = true;
    return true;
}

void TPictureConverter::Reset() {
    FGraph.reset();
    FIn = FOut = nullptr;
    FWidth = FHeight = 0;
    FFormat = -1;
    FDeinterlacing = false;
    FOwnChain = false;
    FFinished = false;
}
