// The engine component: task list, runs on the calling thread and on workers, pause, stop,
// the four events and their records, the frame hook, and the misuse texts.
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegVCL.h"
#include "engine/MainThread.h"
#include "engine/OutputClaim.h"
#include "player/AVProbe.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

// Collects terminate records from whatever thread raises them.
struct TerminateLog {
    std::mutex lock;
    std::vector<TTerminateInfo> records;

    void Attach(TFFmpegVCL& vcl) {
        vcl.OnTerminate = [this](TCustomFFmpegVCL*, const TTerminateInfo& info) {
            std::lock_guard l(lock);
            records.push_back(info);
        };
    }
    bool AllEnded() {
        std::lock_guard l(lock);
        for (const auto& r : records)
            if (r.TaskIndex == -1) return true;
        return false;
    }
    std::vector<TTerminateInfo> Copy() {
        std::lock_guard l(lock);
        return records;
    }
    // Waits on the main thread, serving it, at most the given time.
    bool WaitAllEnded(int seconds = 60) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        WaitServing([&] { return AllEnded() || std::chrono::steady_clock::now() > until; }, 5);
        return AllEnded();
    }
};

class Component : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError();
        Media = new TempDir;
        MakeClip(Media->file("clip.avi"), 2, {"-c:v", "mpeg4", "-c:a", "mp2"});
    }
    static void TearDownTestSuite() {
        delete Media;
        Media = nullptr;
    }

    static std::string Clip() { return Media->file("clip.avi"); }

    TOutputOptions Options() const {
        TOutputOptions o;
        o.VideoCodec = "mpeg4";
        o.AudioCodec = "mp2";
        return o;
    }

    // A task from the clip to out with the given options; fails the test when refused.
    int AddJob(TFFmpegVCL& vcl, const std::string& out, const TOutputOptions& o) {
        int index = vcl.AddTask(Clip());
        EXPECT_GE(index, 0) << vcl.LastError();
        EXPECT_TRUE(vcl.SetOutputFile(index, out, &o)) << vcl.LastError();
        return index;
    }

    static TempDir* Media;
    TempDir Out;
};
TempDir* Component::Media = nullptr;

std::vector<double> FrameLuma(const std::string& file) {
    auto r = Run({"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-vf",
                  "signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-", "-f", "null", "-"});
    std::vector<double> values;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find("YAVG=");
        if (eq != std::string::npos) values.push_back(std::stod(line.substr(eq + 5)));
    }
    return values;
}

}  // namespace

TEST(ComponentProperties, ProgressIntervalHasAFloorOf100AndOtherDefaults) {
    TFFmpegVCL vcl;
    EXPECT_EQ(vcl.ProgressInterval(), 500);
    vcl.SetProgressInterval(50);
    EXPECT_EQ(vcl.ProgressInterval(), 100);
    vcl.SetProgressInterval(250);
    EXPECT_EQ(vcl.ProgressInterval(), 250);
    EXPECT_FALSE(vcl.Preview());
    EXPECT_FALSE(vcl.PreviewBitmap());
    EXPECT_TRUE(vcl.TriggerEventInMainThread());
    EXPECT_EQ(vcl.ThreadPriority(), tpNormal);
    EXPECT_EQ(vcl.TaskCount(), 0);
    EXPECT_EQ(vcl.Version(), "3.3.0.0");
}

