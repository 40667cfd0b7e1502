#pragma once
// The main-thread service on Qt's event loop: a call from another thread is queued, the
// event loop is woken to serve it, and the caller waits until it has run. A main thread that
// blocks waiting for a worker keeps calling ServePending, so the two cannot wait on each other.
#include <QObject>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "engine/MainThread.h"

class TQtMainThread final : public QObject, public MainThread {
public:
    // Made on the main thread; installs itself as the process's service until destroyed.
    TQtMainThread();
    ~TQtMainThread() override;

    void RunAndWait(const std::function<void()>& fn) override;
    void ServePending() override;
    bool IsMainThread() const override { return std::this_thread::get_id() == FMainId; }

private:
    struct TCall {
        const std::function<void()>* Fn;
        bool Done = false;
        std::exception_ptr Error;
    };
    std::thread::id FMainId;
    std::mutex FMutex;
    std::condition_variable FDone;
    std::deque<TCall*> FQueue;
};
