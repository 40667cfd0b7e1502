#pragma once
// The sound of a playback: its packet queue, the SDL device and its callback, which decodes
// on demand, resamples to the device's signed 16-bit format, sets the sound clock and keeps
// the latest samples for the waveform.
//
// Thread rules: Open and Close on the read thread (Close returns once the callback has left
// and will not run again); decoding, the resampler and the buffers belong to SDL's audio
// thread, in the callback; LatestSamples from the display thread, under the device's lock.
#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/AVHandles.h"
#include "player/PacketQueue.h"
#include "player/PlaybackContext.h"

class TSoundOutput {
public:
    explicit TSoundOutput(TPlaybackContext& ctx);
    ~TSoundOutput() { Close(); }

    // False (logged) when no device can be had; the stream is then not played.
    bool Open(int stream, CodecContextPtr codec);
    void Close();
    int Stream() const { return FStream.load(); }
    TPacketQueue& Packets() { return FPackets; }
    double StartTime() const { return FStartTime; }  // seconds
    // The newest count samples of the first channel, oldest first.
    void LatestSamples(std::vector<std::int16_t>& out, int count);

private:
    static void CallbackEntry(void* opaque, std::uint8_t* stream, int len);
    void Callback(std::uint8_t* stream, int len);
    int Decode();  // bytes of sound in FBuffer, -1 for none now
    bool Resample(AVFrame& frame, int& bytes);
    int Synchronize(int size);

    TPlaybackContext& FCtx;
    std::atomic<int> FStream{-1};
    CodecContextPtr FCodec;
    TPacketQueue FPackets;
    std::uint32_t FDevice = 0;
    int FChannels = 0, FRate = 0;
    double FStartTime = 0;
    double FHoldUntil = 0;  // wall clock

    // SDL's audio thread.
    SwrPtr FSwr;
    FramePtr FFrame;
    int FLastFormat = -1, FLastRate = 0;  // what the converter was made for
    AVChannelLayout FLastLayout{};
    std::vector<std::uint8_t> FBuffer;  // decoded, signed 16-bit
    int FBufSize = 0, FBufIndex = 0;
    double FClock = 0;  // end of the decoded data, seconds
    double FDiffCum = 0, FDiffAvgCoef = 0, FDiffThreshold = 0;
    int FDiffAvgCount = 0;
    std::vector<std::int16_t> FSamples;  // under the device's lock
    int FSampleIndex = 0;
};
