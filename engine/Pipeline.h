#pragma once
// The encoded outputs of a run, each on threads of its own. The run's thread decodes and
// runs the hook, then hands every frame (a new reference, no copy) to the stage's queue.
// A sound stage's thread resamples and encodes through the stream's own Write; a picture
// stage has two threads, one filtering and scaling, one encoding what the first hands it
// through a second queue. Packets go out through the run's services (which lock the muxer).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/AVHandles.h"
#include "engine/BoundedQueue.h"
#include "engine/EngineStreams.h"
#include "engine/StageThread.h"

class TPipeline {
public:
    // depth: the frames a stage's queue holds (video; sound frames are small and take four times as many).
    TPipeline(TRunServices& run, size_t depth);
    // Cancels what is still running (a run that failed): no flush, every thread joined.
    ~TPipeline();
    TPipeline(const TPipeline&) = delete;
    TPipeline& operator=(const TPipeline&) = delete;

    // Starts the thread of an opened, encoded output stream.
    void Add(TOutputStream& ost);
    bool Handles(const TOutputStream& ost) const { return Find(ost) != nullptr; }
    // True on the threads of a stage.
    static bool OnStageThread();
    // Queues frame for ost; waits while its queue is full. Raises a stage's error.
    void Write(TOutputStream& ost, const AVFrame& frame, int64_t ptsUs);
    // Ends the stages: queued frames are encoded (dropped when stopped), the encoders
    // drained, the threads joined. Raises the first error a stage met.
    void Finish(bool stopped);

private:
    struct Item {
        FramePtr Frame;
        int64_t PtsUs = 0;
    };
    struct Stage {
        TOutputStream* Ost = nullptr;
        std::unique_ptr<BoundedQueue<Item>> Queue;     // decoded frames
        std::unique_ptr<BoundedQueue<Item>> Filtered;  // pictures: filtered frames for the encoder
        void Cancel() {
            Queue->Cancel();
            if (Filtered) Filtered->Cancel();
        }
    };
    Stage* Find(const TOutputStream& ost) const;
    void Start(Stage& stage, std::function<void()> body);
    void Run(Stage& stage);
    void RunFilters(Stage& stage, class TVideoOutput& video);
    void RunEncoder(Stage& stage, class TVideoOutput& video);
    void CancelAll();
    void JoinAll();
    void RaiseFirstError();

    TRunServices& FRun;
    const size_t FDepth;
    std::vector<std::unique_ptr<Stage>> FStages;
    std::vector<std::unique_ptr<TStageThread>> FThreads;  // joined in the order they started
    std::atomic<bool> FAbandoned{false};  // no flush: the run failed
    std::atomic<bool> FFailed{false};
    std::atomic<int> FFirstFailed{-1};
};
