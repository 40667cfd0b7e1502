#pragma once
// The player component: plays one media file into a VideoSink with its sound through SDL,
// seeks, pauses, hands pictures to an optional hook and reports the file, the position and
// its state. One playback runs in the process at a time: opening stops any other.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/FrameBitmap.h"
#include "player/AVProbe.h"
#include "player/PlaybackCore.h"
#include "player/VideoSink.h"

enum TAudioDriver { adDefault, adDirectSound, adWaveOut };
enum TVideoDriver { vdDefault, vdDirectDraw, vdGDI };

class TFFPlayer;
using TFileOpenEvent = std::function<void(TFFPlayer* Sender, std::int64_t ADuration, int AFrameWidth,
                                          int AFrameHeight, int& AScreenWidth, int& AScreenHeight)>;
using THookEvent = std::function<void(TFFPlayer* Sender, TFrameBitmap& ABitmap, std::int64_t APTS)>;
using TPositionEvent = std::function<void(TFFPlayer* Sender, std::int64_t APTS)>;
using TPlayStateEvent = std::function<void(TFFPlayer* Sender, TPlayState AState)>;

// Seek flags: the low bits of the library's own.
constexpr int SeekBackward = 1, SeekByte = 2, SeekAny = 4, SeekFrame = 8;

// The SDL driver name a choice stands for; empty leaves the environment as it is.
const char* AudioDriverName(TAudioDriver driver);

class TFFPlayer : private TPlaybackHost {
public:
    TFFPlayer();
    ~TFFPlayer() override;
    TFFPlayer(const TFFPlayer&) = delete;
    TFFPlayer& operator=(const TFFPlayer&) = delete;

    std::string About() const { return "ReelShift media player"; }
    std::string Version() const { return "2.3"; }

    // Properties.
    float AspectRatio() const { return FAspectRatio.load(); }
    void SetAspectRatio(float value);
    TAudioDriver AudioDriver() const { return FAudioDriver; }
    void SetAudioDriver(TAudioDriver value) { FAudioDriver = value; }
    int AudioVolume() const { return FAudioVolume.load(); }
    void SetAudioVolume(int value);  // 0..128
    bool DisableAudio() const { return FDisableAudio; }
    void SetDisableAudio(bool value) { FDisableAudio = value; }
    bool DisableVideo() const { return FDisableVideo; }
    void SetDisableVideo(bool value) { FDisableVideo = value; }
    bool DisableDisplay() const { return FDisableDisplay; }
    void SetDisableDisplay(bool value) { FDisableDisplay = value; }
    bool Mute() const { return FMute.load(); }
    void SetMute(bool value) { FMute = value; }
    int FrameWidth() const { return FFrameWidth; }
    void SetFrameWidth(int value) { FFrameWidth = value; }
    int FrameHeight() const { return FFrameHeight; }
    void SetFrameHeight(int value) { FFrameHeight = value; }
    bool Hook() const { return FHook.load(); }
    void SetHook(bool value) { FHook = value; }
    // Whether the pictures are turned upright, deinterlaced and tone-mapped (each on by
    // default), as a conversion of the file would; for the next Open.
    void SetPictureSwitches(const TSourcePictureSwitches& value) { FPictureSwitches = value; }
    const TSourcePictureSwitches& PictureSwitches() const { return FPictureSwitches; }
    int GetScreenWidth() const { return FScreenWidth.load(); }
    void SetScreenWidth(int value) { FScreenWidth = value; }
    int GetScreenHeight() const { return FScreenHeight.load(); }
    void SetScreenHeight(int value) { FScreenHeight = value; }
    bool TriggerEventInMainThread() const { return FTriggerEventInMainThread; }
    void SetTriggerEventInMainThread(bool value) { FTriggerEventInMainThread = value; }
    TVideoDriver VideoDriver() const { return FVideoDriver; }
    void SetVideoDriver(TVideoDriver value) { FVideoDriver = value; }

    TFileOpenEvent OnFileOpen;
    THookEvent OnHook;
    TPositionEvent OnPosition;
    TPlayStateEvent OnState;

    // Operations.
    bool LibrariesLoaded() const;
    bool LoadLibraries(const std::string& folder);
    // window may be null: the sound plays and pictures go nowhere.
    bool Open(const std::string& fileName, VideoSink* window, bool startPaused = false);
    // With shutdown the call returns once the playback has ended and SDL is shut down.
    void Stop(bool shutdown);
    void Pause();
    void Resume();
    void Seek(int seekFlags, bool wait, std::int64_t target);
    void SeekBy(int seekFlags, bool wait, double seconds);
    // The picture on show (the video's size, black before the first; empty without video)
    // and its time in microseconds from the start, -1 without a picture.
    const TFrameBitmap& CurrentFrame(std::int64_t* pts = nullptr);

