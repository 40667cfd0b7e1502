#include "engine/Pipeline.h"

#include "engine/FFmpegException.h"
#include "engine/VideoOutput.h"

namespace {
thread_local bool tStageThread = false;
}

bool TPipeline::OnStageThread() { return tStageThread; }

TPipeline::TPipeline(TRunServices& run, size_t depth) : FRun(run), FDepth(depth ? depth : 1) {}

TPipeline::~TPipeline() {
    FAbandoned = true;
    CancelAll();
    JoinAll();
    // The streams outlive the stages: their filters write to the encoder again.
    for (auto& s : FStages)
        if (s->Filtered) static_cast<TVideoOutput*>(s->Ost)->SetFilteredHandoff(nullptr);
}

void TPipeline::Add(TOutputStream& ost) {
    auto stage = std::make_unique<Stage>();
    stage->Ost = &ost;
    auto* video = ost.Type() == AVMEDIA_TYPE_VIDEO ? dynamic_cast<TVideoOutput*>(&ost) : nullptr;
    stage->Queue = std::make_unique<BoundedQueue<Item>>(ost.Type() == AVMEDIA_TYPE_VIDEO ? FDepth : FDepth * 4);
    Stage* s = stage.get();
    FStages.push_back(std::move(stage));
    // Scaling a large picture costs about what encoding a small one does: on one thread
    // they would be the slowest stage. A picture handed on as decoded costs its filters
    // nothing, and a thread more would only compete with the encoder's own. So does it
    // beside an encoder with frame threads, whose calls only hand the picture over: the
    // filters on a thread of their own cost DNxHR and ProRes about 2 % more time, in colder
    // caches and more pictures in flight.
    if (!video || !video->FiltersChangeThePicture() || video->EncoderHasFrameThreads()) {
        Start(*s, [this, s] { Run(*s); });
        return;
    }
    s->Filtered = std::make_unique<BoundedQueue<Item>>(FDepth);
    video->SetFilteredHandoff([s](AVFrame& frame, int64_t ptsUs) {
        Item item;
        item.Frame.reset(avutil().av_frame_clone(&frame));
        if (!item.Frame) throw FFmpegException("Out of memory");
        item.PtsUs = ptsUs;
        s->Filtered->Push(std::move(item));  // false: the encoder's side has ended
    });
    Start(*s, [this, s, video] { RunEncoder(*s, *video); });
    Start(*s, [this, s, video] { RunFilters(*s, *video); });
}

void TPipeline::Start(Stage& stage, std::function<void()> body) {
    const int index = int(FThreads.size());
    Stage* s = &stage;
    auto marked = [body = std::move(body)] {
        tStageThread = true;
        body();
    };
    FThreads.push_back(std::make_unique<TStageThread>(std::move(marked), [this, s, index] {
        int none = -1;
        FFirstFailed.compare_exchange_strong(none, index);
        FFailed = true;
        // The run's thread may wait for room in the stage's queue, its other thread for either.
        s->Cancel();
    }));
}

TPipeline::Stage* TPipeline::Find(const TOutputStream& ost) const {
    for (const auto& s : FStages)
        if (s->Ost == &ost) return s.get();
    return nullptr;
}

void TPipeline::Run(Stage& stage) {
    while (auto item = stage.Queue->Pop()) stage.Ost->Write(item->Frame.get(), item->PtsUs, FRun);
    if (!FAbandoned) stage.Ost->Flush(FRun);
}

void TPipeline::RunFilters(Stage& stage, TVideoOutput& video) {
    while (auto item = stage.Queue->Pop()) video.Write(item->Frame.get(), item->PtsUs, FRun);
    if (!FAbandoned) video.FlushFilters(FRun);
    stage.Filtered->Close();
}

void TPipeline::RunEncoder(Stage& stage, TVideoOutput& video) {
    while (auto item = stage.Filtered->Pop()) video.EncodeFiltered(item->Frame.get(), item->PtsUs, FRun);
    if (!FAbandoned) video.FlushEncoder(FRun);
}

void TPipeline::Write(TOutputStream& ost, const AVFrame& frame, int64_t ptsUs) {
    if (FFailed) RaiseFirstError();
    Stage* stage = Find(ost);
    if (!stage) throw FFmpegException("The stream has no stage");
    Item item;
    item.Frame.reset(avutil().av_frame_clone(&frame));
    if (!item.Frame) throw FFmpegException("Out of memory");
    item.PtsUs = ptsUs;
    if (!stage->Queue->Push(std::move(item)) && FFailed) RaiseFirstError();
}

void TPipeline::Finish(bool stopped) {
    for (auto& s : FStages) {
        if (stopped)
            s->Cancel();
        else
            s->Queue->Close();  // a picture stage's filters close the encoder's queue when done
    }
    JoinAll();
    if (FFailed) RaiseFirstError();
}

void TPipeline::CancelAll() {
    for (auto& s : FStages) s->Cancel();
}

void TPipeline::JoinAll() {
    for (auto& t : FThreads) t->Join();
}

void TPipeline::RaiseFirstError() {
    const int first = FFirstFailed;
    if (first >= 0 && first < int(FThreads.size()))
        if (std::exception_ptr e = FThreads[size_t(first)]->Error()) {
            // Nothing more is worth encoding: the others stop too.
            FAbandoned = true;
            CancelAll();
            std::rethrow_exception(e);
        }
    throw FFmpegException("A stage of the run failed");
}
