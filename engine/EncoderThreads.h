// How many threads an encoder is given, where the libraries' own choice leaves cores idle.
#pragma once

// x264's threads for a task that may keep `cores` busy; 0 leaves a count to x264.
struct TX264Threads {
    int Frames = 0;     // frame threads (the codec context's thread_count)
    int Lookahead = 0;  // threads of the lookahead's analysis
};
TX264Threads PlanX264Threads(int cores);

// x265's frame threads for a task that may keep `cores` busy; 0 leaves them to x265.
int PlanX265FrameThreads(int cores);