    std::int64_t CurrentPosition() const;
    const std::string& LastError() const { return FLastError; }
    // The probe of the open file; nothing loaded when no file is open.
    TAVProbe& Probe() { return FProbe; }
    TPlayState State() const { return FState.load(); }
    bool Playing() const;
    bool Paused() const;
    TPlaybackStatistics Statistics() const;
    // The sound's clock, seconds; 0 without a playback.
    double AudioClock() const;

private:
    enum TEventKind { ekPosition = 1, ekState = 2, ekQuit = 3 };
    struct TEventRecord {
        TEventKind Kind = ekPosition;
        TPlayState State = psPlay;
        std::int64_t Time = 0;
    };
    enum TLoopEvent { leRefresh, leQuit, leRedraw };

    // TPlaybackHost.
    void PlaybackState(TPlayState state) override { ReportState(state); }
    bool WantsPositions() const override { return bool(OnPosition); }
    void PlaybackPosition(std::int64_t microseconds) override;
    bool WantsHook() const override { return FHook && OnHook; }
    void PlaybackHook(TFrameBitmap& bitmap, std::int64_t microseconds) override { OnHook(const_cast<TFFPlayer*>(this), bitmap, microseconds); }
    int Volume() const override { return FAudioVolume; }
    bool Muted() const override { return FMute; }
    double AspectSetting() const override { return FAspectRatio; }
    int ScreenWidth() const override { return FScreenWidth; }
    int ScreenHeight() const override { return FScreenHeight; }
    void PlaybackQuit() override { PostLoop(leQuit); }

    // The player lock, taken by any thread but the display loop's.
    std::unique_lock<std::recursive_mutex> LockServing() const;
    void SetPlayback(std::shared_ptr<TPlayback> playback);
    std::shared_ptr<TPlayback> CurrentPlayback() const;
    void Fail(const std::string& message, bool log);
    bool StartSdl(VideoSink* window);
    // After a successful open: the file-open event, then the display loop and the reports.
    void Started(TPlayback& playback, const std::string& fileName, VideoSink* window, bool startPaused);
    void ReportState(TPlayState state);
    void PostEvent(TEventKind kind, TPlayState state, std::int64_t time);
    bool TakeEvent(TEventRecord& record);
    void PostLoop(TLoopEvent event);
    void PlayThread();
    void EventThread();
    void ClosePlayback();
    void JoinThreads();
    void Deliver(const std::function<void()>& fn);
    void ShutDownSdl();
    void ResetState();

    std::atomic<float> FAspectRatio{0};
    TAudioDriver FAudioDriver = adDefault;
    std::atomic<int> FAudioVolume{128};
    bool FDisableAudio = false, FDisableVideo = false, FDisableDisplay = false;
    std::atomic<bool> FMute{false};
    int FFrameWidth = 0, FFrameHeight = 0;
    std::atomic<bool> FHook{false};
    std::atomic<int> FScreenWidth{0}, FScreenHeight{0};
    bool FTriggerEventInMainThread = true;
    TSourcePictureSwitches FPictureSwitches;
    TVideoDriver FVideoDriver = vdDefault;

    std::string FLastError;
    std::string FFileName;
    VideoSink* FWindow = nullptr;
    TAVProbe FProbe;
    std::atomic<std::int64_t> FCurrentPosition{-1};
    std::atomic<TPlayState> FState{psStop};
    TFrameBitmap FCurrentFrame;
    bool FSdlStarted = false;
    bool FPauseAtStart = false;

    // The playback and the lock the display loop holds while it handles one event. The
    // pointer changes under both locks; FPlaybackMutex alone guards reading it, and is
    // never held while waiting.
    mutable std::recursive_mutex FPlayerLock;
    mutable std::mutex FPlaybackMutex;
    std::shared_ptr<TPlayback> FPlayback;  // shared with callers that wait on it

    // Display loop events.
    std::mutex FLoopMutex;
    std::condition_variable FLoopChanged;
    std::deque<TLoopEvent> FLoopEvents;
    std::thread FPlayThread;
    TManualEvent FPlayThreadFinished{true};

    // Report ring: newest record of the same kind is overwritten, the oldest dropped when full.
    static constexpr int RingSize = 10;
    std::mutex FRingMutex;
    std::condition_variable FRingChanged;
    TEventRecord FRing[RingSize];
    int FRingRead = 0, FRingWrite = 0;
    bool FEventsPending = false;
    std::thread FEventThread;
    std::atomic<bool> FEventThreadFinished{true};
    std::atomic<bool> FEventThreadStop{false};
    std::atomic<bool> FInHandler{false};  // one of our handlers runs, called by the event thread
    std::vector<std::thread> FRetiredThreads;  // event threads left by a nested Stop
    TPlaybackStatistics FLastStats;  // under FPlaybackMutex

    friend class TFFPlayerTestAccess;
};
