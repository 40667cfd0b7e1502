#include "app/QtMainThread.h"

#include <gtest/gtest.h>

#include <QTest>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "tests/app/AppTestSupport.h"

TEST(QtMainThread, ACallFromAWorkerRunsOnTheMainThreadWhileTheEventLoopRuns) {
    apptest::App();
    TQtMainThread service;
    EXPECT_EQ(&TheMainThread(), &service);
    const auto mainId = std::this_thread::get_id();
    std::atomic<bool> ranOnMain{false}, finished{false};
    std::thread worker([&] {
        TheMainThread().RunAndWait([&] { ranOnMain = std::this_thread::get_id() == mainId; });
        finished = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return finished.load(); }, 5000));
    worker.join();
    EXPECT_TRUE(ranOnMain);
}

TEST(QtMainThread, AnErrorOnTheMainThreadReachesTheWaitingWorker) {
    apptest::App();
    TQtMainThread service;
    std::string caught;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        try {
            TheMainThread().RunAndWait([] { throw std::runtime_error("no window"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        finished = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return finished.load(); }, 5000));
    worker.join();
    EXPECT_EQ(caught, "no window");
}

TEST(QtMainThread, AMainThreadWaitingForAWorkerServesItsCallsWithoutTheEventLoop) {
    apptest::App();
    TQtMainThread service;
    int served = 0;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) TheMainThread().RunAndWait([&] { ++served; });
        finished = true;
    });
    // As a stop-and-wait does: no event loop, only ServePending.
    while (!finished) {
        TheMainThread().ServePending();
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(served, 3);
    QCoreApplication::processEvents();  // the wake-ups find nothing left to do
    EXPECT_EQ(served, 3);
}

TEST(QtMainThread, OnTheMainThreadACallRunsAtOnceAndDestructionUninstalls) {
    apptest::App();
    MainThread* before = &TheMainThread();
    {
        TQtMainThread service;
        int n = 0;
        service.RunAndWait([&] { ++n; });
        EXPECT_EQ(n, 1);
        EXPECT_TRUE(service.IsMainThread());
    }
    EXPECT_EQ(&TheMainThread(), before);
}
