// A run's stages on threads of their own: the same output as the one-thread run, stops that
// end promptly with full queues, errors of a stage thread raised with their text, and the
// bounded queue that connects the stages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "engine/BoundedQueue.h"
#include "engine/EncoderThreads.h"
#include "engine/FFmpegLogger.h"
#include "engine/MainThread.h"
#include "tests/engine/EngineTestSupport.h"

using namespace enginetest;
namespace fs = std::filesystem;

namespace {

std::string Bytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int ThreadsOfProcess() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// A clip long enough for the queues to fill: 320x240, 25 fps, 44.1 kHz tone.
const std::string& LongClip() {
    static const std::string path = [] {
        std::string p = Scratch().file("pipeline_long.mp4");
        testsupport::MakeClip(p, 8.0, {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
        return p;
    }();
    return path;
}

Outcome ConvertWith(bool pipeline, const std::string& output, const Options& options,
                    const std::string& input = BasicClip(), std::function<void(TCustomFFmpeg&)> more = nullptr) {
    Job job{{input}, {}, output, options, false, nullptr};
    job.setup = [pipeline, more](TCustomFFmpeg& task) {
        task.Settings().Pipeline = pipeline;
        if (more) more(task);
    };
    return Convert(job);
}

}  // namespace

// The muxer sees the packets in the same interleaved order however the stages overlap.
TEST(Pipeline, OutputIsByteIdenticalToTheOneThreadRun) {
    struct Case {
        const char* name;
        Options options;
        std::string input;
    } cases[] = {
        {"av.avi", {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}, {"s", "160x120"}}, BasicClip()},
        {"av.mp4", {{"vcodec", "libx264"}, {"acodec", "aac"}}, BasicClip()},
        {"audio.mp3", {{"vn", "1"}, {"acodec", "libmp3lame"}}, BasicClip()},
        {"video.avi", {{"an", "1"}, {"vcodec", "mpeg4"}}, BasicClip()},
        // The picture changes size halfway: the filters are rebuilt on their thread while
        // the encoder's thread still has the frames of the first size.
        {"resized.avi", {{"an", "1"}, {"vcodec", "mpeg4"}, {"s", "200x150"}}, SizeChangingClip()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string one = Scratch().file(std::string("one_") + c.name);
        const std::string many = Scratch().file(std::string("many_") + c.name);
        Outcome a = ConvertWith(false, one, c.options, c.input);
        Outcome b = ConvertWith(true, many, c.options, c.input);
        ASSERT_TRUE(a.ok) << a.error;
        ASSERT_TRUE(b.ok) << b.error;
        EXPECT_TRUE(b.finished);
        const std::string bytes = Bytes(many);
        EXPECT_GT(bytes.size(), 1000u);
        EXPECT_TRUE(bytes == Bytes(one)) << "outputs differ";
        EXPECT_EQ(ProbeReport(many)["format.duration"], ProbeReport(one)["format.duration"]);
    }
}

// The video stage is held up (its preview handler is slow), so the decoder fills its queue
// and waits; a stop request must still end the run at once and leave no thread behind. The
// picture is encoded as decoded (one thread filters and encodes) or scaled (two threads).
TEST(Pipeline, StopWithFullQueuesEndsPromptlyAndJoinsEveryThread) {
    const std::string clip = LongClip();
    for (const char* size : {"", "160x120"}) {
        SCOPED_TRACE(*size ? "scaled" : "as decoded");
        const int before = ThreadsOfProcess();
        std::atomic<int> hooked{0};
        std::atomic<int64_t> stoppedAt{0};
        const std::string output = Scratch().file(std::string("stopped") + size + ".avi");
        TCustomFFmpeg* running = nullptr;
        std::thread::id hookThread, previewThread;
        auto slowPreview = [&](TCustomFFmpeg& task) {
            running = &task;
            task.PreviewFlags = 2;
            task.OnPreviewBitmap = [&](const TFrameBitmap&, int64_t, int) {
                previewThread = std::this_thread::get_id();
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
            };
            task.OnCustomHook = [&](TFrameBitmap&, bool& update, bool&, int64_t, int) {
                update = false;
                hookThread = std::this_thread::get_id();
                if (++hooked == 40) {
                    stoppedAt = std::chrono::steady_clock::now().time_since_epoch().count();
                    running->RequestStop();
                }
            };
        };
        Options options{{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}};
        if (*size) options.push_back({"s", size});
        Outcome out = ConvertWith(true, output, options, clip, slowPreview);
        const auto end = std::chrono::steady_clock::now().time_since_epoch().count();
        ASSERT_TRUE(out.ok) << out.error;
        EXPECT_FALSE(out.finished);
        ASSERT_GT(stoppedAt.load(), 0);
        // One frame in encoding and one preview at most, not the queued frames nor the rest of the clip.
        EXPECT_LT(std::chrono::steady_clock::duration(end - stoppedAt.load()), std::chrono::seconds(1));
        EXPECT_LT(hooked.load(), 200);
        // The hook runs with the decoder, the preview with the video encoder.
        EXPECT_NE(hookThread, previewThread);
        EXPECT_EQ(ThreadsOfProcess(), before);
    }
}

// A disk that is full: the muxer fails on a stage's thread; the run raises the same text as
// the one-thread run, and nothing is left running.
TEST(Pipeline, AWriteErrorOnAStageThreadIsRaisedWithItsText) {
    const std::string clip = LongClip();
    const int before = ThreadsOfProcess();
    std::string errors[2];
    for (int pipeline = 0; pipeline < 2; ++pipeline) {
        // A link, so that removing a failed output removes the link only.
        const std::string output = Scratch().file("full" + std::to_string(pipeline) + ".avi");
        fs::remove(output);
        fs::create_symlink("/dev/full", output);
        Outcome out = ConvertWith(pipeline == 1, output, {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}}, clip);
        EXPECT_FALSE(out.ok);
        errors[pipeline] = out.error;
        fs::remove(output);
    }
    EXPECT_NE(errors[1].find("No space left on device"), std::string::npos) << errors[1];
    EXPECT_EQ(errors[1], errors[0]);
    EXPECT_EQ(ThreadsOfProcess(), before);
}

// What the caller's preview handler throws (it runs on the video stage's thread) ends the run
// as it does on one thread: the same text, and nothing left running.
TEST(Pipeline, AFailingPreviewHandlerOnAStageThreadEndsTheRunWithItsText) {
    const std::string clip = LongClip();
    const int before = ThreadsOfProcess();
    std::string errors[2];
    for (int pipeline = 0; pipeline < 2; ++pipeline) {
        SCOPED_TRACE(pipeline ? "stage threads" : "one thread");
        const std::string output = Scratch().file("previewfails" + std::to_string(pipeline) + ".avi");
        int previews = 0;
        Outcome out = ConvertWith(pipeline == 1, output, {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}}, clip,
                                  [&](TCustomFFmpeg& task) {
                                      task.PreviewFlags = 2;
                                      task.OnPreviewBitmap = [&](const TFrameBitmap&, int64_t, int) {
                                          if (++previews == 1) throw std::runtime_error("the preview window is gone");
                                      };
                                  });
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(previews, 1);
        errors[pipeline] = out.error;
    }
    EXPECT_NE(errors[1].find("the preview window is gone"), std::string::npos) << errors[1];
    EXPECT_EQ(errors[1], errors[0]);
    EXPECT_EQ(ThreadsOfProcess(), before);
}

