#pragma once
// One playback of one file: a read thread fills packet queues, a video thread decodes into
// a queue of two pictures, a subtitle thread into a queue of four subpictures, SDL's audio
// callback pulls the sound, and the owner's display thread calls Refresh to show pictures
// when they are due. The sound is the master clock; the pictures follow it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/AVHandles.h"
#include "engine/FFmpegLogger.h"
#include "engine/FrameBitmap.h"
#include "player/PacketQueue.h"
#include "player/VideoSink.h"

enum TPlayState { psPlay, psPause, psResume, psStep, psStop, psEnd };

// A flag threads wait for, set and reset by hand.
class TManualEvent {
public:
    explicit TManualEvent(bool set) : FSet(set) {}
    void Set();
    void Reset();
    bool IsSet() const;
    // True when the event was set within the time.
    bool WaitFor(std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    bool FSet;
};

// What the playback asks of and reports to its owner; called on the playback's threads.
class TPlaybackHost {
public:
    virtual ~TPlaybackHost() = default;
    virtual void PlaybackState(TPlayState state) = 0;
    virtual bool WantsPositions() const = 0;
    virtual void PlaybackPosition(std::int64_t microseconds) = 0;
    virtual bool WantsHook() const = 0;
    // May throw: the picture is then shown as it was decoded.
    virtual void PlaybackHook(TFrameBitmap& bitmap, std::int64_t microseconds) = 0;
    virtual int Volume() const = 0;  // 0..128
    virtual bool Muted() const = 0;
    virtual double AspectSetting() const = 0;
    virtual int ScreenWidth() const = 0;
    virtual int ScreenHeight() const = 0;
    // The read thread gave up after opening: the display loop should end.
    virtual void PlaybackQuit() = 0;
};

struct TPlaybackOptions {
    std::string FileName;
    bool DisableAudio = false;
    bool DisableVideo = false;
    bool DisableDisplay = false;
    int FrameWidth = 0, FrameHeight = 0;
    bool StartPaused = false;
};

struct TPlaybackStatistics {
    int PicturesShown = 0;
    int PicturesDropped = 0;     // late at the display plus skipped after decoding
    double MaxAVOffset = 0;      // seconds, pictures shown while the sound ran
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
    bool HasVideo() const { return FVideoStream >= 0; }
    bool HasAudio() const { return FAudioStream >= 0; }
    std::int64_t Duration() const { return FDuration; }  // microseconds, -1 unknown
    std::int64_t StartTime() const { return FStartTime; }
    bool ImageSequence() const { return FImageSequence; }
    int CodedWidth() const;
    int CodedHeight() const;
    bool InBlockingRead() const { return FInBlockingRead.load(); }

    // Starts the pacing thread; postRefresh is called whenever no refresh is pending.
    void StartRefresh(std::function<void()> postRefresh);
    void SetVisualisation(bool on) { FShowWaves = on; }
    // Display thread: show what is due, then report position and end.
    void Refresh();
    void RefreshDone() { FRefreshPending = false; }
    // Display thread: show the current picture again (after a shape change).
    void Redraw();

    void TogglePause();
    bool Paused() const { return FPaused.load(); }
    // A request while another is pending is ignored.
    void RequestSeek(std::int64_t target, std::int64_t relative, int flags);
    TManualEvent SeekDone{true};
    TManualEvent PictureReady{true};

    double MasterClock();
    double AudioClock();
    double VideoClock();
    std::int64_t CurrentBytePosition() const;
    std::int64_t CurrentPosition() const { return FCurrentPosition.load(); }

    // The picture on show (null before the first one) and its time in microseconds.
    std::shared_ptr<const TFrameBitmap> ShownPicture(std::int64_t* microseconds) const;
    TPlaybackStatistics Statistics() const;

    // Stops every thread and frees the streams; safe to call twice.
    void Close();
    bool Closed() const { return FClosedFlag.load(); }

private:
    struct TPictureSlot {
        std::shared_ptr<TFrameBitmap> Bitmap;
        double Pts = 0;
        double Target = 0;
        std::int64_t Pos = -1;
        int Serial = 0;
    };
    struct TSubPicture;

    static int InterruptCallback(void* opaque);
    static void AudioCallbackEntry(void* opaque, std::uint8_t* stream, int len);

    void ReadThread();
    bool OpenInput();
    void ReadLoop();
    void PerformSeek();
    void CloseStreams();
    bool OpenStream(int index);
    bool OpenAudioOutput();
    bool QueuesFull() const;
    void Fail(const std::string& message);
    void Log(TLogLevel level, const std::string& message);

    void VideoThread();
    bool ConfigureFilters(const AVFrame& frame);
    bool QueuePicture(const AVFrame& bgr, double pts, std::int64_t pos);
    void CopyIntoBitmap(const AVFrame& bgr, TFrameBitmap& bitmap);
    double TargetClock(double pts);
    std::shared_ptr<TFrameBitmap> FreeBitmap();

    void SubtitleThread();
    void BlendSubtitles(TFrameBitmap& bitmap, double pts);

