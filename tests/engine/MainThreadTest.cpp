// The main thread's wait: it serves the calls of other threads while it waits, and wakes
// when told instead of looking again now and then.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/MainThread.h"

TEST(MainThreadWait, ServesOtherThreadsWhileWaitingAndReturnsWhenWoken) {
    CallQueueMainThread main;  // made here: this test's thread is its main thread
    std::atomic<bool> served{false}, done{false};
    std::atomic<bool> ranOnMain{false};
    std::thread other([&] {
        // Could never return if the waiting main thread did not serve it.
        main.RunAndWait([&] { ranOnMain = main.IsMainThread(); });
        served = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        done = true;
        main.WakeWaiters();
    });
    const auto start = std::chrono::steady_clock::now();
    main.ServeUntil([&] { return done.load(); });
    const auto waited = std::chrono::steady_clock::now() - start;
    other.join();
    EXPECT_TRUE(served);
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(done);
    EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST(MainThreadWait, AWakeBeforeTheWaitIsNotLost) {
    CallQueueMainThread main;
    std::atomic<bool> done{false};
    // The condition turns true between the wait's test and its sleep, many times over.
    for (int i = 0; i < 200; ++i) {
        done = false;
        std::thread other([&] {
            done = true;
            main.WakeWaiters();
        });
        main.ServeUntil([&] { return done.load(); });
        other.join();
    }
    // The same for a timed wait whose count was read before the main thread looked.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i) {
        const unsigned long wakes = main.Wakes();
        std::thread other([&] { main.WakeWaiters(); });
        other.join();
        main.WaitForCalls(wakes, std::chrono::seconds(10));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(MainThreadWait, PostedCallsWakeTheWait) {
    CallQueueMainThread main;
    std::atomic<int> calls{0};
    std::thread other([&] {
        for (int i = 0; i < 20; ++i) main.Post([&] { ++calls; });
    });
    // Nobody calls WakeWaiters: only the posted calls themselves can end this wait.
    main.ServeUntil([&] { return calls.load() == 20; });
    other.join();
    EXPECT_EQ(calls, 20);
}
