#pragma once
// The small pieces of a run's state, each with one job: stop and pause requests, the frame
// hook, the preview, the video statistics file and the progress report's clock. All but
// TRunControl live on the thread of the run.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "engine/AVHandles.h"
#include "engine/FrameBitmap.h"

class TOutputStream;

// Stop and pause requests: asked for from any thread, seen by the run.
class TRunControl {
public:
    void RequestStop();
    void Pause();
    void Resume();
    // True when the run must stop; waits here while paused.
    bool StopRequested();
    bool Stopping() const { return FStop; }
    void ClearStop() { FStop = false; }

private:
    std::atomic<bool> FStop{false};
    std::atomic<bool> FPaused{false};
    std::mutex FLock;
    std::condition_variable FChanged;
};

// The frame hook: Bitmap holds the decoded frame; leave Update true to have the bitmap
// put back into the frame; set StopHook to stop the calls for the rest of the run.
using TEngineHook = std::function<void(TFrameBitmap& Bitmap, bool& Update, bool& StopHook, int64_t PTS,
                                       int FrameNumber)>;
using TEnginePreview = std::function<void(const TFrameBitmap& Bitmap, int64_t PTS, int FrameNumber)>;
using TRunLog = std::function<void(const std::string& error)>;

// The caller's frame hook: each decoded picture as a BGR bitmap, put back when changed.
class TFrameHookStage {
public:
    void Start(bool on) { FOn = on; }
    bool On() const { return FOn; }
    // Runs the hook on frame; a failure to convert turns the hook off for the run.
    void Run(AVFrame* frame, int64_t ptsUs, int frameNumber, const TEngineHook& hook, const TRunLog& error);
    void Release();

private:
    bool ToBitmap(const AVFrame& frame, bool direct, const TRunLog& error);
    bool FromBitmap(AVFrame* frame, bool direct, const TRunLog& error);

    TFrameBitmap FBitmap;
    SwsPtr FToRGB, FFromRGB;
    bool FOn = false;
};

// The preview: at most ten pictures a second of what goes to the encoder.
class TPreviewStage {
public:
    void Offer(const AVFrame& frame, int64_t ptsUs, int frameNumber, const TEnginePreview& preview);
    // The picture goes too: a finished task waiting to be cleared keeps nothing of its run.
    void Release() {
        FToRGB.reset();
        FBitmap = TFrameBitmap();
        FLast = 0;
    }

private:
    TFrameBitmap FBitmap;
    SwsPtr FToRGB;
    int64_t FLast = 0;
};

// The "vstats" file: one line per encoded video frame, opened with the first.
class TVStatsFile {
public:
    void Write(const std::string& fileName, const TOutputStream& ost, const AVPacket& pkt, int64_t videoBytes);
    void Close() { FFile.reset(); }

private:
    FilePtr FFile;
};

// When the run started and was last reported, and the last report line.
struct TRunReport {
    int64_t StartTime = 0;
    int64_t LastReport = 0;
    std::string LastLine;
    void Start(int64_t now) { StartTime = LastReport = now; }
    bool Due(int64_t now, int64_t interval) const { return now - LastReport > interval; }
};
