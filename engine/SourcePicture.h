#pragma once
// The first step of every picture chain: the decoded picture made to look like the source
// as it is meant to be seen. Turned upright by the stream's display matrix, deinterlaced
// when the fields are not kept, HDR tone-mapped to BT.709 when the output cannot carry it.
// The engine runs it before the hook, the crop, the zoom geometry and the scaler; the player
// before its picture is shown. A source that needs none of it passes untouched: no graph is
// made, so ordinary sources give the same pictures as without this step.
#include <cstdint>
#include <string>

#include "engine/AVHandles.h"
#include "engine/LibAVApi.h"

// How the coded picture is turned to be upright: first a clockwise rotation, then a mirror.
struct TSourceOrientation {
    int Rotation = 0;     // clockwise degrees: 0, 90, 180 or 270
    bool Mirror = false;  // left and right swapped after the rotation
    bool Any() const { return Rotation != 0 || Mirror; }
    bool SwapsSides() const { return Rotation == 90 || Rotation == 270; }
    bool operator==(const TSourceOrientation&) const = default;
};

// A display matrix as the libraries store it (nine 32-bit values, 16.16 and 2.30 fixed).
TSourceOrientation OrientationOfMatrix(const int32_t matrix[9]);
// The stream's display matrix side data; none means upright as coded.
TSourceOrientation StreamOrientation(const AVStream& stream);

// PQ (SMPTE 2084) or HLG (ARIB STD-B67).
bool IsHdrTransfer(int colorTransfer);
// A field order that says the frames hold two fields (top or bottom first).
bool IsInterlacedFieldOrder(int fieldOrder);

// A damaged or raw source can hold samples beyond its bit depth (a 10-bit picture with
// values up to 65535). Encoders take them as in range; DNxHR even aborts the program on
// them. Such samples of a 9- to 15-bit planar picture are brought down to the largest
// value, on a copy when the frame is shared. Other formats and in-range pictures are left
// as they are. False when that copy cannot be made.
bool LimitSamplesToDepth(AVFrame& frame);

// Whether an output of this encoder and pixel format can carry an HDR picture as it is:
// HEVC, AV1 or VP9 in YUV with at least 10 bits a component. Such an output keeps the
// source's tags and light metadata; every other output is given SDR.
bool OutputCarriesHdr(AVCodecID codec, AVPixelFormat format);
// Whether an output is interlaced by nature and keeps a source's fields: MPEG-2 video in a
// DVD or SVCD programme stream.
bool OutputKeepsFields(AVCodecID codec, const char* muxerName);

// Which of the automatic steps a person allows (each can be turned off for a job).
struct TSourcePictureSwitches {
    bool Rotate = true;
    bool Deinterlace = true;
    bool ToneMap = true;
};

// What the step does to one stream, decided before its first picture.
struct TSourcePicturePlan {
    TSourceOrientation Orientation;
    bool DeinterlaceAllowed = false;  // deinterlace when the pictures are flagged interlaced
    bool ToneMap = false;             // the source is HDR and the output takes SDR
    int ColorTransfer = 0;            // the source's, for the tone-map
    bool operator==(const TSourcePicturePlan&) const = default;
};

TSourcePicturePlan PlanSourcePicture(const AVStream& stream, const TSourcePictureSwitches& switches,
                                     bool outputCarriesHdr, bool outputKeepsFields);

// The filters for a picture of this transfer, primaries, matrix and range under a plan
// ("" when it passes untouched); deinterlacing only when asked for.
// fitWidth x fitHeight (of the coded picture; 0 for none): a tone-mapped picture larger than
// that is scaled down to fit first, so the costly steps work on as few pixels as will be seen.
std::string SourcePictureFilters(const TSourcePicturePlan& plan, bool deinterlace, int transfer, int primaries,
                                 int matrix, int range, int fitWidth = 0, int fitHeight = 0,
                                 int width = 0, int height = 0);

// The picture the step gives for a width x height picture of a pixel format and sample
// aspect: sides swapped by a quarter turn, 8-bit 4:2:0 after a tone-map.
struct TPictureShape {
    int Width = 0, Height = 0, Format = -1;
    AVRational SampleAspect{0, 1};
};
TPictureShape SourcePictureShape(const TSourcePicturePlan& plan, TPictureShape coded);

// The step for one stream. Push a decoded frame, then Pull until it answers false; a null
// frame flushes what the deinterlacer holds, after which the next frame starts afresh.
class TSourcePicture {
public:
    // timeBase: that of the frames' timestamps.
    void Setup(const TSourcePicturePlan& plan, AVRational timeBase = {1, AV_TIME_BASE});
    const TSourcePicturePlan& Plan() const { return FPlan; }
    // Whether any step may apply: false means every frame passes untouched.
    bool MayChange() const { return FPlan.Orientation.Any() || FPlan.DeinterlaceAllowed || FPlan.ToneMap; }

    // Returns false when the frame needs nothing: the caller uses it as it is.
    bool Push(AVFrame* frame);
    bool Pull(AVFrame* out);
    void Reset();
    // Frames go through a graph of filters (the graph's threads; 0 = the libraries' choice).
    void SetThreads(int threads) { FThreads = threads; }

private:
    void Build(const AVFrame& frame, bool deinterlace);

    TSourcePicturePlan FPlan;
    FilterGraphPtr FGraph;
    AVFilterContext* FSource = nullptr;
    AVFilterContext* FSink = nullptr;
    int FWidth = 0, FHeight = 0, FFormat = -1;
    bool FDeinterlacing = false;
    bool FPassing = false;  // the current frames need nothing
    int FThreads = 1;
    AVRational FTimeBase{1, AV_TIME_BASE};
};