TEST_F(Component, UnthreadedStartRunsEveryTaskAndRaisesTheEndBeforeReturning) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    std::vector<int> progressTasks;
    int64_t lastDuration = 0, total = 0;
    vcl.OnProgress = [&](TCustomFFmpegVCL*, PProgressInfo p) {
        progressTasks.push_back(p->TaskIndex);
        lastDuration = p->CurrentDuration;
        total = p->TotalDuration;
    };
    AddJob(vcl, Out.file("a.avi"), Options());
    AddJob(vcl, Out.file("b.avi"), Options());
    vcl.StartTask(0);

    auto records = log.Copy();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].TaskIndex, 0);
    EXPECT_TRUE(records[0].Finished);
    EXPECT_FALSE(records[0].Exception) << records[0].ExceptionMsg;
    EXPECT_EQ(records[1].TaskIndex, 1);
    EXPECT_EQ(records[2].TaskIndex, -1);
    EXPECT_TRUE(records[2].Finished);
    EXPECT_TRUE(vcl.AllDone());
    ASSERT_FALSE(progressTasks.empty());
    EXPECT_EQ(progressTasks.back(), 1);
    EXPECT_NEAR(double(total), 2e6, 1e5);
    EXPECT_NEAR(double(lastDuration), 2e6, 1.5e5);
    for (const char* name : {"a.avi", "b.avi"}) {
        EXPECT_EQ(ProbeValue(Out.file(name), "stream=codec_name", "v:0"), "mpeg4");
        EXPECT_EQ(ProbeValue(Out.file(name), "stream=codec_name", "a:0"), "mp2");
    }
    vcl.ClearTasks();
    EXPECT_EQ(vcl.TaskCount(), 0);
}

TEST_F(Component, TwoWorkersRunTwoTasksAtOnceAndTheThirdWhenOneEnds) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    std::mutex lock;
    std::set<int> seen;
    bool overlapSeen = false, thirdWaited = false, thirdEarly = false;
    vcl.OnCustomHook = [&](TCustomFFmpegVCL* sender, PHookInfo h) {
        auto* self = static_cast<TFFmpegVCL*>(sender);
        std::this_thread::sleep_for(std::chrono::milliseconds(4));  // keep the first two busy together
        h->Update = false;
        std::lock_guard l(lock);
        if (h->TaskIndex < 2 && self->Task(1 - h->TaskIndex)->Running()) overlapSeen = true;
        if (self->Task(2)->Running() && !self->Task(0)->Ended() && !self->Task(1)->Ended()) thirdEarly = true;
        if (h->TaskIndex == 2 && !seen.count(2))
            thirdWaited = self->Task(0)->Ended() || self->Task(1)->Ended();
        seen.insert(h->TaskIndex);
    };
    TOutputOptions o = Options();
    o.CustomHook = true;
    for (const char* name : {"a.avi", "b.avi", "c.avi"}) AddJob(vcl, Out.file(name), o);
    vcl.StartTask(2);
    EXPECT_TRUE(vcl.Task(0)->Running() || vcl.Task(0)->Ended());
    EXPECT_TRUE(vcl.Task(1)->Running() || vcl.Task(1)->Ended());
    ASSERT_TRUE(log.WaitAllEnded());
    EXPECT_TRUE(overlapSeen);
    EXPECT_TRUE(thirdWaited);
    EXPECT_FALSE(thirdEarly);
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2}));
    auto records = log.Copy();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records.back().TaskIndex, -1);  // delivered in the order they happened
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(records[i].Finished) << records[i].ExceptionMsg;
}

TEST_F(Component, StopWithWaitOnAPausedRunEndsEveryTaskUnfinished) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    std::atomic<int> frames{0};
    vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo h) {
        h->Update = false;
        ++frames;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    TOutputOptions o = Options();
    o.CustomHook = true;
    AddJob(vcl, Out.file("a.avi"), o);
    AddJob(vcl, Out.file("b.avi"), o);
    AddJob(vcl, Out.file("c.avi"), o);  // never starts: ended by the stop
    vcl.StartTask(2);
    WaitServing([&] { return frames >= 4; }, 5);
    vcl.PauseTask();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const int pausedAt = frames;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LE(frames - pausedAt, 0) << "a paused task kept converting";
    EXPECT_TRUE(vcl.Task(0)->Paused());

    vcl.StopTask(true);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(vcl.Task(i)->Ended());
        EXPECT_FALSE(vcl.Task(i)->Finished());
    }
    ASSERT_TRUE(log.WaitAllEnded());
    auto records = log.Copy();
    ASSERT_EQ(records.size(), 4u);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(records[i].Finished);
    EXPECT_EQ(records[3].TaskIndex, -1);
    vcl.ClearTasks();
    EXPECT_FALSE(std::filesystem::exists(Out.file("c.avi")));  // never written, never left empty
}

