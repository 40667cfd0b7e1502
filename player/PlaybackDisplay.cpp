// The display side of a playback: the pacing thread, showing the picture that is due, the
// waveform of a file without pictures, and the position and end reports. Runs on the
// owner's display thread (Refresh, Redraw), except StartRefresh's pacing thread.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/FFUtils.h"
#include "player/PlaybackCore.h"

void TPlayback::StartRefresh(std::function<void()> postRefresh) {
    FRefreshThread = std::thread([this, post = std::move(postRefresh)] {
        while (!FCtx.Abort) {
            if (!FCtx.RefreshPending.exchange(true)) post();
            SleepMs(FShowWaves ? 20 : 5);
        }
    });
}

void TPlayback::ShowPicture(const std::shared_ptr<TFrameBitmap>& bitmap, double pts, bool blend) {
    if (blend && FSubtitles.Stream() >= 0) FSubtitles.Blend(*bitmap, pts);
    {
        std::lock_guard lock(FShownMutex);
        FShown = bitmap;
        FShownPts = pts;
    }
    FCtx.FirstShown = true;
    if (!FSink) return;
    TShownPicture shown;
    shown.Picture = bitmap;
    shown.Pts = pts;
    const double setting = FCtx.Host.AspectSetting();
    if (setting > 0) {
        shown.Aspect = setting;
    } else if (setting == 0) {
        AVRational sar = FInput->streams[FVideo.Stream()]->codecpar->sample_aspect_ratio;
        const double pixel = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
        shown.Aspect = bitmap->Height() > 0 ? pixel * bitmap->Width() / bitmap->Height() : 0;
    }
    shown.HasAudio = FCtx.HasAudio;
    if (shown.HasAudio) shown.AudioClock = FCtx.Clocks.Sound();
    FCtx.CountShown(std::fabs(pts - shown.AudioClock), shown.HasAudio && FCtx.Clocks.SoundValid());
    FSink->ShowPicture(shown);
}

void TPlayback::Refresh() {
    if (FVideo.TakePauseReport()) FCtx.Host.PlaybackState(psPause);
    if (FVideo.Stream() >= 0) {
        TQueuedPicture due;
        if (FVideo.Pictures().TakeDue(due)) ShowPicture(due.Bitmap, due.Pts, true);
    } else if (FAudio.Stream() >= 0 && FShowWaves) {
        DrawWaves();
    }
    CheckPositionAndEnd();
}

void TPlayback::Redraw() {
    std::shared_ptr<TFrameBitmap> shown;
    double pts;
    {
        std::lock_guard lock(FShownMutex);
        shown = FShown;
        pts = FShownPts;
    }
    if (!shown || !FSink) return;
    ShowPicture(shown, pts, false);  // its subtitles are in it already
}

void TPlayback::DrawWaves() {
    int w = FCtx.Host.ScreenWidth(), h = FCtx.Host.ScreenHeight();
    if (w <= 0 || h <= 0) w = 640, h = 480;
    if (!FWaves || FWaves.use_count() > 1) FWaves = std::make_shared<TFrameBitmap>();
    FWaves->Resize(w, h);
    std::memset(FWaves->Bits(), 0, std::size_t(FWaves->Stride()) * h);
    // The latest samples across the width, centred on the middle line.
    std::vector<std::int16_t> latest;
    FAudio.LatestSamples(latest, w);
    const int mid = h / 2;
    for (int x = 0; x < w; ++x) {
        const int s = latest[std::size_t(x)];
        const int y = std::clamp(mid - s * (h / 2) / 32768, 0, h - 1);
        const int y0 = std::min(mid, y), y1 = std::max(mid, y);
        for (int yy = y0; yy <= y1; ++yy) {
            std::uint8_t* px = FWaves->Row(yy) + x * 3;
            px[0] = px[1] = px[2] = 255;
        }
    }
    if (!FSink) return;
    TShownPicture shown;
    shown.Picture = FWaves;
    shown.Aspect = double(w) / h;
    shown.Pts = FCtx.Clocks.Sound();
    shown.AudioClock = shown.Pts;
    shown.HasAudio = true;
    FSink->ShowPicture(shown);
}

void TPlayback::CheckPositionAndEnd() {
    if (FImageSequence) return;
    const bool video = FVideo.Stream() >= 0;
    double t;
    if (video) {
        if (!FVideo.Pictures().ShownAny()) return;
        t = FCtx.Clocks.Picture();
    } else {
        t = FCtx.Clocks.Sound();
    }
    std::int64_t us = std::llround(t * 1000000.0) - FCtx.StartTime;
    if (!video && FAudio.Stream() >= 0) {
        const std::int64_t audioStart = std::llround(FAudio.StartTime() * 1000000.0) - FCtx.StartTime;
        if (us < audioStart) us = audioStart;
        if (FDuration > 0 && us > FDuration) us = FDuration;
    }
    // Sound alone: its clock stops with the last sample, which may fall short of the
    // container's length; once everything is played the position is the end.
    if (!video && FCtx.EndReached && FDuration > 0) us = FDuration;
    const bool atEnd = FDuration > 0 && us >= FDuration;
    if (atEnd) us = FDuration;
    FCurrentPosition = us;
    // Reports are 10 ms apart at least, but the end is always reported, however near.
    if (FCtx.Host.WantsPositions() && !FCtx.Paused &&
        (!FPositionReported || std::llabs(us - FLastReported) > 10000 || (atEnd && us != FLastReported))) {
        FPositionReported = true;
        FLastReported = us;
        FCtx.Host.PlaybackPosition(us);
    }
    if (!FCtx.CaptureDevice && FCtx.EndReached && !FCtx.EndReported) {
        if (video) {
            if (FVideo.Pictures().Count() > 0) return;  // the last pictures are still to be shown
            FCtx.EndReported = true;
        }
        FCtx.Host.PlaybackState(psEnd);
    }
}

std::shared_ptr<const TFrameBitmap> TPlayback::ShownPicture(std::int64_t* microseconds) const {
    std::lock_guard lock(FShownMutex);
    if (microseconds) *microseconds = FShown ? std::llround(FShownPts * 1000000.0) - FCtx.StartTime : -1;
    return FShown;
}
