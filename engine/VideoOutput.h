#pragma once
// One encoded video output stream: filter graph (crop, scale, the user's chain, pixel
// format), frame-rate conversion by duplicating and dropping frames, the encoder.
#include <functional>
#include <string>

#include "engine/EngineStreams.h"

struct TVideoOutputSettings {
    int TopBand = 0, BottomBand = 0, LeftBand = 0, RightBand = 0;
    std::string Filters;         // the user's chain ("vf"), may be empty
    int SyncMethod = -1;         // "vsync"
    bool VariableFps = false;    // the output format accepts variable frame rates
    int64_t ScalerFlags = SWS_BICUBIC;
    int TopFieldFirst = -1;
    // With no frame size given, the filters decide the size; a display aspect that was
    // asked for then applies to what they make.
    double AspectOfFinalSize = 0.0;
    // Tone-mapped pictures for an encoder whose pictures are BT.601 by definition (JPEG):
    // the matrix is converted before the pixel format.
    bool ToBt601 = false;
};

// A picture smaller than its encoder takes (DNxHR: 256x120, SVT-AV1: 64x64, x265: 16x16),
// brought up to that: scaled up keeping its shape, or, when that would make a side longer
// than 4096, padded with black to the smallest size instead. Even sides; the size as it is
// when the encoder takes it.
struct TRaisedPicture {
    int Width = 0, Height = 0;
    bool Padded = false;
    bool operator==(const TRaisedPicture&) const = default;
};
TRaisedPicture RaiseToEncoderMinimum(const char* encoderName, int width, int height);

class TVideoOutput : public TOutputStream {
public:
    TVideoOutput() : TOutputStream(AVMEDIA_TYPE_VIDEO) {}
    TVideoOutputSettings Cfg;

    void Open(TInputStream& source, TRunServices& run) override;
    void Write(AVFrame* frame, int64_t ptsUs, TRunServices& run) override;
    void Flush(TRunServices& run) override;

    // Filtering and encoding on two threads: the filtered frames go to handoff (which takes
    // its own reference) instead of the encoder; the encoding side calls Encode for each and
    // FlushEncoder at the end, the filtering side FlushFilters.
    void SetFilteredHandoff(std::function<void(AVFrame& frame, int64_t ptsUs)> handoff) {
        FHandoff = std::move(handoff);
    }
    void EncodeFiltered(AVFrame* frame, int64_t ptsUs, TRunServices& run) { Output(frame, ptsUs, run); }
    void FlushFilters(TRunServices& run);
    void FlushEncoder(TRunServices& run);
    // Whether the filters do more than hand the decoded picture on: crop, scale, the user's
    // chain or another pixel format (a picture of a size not known when opened counts).
    bool FiltersChangeThePicture() const;
    // Whether the encoder runs frames on threads of its own (libavcodec's frame threads):
    // its calls then only hand pictures over.
    bool EncoderHasFrameThreads() const { return Enc && (Enc->active_thread_type & FF_THREAD_FRAME); }

protected:
    void ConfigureStage(const TStreamSetup& setup, TRunServices& run) override;

private:
    void BuildGraph(int width, int height, int format, AVRational sar);
    void Drain(TRunServices& run);
    void Output(AVFrame* frame, int64_t ptsUs, TRunServices& run);

    FilterGraphPtr FGraph;
    AVFilterContext* FSource = nullptr;
    AVFilterContext* FSink = nullptr;
    int FInWidth = 0, FInHeight = 0, FInFormat = -1;
    TRaisedPicture FRaise;  // the last step before the encoder opened, when it needed one
    FramePtr FFiltered;
    std::string FSourceName;  // "#file.stream" for messages
    bool FFlushed = false;
    double FJumpShift = 0.0;    // encoder ticks taken out of the time stamps after damaged leaps
    bool FBudgetSpent = false;  // the picture budget was reached (told once)
    std::function<void(AVFrame& frame, int64_t ptsUs)> FHandoff;
};
