#include "engine/FFmpegVCL.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>

#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "engine/MainThread.h"
#include "player/AVProbe.h"

namespace {

// Set on the thread that raises OnTerminate in threaded runs.
thread_local bool tDelivering = false;
// Set on the worker threads of tasks.
thread_local bool tOnWorker = false;

// Above zero while this thread runs a task or a handler that a task waits for: waiting here
// for tasks to end could never finish, so a stop asked for from here does not wait.
thread_local int tCannotWait = 0;

struct CannotWait {
    CannotWait() { ++tCannotWait; }
    ~CannotWait() { --tCannotWait; }
};

const char* TargetType(int target) {
    static const char* types[] = {"", "vcd", "svcd", "dvd"};
    return target >= 1 && target <= 3 ? types[target] : "";
}

const char* TargetNormText(int norm) { return norm == 1 ? "pal" : norm == 2 ? "ntsc" : "auto"; }

// The extra-options text without the lines that add streams: what is applied before the
// output is opened does not depend on them.
std::string WithoutStreamLines(const std::string& text) {
    std::string out;
    for (const auto& line : ParseExtOptions(text)) {
        const std::string key = line.KeyLower();
        if (key == "newvideo" || key == "newaudio" || key == "newsubtitle") continue;
        out += line.Key + "=" + line.Value + "\n";
    }
    return out;
}

// Waits until done() holds under lock. On the main thread the wait serves the main
// thread's queue, and whoever makes done() true wakes it (MainThread::WakeWaiters);
// elsewhere it sleeps on cv.
void WaitUntil(std::mutex& lock, std::condition_variable& cv, const std::function<bool()>& done) {
    MainThread& main = TheMainThread();
    if (main.IsMainThread()) {
        main.ServeUntil([&] {
            std::lock_guard l(lock);
            return done();
        });
        return;
    }
    std::unique_lock l(lock);
    cv.wait(l, done);
}

std::string CurrentExceptionText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception";
    }
}

}  // namespace

bool ApplyThreadPriority(TThreadPriority priority) {
    const pid_t tid = pid_t(::syscall(SYS_gettid));
    sched_param param{};
    if (priority == tpIdle) return ::sched_setscheduler(tid, SCHED_IDLE, &param) == 0;
    // Leave the idle class first: a worker may have been made by an idle one.
    int policy = ::sched_getscheduler(tid);
    if (policy == SCHED_IDLE) ::sched_setscheduler(tid, SCHED_OTHER, &param);
    int nice = 0;
    switch (priority) {
        case tpLowest: nice = 10; break;
        case tpLower: nice = 5; break;
        case tpHigher: nice = -5; break;
        case tpHighest: nice = -10; break;
        case tpTimeCritical: nice = -20; break;
        default: nice = 0; break;
    }
    if (::setpriority(PRIO_PROCESS, id_t(tid), nice) == 0) return true;
    if (nice < 0) ::setpriority(PRIO_PROCESS, id_t(tid), 0);
    return false;
}

void WaitServing(const std::function<bool()>& done, int pollMilliseconds) {
    const bool onMain = TheMainThread().IsMainThread();
    while (!done()) {
        if (onMain) TheMainThread().ServePending();
        if (done()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMilliseconds));
    }
    if (onMain) TheMainThread().ServePending();
}

// ---------------------------------------------------------------- task

TFFmpeg::TFFmpeg() = default;

TFFmpeg::~TFFmpeg() {
    {
        std::lock_guard lock(FStateLock);
        FSilent = true;
        if (FState == TState::Running || FState == TState::Paused) RequestStops();
    }
    WaitDone();
    FProbes.clear();  // closed here, on the owner's thread
    if (FirstPass) FirstPass->CloseAll();
    RemovePassFolder();
}

void TFFmpeg::RequestStops() {
    RequestStop();
    if (FirstPass) FirstPass->RequestStop();
}

