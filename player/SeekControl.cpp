#include "player/SeekControl.h"

bool TSeekControl::Request(const TSeekRequest& request) {
    std::lock_guard lock(FMutex);
    if (FPending) return false;
    FRequest = request;
    FPending = true;
    Done.Reset();
    return true;
}

bool TSeekControl::Pending(TSeekRequest& request) const {
    std::lock_guard lock(FMutex);
    if (FPending) request = FRequest;
    return FPending;
}

int TSeekControl::Cut() {
    PictureReady.Reset();
    FAfterSeek = true;
    return ++FSerial;
}

void TSeekControl::Finish() {
    {
        std::lock_guard lock(FMutex);
        FPending = false;
    }
    Done.Set();
}
