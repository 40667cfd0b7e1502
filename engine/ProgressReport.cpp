// The progress report of a run: its line, its values, and the summary at the end.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "engine/FFUtils.h"
#include "engine/FFmpeg.h"

void TCustomFFmpeg::Report(bool last, int fileIndex) {
    auto& s = FSettings;
    const int64_t now = avutil().av_gettime_relative();
    FReport.LastReport = now;
    TEngineProgress info;
    info.FileIndex = last ? -1 : fileIndex;
    int64_t size = 0;
    std::unique_lock muxing(FMuxLock);  // the position moves while a stage writes
    if (!FOutputs.empty() && FOutputs[0]->Ctx && FOutputs[0]->Ctx->pb) {
        AVIOContext* pb = FOutputs[0]->Ctx->pb;
        size = avformat().avio_size(pb);
        if (size <= 0) size = avformat().avio_seek(pb, 0, SEEK_CUR);
        if (size < 0) size = 0;
    }
    muxing.unlock();
    std::string line;
    bool firstVideo = true;
    const double elapsed = double(now - FReport.StartTime) / AV_TIME_BASE;
    for (auto& ost : FOutputStreams) {
        if (ost->Type() != AVMEDIA_TYPE_VIDEO) continue;
        const double q = ost->LastQuality;
        if (firstVideo) {
            firstVideo = false;
            const int frames = int(ost->FrameCount);
            const int fps = elapsed >= 1.0 ? int(frames / elapsed + 0.5) : 0;
            info.FrameNumber = frames;
            info.FPS = fps;
            info.Quality = float(q);
            line += Format("frame=%5d fps=%3d q=%3.1f ", frames, fps, q < 0 ? -1.0 : q);
            if (last) line += "L";
            if (ost->Enc && (ost->Enc->flags & AV_CODEC_FLAG_PSNR)) {
                // Squared errors of the last frame against full-scale planes (chroma at half size).
                const double w = ost->Enc->width, h = ost->Enc->height;
                const double planes[3] = {w * h, w * h / 4, w * h / 4};
                auto psnr = [](double d) { return d > 0 ? -10.0 * std::log10(d) : 99.0; };
                double errorSum = 0, sizeSum = 0;
                line += "PSNR=";
                for (int j = 0; j < 3; ++j) {
                    const double e = double(ost->LastErrors[j]) / (planes[j] * 255.0 * 255.0);
                    errorSum += double(ost->LastErrors[j]);
                    sizeSum += planes[j];
                    line += Format("%c:%2.2f ", "YUV"[j], psnr(e));
                }
                line += Format("*:%2.2f ", psnr(errorSum / (sizeSum * 255.0 * 255.0)));
            }
        } else {
            line += Format("q=%2.1f ", q < 0 ? -1.0 : q);
        }
    }
    // How far the output has come: the stream furthest behind among those written to; none
    // yet (a run stopped at its start) is nowhere, not at the end.
    int64_t ti = INT64_MAX;
    for (auto& ost : FOutputStreams)
        if (ost->EndTimeUs > 0 && ost->EndTimeUs < ti) ti = ost->EndTimeUs;
    if (ti == INT64_MAX) ti = 0;
    const double seconds = std::max(double(ti) / AV_TIME_BASE, 0.01);
    const double bitrate = double(size) * 8 / seconds / 1000.0;
    line += Format("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", double(size) / 1024, seconds, bitrate);
    if (TRunServices::DupCount || TRunServices::DropCount)
        line += Format(" dup=%d drop=%d", int(TRunServices::DupCount), int(TRunServices::DropCount));
    info.BitRate = float(bitrate);
    info.CurrentSize = size;
    info.CurrentDuration = std::max<int64_t>(ti, 10000);
    info.TotalDuration = FJoin ? FTotalDuration : (s.RecordingTime != INT64_MAX ? s.RecordingTime : FTotalDuration);
    FReport.LastLine = line;
    if (OnProgress) {
        if (TRunServices::DupDropChanged && s.Verbose >= 0) Log(llVerbose, line);
        OnProgress(info, line);
    } else if (s.Verbose >= 0) {
        Log(llVerbose, line);
    }
    TRunServices::DupDropChanged = false;
    if (last && s.Verbose >= 0) {
        const double sum = double(TRunServices::VideoBytes + TRunServices::AudioBytes + TRunServices::ExtraBytes);
        const double overhead = sum > 0 ? (double(size) - sum) * 100.0 / sum : 0.0;
        Log(llInfo, Format("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%",
                           double(TRunServices::VideoBytes) / 1024, double(TRunServices::AudioBytes) / 1024,
                           double(TRunServices::ExtraBytes) / 1024, overhead));
    }
}