TEST_F(Component, ATaskWithoutOutputFailsAtItsStart) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    ASSERT_EQ(vcl.AddTask(Clip()), 0) << vcl.LastError();
    vcl.StartTask(0);
    auto records = log.Copy();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(records[0].Finished);
    EXPECT_TRUE(records[0].Exception);
    EXPECT_EQ(records[0].ExceptionMsg, "At least one output file must be specified");
    EXPECT_EQ(records[1].TaskIndex, -1);
}

TEST_F(Component, ATaskTakesTwentyOutputsAtMost) {
    TFFmpegVCL vcl;
    int task = vcl.AddTask(Clip());
    ASSERT_EQ(task, 0);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(vcl.SetOutputFile(task, Out.file("o" + std::to_string(i) + ".avi"), nullptr)) << vcl.LastError();
    EXPECT_FALSE(vcl.SetOutputFile(task, Out.file("o20.avi"), nullptr));
    EXPECT_EQ(vcl.LastError(), "max output files 20 reached");
    EXPECT_FALSE(std::filesystem::exists(Out.file("o20.avi")));
    vcl.ClearTasks();
    EXPECT_EQ(vcl.LastError(), "");
    // Opened but never written: nothing is left behind.
    EXPECT_FALSE(std::filesystem::exists(Out.file("o0.avi")));
}

TEST_F(Component, MediaErrorsGoToLastErrorAndMisuseRaises) {
    TFFmpegVCL vcl;
    EXPECT_EQ(vcl.AddTask(Out.file("missing.avi")), -1);
    EXPECT_NE(vcl.LastError().find("missing.avi"), std::string::npos) << vcl.LastError();
    EXPECT_EQ(vcl.TaskCount(), 0);

    int task = vcl.AddTask(Clip());
    TOutputOptions o = Options();
    o.VideoCodec = "nosuchencoder";
    EXPECT_FALSE(vcl.SetOutputFile(task, Out.file("x.avi"), &o));
    EXPECT_NE(vcl.LastError().find("nosuchencoder"), std::string::npos) << vcl.LastError();
    EXPECT_FALSE(vcl.SetOutputFile(7, Out.file("x.avi"), &o));
    vcl.RemoveTask(task);
    EXPECT_EQ(vcl.TaskCount(), 0);
}

TEST_F(Component, ClearTasksRaisesWhileATaskRunsAndSucceedsAfterTheEnd) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    std::atomic<bool> started{false};
    vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo h) {
        h->Update = false;
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    TOutputOptions o = Options();
    o.CustomHook = true;
    AddJob(vcl, Out.file("a.avi"), o);
    vcl.StartTask(1);
    WaitServing([&] { return started.load(); }, 5);
    try {
        vcl.ClearTasks();
        FAIL() << "ClearTasks went through while a task ran";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Cannot ClearTasks while working.");
    }
    EXPECT_THROW(vcl.AddTask(Clip()), FFmpegException);
    try {
        vcl.StartTask(1);
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Cannot StartTask while working.");
    }
    ASSERT_TRUE(log.WaitAllEnded());
    EXPECT_NO_THROW(vcl.ClearTasks());
    EXPECT_FALSE(vcl.Working());
}

