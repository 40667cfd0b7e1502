#pragma once
// The main-thread service on Qt's event loop: a call from another thread is queued and the
// event loop is woken to serve it. A main thread that blocks waiting for a worker keeps
// calling ServePending, so the two cannot wait on each other.
#include <QObject>

#include "engine/MainThread.h"

class TQtMainThread final : public QObject, public CallQueueMainThread {
public:
    // Made on the main thread; installs itself as the process's service until destroyed.
    TQtMainThread();
    ~TQtMainThread() override;

protected:
    void Wake() override;
};