    void AudioCallback(std::uint8_t* stream, int len);
    int DecodeAudio();
    int SynchronizeAudio(int size);

    void ShowPicture(const TPictureSlot& slot);
    void DrawWaves();
    void CheckPositionAndEnd();
    double Now() const;

    TPlaybackHost& FHost;
    TPlaybackOptions FOptions;
    VideoSink* FSink;

    std::atomic<TOpenState> FOpenState{osPending};
    std::atomic<bool> FReadFinished{false};
    std::atomic<bool> FAbort{false};
    std::atomic<bool> FPaused{false};
    bool FLastPaused = false;
    std::atomic<bool> FInBlockingRead{false};
    std::string FError;

    InputContextPtr FInput;
    std::int64_t FStartTime = 0;
    std::int64_t FDuration = -1;
    bool FImageSequence = false;
    bool FCaptureDevice = false;
    bool FSeekByBytes = false;

    // Seek request, under FSeekMutex.
    std::mutex FSeekMutex;
    bool FSeekRequest = false;
    std::int64_t FSeekTarget = 0, FSeekRelative = 0;
    int FSeekFlags = 0;
    std::atomic<int> FSerial{0};     // grows with every completed seek
    std::atomic<bool> FAfterSeek{false};

    std::atomic<bool> FEndOfInput{false};
    std::atomic<bool> FEndReached{false};
    std::atomic<bool> FEndReported{false};
    bool FErrorReported = false;

    // Audio. The stream numbers are set on the read thread while the sound callback and the
    // owner may already look at them.
    std::atomic<int> FAudioStream{-1};
    CodecContextPtr FAudioCodec;
    TPacketQueue FAudioQueue;
    SwrPtr FSwr;
    FramePtr FAudioFrame;
    int FAudioLastFormat = -1;
    std::vector<std::uint8_t> FAudioBuffer;  // decoded, signed 16-bit
    int FAudioBufSize = 0, FAudioBufIndex = 0;
    double FAudioClock = 0;                 // end of the decoded data, seconds
    double FAudioStartTime = 0;
    double FAudioHoldUntil = 0;  // wall clock
    std::uint32_t FAudioDevice = 0;
    int FAudioChannels = 0, FAudioRate = 0, FAudioHwBufSize = 0;
    double FAudioDiffCum = 0, FAudioDiffAvgCoef = 0, FAudioDiffThreshold = 0;
    int FAudioDiffAvgCount = 0;
    mutable std::mutex FAudioClockMutex;
    double FAudioClockBase = 0, FAudioClockBaseTime = 0;
    bool FAudioClockValid = false;
    std::vector<std::int16_t> FSampleArray;
    int FSampleIndex = 0;

    // Video.
    std::atomic<int> FVideoStream{-1};
    CodecContextPtr FVideoCodec;
    TPacketQueue FVideoQueue;
    std::thread FVideoThread;
    FilterGraphPtr FGraph;
    AVFilterContext* FFilterIn = nullptr;
    AVFilterContext* FFilterOut = nullptr;
    int FGraphWidth = 0, FGraphHeight = 0, FGraphFormat = -1;
    mutable std::mutex FPictMutex;
    std::condition_variable FPictChanged;
    TPictureSlot FPict[2];
    int FPictRIndex = 0, FPictWIndex = 0, FPictCount = 0;
    std::vector<std::shared_ptr<TFrameBitmap>> FBitmapPool;
    double FFrameTimer = 0, FFrameLastDelay = 0.04, FFrameLastPts = 0;
    bool FFrameLastPtsSet = false;
    double FVideoClock = 0;
    double FCurrentPts = 0, FCurrentPtsDrift = 0;
    double FSkipFactor = 1, FSkipCount = 0;
    std::atomic<int> FQueuedPictures{0};
    int FDecoderSerial = -1;  // flush marks the video thread has taken
    std::atomic<bool> FPauseReportDone{false};
    std::atomic<bool> FPauseReportDue{false};
    std::shared_ptr<TFrameBitmap> FShown;
    double FShownPts = -1;
    bool FShownAny = false;
    std::atomic<bool> FFirstShown{false};  // FShownAny for the sound thread

    // Subtitles.
    int FSubtitleStream = -1;
    CodecContextPtr FSubtitleCodec;
    TPacketQueue FSubtitleQueue;
    std::thread FSubtitleThread;
    std::mutex FSubMutex;
    std::condition_variable FSubChanged;
    std::vector<std::unique_ptr<TSubPicture>> FSubPictures;  // at most 4

    // Display.
    std::thread FReadThread;
    std::thread FRefreshThread;
    std::atomic<bool> FRefreshPending{false};
    std::atomic<bool> FShowWaves{false};
    std::shared_ptr<TFrameBitmap> FWaves;

    std::atomic<std::int64_t> FCurrentPosition{-1};
    bool FPositionReported = false;
    std::int64_t FLastReported = 0;

    mutable std::mutex FStatsMutex;
    TPlaybackStatistics FStats;
    std::once_flag FClosed;
    std::atomic<bool> FClosedFlag{false};
};