TEST_F(Component, AHookThatRaisesLeavesTheFrameAndTheTaskGoesOn) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    std::atomic<int> calls{0};
    vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo h) {
        ++calls;
        // Paint the whole frame white, then fail on every even frame.
        for (int y = 0; y < h->Bitmap->Height(); ++y) std::memset(h->Bitmap->Row(y), 255, size_t(h->Bitmap->Width()) * 3);
        if (h->FrameNumber % 2 == 0) throw std::runtime_error("drawing failed");
    };
    TOutputOptions o = Options();
    o.CustomHook = true;
    o.VideoBitrate = 2000000;
    AddJob(vcl, Out.file("a.avi"), o);
    vcl.StartTask(0);
    auto records = log.Copy();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].Finished);
    EXPECT_FALSE(records[0].Exception) << records[0].ExceptionMsg;
    EXPECT_EQ(calls, 50);

    auto luma = FrameLuma(Out.file("a.avi"));
    ASSERT_EQ(luma.size(), 50u);
    for (size_t i = 0; i < luma.size(); ++i) {
        // Frame i + 1 went through the hook; even numbers raised and kept the picture.
        if ((i + 1) % 2 == 0)
            EXPECT_LT(luma[i], 200) << "frame " << i + 1;
        else
            EXPECT_GT(luma[i], 230) << "frame " << i + 1;
    }
}

TEST_F(Component, AHookThatStopsIsNotCalledAgainAndNoHandlerLeavesFramesAlone) {
    TFFmpegVCL vcl;
    std::atomic<int> calls{0};
    vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo h) {
        ++calls;
        h->StopHook = true;
    };
    TOutputOptions o = Options();
    o.CustomHook = true;
    AddJob(vcl, Out.file("a.avi"), o);
    vcl.StartTask(0);
    EXPECT_EQ(calls, 1);
    vcl.ClearTasks();

    vcl.OnCustomHook = nullptr;
    TerminateLog log;
    log.Attach(vcl);
    AddJob(vcl, Out.file("b.avi"), o);
    vcl.StartTask(0);
    auto records = log.Copy();
    ASSERT_FALSE(records.empty());
    EXPECT_TRUE(records[0].Finished) << records[0].ExceptionMsg;
    EXPECT_EQ(FrameLuma(Out.file("b.avi")).size(), 50u);
}

// A run on the caller's (main) thread: the previews are delivered there too, so the run may
// not wait for a thread of its own that waits for the main thread to show one.
TEST_F(Component, AnUnthreadedRunWithPreviewsEnds) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    vcl.SetPreviewBitmap(true);
    const auto mainId = std::this_thread::get_id();
    int previews = 0, offMain = 0;
    vcl.OnPreviewBitmap = [&](TCustomFFmpegVCL*, const TPreviewInfo&) {
        ++previews;
        if (std::this_thread::get_id() != mainId) ++offMain;
    };
    AddJob(vcl, Out.file("a.avi"), Options());
    {
        testsupport::Watchdog watchdog(30, "the unthreaded run with previews did not end");
        vcl.StartTask(0);
    }
    auto records = log.Copy();
    ASSERT_FALSE(records.empty());
    EXPECT_TRUE(records[0].Finished) << records[0].ExceptionMsg;
    EXPECT_GE(previews, 1);
    EXPECT_EQ(offMain, 0);
}

TEST_F(Component, ProgressAndPreviewArriveOnTheMainThreadWithTheirRecords) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    vcl.SetProgressInterval(100);
    vcl.SetPreviewBitmap(true);
    const auto mainId = std::this_thread::get_id();
    std::atomic<int> progress{0}, previews{0}, offMain{0};
    int width = 0, height = 0;
    vcl.OnProgress = [&](TCustomFFmpegVCL*, PProgressInfo p) {
        ++progress;
        if (std::this_thread::get_id() != mainId) ++offMain;
        EXPECT_EQ(p->TaskIndex, 0);
        EXPECT_GE(p->CurrentSize, 0);
    };
    vcl.OnPreviewBitmap = [&](TCustomFFmpegVCL*, const TPreviewInfo& p) {
        ++previews;
        if (std::this_thread::get_id() != mainId) ++offMain;
        width = p.Bitmap->Width();
        height = p.Bitmap->Height();
        EXPECT_GE(p.FrameNumber, 1);
    };
    vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo h) {
        h->Update = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(6));  // a run of about 300 ms
    };
    TOutputOptions o = Options();
    o.CustomHook = true;
    AddJob(vcl, Out.file("a.avi"), o);
    vcl.StartTask(1);
    ASSERT_TRUE(log.WaitAllEnded());
    EXPECT_GE(progress, 2);
    EXPECT_GE(previews, 1);
    EXPECT_EQ(offMain, 0);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);

    // Switched off, the worker raises them itself.
    vcl.ClearTasks();
    log.records.clear();
    vcl.SetTriggerEventInMainThread(false);
    AddJob(vcl, Out.file("b.avi"), o);
    vcl.StartTask(1);
    ASSERT_TRUE(log.WaitAllEnded());
    EXPECT_GT(offMain, 0);
}

