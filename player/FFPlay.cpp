#include "player/FFPlay.h"

#include <cstdlib>
#include <new>
#include <system_error>

#include "engine/FFUtils.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "engine/MainThread.h"
#include "engine/SourcePicture.h"

namespace {

// The playback of the process: SDL's sound device is one per process for our purposes.
std::mutex gActiveMutex;
TFFPlayer* gActive = nullptr;

TFFPlayer* ActivePlayer() {
    std::lock_guard lock(gActiveMutex);
    return gActive;
}

void SetActive(TFFPlayer* player, TFFPlayer* ifCurrently) {
    std::lock_guard lock(gActiveMutex);
    if (gActive == ifCurrently) gActive = player;
}

// Waits until done() while the main thread keeps serving what other threads hand it.
template <class Done>
void WaitServing(Done done, int stepMs = 10) {
    MainThread& main = TheMainThread();
    const bool isMain = main.IsMainThread();
    while (!done()) {
        if (isMain) main.ServePending();
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
}

}  // namespace

std::unique_lock<std::recursive_mutex> TFFPlayer::LockServing() const {
    // The display loop holds the lock while it handles an event, and waits there for the
    // playback's threads (the sound callback, the decoders, when it closes the playback),
    // which must never wait for the main thread in turn; should one ever do (a hook handler
    // that hands work to the main thread), the main thread serves its queue while it waits.
    std::unique_lock lock(FPlayerLock, std::try_to_lock);
    if (lock.owns_lock()) return lock;
    MainThread& main = TheMainThread();
    if (!main.IsMainThread()) {
        lock.lock();
        return lock;
    }
    while (!lock.try_lock()) {
        main.ServePending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return lock;
}

const char* AudioDriverName(TAudioDriver driver) {
    switch (driver) {
    case adDirectSound: return "pulseaudio";
    case adWaveOut: return "alsa";
    default: return "";
    }
}

TFFPlayer::TFFPlayer() = default;

TFFPlayer::~TFFPlayer() {
    Stop(true);
    SetActive(nullptr, this);
    // Destroyed from inside one of its own handlers: the threads can only be joined here.
    FEventThreadStop = true;
    FRingChanged.notify_all();
    if (FEventThread.joinable() && FEventThread.get_id() != std::this_thread::get_id()) FEventThread.join();
    for (std::thread& t : FRetiredThreads)
        if (t.joinable()) t.join();
}

void TFFPlayer::SetAspectRatio(float value) {
    if (FAspectRatio.exchange(value) != value) PostLoop(leRedraw);
}

void TFFPlayer::SetAudioVolume(int value) { FAudioVolume = std::clamp(value, 0, 128); }

bool TFFPlayer::LibrariesLoaded() const { return FFLoader().LibrarySetLoaded(PlayerLibraries); }

bool TFFPlayer::LoadLibraries(const std::string& folder) {
    FFLoader().SetLibraryFolder(folder);
    if (FFLoader().LoadLibrarySet(PlayerLibraries)) return true;
    FLastError = FFLoader().LastError();
    return false;
}

void TFFPlayer::Fail(const std::string& message, bool log) {
    FLastError = message;
    if (log) FFLogger().Log(this, llError, message);
}

void TFFPlayer::ResetState() {
    FCurrentPosition = -1;
    FCurrentFrame.Resize(0, 0);
    std::lock_guard lock(FRingMutex);
    FRingRead = FRingWrite = 0;
    FEventsPending = false;
}

void TFFPlayer::ShutDownSdl() {
    if (!FSdlStarted) return;
    sdl().SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_TIMER);
    FSdlStarted = false;
}

bool TFFPlayer::Open(const std::string& fileName, VideoSink* window, bool startPaused) {
    if (!LibrariesLoaded()) {
        Fail("libav or libsdl not loaded.", true);
        return false;
    }
    if (TFFPlayer* other = ActivePlayer(); other && other != this) other->Stop(true);
    Stop(true);

    if (!StartSdl(window)) return false;
    ResetState();

    TPlaybackOptions options;
    options.FileName = fileName;
    options.DisableAudio = FDisableAudio;
    options.DisableVideo = FDisableVideo || FDisableDisplay;
    options.DisableDisplay = FDisableDisplay;
    options.FrameWidth = FFrameWidth;
    options.FrameHeight = FFrameHeight;
    options.StartPaused = startPaused;
    options.PictureSwitches = FPictureSwitches;
    std::shared_ptr<TPlayback> playback;
    try {
        playback = std::make_shared<TPlayback>(static_cast<TPlaybackHost&>(*this), options,
                                               FDisableDisplay ? nullptr : window);
    } catch (const std::bad_alloc&) {
        Fail("av_mallocz() failed.", true);
        ShutDownSdl();
        return false;
    }
    TPlayback* p = playback.get();  // FPlayback changes only on this thread until Open returns
    {
        auto lock = LockServing();
        SetPlayback(std::move(playback));
    }
    try {
        p->Start();
    } catch (const std::system_error&) {
        Fail("SDL_CreateThread() failed.", true);
        auto lock = LockServing();
        SetPlayback(nullptr);
        ShutDownSdl();
        return false;
    }
    WaitServing([&] { return p->OpenState() != TPlayback::osPending; });
    if (p->OpenState() == TPlayback::osFailed) {
        WaitServing([&] { return p->ReadThreadFinished(); });
        FLastError = p->Error();
        {
            auto lock = LockServing();
            SetPlayback(nullptr);
        }
        ResetState();
        ShutDownSdl();
        return false;
    }

    Started(*p, fileName, window, startPaused);
    return true;
}

bool TFFPlayer::StartSdl(VideoSink* window) {
    if (const char* driver = AudioDriverName(FAudioDriver); *driver) setenv("SDL_AUDIODRIVER", driver, 1);
    const unsigned long handle = window ? window->SurfaceHandle() : 0;
    // SDL would turn SIGINT and SIGTERM into quit events nobody reads: the program keeps its own.
    sdl().SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (sdl().SDL_InitSubSystem(SDL_INIT_AUDIO | SDL_INIT_TIMER) < 0) {
        Fail(Format("Could not initialize SDL with ScreenHandle(%u): %s", unsigned(handle), sdl().SDL_GetError()),
             true);
        return false;
    }
    FSdlStarted = true;
    if (window) {
        const char* driver = sdl().SDL_GetCurrentAudioDriver();
        FFLogger().Log(this, llDebug, Format("using audio driver: %s\n", driver ? driver : ""));
    }
    return true;
}

void TFFPlayer::Started(TPlayback& playback, const std::string& fileName, VideoSink* window, bool startPaused) {
    TPlayback* p = &playback;
    if (!p->HasVideo() && !FDisableDisplay) p->SetVisualisation(true);
    p->StartRefresh([this] { PostLoop(leRefresh); });
    FFileName = fileName;
    FWindow = window;
    FProbe.AttachContext(p->Input());
    SetActive(this, ActivePlayer());

    const std::int64_t duration = p->ImageSequence() ? 0 : p->Duration();
    int screenWidth = FScreenWidth, screenHeight = FScreenHeight;
    if (OnFileOpen) {
        // The picture as it is shown: upright.
        int w = p->CodedWidth(), h = p->CodedHeight();
        if (p->Input() && FProbe.FirstVideoStreamIndex() >= 0 &&
            FPictureSwitches.Rotate &&
            StreamOrientation(*p->Input()->streams[FProbe.FirstVideoStreamIndex()]).SwapsSides())
            std::swap(w, h);
        auto fire = [&] { OnFileOpen(this, duration, w, h, screenWidth, screenHeight); };
        if (FTriggerEventInMainThread)
            TheMainThread().RunAndWait(fire);
        else
            fire();
    }
    if (window && (screenWidth == 0 || screenHeight == 0)) {
        screenWidth = window->SurfaceWidth();
        screenHeight = window->SurfaceHeight();
    }
    FScreenWidth = screenWidth;
    FScreenHeight = screenHeight;

    {
        std::lock_guard lock(FLoopMutex);
        FLoopEvents.clear();
        FLoopEvents.push_back(leRefresh);
    }
    if (FEventThread.joinable()) FRetiredThreads.push_back(std::move(FEventThread));
    FEventThreadStop = false;
    FEventThreadFinished = false;
    FEventThread = std::thread([this] { EventThread(); });
    FPauseAtStart = startPaused && !p->HasVideo();
    FPlayThreadFinished.Reset();
    FPlayThread = std::thread([this] { PlayThread(); });
}

void TFFPlayer::PostLoop(TLoopEvent event) {
    std::lock_guard lock(FLoopMutex);
    FLoopEvents.push_back(event);
    FLoopChanged.notify_one();
}

void TFFPlayer::ClosePlayback() {
    // Under FPlayerLock.
    if (!FPlayback) return;
    FProbe.CloseFile();
    FPlayback->Close();
    {
        std::lock_guard lock(FPlaybackMutex);
        FLastStats = FPlayback->Statistics();
    }
    SetPlayback(nullptr);
    FCurrentPosition = -1;
    if (FWindow) FWindow->ClearPicture();
}

void TFFPlayer::PlayThread() {
    ReportState(psPlay);
    // Without pictures there is no second picture to wait for: paused from the start.
    if (FPauseAtStart) ReportState(psPause);
    try {
        for (;;) {
            TLoopEvent event;
            {
                std::unique_lock lock(FLoopMutex);
                FLoopChanged.wait(lock, [&] { return !FLoopEvents.empty(); });
                event = FLoopEvents.front();
                FLoopEvents.pop_front();
            }
            std::lock_guard lock(FPlayerLock);
            if (!FPlayback) break;
            if (event == leQuit) {
                ClosePlayback();
                break;
            }
            if (event == leRefresh) {
                FPlayback->Refresh();
                FPlayback->RefreshDone();
            } else if (event == leRedraw) {
                FPlayback->Redraw();
            }
        }
    } catch (const std::exception& e) {
        FFLogger().Log(this, llFatal, std::string("PlayThread Exception: ") + e.what());
        std::lock_guard lock(FPlayerLock);
        ClosePlayback();
    }
    ReportState(psStop);
    FPlayThreadFinished.Set();
}

void TFFPlayer::ReportState(TPlayState state) {
    FState = state;
    if (OnState)
        PostEvent(ekState, state, 0);
    else if (state == psStop)
        PostEvent(ekQuit, state, 0);
}

void TFFPlayer::PlaybackPosition(std::int64_t microseconds) {
    FCurrentPosition = microseconds;
    PostEvent(ekPosition, psPlay, microseconds);
}

void TFFPlayer::PostEvent(TEventKind kind, TPlayState state, std::int64_t time) {
    std::lock_guard lock(FRingMutex);
    const int newest = (FRingWrite + RingSize - 1) % RingSize;
    // Positions merge into the newest; a state merges only into the same state (a repeated
    // end), so that no change of state is lost behind another.
    if (FRingRead != FRingWrite && FRing[newest].Kind == kind && (kind != ekState || FRing[newest].State == state)) {
        FRing[newest] = {kind, state, time};
    } else {
        FRing[FRingWrite] = {kind, state, time};
        FRingWrite = (FRingWrite + 1) % RingSize;
        if (FRingWrite == FRingRead) FRingRead = (FRingRead + 1) % RingSize;  // full: the oldest goes
    }
    FEventsPending = true;
    FRingChanged.notify_all();
}

bool TFFPlayer::TakeEvent(TEventRecord& record) {
    std::lock_guard lock(FRingMutex);
    if (FRingRead == FRingWrite) {
        FEventsPending = false;
        return false;
    }
    record = FRing[FRingRead];
    FRingRead = (FRingRead + 1) % RingSize;
    return true;
}

void TFFPlayer::Deliver(const std::function<void()>& fn) {
    try {
        auto handler = [&] {
            FInHandler = true;
            try {
                fn();
            } catch (...) {
                FInHandler = false;
                throw;
            }
            FInHandler = false;
        };
        if (FTriggerEventInMainThread)
            TheMainThread().RunAndWait(handler);
        else
            handler();
    } catch (const std::exception& e) {
        FFLogger().Log(this, llError, e.what());
    }
}

void TFFPlayer::EventThread() {
    bool done = false;
    while (!done && !FEventThreadStop) {
        TEventRecord record;
        while (!done && TakeEvent(record)) {
            switch (record.Kind) {
            case ekPosition:
                FCurrentPosition = record.Time;
                if (OnPosition) Deliver([&] { OnPosition(this, record.Time); });
                break;
            case ekState:
                if (OnState) Deliver([&] { OnState(this, record.State); });
                if (record.State == psStop) done = true;
                break;
            case ekQuit:
                done = true;
                break;
            }
        }
        if (done) break;
        std::unique_lock lock(FRingMutex);
        FRingChanged.wait_for(lock, std::chrono::milliseconds(100), [&] { return FEventsPending || FEventThreadStop.load(); });
    }
    FEventThreadFinished = true;
}

void TFFPlayer::JoinThreads() {
    if (FPlayThread.joinable() && FPlayThread.get_id() != std::this_thread::get_id()) {
        WaitServing([&] { return FPlayThreadFinished.IsSet(); });
        FPlayThread.join();
    }
    // A handler of ours that stops the player runs while the event thread waits for it:
    // that thread is joined later.
    const bool nested = FEventThread.get_id() == std::this_thread::get_id() ||
                        (FInHandler && TheMainThread().IsMainThread());
    if (FEventThread.joinable() && !nested) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        WaitServing([&] { return FEventThreadFinished.load() || std::chrono::steady_clock::now() > giveUp; });
        FEventThreadStop = true;
        FRingChanged.notify_all();
        WaitServing([&] { return FEventThreadFinished.load(); });
        FEventThread.join();
    }
    if (!nested)
        for (std::thread& t : FRetiredThreads)
            if (t.joinable()) t.join();
    if (!nested) FRetiredThreads.clear();
}

