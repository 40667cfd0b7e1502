#include "engine/AVHandles.h"

#include <mutex>

#include "engine/CodecLock.h"

void CodecContextDeleter::operator()(AVCodecContext* c) const {
    std::lock_guard lock(CodecLock());
    avcodec().avcodec_free_context(&c);
}