TEST_F(Component, WorkersRunAtTheChosenPriority) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    std::map<int, int> niceOf, policyOf;
    std::mutex lock;
    vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo h) {
        const pid_t tid = pid_t(::syscall(SYS_gettid));
        std::lock_guard l(lock);
        niceOf[h->TaskIndex] = ::getpriority(PRIO_PROCESS, id_t(tid));
        policyOf[h->TaskIndex] = ::sched_getscheduler(tid);
        h->StopHook = true;
        h->Update = false;
    };
    TOutputOptions o = Options();
    o.CustomHook = true;
    AddJob(vcl, Out.file("a.avi"), o);
    vcl.SetThreadPriority(tpLowest);
    vcl.StartTask(1);
    ASSERT_TRUE(log.WaitAllEnded());
    EXPECT_EQ(niceOf[0], 10);
    vcl.ClearTasks();

    log.records.clear();
    AddJob(vcl, Out.file("b.avi"), o);
    vcl.SetThreadPriority(tpIdle);
    vcl.StartTask(1);
    ASSERT_TRUE(log.WaitAllEnded());
    EXPECT_EQ(policyOf[0], SCHED_IDLE);
}

TEST_F(Component, ExtraOptionLinesAddStreamsAfterTheOutputOpens) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    TOutputOptions o = Options();
    // The field is the first stream's codec; the line waits for the stream "newaudio" adds.
    o.ExtOptions = " acodec=pcm_s16le<CRLF>newaudio\r\n";
    o.Metadata.Title = "Component test";
    AddJob(vcl, Out.file("a.mkv"), o);
    vcl.StartTask(0);
    auto records = log.Copy();
    ASSERT_FALSE(records.empty());
    EXPECT_TRUE(records[0].Finished) << records[0].ExceptionMsg;
    EXPECT_EQ(ProbeValue(Out.file("a.mkv"), "stream=codec_name", "a:0"), "mp2");
    EXPECT_EQ(ProbeValue(Out.file("a.mkv"), "stream=codec_name", "a:1"), "pcm_s16le");
    EXPECT_EQ(ProbeValue(Out.file("a.mkv"), "format_tags=title"), "Component test");
}

TEST_F(Component, InputOptionsAndTheProbeOfTheOpenedInput) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    TInputOptions in;
    in.StartTime = 1000000;
    in.ExtOptions = "vn=1";
    int task = vcl.AddTask(Clip(), &in);
    ASSERT_EQ(task, 0) << vcl.LastError();
    TAVProbe* probe = vcl.InputProbe(0, 0);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->VideoStreamCount(), 1);
    EXPECT_EQ(probe->VideoStreamInfo(-1).Width, 320);
    EXPECT_EQ(vcl.InputProbe(0, 1), nullptr);
    EXPECT_EQ(vcl.Task(0)->InputOptions.at(0).FileName, Clip());

    TOutputOptions o;
    o.AudioCodec = "mp2";
    o.VideoDisable = true;
    ASSERT_TRUE(vcl.SetOutputFile(task, Out.file("a.mp2"), &o)) << vcl.LastError();
    vcl.StartTask(0);
    EXPECT_EQ(ProbeValue(Out.file("a.mp2"), "stream=codec_type"), "audio");
    EXPECT_NEAR(std::stod(ProbeValue(Out.file("a.mp2"), "format=duration")), 1.0, 0.15);
}

