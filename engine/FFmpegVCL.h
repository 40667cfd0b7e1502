#pragma once
// The engine component: a list of transcoding tasks, started on worker threads, paused,
// resumed and stopped together, whose engine callbacks come out as four events carrying
// fixed records. Windows and the terminal front end drive every conversion through it.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
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
};

using TCustomHookEvent = std::function<void(TCustomFFmpegVCL* Sender, PHookInfo AHookInfo)>;
using TPreviewBitmapEvent = std::function<void(TCustomFFmpegVCL* Sender, const TPreviewInfo& APreviewInfo)>;
using TProgressEvent = std::function<void(TCustomFFmpegVCL* Sender, PProgressInfo AProgressInfo)>;
using TTerminateEvent = std::function<void(TCustomFFmpegVCL* Sender, const TTerminateInfo& ATerminateInfo)>;

// One task of the component: an engine object with one input and one output as the
// program uses it, the probes of its inputs, copies of the options it was given, and the
// worker thread that runs it.
class TFFmpeg : public TCustomFFmpeg {
public:
    static constexpr int MaxFiles = 20;
    TFFmpeg();
    ~TFFmpeg() override;

    // The probe of input i, made on first use; null for an index out of range.
    TAVProbe* InputProbe(int i);
    // Copies kept of the options each input and output was given.
    std::vector<TInputOptions> InputOptions;
    std::vector<TOutputOptions> OutputOptions;

    // Starts the run. Refused (false) when running or already ended. A task without an
    // output or input fails at once: the failure is logged, recorded and the end reported.
    // threaded: runs on a worker thread of the given priority and returns at once;
    // otherwise runs to its end on the calling thread.
    bool Start(bool threaded, TThreadPriority priority);
    // Asks the run to stop; a task never started is ended at once, its end report made on a
    // short-lived thread. With wait, returns when the task has ended (serving the main
    // thread's queue while waiting on the main thread).
    void Stop(bool wait);
    void PauseRun();
    void ResumeRun();

    bool Running() const { return FRunning; }
    bool Ended() const { return FEnded; }
    bool Finished() const { return FFinished; }
    bool HasException() const { return FException; }
    std::string ExceptionMsg() const;
    bool Paused() const { return FPausedRun; }

    // The end report's receiver (the component's DoTerminate).
    std::function<void(TFFmpeg& task)> OnEnd;
    // Bit 0: the preview window; bit 1: the preview-bitmap event. Read by the worker.
    std::atomic<int> PreviewMask{0};
    // The window of bit 0, made on the main thread on first use.
    std::unique_ptr<TPreviewer> Previewer;

    // Waits for the worker thread (and a short-lived end-report thread) to finish.
    void WaitDone();

private:
    void Execute();
    void Fail(const std::string& message);
    void EndReport();
    void SetError(const std::string& message);

    std::vector<std::unique_ptr<TAVProbe>> FProbes;
    std::thread FThread;
    std::atomic<bool> FDone{true};
    std::atomic<bool> FRunning{false};
    std::atomic<bool> FEnded{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FException{false};
    std::atomic<bool> FPausedRun{false};
    std::atomic<bool> FSilent{false};
    std::atomic<bool> FThreadedRun{false};  // being destroyed: no end report
    mutable std::mutex FErrorLock;
    std::string FExceptionMsg;
    std::mutex FStateLock;  // start and stop of the same task from two threads
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
    void CheckNotWorking(const char* operation) const;
    int IndexOf(const TFFmpeg& task) const;
    void StartNext();
    // Counts an ended task; raises the all-ended event or starts the next task.
    void TaskEnded();
    void Raise(const TTerminateInfo& info);
    void ShowPreview(TFFmpeg& task, const TFrameBitmap& bitmap, int64_t pts);
    // Runs fn on the main thread when events go there and the caller is another thread.
    void Deliver(const std::function<void()>& fn);
    void SetLastError(const std::string& text);
    void JoinTerminateThreads();

    std::vector<std::unique_ptr<TFFmpeg>> FTasks;
    std::unique_ptr<TAVProbe> FProbe;
    mutable std::mutex FErrorLock;
    std::string FLastError;
    int FVerbose = 1;

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

    // one record and one lock per event kind
    std::mutex FHookLock;
    std::mutex FPreviewLock;
    std::mutex FProgressLock;
    std::recursive_mutex FTerminateLock;  // a task that fails at start reports from inside
    THookInfo FHookInfo;
    TPreviewInfo FPreviewInfo;
    TProgressInfo FProgressInfo;
    TTerminateInfo FTerminateInfo;

    // Short-lived threads that raise OnTerminate in threaded runs; they hand the records
    // over in the order the events happened.
    struct TDeliveryThread {
        std::thread Thread;
        std::shared_ptr<std::atomic<bool>> Done;
    };
    std::mutex FDeliveryThreadsLock;
    std::vector<TDeliveryThread> FDeliveryThreads;
    std::mutex FOrderLock;
    std::condition_variable FOrderChanged;
    uint64_t FIssued = 0;
    uint64_t FDelivered = 0;
};

class TFFmpegVCL : public TCustomFFmpegVCL {
public:
    using TCustomFFmpegVCL::TCustomFFmpegVCL;
};

// Waits until done is set, serving the main thread's queue meanwhile when called on the
// main thread, so that a worker waiting for the main thread cannot block the wait.
void WaitServing(const std::function<bool()>& done, int pollMilliseconds = 20);
