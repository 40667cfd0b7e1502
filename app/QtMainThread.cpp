#include "app/QtMainThread.h"

#include <QMetaObject>

TQtMainThread::TQtMainThread() : FMainId(std::this_thread::get_id()) { SetMainThread(this); }

TQtMainThread::~TQtMainThread() {
    SetMainThread(nullptr);
    ServePending();  // nobody may be left waiting
}

void TQtMainThread::RunAndWait(const std::function<void()>& fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    TCall call{&fn};
    std::unique_lock lock(FMutex);
    FQueue.push_back(&call);
    QMetaObject::invokeMethod(this, [this] { ServePending(); }, Qt::QueuedConnection);
    FDone.wait(lock, [&] { return call.Done; });
    if (call.Error) std::rethrow_exception(call.Error);
}

void TQtMainThread::ServePending() {
    std::unique_lock lock(FMutex);
    while (!FQueue.empty()) {
        TCall* call = FQueue.front();
        FQueue.pop_front();
        lock.unlock();
        try {
            (*call->Fn)();
        } catch (...) {
            call->Error = std::current_exception();
        }
        lock.lock();
        call->Done = true;
        FDone.notify_all();
    }
}
