#include "engine/MainThread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// A plain queue: other threads post and wait, the main thread serves.
class QueuedMainThread final : public MainThread {
public:
    QueuedMainThread() : FMainId(std::this_thread::get_id()) {}

    void RunAndWait(const std::function<void()>& fn) override {
        if (IsMainThread()) {
            fn();
            return;
        }
        Call call;
        call.fn = &fn;
        std::unique_lock lock(FMutex);
        FQueue.push_back(&call);
        FChanged.notify_all();
        FChanged.wait(lock, [&] { return call.done; });
        if (call.error) std::rethrow_exception(call.error);
    }

    void Post(std::function<void()> fn) override {
        if (IsMainThread()) {
            fn();
            return;
        }
        auto* call = new Call{};
        call->owned = std::move(fn);
        call->fn = &call->owned;
        call->detached = true;
        std::lock_guard lock(FMutex);
        FQueue.push_back(call);
        FChanged.notify_all();
    }

    void ServePending() override {
        std::unique_lock lock(FMutex);
        while (!FQueue.empty()) {
            Call* call = FQueue.front();
            FQueue.pop_front();
            lock.unlock();
            try {
                (*call->fn)();
            } catch (...) {
                call->error = std::current_exception();
            }
            lock.lock();
            if (call->detached) {
                delete call;  // nobody waits for it; an error of a posted call has no one to go to
                continue;
            }
            call->done = true;
            FChanged.notify_all();
        }
    }

    ~QueuedMainThread() override {
        for (Call* call : FQueue)
            if (call->detached) delete call;
    }

    bool IsMainThread() const override { return std::this_thread::get_id() == FMainId; }

private:
    struct Call {
        const std::function<void()>* fn = nullptr;
        bool done = false;
        std::exception_ptr error;
        bool detached = false;  // posted: owned by the queue
        std::function<void()> owned;
    };
    std::thread::id FMainId;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::deque<Call*> FQueue;
};

MainThread* gInstalled = nullptr;

}  // namespace

MainThread& TheMainThread() {
    // Made on first use, which is on the main thread at program start.
    static QueuedMainThread queued;
    return gInstalled ? *gInstalled : queued;
}

void SetMainThread(MainThread* mainThread) { gInstalled = mainThread; }
