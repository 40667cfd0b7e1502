#include "player/VideoDecoder.h"

#include <cmath>
#include <cstring>

#include "engine/FFUtils.h"

namespace {

void CopyIntoBitmap(const AVFrame& bgr, TFrameBitmap& bitmap) {
    bitmap.Resize(bgr.width, bgr.height);
    const std::size_t rowBytes = std::size_t(bgr.width) * 3;
    for (int y = 0; y < bgr.height; ++y)
        std::memcpy(bitmap.Row(y), bgr.data[0] + std::ptrdiff_t(y) * bgr.linesize[0], rowBytes);
}

}  // namespace

void TVideoDecoder::Start(int stream, CodecContextPtr codec) {
    FCodec = std::move(codec);
    FConverter.SetSource(*FCtx.Input->streams[stream], FCtx.PictureSwitches);
    FStream = stream;
    FCtx.HasVideo = true;
    FPackets.Start();
    FPackets.PutFlush(FCtx.Seek.Serial());
    FThread = std::thread([this] { Thread(); });
}

void TVideoDecoder::Stop() {
    if (FStream < 0) return;
    FPackets.Abort();
    FPictures.Wake();
    if (FThread.joinable()) FThread.join();
    FCodec.reset();
    FConverter.Reset();
    FPackets.Clear();
}

bool TVideoDecoder::WaitWhilePaused() {
    // Paused: decode nothing, except the first pictures of a playback that starts paused
    // and the picture a seek lands on.
    while (FCtx.Paused && !FCtx.Abort && !FPackets.Aborted() && !FCtx.Seek.AfterSeek() &&
           !(FCtx.StartPaused && FQueued < 2))
        SleepMs(10);
    return !FCtx.Abort && !FPackets.Aborted();
}

void TVideoDecoder::Thread() {
    FramePtr frame(avutil().av_frame_alloc());
    const double timeBase = StreamTimeBase(FCtx, FStream);
    for (;;) {
        WaitWhilePaused();
        PacketPtr packet;
        int serial = 0;
        const int got = FPackets.Get(packet, true, &serial);
        if (got < 0) break;
        if (got == 2) {
            avcodec().avcodec_flush_buffers(FCodec.get());
            // A deinterlacer would give the picture before the seek with the first after it.
            FConverter.Reset();
            FSerial = serial;
            FPictures.Flush();
            continue;
        }
        const bool drain = TPacketQueue::IsEmptyMark(packet.get());
        int err = avcodec().avcodec_send_packet(FCodec.get(), drain ? nullptr : packet.get());
        if (err < 0 && err != AVERROR_EOF && err != AVERROR(EAGAIN)) continue;
        while (avcodec().avcodec_receive_frame(FCodec.get(), frame.get()) >= 0) {
            if (FSerial != FCtx.Seek.Serial()) {
                // Decoded before a seek that has happened since: nobody will show it.
                avutil().av_frame_unref(frame.get());
                continue;
            }
            if (!Picture(*frame, timeBase)) break;
        }
        // At the end the last picture a deinterlacer holds is shown too.
        if (drain && FSerial == FCtx.Seek.Serial() && FConverter.Finish() && !PullPictures(timeBase, -1)) break;
        if (FPackets.Aborted()) break;
    }
}

bool TVideoDecoder::Picture(AVFrame& frame, double timeBase) {
    FCtx.EndReported = false;  // a new picture: the end may be reported again
    std::int64_t ts = frame.best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE) ts = frame.pkt_dts;
    const double pts = ts == AV_NOPTS_VALUE ? 0 : ts * timeBase;
    const std::int64_t pos = frame.pkt_pos;
    if (!FPictures.PassAfterSkip()) {
        FCtx.CountDropped();
        avutil().av_frame_unref(&frame);
        return true;
    }
    bool unbuildable = false;
    FConverter.SetPanel(FCtx.Host.ScreenWidth(), FCtx.Host.ScreenHeight());
    if (!FConverter.Push(frame, FCtx.Input->streams[FStream]->time_base, &unbuildable)) {
        if (unbuildable) FCtx.Log(llError, "Cannot initialize the toRGB conversion context");
        return true;
    }
    return PullPictures(timeBase, pos, ts, pts);
}

bool TVideoDecoder::PullPictures(double timeBase, std::int64_t pos, std::int64_t ts, double pts) {
    FramePtr bgr(avutil().av_frame_alloc());
    while (FConverter.Pull(*bgr)) {
        // A deinterlacer gives each picture a frame later: it keeps its own time.
        const bool own = bgr->pts != AV_NOPTS_VALUE && bgr->pts != ts;
        const bool queued = Queue(*bgr, own ? bgr->pts * timeBase : pts, pos);
        avutil().av_frame_unref(bgr.get());
        if (!queued) return false;
    }
    return true;
}

bool TVideoDecoder::Queue(const AVFrame& bgr, double pts, std::int64_t pos) {
    // A seek makes this picture worthless: stop waiting for room for it.
    auto stale = [this] { return FSerial != FCtx.Seek.Serial(); };
    std::shared_ptr<TFrameBitmap> bitmap =
        FPictures.WaitForRoom([&] { return FCtx.Abort || FPackets.Aborted() || stale(); });
    if (FCtx.Abort || FPackets.Aborted()) return false;
    if (!bitmap) return true;  // stale: the decoder goes on to the flush mark
    CopyIntoBitmap(bgr, *bitmap);
    if (FCtx.Host.WantsHook()) {
        const std::int64_t us = std::llround(pts * 1000000.0) - FCtx.StartTime;
        try {
            FCtx.Host.PlaybackHook(*bitmap, us);
        } catch (const std::exception& e) {
            FCtx.Log(llError, std::string("Error occurs OnHook: ") + e.what());
            CopyIntoBitmap(bgr, *bitmap);  // the picture as it was decoded
        } catch (...) {
            FCtx.Log(llError, "Error occurs OnHook: unknown error");
            CopyIntoBitmap(bgr, *bitmap);
        }
    }
    if (stale()) return true;
    FPictures.Put(std::move(bitmap), pts, pos, FSerial);
    // Reported by the display thread, after it has reported that it plays.
    if (++FQueued == 2 && FCtx.StartPaused && !FPauseReportDone.exchange(true)) FPauseReportDue = true;
    FCtx.Seek.PictureReady.Set();
    return true;
}
