#include "engine/RunState.h"

#include <algorithm>
#include <cstring>

#include "engine/EngineStreams.h"
#include "engine/FFmpegException.h"

// ---------------------------------------------------------------- stop and pause

bool TRunControl::StopRequested() {
    if (FPaused) {
        std::unique_lock lock(FLock);
        FChanged.wait(lock, [&] { return !FPaused || FStop; });
    }
    return FStop;
}

void TRunControl::RequestStop() {
    FStop = true;
    Resume();
}

void TRunControl::Pause() {
    std::lock_guard lock(FLock);
    FPaused = true;
}

void TRunControl::Resume() {
    {
        std::lock_guard lock(FLock);
        FPaused = false;
    }
    FChanged.notify_all();
}

// ---------------------------------------------------------------- frame hook

bool TFrameHookStage::ToBitmap(const AVFrame& frame, bool direct, const TRunLog& error) {
    const int w = frame.width, h = frame.height;
    if (direct) {
        for (int y = 0; y < h; ++y) std::memcpy(FBitmap.Row(y), frame.data[0] + y * frame.linesize[0], size_t(w) * 3);
        return true;
    }
    SwsContext* c = swscale().sws_getCachedContext(FToRGB.release(), w, h, AVPixelFormat(frame.format), w, h,
                                                   AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    FToRGB.reset(c);
    if (!c) {
        error("Cannot initialize the toRGB conversion context");
        return false;
    }
    uint8_t* dst[4] = {FBitmap.Bits(), nullptr, nullptr, nullptr};
    int stride[4] = {FBitmap.Stride(), 0, 0, 0};
    swscale().sws_scale(c, frame.data, frame.linesize, 0, h, dst, stride);
    return true;
}

bool TFrameHookStage::FromBitmap(AVFrame* frame, bool direct, const TRunLog& error) {
    const int w = frame->width, h = frame->height;
    if (avutil().av_frame_make_writable(frame) < 0) return false;
    if (direct) {
        for (int y = 0; y < h; ++y) std::memcpy(frame->data[0] + y * frame->linesize[0], FBitmap.Row(y), size_t(w) * 3);
        return true;
    }
    SwsContext* c = swscale().sws_getCachedContext(FFromRGB.release(), w, h, AV_PIX_FMT_BGR24, w, h,
                                                   AVPixelFormat(frame->format), SWS_BICUBIC, nullptr, nullptr, nullptr);
    FFromRGB.reset(c);
    if (!c) {
        error("Cannot initialize the fromRGB conversion context");
        return false;
    }
    const uint8_t* src[4] = {FBitmap.Bits(), nullptr, nullptr, nullptr};
    int stride[4] = {FBitmap.Stride(), 0, 0, 0};
    swscale().sws_scale(c, src, stride, 0, h, frame->data, frame->linesize);
    return true;
}

void TFrameHookStage::Run(AVFrame* frame, int64_t ptsUs, int frameNumber, const TEngineHook& hook,
                          const TRunLog& error) {
    const int w = frame->width, h = frame->height;
    FBitmap.Resize(w, h);
    // A BGR picture of even size in the bitmap's own layout is copied, not converted.
    const bool direct =
        frame->format == AV_PIX_FMT_BGR24 && !(w & 1) && !(h & 1) && frame->linesize[0] == FBitmap.Stride();
    if (!ToBitmap(*frame, direct, error)) {
        FOn = false;
        return;
    }
    bool update = true, stop = false;
    try {
        hook(FBitmap, update, stop, ptsUs, frameNumber);
    } catch (const std::exception& e) {
        error(std::string("Error occurs OnCustomHook: ") + e.what());
        update = false;
    }
    if (update && !FromBitmap(frame, direct, error)) {
        FOn = false;
        return;
    }
    if (stop) FOn = false;
}

void TFrameHookStage::Release() {
    FToRGB.reset();
    FFromRGB.reset();
    FBitmap = TFrameBitmap();
}

// ---------------------------------------------------------------- preview

void TPreviewStage::Offer(const AVFrame& frame, int64_t ptsUs, int frameNumber, const TEnginePreview& preview) {
    const int64_t now = avutil().av_gettime_relative();
    if (FLast && now - FLast < 100000) return;
    FLast = now;
    FBitmap.Resize(frame.width, frame.height);
    SwsContext* c = swscale().sws_getCachedContext(FToRGB.release(), frame.width, frame.height,
                                                   AVPixelFormat(frame.format), frame.width, frame.height,
                                                   AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    FToRGB.reset(c);
    if (!c) return;
    uint8_t* dst[4] = {FBitmap.Bits(), nullptr, nullptr, nullptr};
    int stride[4] = {FBitmap.Stride(), 0, 0, 0};
    swscale().sws_scale(c, frame.data, frame.linesize, 0, frame.height, dst, stride);
    preview(FBitmap, ptsUs, frameNumber);
}

// ---------------------------------------------------------------- vstats

void TVStatsFile::Write(const std::string& fileName, const TOutputStream& ost, const AVPacket& pkt,
                        int64_t videoBytes) {
    if (!FFile) {
        FFile.reset(std::fopen(fileName.c_str(), "w"));
        if (!FFile) throw FFmpegException("fopen fail: " + fileName);
    }
    std::FILE* f = FFile.get();
    const double q = std::max(ost.LastQuality.load(), 0.0);
    std::fprintf(f, "frame= %5d q= %2.1f ", int(ost.FrameCount + 1), q);
    const double tb = av_q2d(ost.Enc->time_base);
    const double ti = std::max(double(ost.SyncOpts) * tb, 0.01);
    const double bitrate = double(pkt.size) * 8 / tb / 1000.0;
    const double avg = double(videoBytes) * 8 / ti / 1000.0;
    std::fprintf(f, "f_size= %6d ", pkt.size);
    std::fprintf(f, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ", double(videoBytes) / 1024,
                 ti, bitrate, avg);
    size_t sideSize = 0;
    const uint8_t* side = avcodec().av_packet_get_side_data(&pkt, AV_PKT_DATA_QUALITY_STATS, &sideSize);
    AVPictureType type = side && sideSize >= 5 ? AVPictureType(side[4]) : AV_PICTURE_TYPE_NONE;
    std::fprintf(f, "type= %c\n", avutil().av_get_picture_type_char(type));
}
