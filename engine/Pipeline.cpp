#include "engine/Pipeline.h"

#include "engine/FFmpegException.h"

TPipeline::TPipeline(TRunServices& run, size_t depth) : FRun(run), FDepth(depth ? depth : 1) {}

TPipeline::~TPipeline() {
    FAbandoned = true;
    CancelAll();
    JoinAll();
}

void TPipeline::Add(TOutputStream& ost) {
    auto stage = std::make_unique<Stage>();
    stage->Ost = &ost;
    stage->Queue = std::make_unique<BoundedQueue<Item>>(ost.Type() == AVMEDIA_TYPE_VIDEO ? FDepth : FDepth * 4);
    Stage* s = stage.get();
    const int index = int(FStages.size());
    FStages.push_back(std::move(stage));
    s->Thread = std::make_unique<TStageThread>([this, s] { Run(*s); },
                                               [this, s, index] {
                                                   int none = -1;
                                                   FFirstFailed.compare_exchange_strong(none, index);
                                                   FFailed = true;
                                                   // The run's thread may wait for room in this queue.
                                                   s->Queue->Cancel();
                                               });
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
            s->Queue->Cancel();
        else
            s->Queue->Close();
    }
    JoinAll();
    if (FFailed) RaiseFirstError();
}

void TPipeline::CancelAll() {
    for (auto& s : FStages) s->Queue->Cancel();
}

void TPipeline::JoinAll() {
    for (auto& s : FStages)
        if (s->Thread) s->Thread->Join();
}

void TPipeline::RaiseFirstError() {
    const int first = FFirstFailed;
    if (first >= 0 && first < int(FStages.size()))
        if (std::exception_ptr e = FStages[size_t(first)]->Thread->Error()) {
            // Nothing more is worth encoding: the others stop too.
            FAbandoned = true;
            CancelAll();
            std::rethrow_exception(e);
        }
    throw FFmpegException("A stage of the run failed");
}
