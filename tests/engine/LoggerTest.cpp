#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "engine/LibAVApi.h"
#include "engine/MainThread.h"

namespace {

struct Line {
    const void* sender;
    TThreadID thread;
    TLogLevel level;
    std::string text;
};

// Collects what the logger delivers and puts the process logger back afterwards.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheMainThread();  // the main-thread service belongs to this thread
        FFLogger().TriggerEventInMainThread = false;
        FSavedLevel = FFLogger().LogLevel();
        FFLogger().SetLogLevel(llInfo);
        FFLogger().OnLog = [this](const void* sender, TThreadID thread, TLogLevel level, const std::string& msg) {
            std::lock_guard g(FLock);
            FLines.push_back({sender, thread, level, msg});
        };
    }
    void TearDown() override {
        FFLogger().OnLog = nullptr;
        FFLogger().TriggerEventInMainThread = true;
        FFLogger().SetLogLevel(FSavedLevel);
    }
    std::vector<Line> Lines() {
        std::lock_guard g(FLock);
        return FLines;
    }

    std::mutex FLock;
    std::vector<Line> FLines;
    TLogLevel FSavedLevel = llInfo;
};

// An object the libraries would log with: its first member is its class.
struct FakeContext {
    const AVClass* cls;
};
const char* FakeItemName(void*) { return "demuxer"; }
const AVClass kFakeClass = [] {
    AVClass c{};
    c.class_name = "FakeContext";
    c.item_name = FakeItemName;
    return c;
}();

}  // namespace

TEST(FFLoggerLevels, MapToLibraryLevelsAndBack) {
    const int expected[] = {-8, 0, 8, 16, 24, 32, 40, 48};
    for (int n = llQuiet; n <= llDebug; ++n) {
        EXPECT_EQ(LogLevelToLibrary(TLogLevel(n)), expected[n]);
        EXPECT_EQ(LibraryToLogLevel(expected[n]), TLogLevel(n));
    }
    EXPECT_EQ(LibraryToLogLevel(-100), llQuiet);
    EXPECT_EQ(LibraryToLogLevel(-9), llQuiet);
    EXPECT_EQ(LibraryToLogLevel(-1), llQuiet);  // rounded toward minus infinity
    EXPECT_EQ(LibraryToLogLevel(17), llError);
    EXPECT_EQ(LibraryToLogLevel(47), llVerbose);
    EXPECT_EQ(LibraryToLogLevel(56), llDebug);  // the libraries' trace level
}

TEST_F(LoggerTest, LevelTextIsANameOrALibraryNumber) {
    FFLogger().SetLogLevelText("warning");
    EXPECT_EQ(FFLogger().LogLevel(), llWarning);
    EXPECT_EQ(TFFLogger::LibraryLevel(), 24);
    FFLogger().SetLogLevelText("17");
    EXPECT_EQ(FFLogger().LogLevel(), llError);
    EXPECT_EQ(TFFLogger::LibraryLevel(), 16);
    FFLogger().SetLogLevelText("DeBuG");
    EXPECT_EQ(FFLogger().LogLevel(), llDebug);
    FFLogger().SetLogLevelText("quiet");
    EXPECT_EQ(FFLogger().LogLevel(), llQuiet);
    EXPECT_THROW(FFLogger().SetLogLevelText("loud"), FFmpegException);
    EXPECT_EQ(FFLogger().LogLevel(), llQuiet);
}

TEST_F(LoggerTest, OnlyOneLoggerMayExist) {
    FFLogger();
    try {
        TFFLogger second;
        FAIL() << "a second logger was made";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
    }
    EXPECT_NO_THROW(FFLogger().Log(this, llError, "still works"));
    ASSERT_EQ(Lines().size(), 1u);
}

TEST_F(LoggerTest, PiecesOfALineBecomeOneLineWithTheFirstPiecesPrefix) {
    FakeContext first{&kFakeClass}, second{&kFakeClass};
    FFLogger().LibraryLog(&first, AV_LOG_WARNING, "abc");
    EXPECT_TRUE(Lines().empty());
    FFLogger().LibraryLog(&second, AV_LOG_WARNING, "def\n");
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "[demuxer @ %p]", static_cast<void*>(&first));
    EXPECT_EQ(lines[0].text, std::string(prefix) + "abcdef");
    EXPECT_EQ(lines[0].level, llWarning);
    EXPECT_EQ(lines[0].sender, &FFLogger());
    EXPECT_EQ(lines[0].thread, CurrentThreadID());
}