TEST_F(Component, HandlersMayStopTheRunWithoutWaitingForThemselves) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    vcl.SetProgressInterval(100);
    vcl.OnProgress = [](TCustomFFmpegVCL* sender, PProgressInfo) { sender->StopTask(true); };
    vcl.OnCustomHook = [](TCustomFFmpegVCL*, PHookInfo h) {
        h->Update = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    TOutputOptions o = Options();
    o.CustomHook = true;
    AddJob(vcl, Out.file("a.avi"), o);
    AddJob(vcl, Out.file("b.avi"), o);
    vcl.StartTask(2);
    ASSERT_TRUE(log.WaitAllEnded(20));
    for (const auto& r : log.Copy()) EXPECT_EQ(r.Finished, r.TaskIndex == -1);
    vcl.ClearTasks();

    // The same from a hook of a run on the calling thread.
    log.records.clear();
    vcl.OnProgress = nullptr;
    vcl.OnCustomHook = [](TCustomFFmpegVCL* sender, PHookInfo h) {
        h->Update = false;
        sender->PauseTask();  // nothing to hold on the calling thread: skipped
        if (h->FrameNumber == 5) sender->StopTask(true);
    };
    AddJob(vcl, Out.file("c.avi"), o);
    AddJob(vcl, Out.file("d.avi"), o);
    vcl.StartTask(0);
    ASSERT_TRUE(log.AllEnded());
    // The task that never started reports from a thread of its own, so in any order.
    std::set<int> ended;
    for (const auto& r : log.Copy()) {
        ended.insert(r.TaskIndex);
        EXPECT_EQ(r.Finished, r.TaskIndex == -1);
    }
    EXPECT_EQ(ended, (std::set<int>{-1, 0, 1}));
}

TEST_F(Component, StartingNoTasksEndsTheRunAtOnce) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    vcl.StartTask(1);
    ASSERT_TRUE(log.WaitAllEnded(5));
    EXPECT_NO_THROW(vcl.ClearTasks());
}

// The window showing a task's input reads its probe while the task runs and after it ended;
// the run must neither change nor free what that thread reads.
TEST_F(Component, TheMainThreadReadsAnInputProbeWhileItsTaskRuns) {
    TFFmpegVCL vcl;
    TerminateLog log;
    log.Attach(vcl);
    std::atomic<int> frames{0};
    vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo h) {
        h->Update = false;
        ++frames;
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    };
    TOutputOptions o = Options();
    o.CustomHook = true;
    AddJob(vcl, Out.file("a.avi"), o);
    AddJob(vcl, Out.file("b.avi"), o);
    const std::string before = vcl.InputProbe(0, 0)->FileInfoText();
    ASSERT_NE(before.find("Stream #1"), std::string::npos) << before;

    vcl.StartTask(2);
    int reads = 0, changed = 0;
    while (!log.AllEnded()) {
        for (int task = 0; task < 2; ++task) {
            TAVProbe* probe = vcl.InputProbe(task, 0);
            ASSERT_NE(probe, nullptr);
            if (probe->FileInfoText() != before) ++changed;
            if (probe->VideoStreamInfo(-1).Width != 320) ++changed;
            ++reads;
        }
        TheMainThread().ServePending();
    }
    EXPECT_GT(frames, 0);
    EXPECT_GT(reads, 10);
    EXPECT_EQ(changed, 0);
    // Ended, the task still answers for its input until it is removed.
    EXPECT_EQ(vcl.InputProbe(1, 0)->FileInfoText(), before);
    for (const auto& r : log.Copy()) EXPECT_TRUE(r.Finished) << r.ExceptionMsg;
    vcl.ClearTasks();
}

