#pragma once
// One thread of a run's stage. The body runs once; what it throws is kept for the run's
// thread to raise again (same exception, same text). Joined by its destructor at the latest.
#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

class TStageThread {
public:
    // onError runs on the stage's thread right after the body failed (to wake the others).
    TStageThread(std::function<void()> body, std::function<void()> onError);
    ~TStageThread();
    TStageThread(const TStageThread&) = delete;
    TStageThread& operator=(const TStageThread&) = delete;

    void Join();
    bool Failed() const { return FFailed; }
    // What the body threw; null while it runs or when it ended well.
    std::exception_ptr Error() const;

private:
    mutable std::mutex FLock;
    std::exception_ptr FError;
    std::atomic<bool> FFailed{false};
    std::thread FThread;  // last: starts once the rest is built
};
