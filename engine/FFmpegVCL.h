#pragma once
// The engine component: a list of transcoding tasks, started on worker threads, paused,
// resumed and stopped together, whose engine callbacks come out as four events carrying
// fixed records. Windows and the terminal front end drive every conversion through it.
#include <array>
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

#include "engine/FFmpeg.h"
#include "engine/FrameBitmap.h"
#include "engine/Previewer.h"
#include "engine/TaskOptions.h"

class TAVProbe;
class TCustomFFmpegVCL;

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Gives the calling thread the priority: idle → SCHED_IDLE, normal → nice 0, lower → nice 5,
// lowest → nice 10; the raised ones ask for a negative nice value, which needs privileges
// and otherwise leaves the thread at normal. Returns false when the system refused.
bool ApplyThreadPriority(TThreadPriority priority);

struct THookInfo {
    int TaskIndex = -1;
    TFrameBitmap* Bitmap = nullptr;  // the decoded frame, BGR24, top row first
    int FrameNumber = 0;             // 1 for the first frame
    int64_t PTS = 0;                 // microseconds
    bool Update = true;              // true: the bitmap goes back into the frame
    bool StopHook = false;           // true: no more calls for this task
};
using PHookInfo = THookInfo*;

struct TPreviewInfo {
    int TaskIndex = -1;
    const TFrameBitmap* Bitmap = nullptr;
    int FrameNumber = 0;
    int64_t PTS = 0;
};

struct TProgressInfo {
    int TaskIndex = -1;
    int FileIndex = 0;
    int FrameNumber = -1;  // -1 without video
    int FPS = -1;          // -1 without video, 0 during the first second
    float Quality = -1.0f;
    float BitRate = 0.0f;          // kbit/s
    int64_t CurrentSize = 0;       // bytes
    int64_t CurrentDuration = 0;   // microseconds
    int64_t TotalDuration = -1;    // microseconds, -1 when unknown
};
using PProgressInfo = TProgressInfo*;

struct TTerminateInfo {
    int TaskIndex = -1;  // -1: every task of the run has ended
    bool Finished = false;
    bool Exception = false;
    std::string ExceptionMsg;
    // The run reached the end of its source, but the source ended clearly short of its
    // stated length: the output is finished and holds what arrived. Says how much that was.
    bool Incomplete = false;
    std::string IncompleteMsg;
    bool Started = false;  // the task's run began (false: stopped before its turn)
    bool Skipped = false;  // its output was left alone (TOutputPolicy::Skip); ExceptionMsg says why
};

using TCustomHookEvent = std::function<void(TCustomFFmpegVCL* Sender, PHookInfo AHookInfo)>;
using TPreviewBitmapEvent = std::function<void(TCustomFFmpegVCL* Sender, const TPreviewInfo& APreviewInfo)>;
using TProgressEvent = std::function<void(TCustomFFmpegVCL* Sender, PProgressInfo AProgressInfo)>;
using TTerminateEvent = std::function<void(TCustomFFmpegVCL* Sender, const TTerminateInfo& ATerminateInfo)>;

// One task of the component: an engine object with one input and one output as the
// program uses it, the probes of its inputs, copies of the options it was given, and the
// worker thread that runs it.
//
// Threads: the task is made, set up, started, stopped and destroyed by the thread that
// owns the component (the main thread); its run goes on its worker thread, which the task
// joins before it is destroyed. The state below is the only thing both sides change.
class TFFmpeg : public TCustomFFmpeg {
public:
    static constexpr int MaxFiles = 20;
    TFFmpeg();
    ~TFFmpeg() override;

    // The probe of input i, made on first use; null for an index out of range, and null
    // on the task's worker thread.
    //
    // The probe rule: a task's probes belong to the thread that owns the component. Each
    // is a copy of its own, opened on the input's file when first asked for, so the run
    // never reads, changes or closes what the probe reads, and the probe stays readable
    // during and after the run. Probes are closed when the task is destroyed, on the
    // owner's thread; the run never touches them.
    TAVProbe* InputProbe(int i);
    // Copies kept of the options each input and output was given.
    std::vector<TInputOptions> InputOptions;
    std::vector<TOutputOptions> OutputOptions;

    // Starts the run. Refused (false) when running or already ended. A task without an
    // output or input fails at once: the failure is logged, recorded and the end reported.
    // threaded: runs on a worker thread of the given priority and returns at once;
    // otherwise runs to its end on the calling thread.
    bool Start(bool threaded, TThreadPriority priority);
    // Asks the run to stop; a task never started is ended and reported at once. With wait,
    // returns when the task has ended (serving the main thread's queue while waiting on the
    // main thread).
    void Stop(bool wait);
    void PauseRun();
    void ResumeRun();

