#pragma once
// The one place where a decoded picture becomes the picture the player shows: a filter
// graph from the decoder's frames ("src") to blue-green-red frames ("out") at the video's
// own size, which the hook draws on and the sink paints. Whatever the shown picture needs
// beyond the pixel format goes into this graph, between the two ends (BuildGraph).
//
// Thread rules: the video decoding thread only; the graph is rebuilt there whenever the
// decoded frames change size or pixel format.
#include "engine/AVHandles.h"

class TPictureConverter {
public:
    // Hands a decoded frame to the graph, building it first when needed. False when the
    // graph cannot be built (*unbuildable is then set) or refuses the frame; the frame is
    // left unreferenced either way.
    bool Push(AVFrame& decoded, AVRational timeBase, bool* unbuildable);
    // The next finished picture (AV_PIX_FMT_BGR24); false when none waits.
    bool Pull(AVFrame& bgr);
    void Reset();

private:
    bool BuildGraph(const AVFrame& frame, AVRational timeBase);

    FilterGraphPtr FGraph;
    AVFilterContext* FIn = nullptr;
    AVFilterContext* FOut = nullptr;
    int FWidth = 0, FHeight = 0, FFormat = -1;
};
