#pragma once
// Hands work to the program's main thread. The desktop program implements it on Qt's event
// loop; tests and the terminal front end use QueuedMainThread.
#include <functional>

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
};

// The process's main-thread service; QueuedMainThread until the program installs its own.
MainThread& TheMainThread();
void SetMainThread(MainThread* mainThread);  // nullptr restores the default
