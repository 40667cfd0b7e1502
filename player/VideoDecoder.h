#pragma once
// The video stream of a playback: its packet queue, the decoding thread, the conversion to
// the shown picture (TPictureConverter), the frame hook and the picture queue.
//
// Thread rules: Start and Stop on the read thread (Stop joins the decoding thread); the
// decoding thread owns the codec and the converter; Packets and Pictures may be used from
// any thread by their own rules; PauseReportDue from the display thread.
#include <atomic>
#include <thread>

#include "engine/AVHandles.h"
#include "player/PacketQueue.h"
#include "player/PictureConverter.h"
#include "player/PictureQueue.h"
#include "player/PlaybackContext.h"

class TVideoDecoder {
public:
    explicit TVideoDecoder(TPlaybackContext& ctx) : FCtx(ctx), FPictures(ctx) {}
    ~TVideoDecoder() { Stop(); }

    void Start(int stream, CodecContextPtr codec);
    void Stop();
    int Stream() const { return FStream.load(); }
    TPacketQueue& Packets() { return FPackets; }
    TPictureQueue& Pictures() { return FPictures; }
    // A playback that starts paused reports the pause once its first pictures are queued.
    bool TakePauseReport() { return FPauseReportDue.exchange(false); }

private:
    void Thread();
    bool WaitWhilePaused();  // false when the stream closes
    // Converts, hooks and queues one decoded frame; false when the stream closes.
    bool Picture(AVFrame& frame, double timeBase);
    // Queues what the converter gives; a picture without a time of its own other than ts
    // takes pts. False when the stream closes.
    bool PullPictures(double timeBase, std::int64_t pos, std::int64_t ts = AV_NOPTS_VALUE, double pts = 0);
    bool Queue(const AVFrame& bgr, double pts, std::int64_t pos);

    TPlaybackContext& FCtx;
    std::atomic<int> FStream{-1};
    CodecContextPtr FCodec;
    TPacketQueue FPackets;
    TPictureQueue FPictures;
    TPictureConverter FConverter;
    std::thread FThread;
    int FSerial = 0;  // of the flush mark taken last
    std::atomic<int> FQueued{0};
    std::atomic<bool> FPauseReportDone{false}, FPauseReportDue{false};
};
