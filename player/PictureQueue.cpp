#include "player/PictureQueue.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double NoSyncThreshold = 10.0;  // seconds: beyond this the clocks are not compared
}

bool TPictureQueue::PassAfterSkip() {
    std::lock_guard lock(FMutex);
    FSkipCount += 1;
    if (FSkipCount < FSkipFactor) return false;
    FSkipCount -= std::max(1.0, FSkipFactor);
    return true;
}

std::shared_ptr<TFrameBitmap> TPictureQueue::FreeBitmap() {
    // A bitmap nobody else holds (the sink keeps the one on show until the next arrives).
    for (auto& b : FPool)
        if (b.use_count() == 1) return b;
    auto b = std::make_shared<TFrameBitmap>();
    if (FPool.size() < 8) FPool.push_back(b);
    return b;
}

std::shared_ptr<TFrameBitmap> TPictureQueue::WaitForRoom(const std::function<bool()>& stop) {
    std::unique_lock lock(FMutex);
    if (FCount >= Size && !FCtx.RefreshPending) FSkipFactor = std::max(FSkipFactor * 0.95, 0.95);
    FChanged.wait(lock, [&] { return FCount < Size || stop(); });
    if (stop()) return nullptr;
    return FreeBitmap();
}

double TPictureQueue::TargetClock(double pts) {
    double delay = pts - FLastPts;
    if (!FLastPtsSet || delay <= 0 || delay >= 10.0)
        delay = FLastDelay;
    else
        FLastDelay = delay;
    FLastPts = pts;
    FLastPtsSet = true;
    if (FCtx.HasAudio) {
        // Late against the sound: no wait; early: twice the wait.
        const double diff = FCtx.Clocks.PictureRunning() - FCtx.Clocks.Master(true);
        if (FShownAny && std::fabs(diff) < NoSyncThreshold) {
            const double threshold = std::max(delay, 0.01);
            if (diff <= -threshold)
                delay = 0;
            else if (diff >= threshold)
                delay = 2 * delay;
        }
    }
    FFrameTimer += delay;
    return FFrameTimer;
}

void TPictureQueue::Put(std::shared_ptr<TFrameBitmap> bitmap, double pts, std::int64_t pos, int serial) {
    std::lock_guard lock(FMutex);
    TQueuedPicture& slot = FSlots[FWrite];
    slot.Bitmap = std::move(bitmap);
    slot.Pts = pts;
    slot.Pos = pos;
    slot.Serial = serial;
    FLastQueuedPts = pts;
    slot.Target = TargetClock(pts);
    FWrite = (FWrite + 1) % Size;
    FCount++;
    FChanged.notify_all();
}

void TPictureQueue::Flush() {
    std::lock_guard lock(FMutex);
    for (TQueuedPicture& s : FSlots) s.Bitmap.reset();
    FCount = 0;
    FRead = FWrite;
    FFrameTimer = TPlaybackClocks::Now();
    FSkipFactor = 1;
    FSkipCount = 0;
    FLastPtsSet = false;
    FChanged.notify_all();
}

bool TPictureQueue::TakeDue(TQueuedPicture& shown) {
    std::lock_guard lock(FMutex);
    bool taken = false;
    while (FCount > 0) {
        TQueuedPicture& slot = FSlots[FRead];
        const double now = TPlaybackClocks::Now();
        const bool stale = slot.Serial != FCtx.Seek.Serial();
        const bool firstAfterSeek = FCtx.Seek.AfterSeek() && !stale;
        // Paused, the picture on show stays; but pictures from before a seek go at once, or
        // the decoder, waiting for room, would never reach the picture the seek landed on.
        if (FCtx.Paused && !stale && !firstAfterSeek && FShownAny) break;
        if (!stale && !firstAfterSeek && FShownAny && now < slot.Target) break;
        if (!stale) FCtx.Clocks.PictureAt(slot.Pts, now);
        const double nextTarget =
            FCount > 1 ? FSlots[(FRead + 1) % Size].Target : slot.Target + FLastQueuedPts - slot.Pts;
        bool drop = stale;
        // The first picture is shown whenever it comes: decoding starts late, not slowly.
        if (!drop && !firstAfterSeek && FShownAny && !FCtx.CaptureDevice && now > nextTarget) {
            FSkipFactor *= 1.05;
            drop = FCount > 1 || now > nextTarget + 0.5;
        }
        if (drop) {
            FCtx.CountDropped();
        } else {
            if (firstAfterSeek || !FShownAny) {
                // Shown at once: the pictures after it are timed from now, not from when
                // decoding began.
                const double shift = now - slot.Target;
                FFrameTimer += shift;
                if (FCount > 1) FSlots[(FRead + 1) % Size].Target += shift;
            }
            if (firstAfterSeek) FCtx.Seek.PictureShownAfterSeek();
            FShownAny = true;
            shown = slot;
            taken = true;
        }
        slot.Bitmap.reset();
        FRead = (FRead + 1) % Size;
        FCount--;
        FChanged.notify_all();
        if (!drop) break;  // one picture per refresh
    }
    return taken;
}

bool TPictureQueue::ShownAny() const {
    std::lock_guard lock(FMutex);
    return FShownAny;
}

void TPictureQueue::ShiftTimes(double shift) {
    std::lock_guard lock(FMutex);
    FFrameTimer += shift;
    // The queued pictures were timed before the pause.
    for (int i = 0; i < FCount; ++i) FSlots[(FRead + i) % Size].Target += shift;
}

int TPictureQueue::Count() const {
    std::lock_guard lock(FMutex);
    return FCount;
}

void TPictureQueue::Wake() {
    std::lock_guard lock(FMutex);
    FChanged.notify_all();
}

void TPictureQueue::Clear() {
    std::lock_guard lock(FMutex);
    FPool.clear();
    for (TQueuedPicture& s : FSlots) s.Bitmap.reset();
}