// The picture's size changes while the encoder is held up by a slow preview, so the run's
// thread (the main thread here) waits for room in the queue when the filters' thread logs
// the change: the line is posted to the main thread, not waited for, and arrives there.
// The preview is 200 pixels wide, not a multiple of the 16 the scaler converts at a time.
TEST(Pipeline, AStageThreadLogsWithoutWaitingForTheBusyMainThread) {
    ASSERT_TRUE(TheMainThread().IsMainThread());
    auto lines = std::make_shared<std::vector<std::string>>();
    const std::string output = Scratch().file("resized_slow.avi");
    std::optional<testsupport::Watchdog> watchdog(std::in_place, 30, "the run waited for the main thread it runs on");
    Outcome out = ConvertWith(true, output, {{"an", "1"}, {"vcodec", "mpeg4"}, {"s", "200x150"}}, SizeChangingClip(),
                              [lines](TCustomFFmpeg& task) {
                                  FFLogger().TriggerEventInMainThread = true;
                                  // Pending lines outlive the run: the handler owns what it writes to.
                                  FFLogger().OnLog = [lines](const void*, TThreadID, TLogLevel, const std::string& m) {
                                      lines->push_back(m);
                                  };
                                  task.PreviewFlags = 2;
                                  task.OnPreviewBitmap = [](const TFrameBitmap&, int64_t, int) {
                                      std::this_thread::sleep_for(std::chrono::milliseconds(15));
                                  };
                              });
    watchdog.reset();
    FFLogger().TriggerEventInMainThread = false;
    TheMainThread().ServePending();
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_TRUE(out.finished);
    EXPECT_GE(CountFrames(output), 45);
    bool changed = false;
    for (const auto& line : *lines) changed |= line.find("frame size changed to 160x120") != std::string::npos;
    EXPECT_TRUE(changed);
}

