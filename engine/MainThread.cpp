#include "engine/MainThread.h"

#include <chrono>

void MainThread::ServeUntil(const std::function<bool()>& done) {
    while (!done()) {
        ServePending();
        if (done()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ServePending();
}

CallQueueMainThread::CallQueueMainThread() : FMainId(std::this_thread::get_id()) {}

CallQueueMainThread::~CallQueueMainThread() {
    std::lock_guard lock(FMutex);
    for (Call* call : FQueue) call->Self.reset();  // posted calls that never ran
}

void CallQueueMainThread::RunAndWait(const std::function<void()>& fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    Call call;
    call.Fn = &fn;
    std::unique_lock lock(FMutex);
    FQueue.push_back(&call);
    Wake();
    FChanged.notify_all();  // a main thread in ServeUntil
    FChanged.wait(lock, [&] { return call.Done; });
    if (call.Error) std::rethrow_exception(call.Error);
}

void CallQueueMainThread::Post(std::function<void()> fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    auto call = std::make_unique<Call>();
    call->Owned = std::move(fn);
    call->Fn = &call->Owned;
    Call* raw = call.get();
    raw->Self = std::move(call);
    std::lock_guard lock(FMutex);
    FQueue.push_back(raw);
    Wake();
    FChanged.notify_all();
}

void CallQueueMainThread::ServeUntil(const std::function<bool()>& done) {
    for (;;) {
        ServePending();
        unsigned long wakes;
        {
            std::lock_guard lock(FMutex);
            wakes = FWakes;
        }
        // Tested outside the queue's lock: done() may take locks of its own.
        if (done()) break;
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [&] { return FWakes != wakes || !FQueue.empty(); });
    }
    ServePending();
}

unsigned long CallQueueMainThread::Wakes() {
    std::lock_guard lock(FMutex);
    return FWakes;
}

void CallQueueMainThread::WaitForCalls(unsigned long wakes, std::chrono::milliseconds most) {
    std::unique_lock lock(FMutex);
    FChanged.wait_for(lock, most, [&] { return FWakes != wakes || !FQueue.empty(); });
}

void CallQueueMainThread::WakeWaiters() {
    std::lock_guard lock(FMutex);
    ++FWakes;
    FChanged.notify_all();
}

void CallQueueMainThread::ServePending() {
    std::unique_lock lock(FMutex);
    while (!FQueue.empty()) {
        Call* call = FQueue.front();
        FQueue.pop_front();
        lock.unlock();
        try {
            (*call->Fn)();
        } catch (...) {
            call->Error = std::current_exception();
        }
        lock.lock();
        if (call->Self) {
            call->Self.reset();  // nobody waits for a posted call; its error has no one to go to
            continue;
        }
        call->Done = true;
        FChanged.notify_all();
    }
}

namespace {
MainThread* gInstalled = nullptr;
}

MainThread& TheMainThread() {
    // Made on first use, which is on the main thread at program start.
    static CallQueueMainThread queued;
    return gInstalled ? *gInstalled : queued;
}

void SetMainThread(MainThread* mainThread) { gInstalled = mainThread; }