    // Ready → Running ⇄ Paused → Ending → Done; Ready → Ending when stopped before its start.
    // Ending: the run is over and the end is being reported; Done: nothing of the task runs.
    enum class TState { Ready, Running, Paused, Ending, Done };
    TState State() const { return FState; }
    bool Running() const { return FState == TState::Running || FState == TState::Paused; }
    bool Ended() const { return FState == TState::Ending || FState == TState::Done; }
    bool Finished() const { return FFinished; }
    bool HasException() const { return FException; }
    bool Skipped() const { return FSkipped; }
    bool StartedRun() const { return FStartedRun; }

    // What opens the task's files when its run starts, on the run's thread, in order; empty
    // when they were opened as the task was set up. Until then the task holds no library
    // object and no file.
    std::vector<std::function<void(TFFmpeg& task)>> OpenSteps;
    int PlannedOutputs = 0;  // outputs among OpenSteps
    std::string ExceptionMsg() const;
    bool Paused() const { return FState == TState::Paused; }

    // The end report's receiver (the component's DoTerminate).
    std::function<void(TFFmpeg& task)> OnEnd;
    // Bit 0: the preview window; bit 1: the preview-bitmap event. Read by the worker.
    std::atomic<int> PreviewMask{0};
    // The window of bit 0, made on the main thread on first use.
    std::unique_ptr<TPreviewer> Previewer;

    // Waits until nothing of the task runs any more and joins its worker thread.
    void WaitDone();
    // Joins the worker if it has returned; true when no worker is left to join. Never
    // waits for the task: a worker that has not returned yet is left alone.
    bool JoinReturnedWorker();

    // A task encoded in two passes: the engine object of the first pass, run before the
    // task's own, and the folder of the pass log, removed when the run ends.
    std::unique_ptr<TCustomFFmpeg> FirstPass;
    std::string PassFolder;

private:
    void Execute();
    bool RunFirstPass();
    void RemovePassFolder();
    void RequestStops();
    void EndReport();
    void SetError(const std::string& message);
    void SetState(TState state);

    std::vector<std::unique_ptr<TAVProbe>> FProbes;  // owner's thread only
    std::thread FThread;
    std::atomic<bool> FWorkerReturned{false};  // the worker's last step: nothing of it touches the task after
    // Changed under FStateLock, read without it; FStateChanged tells waiters.
    std::atomic<TState> FState{TState::Ready};
    std::mutex FStateLock;
    std::condition_variable FStateChanged;
    bool FThreadedRun = false;  // under FStateLock: the run has a worker, so it can be paused
    bool FSilent = false;       // under FStateLock: being destroyed, no end report
    // The outcome, written by the run before it reports its end.
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FException{false};
    std::atomic<bool> FSkipped{false};
    std::atomic<bool> FStartedRun{false};
    mutable std::mutex FErrorLock;
    std::string FExceptionMsg;
};

// Holds the About text and the component's version.
class TFFBaseComponent {
public:
    virtual ~TFFBaseComponent() = default;
    const std::string& About() const { return FAbout; }
    void SetAbout(const std::string& value) { FAbout = value; }
    std::string Version() const;

private:
    std::string FAbout = "ReelShift engine component";
};

class TCustomFFmpegVCL : public TFFBaseComponent {
public:
    TCustomFFmpegVCL();
    ~TCustomFFmpegVCL() override;
    TCustomFFmpegVCL(const TCustomFFmpegVCL&) = delete;
    TCustomFFmpegVCL& operator=(const TCustomFFmpegVCL&) = delete;

    bool LoadLibraries(const std::string& libraryFolder);

    // The task's index, or -1 with LastError.
    int AddTask(const std::string& fileName, const TInputOptions* options = nullptr);
    bool SetOutputFile(int taskIndex, const std::string& fileName, const TOutputOptions* options = nullptr);
    void ClearTasks();
    void RemoveTask(int taskIndex);
    void StartTask(int threadCount);
    void PauseTask();
    void ResumeTask();
    // From inside a task's run or one of its progress or preview handlers the wait is
    // skipped: the tasks cannot end while the caller holds them up.
    void StopTask(bool waitForEnd);

    int TaskCount() const { return int(FTasks.size()); }
    TAVProbe* InputProbe(int taskIndex, int inputIndex);
    TFFmpeg* Task(int taskIndex);
    std::string LastError() const;
    // The component's own probe, for reading a file's information before adding it.
    TAVProbe& Probe() { return *FProbe; }

    bool Preview() const { return FPreview; }
    void SetPreview(bool value);
    bool PreviewBitmap() const { return FPreviewBitmap; }
    void SetPreviewBitmap(bool value);
    int ProgressInterval() const { return FProgressInterval; }
    void SetProgressInterval(int milliseconds) { FProgressInterval = milliseconds <= 100 ? 100 : milliseconds; }
    TThreadPriority ThreadPriority() const { return FThreadPriority; }
    void SetThreadPriority(TThreadPriority value) { FThreadPriority = value; }
    bool TriggerEventInMainThread() const { return FTriggerEventInMainThread; }
    void SetTriggerEventInMainThread(bool value) { FTriggerEventInMainThread = value; }
    int Verbose() const { return FVerbose; }
    void SetVerbose(int value) { FVerbose = value; }
    // When set, AddTask and SetOutputFile only record what to open; each task opens its input
    // and output when its turn comes and releases everything when it ends, so a waiting task
    // costs no descriptor and no library context. An input or output that cannot be opened
    // then fails its task (OnTerminate) instead of AddTask or SetOutputFile.
    bool OpenOnStart() const { return FOpenOnStart; }
    void SetOpenOnStart(bool value) { FOpenOnStart = value; }
    // Given to every new task: what its finished output does with an existing file.
    TOutputPolicy OutputPolicy() const { return FOutputPolicy; }
    void SetOutputPolicy(TOutputPolicy value) { FOutputPolicy = value; }

