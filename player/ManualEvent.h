#pragma once
// A flag threads wait for, set and reset by hand. Any thread may call any member.
#include <chrono>
#include <condition_variable>
#include <mutex>

class TManualEvent {
public:
    explicit TManualEvent(bool set) : FSet(set) {}
    void Set() {
        std::lock_guard lock(FMutex);
        FSet = true;
        FChanged.notify_all();
    }
    void Reset() {
        std::lock_guard lock(FMutex);
        FSet = false;
    }
    bool IsSet() const {
        std::lock_guard lock(FMutex);
        return FSet;
    }
    // True when the event was set within the time.
    bool WaitFor(std::chrono::milliseconds timeout) const {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, timeout, [&] { return FSet; });
    }

private:
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    bool FSet;
};