TEST_F(Component, TerminateEventsOfAThreadedRunComeFromOneThreadOfTheirOwn) {
    TFFmpegVCL vcl;
    std::mutex lock;
    std::set<std::thread::id> workers, deliverers;
    std::vector<int> order;
    std::atomic<bool> allEnded{false};
    vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo h) {
        h->StopHook = true;
        h->Update = false;
        std::lock_guard l(lock);
        workers.insert(std::this_thread::get_id());
    };
    vcl.OnTerminate = [&](TCustomFFmpegVCL*, const TTerminateInfo& t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let events pile up
        std::lock_guard l(lock);
        deliverers.insert(std::this_thread::get_id());
        order.push_back(t.TaskIndex);
        if (t.TaskIndex == -1) allEnded = true;
    };
    TOutputOptions o = Options();
    o.CustomHook = true;
    for (const char* name : {"a.avi", "b.avi", "c.avi"}) AddJob(vcl, Out.file(name), o);
    vcl.StartTask(3);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    WaitServing([&] { return allEnded.load() || std::chrono::steady_clock::now() > until; }, 5);
    ASSERT_TRUE(allEnded);
    vcl.ClearTasks();
    std::lock_guard l(lock);
    ASSERT_EQ(deliverers.size(), 1u);
    EXPECT_NE(*deliverers.begin(), std::this_thread::get_id());
    EXPECT_EQ(workers.count(*deliverers.begin()), 0u);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order.back(), -1);
    EXPECT_EQ(std::set<int>(order.begin(), order.end() - 1), (std::set<int>{0, 1, 2}));
}

TEST_F(Component, DestroyedInAPausedRunItStopsJoinsAndReportsEveryTask) {
    TerminateLog log;
    std::atomic<int> frames{0};
    {
        TFFmpegVCL vcl;
        log.Attach(vcl);
        vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo h) {
            h->Update = false;
            ++frames;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        };
        TOutputOptions o = Options();
        o.CustomHook = true;
        AddJob(vcl, Out.file("a.avi"), o);
        AddJob(vcl, Out.file("b.avi"), o);
        vcl.StartTask(1);
        WaitServing([&] { return frames >= 2; }, 5);
        vcl.PauseTask();
        EXPECT_TRUE(vcl.Task(0)->Paused());
    }
    // Every event was handled before the destructor returned, on a thread it joined.
    auto records = log.Copy();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].TaskIndex, 0);
    EXPECT_FALSE(records[0].Finished);
}

namespace {
int OpenDescriptors() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) (void)e, ++n;
    return n;
}
std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
}  // namespace

