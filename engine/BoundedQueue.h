#pragma once
// A queue of at most Capacity items between one producing and one consuming thread. A full
// queue holds its producer back, so memory stays flat however far one side runs ahead.
//   Close():  no more items; the consumer still takes what is queued, then sees the end.
//   Cancel(): the run is over; queued items are dropped and both sides return at once.
// A side that had to wait is woken for half a queue, not for each item: one encoder slower
// than its decoder otherwise wakes the run's thread for every frame it takes, and a fast
// one sleeps and wakes for every frame it gets (two thread switches a frame, 7 % of a
// 2-minute AAC job's time). A waiting consumer takes what there is after a short while,
// so a slow producer (real-time pacing, a paused run) still hands on every frame.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(size_t capacity)
        : FCapacity(capacity ? capacity : 1), FProducerWakesAt(FCapacity / 2), FConsumerWakesAt((FCapacity + 1) / 2) {}
    BoundedQueue(const BoundedQueue&) = delete;
    BoundedQueue& operator=(const BoundedQueue&) = delete;

    // Waits for room; false (the item is dropped) once the queue is closed or cancelled.
    bool Push(T item) {
        std::unique_lock lock(FLock);
        if (FItems.size() >= FCapacity && !FClosed) {
            FProducerWaiting = true;
            FNotFull.wait(lock, [&] { return FItems.size() <= FProducerWakesAt || FClosed; });
            FProducerWaiting = false;
        }
        if (FClosed) return false;
        FItems.push_back(std::move(item));
        if (FConsumerNeeds && FItems.size() >= FConsumerNeeds) FNotEmpty.notify_one();
        return true;
    }

    // Waits for an item; nothing once the queue is closed and empty, or cancelled.
    std::optional<T> Pop() {
        std::unique_lock lock(FLock);
        if (FItems.empty() && !FClosed) {
            FConsumerNeeds = FConsumerWakesAt;
            FNotEmpty.wait_for(lock, kGatherTime, [&] { return FItems.size() >= FConsumerNeeds || FClosed; });
            FConsumerNeeds = 1;
            FNotEmpty.wait(lock, [&] { return !FItems.empty() || FClosed; });
            FConsumerNeeds = 0;
        }
        if (FItems.empty() || FCancelled) return std::nullopt;
        T item = std::move(FItems.front());
        FItems.pop_front();
        if (FProducerWaiting && FItems.size() <= FProducerWakesAt) FNotFull.notify_one();
        return item;
    }

    void Close() {
        {
            std::lock_guard lock(FLock);
            FClosed = true;
        }
        FNotEmpty.notify_all();
        FNotFull.notify_all();
    }

    void Cancel() {
        std::deque<T> dropped;  // freed outside the lock
        {
            std::lock_guard lock(FLock);
            FClosed = FCancelled = true;
            dropped.swap(FItems);
        }
        FNotEmpty.notify_all();
        FNotFull.notify_all();
    }

    size_t Size() const {
        std::lock_guard lock(FLock);
        return FItems.size();
    }
    size_t Capacity() const { return FCapacity; }

private:
    static constexpr std::chrono::milliseconds kGatherTime{20};
    const size_t FCapacity;
    const size_t FProducerWakesAt;  // a full queue's producer goes on at this many
    const size_t FConsumerWakesAt;  // an empty queue's consumer goes on at this many (or after kGatherTime)
    mutable std::mutex FLock;
    std::condition_variable FNotEmpty, FNotFull;
    std::deque<T> FItems;
    bool FClosed = false;
    bool FCancelled = false;
    bool FProducerWaiting = false;
    size_t FConsumerNeeds = 0;  // 0: the consumer is not waiting
};