void TFFPlayer::Stop(bool shutdown) {
    bool have;
    {
        auto lock = LockServing();
        have = FPlayback != nullptr;
        if (have && FPlayback->Paused()) FPlayback->TogglePause();
    }
    if (have && FPlayThread.joinable()) {
        PostLoop(leQuit);
        if (shutdown) {
            int looks = 0;
            while (!FPlayThreadFinished.IsSet()) {
                const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
                WaitServing([&] { return FPlayThreadFinished.IsSet() || std::chrono::steady_clock::now() >= until; });
                if (FPlayThreadFinished.IsSet()) break;
                ++looks;
                PostLoop(leQuit);
                bool blocked;
                {
                    auto lock = LockServing();
                    blocked = FPlayback && FPlayback->InBlockingRead();
                }
                if ((looks > 10 && blocked) || looks > 20) {
                    auto lock = LockServing();
                    ClosePlayback();
                }
            }
        }
    } else if (have && shutdown) {
        auto lock = LockServing();
        ClosePlayback();
    }
    if (shutdown) {
        JoinThreads();
        ShutDownSdl();
        SetActive(nullptr, this);
    }
}

void TFFPlayer::Pause() {
    {
        auto lock = LockServing();
        if (!FPlayback || FPlayback->Paused()) return;
        FPlayback->TogglePause();
    }
    ReportState(psPause);
}

