#pragma once
// One playback of one file. Its parts, each with one job:
//   reading      this class's read thread: opens the input, chooses and opens the streams,
//                fills the packet queues (PacketQueue), performs seeks;
//   pictures     VideoDecoder (decoding thread, PictureConverter, hook, PictureQueue);
//   sound        SoundOutput (SDL's callback: decoding, resampling, the sound clock);
//   subtitles    SubtitleDecoder;
//   clocks       PlaybackClock; seeking: SeekControl (the protocol is in player/README.md);
//   display      this class's Refresh, called by the owner's display thread to show the
//                picture that is due and to report the position and the end.
// The sound is the master clock; the pictures follow it.
//
// Thread rules: Start, the queries and TogglePause, RequestSeek, MasterClock, ShownPicture
// and Statistics from the owner's thread (any thread, in fact: each takes what lock it
// needs); Refresh, RefreshDone and Redraw from the owner's one display thread; Close from
// the owner's threads but never from a thread of the playback. No lock of the playback is
// held while it calls the host or the sink.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/AVHandles.h"
#include "engine/FrameBitmap.h"
#include "player/SoundOutput.h"
#include "player/PlaybackContext.h"
#include "player/SubtitleDecoder.h"
#include "player/VideoDecoder.h"
#include "player/VideoSink.h"

struct TPlaybackOptions {
    std::string FileName;
    bool DisableAudio = false;
    bool DisableVideo = false;
    bool DisableDisplay = false;
    int FrameWidth = 0, FrameHeight = 0;
    bool StartPaused = false;
    TSourcePictureSwitches PictureSwitches;
};

class TPlayback {
public:
    enum TOpenState { osPending, osOpened, osFailed };

    TPlayback(TPlaybackHost& host, TPlaybackOptions options, VideoSink* sink);
    ~TPlayback();  // Close()
    TPlayback(const TPlayback&) = delete;
    TPlayback& operator=(const TPlayback&) = delete;

    void Start();  // the read thread
    TOpenState OpenState() const { return FOpenState.load(); }
    bool ReadThreadFinished() const { return FReadFinished.load(); }
    const std::string& Error() const { return FError; }  // valid once failed

    // After a successful open.
    AVFormatContext* Input() const { return FInput.get(); }
    bool HasVideo() const { return FCtx.HasVideo; }
    bool HasAudio() const { return FCtx.HasAudio; }
    std::int64_t Duration() const { return FDuration; }  // microseconds, -1 unknown
    std::int64_t StartTime() const { return FCtx.StartTime; }
    bool ImageSequence() const { return FImageSequence; }
    int CodedWidth() const;
    int CodedHeight() const;
    bool InBlockingRead() const { return FInBlockingRead.load(); }

    // Starts the pacing thread; postRefresh is called whenever no refresh is pending.
    void StartRefresh(std::function<void()> postRefresh);
    void SetVisualisation(bool on) { FShowWaves = on; }
    // Display thread: show what is due, then report position and end.
    void Refresh();
    void RefreshDone() { FCtx.RefreshPending = false; }
    // Display thread: show the current picture again (after a shape change).
    void Redraw();

    void TogglePause();
    bool Paused() const { return FCtx.Paused.load(); }
    // A request while another is pending is ignored.
    void RequestSeek(std::int64_t target, std::int64_t relative, int flags);
    TManualEvent& SeekDone;
    TManualEvent& PictureReady;

    double MasterClock() const { return FCtx.Clocks.Master(FCtx.HasAudio); }
    double AudioClock() const { return FCtx.Clocks.Sound(); }
    std::int64_t CurrentBytePosition() const;
    std::int64_t CurrentPosition() const { return FCurrentPosition.load(); }

    // The picture on show (null before the first one) and its time in microseconds.
    std::shared_ptr<const TFrameBitmap> ShownPicture(std::int64_t* microseconds) const;
    TPlaybackStatistics Statistics() const { return FCtx.Statistics(); }

    // Stops every thread and frees the streams; safe to call twice.
    void Close();
    bool Closed() const { return FClosedFlag.load(); }

private:
    // Reading (PlaybackCore.cpp).
    static int InterruptCallback(void* opaque);
    void ReadThread();
    bool OpenInput();
    bool OpenStream(int index);
    void ReadLoop();
    void ReadPacket(AVPacket& packet);
    void PerformSeek();
    void CloseStreams();
    bool QueuesFull() const;
    void Fail(const std::string& message);

    // Display (PlaybackDisplay.cpp).
    void ShowPicture(const std::shared_ptr<TFrameBitmap>& bitmap, double pts, bool blend);
    void DrawWaves();
    void CheckPositionAndEnd();

    TPlaybackOptions FOptions;
    VideoSink* FSink;
    TPlaybackContext FCtx;
    TSoundOutput FAudio{FCtx};
    TVideoDecoder FVideo{FCtx};
    TSubtitleDecoder FSubtitles{FCtx};

    std::atomic<TOpenState> FOpenState{osPending};
    std::atomic<bool> FReadFinished{false};
    bool FLastPaused = false;
    std::atomic<bool> FInBlockingRead{false};
    std::string FError;

    InputContextPtr FInput;
    std::int64_t FDuration = -1;
    bool FImageSequence = false;
    bool FErrorReported = false;
    int FReadFailures = 0;  // in a row

    std::thread FReadThread;
    std::thread FRefreshThread;
    std::atomic<bool> FShowWaves{false};
    std::shared_ptr<TFrameBitmap> FWaves;

    // The picture on show, for redrawing and for the owner's snapshot.
    mutable std::mutex FShownMutex;
    std::shared_ptr<TFrameBitmap> FShown;
    double FShownPts = -1;

    std::atomic<std::int64_t> FCurrentPosition{-1};
    bool FPositionReported = false;
    std::int64_t FLastReported = 0;

    std::once_flag FClosed;
    std::atomic<bool> FClosedFlag{false};
};