TEST_F(LoggerTest, SeveralLinesInOnePieceAreDeliveredOneByOne) {
    FFLogger().LibraryLog(nullptr, AV_LOG_ERROR, "one\ntwo\nthr");
    FFLogger().LibraryLog(nullptr, AV_LOG_ERROR, "ee\n");
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "one");
    EXPECT_EQ(lines[1].text, "two");
    EXPECT_EQ(lines[2].text, "three");
    EXPECT_EQ(lines[2].level, llError);
}

TEST_F(LoggerTest, InterleavedThreadsKeepTheirOwnLines) {
    std::promise<void> aStarted, bStarted, aDone;
    std::thread a([&] {
        FFLogger().LibraryLog(nullptr, AV_LOG_INFO, "a1 ");
        aStarted.set_value();
        bStarted.get_future().wait();
        FFLogger().LibraryLog(nullptr, AV_LOG_INFO, "a2\n");
        aDone.set_value();
    });
    std::thread b([&] {
        aStarted.get_future().wait();
        FFLogger().LibraryLog(nullptr, AV_LOG_INFO, "b1 ");
        bStarted.set_value();
        aDone.get_future().wait();
        FFLogger().LibraryLog(nullptr, AV_LOG_INFO, "b2\n");
    });
    a.join();
    b.join();
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "a1 a2");
    EXPECT_EQ(lines[1].text, "b1 b2");
    EXPECT_NE(lines[0].thread, lines[1].thread);
}

TEST_F(LoggerTest, LibraryLinesAboveTheLevelAreDropped) {
    FFLogger().SetLogLevel(llWarning);
    FFLogger().LibraryLog(nullptr, AV_LOG_INFO, "chatter\n");
    FFLogger().LibraryLog(nullptr, AV_LOG_WARNING, "kept\n");
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "kept");
}

TEST_F(LoggerTest, EngineMessagesFollowTheLevelAndVerboseUnlessQuiet) {
    int task = 0;
    FFLogger().SetLogLevel(llError);
    FFLogger().Log(&task, llWarning, "dropped");
    FFLogger().Log(&task, llError, "error");
    FFLogger().LogFmt(&task, llVerbose, "frame=%5d", 12);  // progress lines pass any level but quiet
    FFLogger().SetLogLevel(llQuiet);
    FFLogger().Log(&task, llVerbose, "quiet now");
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "error");
    EXPECT_EQ(lines[0].sender, &task);
    EXPECT_EQ(lines[1].text, "frame=   12");
    EXPECT_EQ(lines[1].level, llVerbose);
}

TEST_F(LoggerTest, NothingIsFormattedForNobody) {
    FFLogger().OnLog = nullptr;
    FFLogger().Log(this, llError, "nobody listens");
    FFLogger().LibraryLog(nullptr, AV_LOG_ERROR, "nor here\n");
    EXPECT_TRUE(Lines().empty());
}

TEST_F(LoggerTest, AWorkersLineRunsOnTheMainThreadWhileItServes) {
    FFLogger().TriggerEventInMainThread = true;
    const TThreadID mainId = CurrentThreadID();
    std::atomic<TThreadID> ranOn{0};
    FFLogger().OnLog = [&](const void*, TThreadID, TLogLevel, const std::string&) { ranOn = CurrentThreadID(); };
    std::atomic<bool> done{false};
    std::thread worker([&] {
        FFLogger().Log(nullptr, llError, "from the worker");
        done = true;  // only after the handler has run: the worker waits for it
    });
    while (!done) {
        TheMainThread().ServePending();
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(ranOn.load(), mainId);
}

TEST_F(LoggerTest, TheLibrariesOwnLogReachesTheHandler) {
    ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError();
    avutil().av_log(nullptr, AV_LOG_ERROR, "probe %d of %s\n", 7, "nine");
    AVFormatContext* ctx = avformat().avformat_alloc_context();
    avutil().av_log(ctx, AV_LOG_WARNING, "with a context\n");
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "probe 7 of nine");
    EXPECT_EQ(lines[0].level, llError);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "[NULL @ %p]", static_cast<void*>(ctx));
    EXPECT_EQ(lines[1].text, std::string(prefix) + "with a context");
    avformat().avformat_free_context(ctx);
}
