#pragma once
// The one place where a decoded picture becomes the picture the player shows: a filter
// graph from the decoder's frames ("src") to blue-green-red frames ("out") at the video's
// own size, which the hook draws on and the sink paints. Whatever the shown picture needs
// beyond the pixel format goes into this graph, between the two ends (BuildGraph).
//
// Thread rules: the video decoding thread only; the graph is rebuilt there whenever the
// decoded frames change size or pixel format.
#include "engine/AVHandles.h"
#include "engine/SourcePicture.h"

class TPictureConverter {
public:
    // The stream whose pictures come: they are shown upright, deinterlaced and, for an HDR
    // source, tone-mapped (the screen is SDR), each as far as the switches allow. Before the
    // first Push.
    void SetSource(const AVStream& stream, const TSourcePictureSwitches& switches);
    // The panel's size: a tone-mapped picture is brought down to it before the costly steps.
    void SetPanel(int width, int height) { FPanelWidth = width, FPanelHeight = height; }
    // Hands a decoded frame to the graph, building it first when needed. False when the
    // graph cannot be built (*unbuildable is then set) or refuses the frame; the frame is
    // left unreferenced either way.
    bool Push(AVFrame& decoded, AVRational timeBase, bool* unbuildable);
    // The next finished picture (AV_PIX_FMT_BGR24); false when none waits.
    bool Pull(AVFrame& bgr);
    // The stream has ended: what the graph still holds (a deinterlacer keeps one picture)
    // is let out for Pull; true when there may be some. The next Push starts a new graph.
    bool Finish();
    void Reset();

private:
    bool BuildGraph(const AVFrame& frame, AVRational timeBase);

    FilterGraphPtr FGraph;
    AVFilterContext* FIn = nullptr;
    AVFilterContext* FOut = nullptr;
    int FWidth = 0, FHeight = 0, FFormat = -1;
    TSourcePicturePlan FPlan;
    AVRational FTimeBase{1, AV_TIME_BASE};
    bool FDeinterlacing = false;
    bool FOwnChain = false;  // the graph holds steps of the source's own
    bool FFinished = false;  // the graph has been told the stream ended
    int FPanelWidth = 0, FPanelHeight = 0;
};
