#include "app/QtMainThread.h"

#include <QMetaObject>

TQtMainThread::TQtMainThread() { SetMainThread(this); }

TQtMainThread::~TQtMainThread() {
    SetMainThread(nullptr);
    ServePending();  // nobody may be left waiting
}

void TQtMainThread::Wake() {
    QMetaObject::invokeMethod(this, [this] { ServePending(); }, Qt::QueuedConnection);
}