void TFFPlayer::Resume() {
    {
        auto lock = LockServing();
        if (!FPlayback || !FPlayback->Paused()) return;
        FPlayback->TogglePause();
    }
    ReportState(psResume);
}

void TFFPlayer::SetPlayback(std::shared_ptr<TPlayback> playback) {
    // Under FPlayerLock.
    std::lock_guard lock(FPlaybackMutex);
    FPlayback = std::move(playback);
}

std::shared_ptr<TPlayback> TFFPlayer::CurrentPlayback() const {
    std::lock_guard lock(FPlaybackMutex);
    return FPlayback;
}

// The queries take no player lock: they read the playback's own thread-safe state, so the
// main thread never waits for the display loop to ask.
std::int64_t TFFPlayer::CurrentPosition() const {
    const auto p = CurrentPlayback();
    return p ? p->CurrentPosition() : FCurrentPosition.load();
}

bool TFFPlayer::Playing() const { return CurrentPlayback() != nullptr; }

bool TFFPlayer::Paused() const {
    const auto p = CurrentPlayback();
    return p && p->Paused();
}

TPlaybackStatistics TFFPlayer::Statistics() const {
    std::lock_guard lock(FPlaybackMutex);
    return FPlayback ? FPlayback->Statistics() : FLastStats;
}

