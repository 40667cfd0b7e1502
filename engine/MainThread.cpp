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
        Call call{&fn, false, {}};
        std::unique_lock lock(FMutex);
        FQueue.push_back(&call);
        FChanged.notify_all();
        FChanged.wait(lock, [&] { return call.done; });
        if (call.error) std::rethrow_exception(call.error);
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
            call->done = true;
            FChanged.notify_all();
        }
    }

    bool IsMainThread() const override { return std::this_thread::get_id() == FMainId; }

private:
    struct Call {
        const std::function<void()>* fn;
        bool done = false;
        std::exception_ptr error;
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
