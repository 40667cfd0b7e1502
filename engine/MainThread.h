#pragma once
// Hands work to the program's main thread. The desktop program implements it on Qt's event
// loop; tests and the terminal front end use QueuedMainThread.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class MainThread {
public:
    virtual ~MainThread() = default;
    // Runs fn on the main thread and returns when it has run. Called on the main thread,
    // it runs fn at once.
    virtual void RunAndWait(const std::function<void()>& fn) = 0;
    // Queues fn for the main thread and returns at once (run at once on the main thread).
    // For callers that must never block: a library thread that the main thread may itself be
    // waiting for.
    virtual void Post(std::function<void()> fn) = 0;
    // Runs the calls other threads are waiting for; a main thread that waits for a worker
    // keeps calling this so that the worker cannot block on it.
    virtual void ServePending() = 0;
    virtual bool IsMainThread() const = 0;
    // On the main thread: serves calls until done() holds. Whoever makes done() true calls
    // WakeWaiters afterwards, so the wait sleeps between calls instead of polling. This
    // default, for services without a wake-up, looks again every few milliseconds.
    virtual void ServeUntil(const std::function<bool()>& done);
    virtual void WakeWaiters() {}
};

// The queue behind every main-thread service: other threads queue calls, the main thread
// serves them. Made on the thread that is to be the main thread. Wake() tells an event loop
// that calls are waiting; the plain queue has none and is served by ServePending alone.
class CallQueueMainThread : public MainThread {
public:
    CallQueueMainThread();
    ~CallQueueMainThread() override;
    void RunAndWait(const std::function<void()>& fn) override;
    void Post(std::function<void()> fn) override;
    void ServePending() override;
    bool IsMainThread() const override { return std::this_thread::get_id() == FMainId; }
    void ServeUntil(const std::function<bool()>& done) override;
    void WakeWaiters() override;
    // For a main thread that looks at other things too: Wakes() before looking, then
    // WaitForCalls(that count, most) sleeps until a call is queued or WakeWaiters was called
    // since, at most `most`.
    unsigned long Wakes();
    void WaitForCalls(unsigned long wakes, std::chrono::milliseconds most);

protected:
    virtual void Wake() {}

private:
    struct Call {
        const std::function<void()>* Fn = nullptr;
        bool Done = false;
        std::exception_ptr Error;
        std::unique_ptr<Call> Self;  // a posted call owns itself until it has run
        std::function<void()> Owned;
    };
    std::thread::id FMainId;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::deque<Call*> FQueue;
    unsigned long FWakes = 0;  // counts WakeWaiters calls, so a wake between test and wait is kept
};

// The process's main-thread service; QueuedMainThread until the program installs its own.
MainThread& TheMainThread();
void SetMainThread(MainThread* mainThread);  // nullptr restores the default