    // State of the run, for the callers that follow it.
    bool Working() const { return FWorking; }
    bool AllDone() const { return FAllDone; }

    TCustomHookEvent OnCustomHook;
    TPreviewBitmapEvent OnPreviewBitmap;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

protected:
    // The engine's callbacks, in this order.
    virtual void DoCustomHook(TFFmpeg& task, TFrameBitmap& bitmap, bool& update, bool& stopHook, int64_t pts,
                              int frameNumber);
    virtual void DoPreviewBitmap(TFFmpeg& task, const TFrameBitmap& bitmap, int64_t pts, int frameNumber);
    virtual void DoProgress(TFFmpeg& task, const TEngineProgress& values);
    virtual void DoTerminate(TFFmpeg& task);

private:
    // The first of a task's two passes: the task's input and output options, no sound, no
    // file; its pass log in a temporary folder the task owns.
    void SetUpFirstPass(TFFmpeg& task, const std::vector<std::pair<std::string, std::string>>& outputOptions);
    void CheckNotWorking(const char* operation) const;
    int IndexOf(const TFFmpeg& task) const;
    void StartNext();
    // Joins the workers of the tasks that have ended: an exited thread that is not joined
    // keeps its stack, and a run of thousands of tasks would keep thousands of them.
    void JoinEndedWorkers();
    // Counts an ended task; raises the all-ended event or starts the next task.
    void TaskEnded();
    void Raise(const TTerminateInfo& info);
    void ShowPreview(TFFmpeg& task, const TFrameBitmap& bitmap, int64_t pts);
    // Runs fn on the main thread when events go there and the caller is another thread.
    void Deliver(const std::function<void()>& fn);
    void SetLastError(const std::string& text);

    std::vector<std::unique_ptr<TFFmpeg>> FTasks;
    std::unique_ptr<TAVProbe> FProbe;
    mutable std::mutex FErrorLock;
    std::string FLastError;
    int FVerbose = 1;
    bool FOpenOnStart = false;
    TOutputPolicy FOutputPolicy = TOutputPolicy::Replace;

    bool FPreview = false;
    bool FPreviewBitmap = false;
    std::atomic<int> FProgressInterval{500};
    std::atomic<TThreadPriority> FThreadPriority{tpNormal};
    std::atomic<bool> FTriggerEventInMainThread{true};

    // run counters
    std::mutex FCounterLock;
    int FFinishedCount = 0;
    int FNextTask = 0;
    int FPendingCount = 0;
    std::atomic<bool> FAllDone{false};
    std::atomic<bool> FThreaded{false};
    std::atomic<bool> FWorking{false};
    int FCoreShare = 0;  // under FCounterLock: the cores each running task may keep busy
    std::mutex FJoinLock;
    size_t FJoinFrom = 0;  // under FJoinLock: the tasks before it have no worker left to join

    // one record and one lock per event kind
    std::mutex FHookLock;
    std::mutex FPreviewLock;
    std::mutex FProgressLock;
    std::recursive_mutex FTerminateLock;  // a task that fails at start reports from inside
    THookInfo FHookInfo;
    TPreviewInfo FPreviewInfo;
    TProgressInfo FProgressInfo;
    TTerminateInfo FTerminateInfo;

    // Terminate events of threaded runs go through one queue to one delivery thread, in
    // the order they happened. The thread is made on the first such event and joined by
    // the component's destructor; the component must not be destroyed from that thread.
    void QueueTerminate(const TTerminateEvent& handler, const TTerminateInfo& info);
    void DeliveryLoop();
    // Returns when every queued event has been handled (at once on the delivery thread).
    void WaitDelivered();
    std::thread FDeliveryThread;
    std::mutex FQueueLock;
    std::condition_variable FQueueChanged;
    std::deque<std::pair<TTerminateEvent, TTerminateInfo>> FQueue;
    bool FHandling = false;  // a handler runs
    bool FQuit = false;
};

class TFFmpegVCL : public TCustomFFmpegVCL {
public:
    using TCustomFFmpegVCL::TCustomFFmpegVCL;
};

// Waits until done is set, serving the main thread's queue meanwhile when called on the
// main thread, so that a worker waiting for the main thread cannot block the wait. For
// conditions nobody signals; it looks again every pollMilliseconds.
void WaitServing(const std::function<bool()>& done, int pollMilliseconds = 20);
