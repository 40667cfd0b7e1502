#include "player/PictureConverter.h"

#include "engine/FFUtils.h"

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
    if (avfilter().avfilter_link(FIn, 0, FOut, 0) < 0) return false;
    if (avfilter().avfilter_graph_config(FGraph.get(), nullptr) < 0) return false;
    FWidth = frame.width;
    FHeight = frame.height;
    FFormat = frame.format;
    return true;
}

bool TPictureConverter::Push(AVFrame& decoded, AVRational timeBase, bool* unbuildable) {
    if (unbuildable) *unbuildable = false;
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

bool TPictureConverter::Pull(AVFrame& bgr) { return FGraph && avfilter().av_buffersink_get_frame(FOut, &bgr) >= 0; }

void TPictureConverter::Reset() {
    FGraph.reset();
    FIn = FOut = nullptr;
    FWidth = FHeight = 0;
    FFormat = -1;
}
