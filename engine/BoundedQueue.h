#pragma once
// A queue of at most Capacity items between one producing and one consuming thread. A full
// queue holds its producer back, so memory stays flat however far one side runs ahead.
//   Close():  no more items; the consumer still takes what is queued, then sees the end.
//   Cancel(): the run is over; queued items are dropped and both sides return at once.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(size_t capacity) : FCapacity(capacity ? capacity : 1) {}
    BoundedQueue(const BoundedQueue&) = delete;
    BoundedQueue& operator=(const BoundedQueue&) = delete;

    // Waits for room; false (the item is dropped) once the queue is closed or cancelled.
    bool Push(T item) {
        std::unique_lock lock(FLock);
        FNotFull.wait(lock, [&] { return FItems.size() < FCapacity || FClosed; });
        if (FClosed) return false;
        FItems.push_back(std::move(item));
        FNotEmpty.notify_one();
        return true;
    }

    // Waits for an item; nothing once the queue is closed and empty, or cancelled.
    std::optional<T> Pop() {
        std::unique_lock lock(FLock);
        FNotEmpty.wait(lock, [&] { return !FItems.empty() || FClosed; });
        if (FItems.empty() || FCancelled) return std::nullopt;
        T item = std::move(FItems.front());
        FItems.pop_front();
        FNotFull.notify_one();
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
    const size_t FCapacity;
    mutable std::mutex FLock;
    std::condition_variable FNotEmpty, FNotFull;
    std::deque<T> FItems;
    bool FClosed = false;
    bool FCancelled = false;
};
