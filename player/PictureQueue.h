#pragma once
// The two pictures between the video decoding thread and the display, with what times them:
// the frame timer, the last frame's delay, and the skip factor that thins decoding out when
// the display falls behind.
//
// Thread rules: the video decoding thread puts (PassAfterSkip, WaitForRoom, Put, Flush);
// the display thread takes (TakeDue); ShiftTimes comes from the owner's thread on resuming;
// Wake and Clear from the read thread when the stream closes. Everything is under the
// queue's own lock, which is held around calls into the clocks and the seek state (never
// the other way round) and never while waiting for anything but room in the queue.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/FrameBitmap.h"
#include "player/PlaybackContext.h"

struct TQueuedPicture {
    std::shared_ptr<TFrameBitmap> Bitmap;
    double Pts = 0;     // seconds
    double Target = 0;  // wall clock at which it is due
    std::int64_t Pos = -1;
    int Serial = 0;     // of the flush mark the decoder took last
};

class TPictureQueue {
public:
    static constexpr int Size = 2;

    explicit TPictureQueue(TPlaybackContext& ctx) : FCtx(ctx) {}

    // Video thread. Whether the decoded picture is kept (the skip factor thins them out).
    bool PassAfterSkip();
    // Waits until a slot is free or stop() says to give up (null then); a bitmap to fill.
    std::shared_ptr<TFrameBitmap> WaitForRoom(const std::function<bool()>& stop);
    void Put(std::shared_ptr<TFrameBitmap> bitmap, double pts, std::int64_t pos, int serial);
    // A flush mark: the queued pictures go, the timing starts again from now.
    void Flush();

    // Display thread. The picture due now, if any: late pictures and those of an earlier
    // seek are dropped on the way (and counted).
    bool TakeDue(TQueuedPicture& shown);
    bool ShownAny() const;

    // Resuming after a pause: the wall clock moved on by shift.
    void ShiftTimes(double shift);
    int Count() const;
    void Wake();   // re-check what is waited for (a seek, an abort)
    void Clear();  // frees the bitmaps

private:
    double TargetClock(double pts);  // under FMutex
    std::shared_ptr<TFrameBitmap> FreeBitmap();

    TPlaybackContext& FCtx;
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    TQueuedPicture FSlots[Size];
    int FRead = 0, FWrite = 0, FCount = 0;
    std::vector<std::shared_ptr<TFrameBitmap>> FPool;
    double FFrameTimer = 0, FLastDelay = 0.04, FLastPts = 0;
    bool FLastPtsSet = false;
    double FLastQueuedPts = 0;  // the video clock
    double FSkipFactor = 1, FSkipCount = 0;
    bool FShownAny = false;
};