void TFFmpeg::RemovePassFolder() {
    if (PassFolder.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(PassFolder, ec);
    PassFolder.clear();
}

// The first of two passes, on the run's thread: false when it failed or was stopped.
bool TFFmpeg::RunFirstPass() {
    if (!FirstPass) return true;
    FirstPass->CoreShare = CoreShare;
    FirstPass->ProgressInterval = ProgressInterval;
    bool finished = false;
    try {
        finished = FirstPass->Transcode();
    } catch (...) {
        FirstPass->CloseAll();
        throw;
    }
    FirstPass->CloseAll();
    return finished && !StopRequestedFlag();
}

TAVProbe* TFFmpeg::InputProbe(int i) {
    if (i < 0 || i >= MaxFiles || tOnWorker) return nullptr;
    if (FProbes.size() <= size_t(i)) FProbes.resize(size_t(i) + 1);
    if (!FProbes[i]) {
        FProbes[i] = std::make_unique<TAVProbe>();
        // A context of its own: the run's context is read and freed by the worker.
        if (size_t(i) < InputOptions.size())
            FProbes[i]->LoadFile(InputOptions[i].FileName, InputOptions[i].FileFormat);
    }
    return FProbes[i].get();
}

std::string TFFmpeg::ExceptionMsg() const {
    std::lock_guard lock(FErrorLock);
    return FExceptionMsg;
}

void TFFmpeg::SetError(const std::string& message) {
    FFLogger().Log(this, llQuiet, message);
    {
        std::lock_guard lock(FErrorLock);
        FExceptionMsg = message;
    }
    FException = true;
}

void TFFmpeg::SetState(TState state) {
    {
        std::lock_guard lock(FStateLock);
        FState = state;
        // Under the lock: a waiter that sees Done may destroy the task at once.
        FStateChanged.notify_all();
    }
    TheMainThread().WakeWaiters();
}

bool TFFmpeg::Start(bool threaded, TThreadPriority priority) {
    std::unique_lock lock(FStateLock);
    if (FState != TState::Ready) return false;
    const bool noOutput = OutputCount() == 0 && PlannedOutputs == 0;
    if (noOutput || (InputCount() == 0 && OpenSteps.empty())) {
        SetError(noOutput ? "At least one output file must be specified"
                                    : "At least one input file must be specified");
        try {
            CloseAll();
        } catch (...) {
        }
        FFinished = false;
        FState = TState::Ending;
        lock.unlock();
        EndReport();
        return true;
    }
    FFinished = false;
    FThreadedRun = threaded;
    FStartedRun = true;
    FState = TState::Running;
    if (PreviewMask != 0) PreviewFlags = 2;
    if (threaded) {
        FThread = std::thread([this, priority] {
            tOnWorker = true;
            ApplyThreadPriority(priority);
            Execute();
            FWorkerReturned = true;
        });
        return true;
    }
    lock.unlock();  // a stop request from another thread must get through while we run
    Execute();
    return true;
}

void TFFmpeg::Execute() {
    CannotWait guard;
    FFinished = false;
    const bool opensHere = !OpenSteps.empty();
    try {
        if (opensHere) {
            const auto steps = std::move(OpenSteps);
            OpenSteps.clear();
            for (const auto& step : steps) step(*this);
        }
        FFinished = RunFirstPass() && Transcode();
    } catch (const TOutputSkipped& e) {
        FFLogger().Log(this, llInfo, e.what());
        std::lock_guard lock(FErrorLock);
        FExceptionMsg = e.what();
        FSkipped = true;
    } catch (...) {
        SetError(CurrentExceptionText());
    }
    try {
        // A task that opened its files at its start gives back everything it took.
        if (opensHere)
            Release();
        else
            CloseAll();
    } catch (...) {
        SetError(CurrentExceptionText());
    }
    RemovePassFolder();
    // A failed run's output is not a result: it was written under its temporary name, which
    // went with the output above. The final name is not touched: a file there is not ours.
    {
        std::lock_guard lock(FStateLock);
        FState = TState::Ending;
    }
    try {
        EndReport();
    } catch (...) {
        SetError(CurrentExceptionText());
        SetState(TState::Done);
    }
}

// In state Ending: reports the end, then the task is Done.
void TFFmpeg::EndReport() {
    bool silent;
    {
        std::lock_guard lock(FStateLock);
        silent = FSilent;
    }
    if (!silent && OnEnd) OnEnd(*this);
    SetState(TState::Done);
}

void TFFmpeg::Stop(bool wait) {
    bool reportNow = false;
    {
        std::lock_guard lock(FStateLock);
        if (FState == TState::Ready) {
            FFinished = false;
            FState = TState::Ending;
            reportNow = true;
        } else if (FState == TState::Running || FState == TState::Paused) {
            FState = TState::Running;
            RequestStops();  // also wakes a paused loop
        }
    }
    if (reportNow) {
        // Never started: no worker to report for it. In a threaded run the event is only
        // queued; in a run on the caller's thread it is raised here, on that thread.
        try {
            EndReport();
        } catch (...) {
            SetError(CurrentExceptionText());
            SetState(TState::Done);
        }
    }
    if (wait && tCannotWait == 0) WaitDone();
}

void TFFmpeg::PauseRun() {
    std::lock_guard lock(FStateLock);
    // A run on the caller's thread has no worker to hold: nobody could resume it.
    if (FState != TState::Running || !FThreadedRun) return;
    FState = TState::Paused;
    Pause();
    if (FirstPass) FirstPass->Pause();
}

void TFFmpeg::ResumeRun() {
    std::lock_guard lock(FStateLock);
    if (FState != TState::Paused) return;
    FState = TState::Running;
    Resume();
    if (FirstPass) FirstPass->Resume();
}

void TFFmpeg::WaitDone() {
    {
        std::lock_guard lock(FStateLock);
        if (FThread.joinable() && FThread.get_id() == std::this_thread::get_id()) return;
    }
    WaitUntil(FStateLock, FStateChanged, [this] { return FState == TState::Ready || FState == TState::Done; });
    // Taken under the lock: another task's worker may be starting this one.
    std::thread worker;
    {
        std::lock_guard lock(FStateLock);
        worker = std::move(FThread);
    }
    if (worker.joinable()) worker.join();
}

bool TFFmpeg::JoinReturnedWorker() {
    std::thread worker;
    {
        std::lock_guard lock(FStateLock);
        if (!FThread.joinable()) return true;
        if (!FWorkerReturned || FThread.get_id() == std::this_thread::get_id()) return false;
        worker = std::move(FThread);
    }
    worker.join();  // it has only its own exit left to do
    return true;
}

// ---------------------------------------------------------------- component

std::string TFFBaseComponent::Version() const {
    return Format("%d.%d.%d.%d", REELSHIFT_VERSION_MAJOR, REELSHIFT_VERSION_MINOR, REELSHIFT_VERSION_PATCH,
                  REELSHIFT_VERSION_TWEAK);
}

TCustomFFmpegVCL::TCustomFFmpegVCL() : FProbe(std::make_unique<TAVProbe>()) {
    TheMainThread();  // the main-thread service learns its thread here
}

TCustomFFmpegVCL::~TCustomFFmpegVCL() {
    {
        std::lock_guard lock(FCounterLock);
        FPendingCount = 0;
    }
    for (auto& task : FTasks)
        if (task->Running()) task->Stop(false);
    for (auto& task : FTasks) task->WaitDone();
    WaitDelivered();
    FTasks.clear();
    WaitDelivered();
    {
        std::lock_guard lock(FQueueLock);
        FQuit = true;
        FQueueChanged.notify_all();
    }
    if (FDeliveryThread.joinable()) {
        if (tDelivering) {
            // A terminate handler destroying its own component: nobody could join this thread.
            FFLogger().Log(this, llPanic, "The engine component was destroyed from its own terminate handler");
            std::terminate();
        }
        FDeliveryThread.join();
    }
}

bool TCustomFFmpegVCL::LoadLibraries(const std::string& libraryFolder) {
    FFLoader().SetLibraryFolder(libraryFolder);
    if (FFLoader().LoadLibrarySet(EngineLibraries)) return true;
    SetLastError(FFLoader().LastError());
    return false;
}

void TCustomFFmpegVCL::CheckNotWorking(const char* operation) const {
    if (FWorking) throw FFmpegException(Format("Cannot %s while working.", operation));
}

void TCustomFFmpegVCL::SetLastError(const std::string& text) {
    std::lock_guard lock(FErrorLock);
    FLastError = text;
}

std::string TCustomFFmpegVCL::LastError() const {
    std::lock_guard lock(FErrorLock);
    return FLastError;
}

int TCustomFFmpegVCL::IndexOf(const TFFmpeg& task) const {
    for (size_t i = 0; i < FTasks.size(); ++i)
        if (FTasks[i].get() == &task) return int(i);
    return -1;
}

TFFmpeg* TCustomFFmpegVCL::Task(int taskIndex) {
    if (taskIndex < 0 || taskIndex >= TaskCount()) return nullptr;
    return FTasks[size_t(taskIndex)].get();
}

TAVProbe* TCustomFFmpegVCL::InputProbe(int taskIndex, int inputIndex) {
    TFFmpeg* task = Task(taskIndex);
    // The inputs it was given: after the run has closed them, their probes still answer.
    if (!task || inputIndex < 0 || inputIndex >= int(task->InputOptions.size())) return nullptr;
    return task->InputProbe(inputIndex);
}

int TCustomFFmpegVCL::AddTask(const std::string& fileName, const TInputOptions* options) {
    CheckNotWorking("AddTask");
    if (!FFLoader().LibrarySetLoaded(EngineLibraries)) {
        SetLastError("The engine libraries are not loaded");
        return -1;
    }
    auto owned = std::make_unique<TFFmpeg>();
    TFFmpeg* task = owned.get();
    try {
        const int verbose = FVerbose;
        task->OutputPolicy = FOutputPolicy;
        task->PreviewMask = (FPreview ? 1 : 0) | (FPreviewBitmap ? 2 : 0);
        task->OnPreviewBitmap = [this, task](const TFrameBitmap& bitmap, int64_t pts, int frameNumber) {
            const int mask = task->PreviewMask;
            if (mask & 1) ShowPreview(*task, bitmap, pts);
            if (mask & 2) DoPreviewBitmap(*task, bitmap, pts, frameNumber);
        };
        TInputOptions copy = options ? *options : TInputOptions();
        if (copy.FileName.empty()) copy.FileName = fileName;
        task->InputOptions.push_back(copy);
        const bool parse = options != nullptr;
        auto open = [parse, copy](TFFmpeg& t) {
            if (parse)
                for (const auto& [key, value] : ToEngineOptions(copy)) t.ParseOption(key, value);
            if (!t.OpenInput(copy.FileName)) throw FFmpegException(t.ErrorText());
        };
        if (FOpenOnStart) {
            task->Release();  // what the engine object made for itself waits for the start too
            task->OpenSteps.push_back([verbose](TFFmpeg& t) {
                // The run's own choices survive the fresh settings, and so does a stop
                // asked for between the start and here (the next task of a run stopped as
                // the one before it ended).
                const bool pipeline = t.Settings().Pipeline;
                t.ResetStarted();
                t.Settings().Verbose = verbose;
                t.Settings().Pipeline = t.Settings().Pipeline && pipeline;
            });
            task->OpenSteps.push_back(open);
        } else {
            task->Reset();
            task->Settings().Verbose = verbose;
            try {
                open(*task);
            } catch (const FFmpegException& e) {
                SetLastError(e.what());
                return -1;
            }
        }
        task->OnProgress = [this, task](const TEngineProgress& values, const std::string& line) {
            if (!OnProgress) {
                if (task->Verbose() >= 0) FFLogger().Log(task, llVerbose, line);
                return;
            }
            DoProgress(*task, values);
        };
        task->OnEnd = [this](TFFmpeg& ended) { DoTerminate(ended); };
    } catch (...) {
        SetLastError(CurrentExceptionText());
        return -1;
    }
    FTasks.push_back(std::move(owned));
    return TaskCount() - 1;
}

bool TCustomFFmpegVCL::SetOutputFile(int taskIndex, const std::string& fileName, const TOutputOptions* options) {
    CheckNotWorking("SetOutputFile");
    TFFmpeg* task = Task(taskIndex);
    if (!task) {
        SetLastError(Format("Invalid task index %d", taskIndex));
        return false;
    }
    if (task->OutputCount() + task->PlannedOutputs >= TFFmpeg::MaxFiles) {
        SetLastError(Format("max output files %d reached", TFFmpeg::MaxFiles));
        return false;
    }
    std::function<void(TFFmpeg&)> open;
    TOutputOptions o;
    if (!options) {
        o.FileName = fileName;
        open = [fileName](TFFmpeg& t) {
            if (t.OpenOutput(fileName, false) < 0) throw FFmpegException(t.ErrorText());
        };
    } else {
        o = *options;
        if (o.FileName.empty()) o.FileName = fileName;
        open = [this, o](TFFmpeg& t) {
            // Target preset first: it knows the norm to fall back on, which no option carries.
            if (o.Target >= 1 && o.Target <= 3)
                t.Parser()->ApplyTarget(TargetType(o.Target), TargetNormText(o.TargetNorm),
                                        o.DefaultNorm == 1 ? "pal" : "ntsc");
            TOutputOptions rest = o;
            rest.Target = 0;
            const auto all = ToEngineOptions(rest);
            rest.ExtOptions = WithoutStreamLines(o.ExtOptions);
            const auto beforeOpen = ToEngineOptions(rest);
            for (const auto& [key, value] : beforeOpen) t.ParseOption(key, value);
            if (o.CustomHook) {
                TFFmpeg* task = &t;
                t.OnCustomHook = [this, task](TFrameBitmap& bitmap, bool& update, bool& stopHook, int64_t pts,
                                              int frameNumber) {
                    DoCustomHook(*task, bitmap, update, stopHook, pts, frameNumber);
                };
            }
            if (o.TwoPass) {
                SetUpFirstPass(t, beforeOpen);
                t.ParseOption("pass", "2");
                t.ParseOption("passlogfile", t.PassFolder + "/pass");
            }
            if (t.OpenOutput(o.FileName, o.Join) < 0) throw FFmpegException(t.ErrorText());
            for (size_t i = beforeOpen.size(); i < all.size(); ++i) t.ParseOption(all[i].first, all[i].second);
        };
    }
    task->OutputOptions.push_back(o);
    if (FOpenOnStart) {
        task->OpenSteps.push_back(open);
        ++task->PlannedOutputs;
        return true;
    }
    try {
        open(*task);
        return true;
    } catch (...) {
        task->OutputOptions.pop_back();
        SetLastError(CurrentExceptionText());
        return false;
    }
}

void TCustomFFmpegVCL::SetUpFirstPass(TFFmpeg& task, const std::vector<std::pair<std::string, std::string>>& outputOptions) {
    if (task.PassFolder.empty()) {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "reelshift-pass-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw FFmpegException("Cannot make a folder for the pass log in " + pattern);
        task.PassFolder = pattern;
    }
    // The first pass reads the same input, and encodes only the picture, into no file.
    auto first = std::make_unique<TCustomFFmpeg>();
    first->Reset();
    first->Settings().Verbose = FVerbose;
    const TInputOptions& input = task.InputOptions.back();
    for (const auto& [key, value] : ToEngineOptions(input)) first->ParseOption(key, value);
    if (!first->OpenInput(input.FileName)) throw FFmpegException(first->ErrorText());
    for (const auto& [key, value] : outputOptions)
        if (key != "f") first->ParseOption(key, value);
    first->ParseOption("f", "null");
    first->ParseOption("an", "1");
    first->ParseOption("sn", "1");
    first->ParseOption("pass", "1");
    first->ParseOption("passlogfile", task.PassFolder + "/pass");
    if (first->OpenOutput(task.PassFolder + "/first-pass", false) < 0) throw FFmpegException(first->ErrorText());
    TFFmpeg* owner = &task;
    first->OnProgress = [owner](const TEngineProgress& values, const std::string& line) {
        if (owner->OnProgress) owner->OnProgress(values, line);
    };
    task.FirstPass = std::move(first);
}

void TCustomFFmpegVCL::ClearTasks() {
    if (FWorking && !FAllDone) throw FFmpegException("Cannot ClearTasks while working.");
    WaitDelivered();  // the run's events reach their handlers before its tasks go
    FTasks.clear();   // each task waits for its thread
    SetLastError("");
    {
        std::lock_guard lock(FJoinLock);
        FJoinFrom = 0;
    }
    std::lock_guard lock(FCounterLock);
    FFinishedCount = 0;
    FNextTask = 0;
    FPendingCount = 0;
    FAllDone = false;
    FThreaded = false;
    FWorking = false;
}

void TCustomFFmpegVCL::RemoveTask(int taskIndex) {
    CheckNotWorking("RemoveTask");
    if (taskIndex < 0 || taskIndex >= TaskCount()) return;
    FTasks.erase(FTasks.begin() + taskIndex);
}

void TCustomFFmpegVCL::StartTask(int threadCount) {
    CheckNotWorking("StartTask");
    {
        std::lock_guard lock(FJoinLock);
        FJoinFrom = 0;  // tasks may have been removed since
    }
    {
        std::lock_guard lock(FCounterLock);
        FFinishedCount = 0;
        FNextTask = 0;
        FPendingCount = TaskCount();
        FAllDone = false;
        FThreaded = threadCount > 0;
        FWorking = true;
        // Tasks side by side divide the machine rather than each asking for all of it.
        const int atOnce = std::max(1, std::min(threadCount, TaskCount()));
        const int cores = std::max(1, int(std::thread::hardware_concurrency()));
        FCoreShare = atOnce > 1 ? std::max(1, cores / atOnce) : 0;
    }
    if (FTasks.empty()) {
        // Nothing to wait for: the run is over at once, so the caller still hears its end.
        TTerminateInfo all;
        all.Finished = true;
        if (FThreaded) FAllDone = true;
        Raise(all);
        FAllDone = true;
        return;
    }
    if (FThreaded) {
        for (int i = 0; i < threadCount; ++i) StartNext();
    } else {
        for (;;) {
            {
                std::lock_guard lock(FCounterLock);
                if (FPendingCount <= 0) break;
            }
            StartNext();
        }
        // A stop from inside the run ends the tasks that never started on threads of their
        // own; the run on the caller's thread is over only when they have reported too.
        for (auto& task : FTasks) task->WaitDone();
    }
}

void TCustomFFmpegVCL::JoinEndedWorkers() {
    std::lock_guard lock(FJoinLock);
    int next;
    {
        std::lock_guard counters(FCounterLock);
        next = FNextTask;
    }
    // Tasks run in order, a few at a time: the scan stops at the first one still running.
    while (FJoinFrom < size_t(next) && FJoinFrom < FTasks.size() && FTasks[FJoinFrom]->JoinReturnedWorker()) ++FJoinFrom;
}

void TCustomFFmpegVCL::StartNext() {
    if (FThreaded) JoinEndedWorkers();
    TFFmpeg* task = nullptr;
    {
        std::lock_guard lock(FCounterLock);
        if (FPendingCount <= 0 || FNextTask >= TaskCount()) return;
        --FPendingCount;
        task = FTasks[size_t(FNextTask++)].get();
        task->CoreShare = FCoreShare;
    }
    task->ProgressInterval = int64_t(FProgressInterval) * 1000;
    // A run on the main thread keeps to that thread: its stages would wait for the main
    // thread to take their previews while it waits for room in their queues.
    if (!FThreaded && FTriggerEventInMainThread && TheMainThread().IsMainThread()) task->Settings().Pipeline = false;
    if (!task->Start(FThreaded, FThreadPriority)) {
        // Ended before its turn (stopped while waiting): it reported then; count it here.
        TaskEnded();
    }
}

void TCustomFFmpegVCL::PauseTask() {
    for (auto& task : FTasks) task->PauseRun();
}

void TCustomFFmpegVCL::ResumeTask() {
    for (auto& task : FTasks) task->ResumeRun();
}

void TCustomFFmpegVCL::StopTask(bool waitForEnd) {
    {
        std::lock_guard lock(FCounterLock);
        FPendingCount = 0;
    }
    for (auto& task : FTasks) task->Stop(false);
    if (waitForEnd && tCannotWait == 0)
        for (auto& task : FTasks) task->WaitDone();
}

void TCustomFFmpegVCL::SetPreview(bool value) {
    FPreview = value;
    for (auto& task : FTasks) {
        if (value) {
            task->PreviewMask |= 1;
            if (!task->Running()) task->PreviewFlags = 2;
        } else {
            task->PreviewMask &= ~1;
            task->Previewer.reset();  // windows live on the main thread, like this call
        }
    }
}

void TCustomFFmpegVCL::SetPreviewBitmap(bool value) {
    FPreviewBitmap = value;
    for (auto& task : FTasks) {
        if (value) {
            task->PreviewMask |= 2;
            if (!task->Running()) task->PreviewFlags = 2;
        } else {
            task->PreviewMask &= ~2;
        }
    }
}

void TCustomFFmpegVCL::Deliver(const std::function<void()>& fn) {
    auto guarded = [&fn] {
        CannotWait guard;
        fn();
    };
    if (FTriggerEventInMainThread && !TheMainThread().IsMainThread())
        TheMainThread().RunAndWait(guarded);
    else
        guarded();
}

// ---------------------------------------------------------------- events

void TCustomFFmpegVCL::DoCustomHook(TFFmpeg& task, TFrameBitmap& bitmap, bool& update, bool& stopHook, int64_t pts,
                                    int frameNumber) {
    TCustomHookEvent handler = OnCustomHook;
    if (!handler) {
        // Nobody draws on the frames: let them pass untouched from now on.
        update = false;
        stopHook = true;
        return;
    }
    std::lock_guard lock(FHookLock);
    FHookInfo.TaskIndex = IndexOf(task);
    FHookInfo.Bitmap = &bitmap;
    FHookInfo.FrameNumber = frameNumber;
    FHookInfo.PTS = pts;
    FHookInfo.Update = true;
    FHookInfo.StopHook = false;
    try {
        handler(this, &FHookInfo);
    } catch (const std::exception&) {
        throw;
    } catch (...) {
        throw std::runtime_error("Unknown exception");
    }
    update = FHookInfo.Update;
    stopHook = FHookInfo.StopHook;
}

void TCustomFFmpegVCL::DoPreviewBitmap(TFFmpeg& task, const TFrameBitmap& bitmap, int64_t pts, int frameNumber) {
    if (!OnPreviewBitmap) return;
    std::lock_guard lock(FPreviewLock);
    FPreviewInfo.TaskIndex = IndexOf(task);
    FPreviewInfo.Bitmap = &bitmap;
    FPreviewInfo.FrameNumber = frameNumber;
    FPreviewInfo.PTS = pts;
    Deliver([this] {
        if (TPreviewBitmapEvent handler = OnPreviewBitmap) handler(this, FPreviewInfo);
    });
}

void TCustomFFmpegVCL::ShowPreview(TFFmpeg& task, const TFrameBitmap& bitmap, int64_t pts) {
    // Windows are made, fed and freed on the main thread only, so no lock is needed here.
    TheMainThread().RunAndWait([&] {
        if (!(task.PreviewMask & 1)) return;
        if (!task.Previewer) task.Previewer = MakePreviewer();
        if (!task.Previewer) {
            task.PreviewMask &= ~1;  // no window in this program
            return;
        }
        if (task.Previewer->Closed()) {
            task.PreviewMask &= ~1;
            return;
        }
        task.Previewer->ShowFrame(bitmap, pts);
    });
}

void TCustomFFmpegVCL::DoProgress(TFFmpeg& task, const TEngineProgress& values) {
    if (!OnProgress) return;
    std::lock_guard lock(FProgressLock);
    FProgressInfo.TaskIndex = IndexOf(task);
    FProgressInfo.FileIndex = values.FileIndex;
    FProgressInfo.FrameNumber = values.FrameNumber;
    FProgressInfo.FPS = values.FPS;
    FProgressInfo.Quality = values.Quality;
    FProgressInfo.BitRate = values.BitRate;
    FProgressInfo.CurrentSize = values.CurrentSize;
    FProgressInfo.CurrentDuration = values.CurrentDuration;
    FProgressInfo.TotalDuration = values.TotalDuration;
    Deliver([this] {
        if (TProgressEvent handler = OnProgress) handler(this, &FProgressInfo);
    });
}

void TCustomFFmpegVCL::DoTerminate(TFFmpeg& task) {
    std::lock_guard lock(FTerminateLock);
    if (OnTerminate) {
        FTerminateInfo.TaskIndex = IndexOf(task);
        FTerminateInfo.Finished = task.Finished();
        FTerminateInfo.Exception = task.HasException();
        FTerminateInfo.ExceptionMsg = task.ExceptionMsg();
        FTerminateInfo.IncompleteMsg = task.Finished() && !task.HasException() ? task.IncompleteText() : std::string();
        FTerminateInfo.Incomplete = !FTerminateInfo.IncompleteMsg.empty();
        FTerminateInfo.Started = task.StartedRun();
        FTerminateInfo.Skipped = task.Skipped();
        Raise(FTerminateInfo);
    }
    TaskEnded();
}

void TCustomFFmpegVCL::TaskEnded() {
    std::lock_guard terminate(FTerminateLock);
    bool allEnded = false, startNext = false;
    {
        std::lock_guard lock(FCounterLock);
        ++FFinishedCount;
        if (FPendingCount < 1 && FFinishedCount >= TaskCount())
            allEnded = !FAllDone;
        else if (FThreaded && FPendingCount > 0)
            startNext = true;
    }
    if (allEnded) {
        TTerminateInfo all;
        all.TaskIndex = -1;
        all.Finished = true;
        // A handler on another thread may clear the tasks at once; it must be allowed to.
        if (FThreaded) FAllDone = true;
        Raise(all);
        FAllDone = true;
    } else if (startNext) {
        StartNext();
    }
}

void TCustomFFmpegVCL::Raise(const TTerminateInfo& info) {
    TTerminateEvent handler = OnTerminate;
    if (!handler) return;
    if (!FThreaded) {
        handler(this, info);
        return;
    }
    QueueTerminate(handler, info);  // from the delivery thread too: behind the ones queued
}

void TCustomFFmpegVCL::QueueTerminate(const TTerminateEvent& handler, const TTerminateInfo& info) {
    std::lock_guard lock(FQueueLock);
    if (!FDeliveryThread.joinable()) FDeliveryThread = std::thread([this] { DeliveryLoop(); });
    FQueue.emplace_back(handler, info);
    FQueueChanged.notify_all();
}

void TCustomFFmpegVCL::DeliveryLoop() {
    tDelivering = true;
    std::unique_lock lock(FQueueLock);
    for (;;) {
        FQueueChanged.wait(lock, [this] { return FQuit || !FQueue.empty(); });
        if (FQueue.empty()) return;  // quit, with nothing left to deliver
        auto [handler, info] = std::move(FQueue.front());
        FQueue.pop_front();
        FHandling = true;
        lock.unlock();
        try {
            handler(this, info);
        } catch (...) {
            FFLogger().Log(this, llError, "Error occurs OnTerminate: " + CurrentExceptionText());
        }
        lock.lock();
        FHandling = false;
        FQueueChanged.notify_all();
        lock.unlock();
        TheMainThread().WakeWaiters();
        lock.lock();
    }
}

void TCustomFFmpegVCL::WaitDelivered() {
    // A handler clearing the tasks cannot wait for itself, nor for the events behind it.
    if (tDelivering) return;
    WaitUntil(FQueueLock, FQueueChanged, [this] { return FQueue.empty() && !FHandling; });
}