double TFFPlayer::AudioClock() const {
    const auto p = CurrentPlayback();
    return p ? p->AudioClock() : 0;
}

void TFFPlayer::Seek(int seekFlags, bool wait, std::int64_t target) {
    std::shared_ptr<TPlayback> p;
    {
        auto lock = LockServing();
        p = FPlayback;
        if (!p) return;
        seekFlags &= 0xF;
        const std::int64_t relative = target <= 0 ? 1 : 0;
        if (!(seekFlags & SeekByte)) {
            if (p->Duration() > 0 && target > p->Duration()) target = p->Duration();
            target += p->StartTime();
        }
        p->RequestSeek(target, relative, seekFlags);
    }
    if (!wait) return;
    // A handler served meanwhile may stop the playback: then there is nothing to wait for.
    WaitServing([&] { return p->SeekDone.IsSet() || p->Closed(); });
    if (p->HasVideo()) WaitServing([&] { return p->PictureReady.IsSet() || p->Closed(); });
}

void TFFPlayer::SeekBy(int seekFlags, bool wait, double seconds) {
    std::shared_ptr<TPlayback> p;
    {
        auto lock = LockServing();
        p = FPlayback;
        if (!p) return;
        seekFlags &= 0xF;
        if (seekFlags & SeekByte) {
            const std::int64_t bitRate = p->Input()->bit_rate;
            const double increment = bitRate > 0 ? seconds * bitRate / 8.0 : seconds * 180000.0;
            const std::int64_t target = p->CurrentBytePosition() + std::int64_t(increment);
            p->RequestSeek(target, std::int64_t(increment), seekFlags);
        } else {
            std::int64_t target = std::int64_t((p->MasterClock() + seconds) * 1000000.0);
            const std::int64_t end = p->StartTime() + p->Duration();
            if (p->Duration() > 0 && target > end) target = end;
            p->RequestSeek(target, std::int64_t(seconds * 1000000.0), seekFlags);
        }
    }
    if (!wait) return;
    // A handler served meanwhile may stop the playback: then there is nothing to wait for.
    WaitServing([&] { return p->SeekDone.IsSet() || p->Closed(); });
    if (p->HasVideo()) WaitServing([&] { return p->PictureReady.IsSet() || p->Closed(); });
}

const TFrameBitmap& TFFPlayer::CurrentFrame(std::int64_t* pts) {
    const auto p = CurrentPlayback();
    std::int64_t us = -1;
    if (!p || !p->HasVideo()) {
        FCurrentFrame.Resize(0, 0);
    } else if (auto shown = p->ShownPicture(&us)) {
        FCurrentFrame = *shown;
    } else {
        FCurrentFrame.Resize(0, 0);
        FCurrentFrame.Resize(p->CodedWidth(), p->CodedHeight());
        us = -1;
    }
    if (pts) *pts = us;
    return FCurrentFrame;
}