// x264 and x265 write the settings they encoded with into the stream: x264's "threads=" and
// "lookahead_threads=", x265's "frame-threads=" tell the threads each was given.
static std::string EncoderSetting(const std::string& file, const std::string& name) {
    const std::string bytes = Bytes(file);
    const size_t at = bytes.find(" " + name + "=");
    if (at == std::string::npos) return "";
    const size_t from = at + name.size() + 2;
    return bytes.substr(from, bytes.find(' ', from) - from);
}

// A task with a few cores gives x264 more frame and lookahead threads than x264 would take,
// and x265 a second frame in flight; one core keeps each to one frame at a time; the user's
// own thread settings and other encoder settings stay.
TEST(Pipeline, EncoderThreadsFollowTheTaskCoresAndLeaveTheUsersSettings) {
    struct Case {
        const char* name;
        const char* codec;
        int cores;
        const char* params;  // the encoder's params given by the user, or null
        std::vector<std::pair<const char*, const char*>> settings;  // written by the encoder
    } cases[] = {
        {"two.mp4", "libx264", 2, nullptr, {{"threads", "4"}, {"lookahead_threads", "2"}}},
        {"one.mp4", "libx264", 1, nullptr, {{"threads", "1"}, {"lookahead_threads", "1"}}},
        {"merged.mp4", "libx264", 2, "keyint=50", {{"threads", "4"}, {"lookahead_threads", "2"}, {"keyint", "50"}}},
        {"users.mp4", "libx264", 2, "lookahead-threads=1", {{"lookahead_threads", "1"}}},
        {"two265.mp4", "libx265", 2, nullptr, {{"frame-threads", "2"}}},
        {"one265.mp4", "libx265", 1, nullptr, {{"frame-threads", "1"}}},
        {"merged265.mp4", "libx265", 2, "keyint=50", {{"frame-threads", "2"}, {"keyint", "50"}}},
        {"users265.mp4", "libx265", 2, "frame-threads=1", {{"frame-threads", "1"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Options options{{"vcodec", c.codec}, {"an", "1"}};
        if (c.params) options.push_back({std::string(c.codec) == "libx265" ? "x265-params" : "x264-params", c.params});
        const std::string output = Scratch().file(std::string("threads_") + c.name);
        Outcome out = ConvertWith(true, output, options, BasicClip(),
                                  [&](TCustomFFmpeg& task) { task.CoreShare = c.cores; });
        ASSERT_TRUE(out.ok) << out.error;
        for (const auto& [name, value] : c.settings) EXPECT_EQ(EncoderSetting(output, name), value) << name;
        EXPECT_EQ(CountFrames(output), 25);
    }
    // The whole machine: the plan for its cores, or x264's own choice beyond them.
    const TX264Threads plan = PlanX264Threads(int(std::thread::hardware_concurrency()));
    const std::string output = Scratch().file("threads_machine.mp4");
    Outcome out = ConvertWith(true, output, {{"vcodec", "libx264"}, {"an", "1"}});
    ASSERT_TRUE(out.ok) << out.error;
    if (plan.Frames) {
        EXPECT_EQ(EncoderSetting(output, "threads"), std::to_string(plan.Frames));
    }
}

TEST(BoundedQueueTest, CloseLetsTheConsumerTakeWhatIsQueuedThenEnds) {
    BoundedQueue<int> q(3);
    EXPECT_TRUE(q.Push(1));
    EXPECT_TRUE(q.Push(2));
    q.Close();
    EXPECT_FALSE(q.Push(3));
    EXPECT_EQ(q.Pop(), 1);
    EXPECT_EQ(q.Pop(), 2);
    EXPECT_EQ(q.Pop(), std::nullopt);
    EXPECT_EQ(q.Pop(), std::nullopt);
}

TEST(BoundedQueueTest, AFullQueueHoldsItsProducerUntilThereIsRoom) {
    BoundedQueue<int> q(2);
    std::atomic<int> pushed{0};
    std::thread producer([&] {
        for (int i = 0; i < 5; ++i)
            if (q.Push(i)) ++pushed;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(pushed.load(), 2);
    EXPECT_LE(q.Size(), 2u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(q.Pop(), i);  // in order, none lost
    producer.join();
    EXPECT_EQ(pushed.load(), 5);
}

// A waiting consumer is woken for half a queue, but a lone item (a producer that has paused)
// still reaches it; and a producer that waited for room goes on once half is free.
TEST(BoundedQueueTest, WaitingSidesGoOnForALoneItemAndForHalfAQueue) {
    BoundedQueue<int> q(8);
    std::optional<int> got;
    std::thread consumer([&] { got = q.Pop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(q.Push(1));
    consumer.join();  // a lost wake-up hangs here
    EXPECT_EQ(got, 1);

    for (int i = 0; i < 8; ++i) ASSERT_TRUE(q.Push(i));
    std::atomic<bool> pushed{false};
    std::thread producer([&] { pushed = q.Push(8); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // it waits for room
    for (int i = 0; i < 3; ++i) EXPECT_EQ(q.Pop(), i);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(pushed.load());  // five queued: not yet half free
    EXPECT_EQ(q.Pop(), 3);
    producer.join();
    EXPECT_TRUE(pushed.load());
    for (int i = 4; i <= 8; ++i) EXPECT_EQ(q.Pop(), i);
}

TEST(BoundedQueueTest, CancelDropsTheItemsAndWakesBothSides) {
    BoundedQueue<std::shared_ptr<int>> full(1);
    auto item = std::make_shared<int>(7);
    ASSERT_TRUE(full.Push(item));
    std::atomic<bool> refused{false};
    std::thread producer([&] { refused = !full.Push(std::make_shared<int>(8)); });
    BoundedQueue<int> empty(1);
    std::atomic<bool> ended{false};
    std::thread consumer([&] { ended = !empty.Pop().has_value(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    full.Cancel();
    empty.Cancel();
    producer.join();
    consumer.join();
    EXPECT_TRUE(refused);
    EXPECT_TRUE(ended);
    EXPECT_EQ(item.use_count(), 1);  // the queued copy is gone
    EXPECT_FALSE(full.Pop().has_value());
}
