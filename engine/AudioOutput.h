#pragma once
// One encoded audio output stream: sample format, rate and channel conversion through
// libswresample, drift compensation, a FIFO that cuts the encoder's frames, the encoder.
#include "engine/EngineStreams.h"

struct TAudioOutputSettings {
    int SyncMethod = 0;            // "async"
    float DriftThreshold = 0.1f;   // seconds
};

class TAudioOutput : public TOutputStream {
public:
    TAudioOutput() : TOutputStream(AVMEDIA_TYPE_AUDIO) {}
    TAudioOutputSettings Cfg;

    void Open(TInputStream& source, TRunServices& run) override;
    void Write(AVFrame* frame, int64_t ptsUs, TRunServices& run) override;
    void Flush(TRunServices& run) override;
    ~TAudioOutput() override;

protected:
    void ConfigureStage(const TStreamSetup& setup, TRunServices& run) override;

private:
    void Configure(const AVFrame& frame, TRunServices& run);
    void Convert(const uint8_t* const* in, int count, TRunServices& run);
    void EncodeFromFifo(bool final, TRunServices& run);
    void LeapIsDamage(double samples, int rate, TRunServices& run);
    void AddSilence(int64_t samples, TRunServices& run);

    SwrPtr FSwr;
    AudioFifoPtr FFifo;
    int FInFormat = -1, FInRate = 0;
    AVChannelLayout FInLayout{};
    SamplePlanesPtr FConv;  // converted samples, grown on demand
    int FConvCapacity = 0;
    bool FStarted = false;
    double FLeap = 0.0;  // samples taken out of the time stamps after damaged leaps
    bool FFlushed = false;
};

// Multiplies 16-bit samples by volume/256 (rounded, clipped); other sample formats are
// scaled the same way within their own range.
void ApplyVolume(AVFrame& frame, int volume);
