#pragma once
// The subtitle stream of a playback: its packet queue, the decoding thread and the queue of
// at most four decoded subpictures, blended into pictures as they are shown.
//
// Thread rules: Start and Stop on the read thread (Stop joins the decoding thread); Blend on
// the display thread. The subpictures are under the decoder's own lock.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/AVHandles.h"
#include "engine/FrameBitmap.h"
#include "player/PacketQueue.h"
#include "player/PlaybackContext.h"

class TSubtitleDecoder {
public:
    explicit TSubtitleDecoder(TPlaybackContext& ctx);
    ~TSubtitleDecoder();

    void Start(int stream, CodecContextPtr codec);
    void Stop();
    int Stream() const { return FStream.load(); }
    TPacketQueue& Packets() { return FPackets; }
    // Draws the subpicture due at pts, if any, into the bitmap; the ones whose time is
    // over are released.
    void Blend(TFrameBitmap& bitmap, double pts);

private:
    struct TSubPicture;
    void Thread();

    TPlaybackContext& FCtx;
    std::atomic<int> FStream{-1};
    CodecContextPtr FCodec;
    TPacketQueue FPackets;
    std::thread FThread;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<std::unique_ptr<TSubPicture>> FSubPictures;
};