// Tasks that open their files at their turn: nothing held while waiting, the output under a
// hidden name until it is complete, nothing left by a failed or stopped task, and a name
// another writer holds is skipped or refused.
TEST_F(Component, TasksOpenedAtTheirTurnHoldNothingWaitingAndLeaveOnlyFinishedFiles) {
    TFFmpegVCL vcl;
    vcl.SetOpenOnStart(true);
    vcl.SetOutputPolicy(TOutputPolicy::Keep);
    TerminateLog log;
    log.Attach(vcl);
    const int before = OpenDescriptors();
    std::vector<std::string> seenDuringRun;
    std::atomic<int> frames{0};
    vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo h) {
        h->Update = false;
        if (++frames == 3 && h->TaskIndex == 0) seenDuringRun = FilesIn(Out.path().string());
        if (h->TaskIndex == 1 && frames > 3) vcl.StopTask(false);  // stopped mid-file
    };
    TOutputOptions o = Options();
    o.CustomHook = true;
    for (const char* name : {"a.avi", "b.avi"}) AddJob(vcl, Out.file(name), o);
    TOutputOptions bad = Options();
    bad.VideoCodec = "nosuchencoder";
    AddJob(vcl, Out.file("c.avi"), bad);  // accepted now, fails at its turn
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_TRUE(FilesIn(Out.path().string()).empty());

    vcl.StartTask(1);
    ASSERT_TRUE(log.WaitAllEnded());
    EXPECT_EQ(seenDuringRun, std::vector<std::string>{".a.avi.reelshift-part"});
    std::map<int, TTerminateInfo> ends;
    for (const auto& r : log.Copy()) ends[r.TaskIndex] = r;
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_TRUE(ends[0].Finished && ends[0].Started);
    EXPECT_TRUE(!ends[1].Finished && ends[1].Started && !ends[1].Exception);  // stopped mid-file
    EXPECT_TRUE(!ends[2].Finished && !ends[2].Started);                      // never began
    EXPECT_EQ(FilesIn(Out.path().string()), std::vector<std::string>{"a.avi"});
    EXPECT_EQ(ProbeValue(Out.file("a.avi"), "stream=codec_name"), "mpeg4\nmp2");
    vcl.ClearTasks();
    EXPECT_EQ(OpenDescriptors(), before);

    // c fails at its turn with the encoder's text; d is held by another writer: refused when
    // keeping, skipped when skipping; a held temporary file outlives a clean-up, an
    // abandoned one does not.
    bool busy = false;
    auto other = TOutputClaim::Take(Out.file("d.avi"), &busy, nullptr);
    ASSERT_TRUE(other);
    std::filesystem::copy_file(Clip(), Out.file(".e.avi.reelshift-part"));
    EXPECT_TRUE(TOutputClaim::Busy(Out.file("d.avi")));
    EXPECT_FALSE(TOutputClaim::Busy(Out.file("e.avi")));
    EXPECT_EQ(RemoveAbandonedOutputs(Out.path().string()), 1);
    log.records.clear();
    AddJob(vcl, Out.file("c.avi"), bad);
    AddJob(vcl, Out.file("d.avi"), Options());
    vcl.StartTask(0);
    auto records = log.Copy();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_TRUE(records[0].Exception);
    EXPECT_NE(records[0].ExceptionMsg.find("nosuchencoder"), std::string::npos) << records[0].ExceptionMsg;
    EXPECT_TRUE(records[1].Exception);
    EXPECT_NE(records[1].ExceptionMsg.find("being converted by another program"), std::string::npos);
    vcl.ClearTasks();
    log.records.clear();
    vcl.SetOutputPolicy(TOutputPolicy::Skip);
    AddJob(vcl, Out.file("d.avi"), Options());
    AddJob(vcl, Out.file("a.avi"), Options());  // finished before: skipped too
    vcl.StartTask(0);
    records = log.Copy();
    ASSERT_EQ(records.size(), 3u);
    for (int i : {0, 1}) {
        EXPECT_TRUE(records[i].Skipped) << i;
        EXPECT_FALSE(records[i].Exception) << i;
    }
    EXPECT_NE(records[1].ExceptionMsg.find("exists already"), std::string::npos) << records[1].ExceptionMsg;
    vcl.ClearTasks();
    EXPECT_EQ(FilesIn(Out.path().string()), (std::vector<std::string>{".d.avi.reelshift-part", "a.avi"}));
    other.reset();
    EXPECT_EQ(FilesIn(Out.path().string()), std::vector<std::string>{"a.avi"});

    // A stop in the moment after the start, before the task's worker has opened its files,
    // holds: opening gives the task fresh settings, not a fresh run.
    log.records.clear();
    vcl.SetOutputPolicy(TOutputPolicy::Keep);
    AddJob(vcl, Out.file("f.avi"), Options());
    vcl.StartTask(1);
    vcl.StopTask(true);
    ASSERT_TRUE(log.WaitAllEnded());
    records = log.Copy();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(records[0].Finished);
    EXPECT_FALSE(records[0].Exception) << records[0].ExceptionMsg;
    vcl.ClearTasks();
    EXPECT_EQ(FilesIn(Out.path().string()), std::vector<std::string>{"a.avi"});
}
