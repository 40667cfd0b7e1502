#include "engine/StageThread.h"

#include <utility>

TStageThread::TStageThread(std::function<void()> body, std::function<void()> onError)
    : FThread([this, body = std::move(body), onError = std::move(onError)] {
          try {
              body();
          } catch (...) {
              {
                  std::lock_guard lock(FLock);
                  FError = std::current_exception();
              }
              FFailed = true;
              if (onError) onError();
          }
      }) {}

TStageThread::~TStageThread() { Join(); }

void TStageThread::Join() {
    if (FThread.joinable()) FThread.join();
}

std::exception_ptr TStageThread::Error() const {
    std::lock_guard lock(FLock);
    return FError;
}
