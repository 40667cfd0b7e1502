#include "engine/EncoderThreads.h"

#include <cstring>
#include <string>
#include <thread>

#include "engine/EngineStreams.h"
#include "engine/FFmpeg.h"

// On a few cores x264's own choice (1.5 frame threads a core, one lookahead thread) leaves
// the cores idle about a tenth of the time: a frame thread waits on its reference's rows,
// and all of them wait on the lookahead. Two frames more than cores and a second lookahead
// thread keep them busy: 4-5 % less wall time on 2 cores, the same quality against the
// source (engine/README.md). One core encodes on one thread; larger machines keep x264's
// choice, which already gives the lookahead more threads.
TX264Threads PlanX264Threads(int cores) {
    if (cores < 2 || cores > 4) return {};
    return {cores + 2, 2};
}

namespace {

// The user's own x264 settings that name a thread count win over the plan.
bool NamesThreads(const AVDictionary* options) {
    for (const char* key : {"x264-params", "x264opts"}) {
        const AVDictionaryEntry* e = avutil().av_dict_get(options, key, nullptr, 0);
        if (e && std::strstr(e->value, "threads")) return true;
    }
    return false;
}

}  // namespace

void TCustomFFmpeg::PlanEncoderThreads(TOutputStream& ost) {
    if (!ost.Enc || FSettings.ThreadCount) return;
    ost.Enc->thread_count = CodecThreads();
    if (!ost.EncCodec || std::strcmp(ost.EncCodec->name, "libx264") != 0) return;
    if (ost.Enc->thread_type == FF_THREAD_SLICE || NamesThreads(ost.PrivateOptions.Get())) return;
    const int cores = CoreShare > 0 ? CoreShare : int(std::thread::hardware_concurrency());
    const TX264Threads plan = PlanX264Threads(cores);
    if (!plan.Frames) return;
    ost.Enc->thread_count = plan.Frames;
    const AVDictionaryEntry* given = avutil().av_dict_get(ost.PrivateOptions.Get(), "x264-params", nullptr, 0);
    std::string params = given ? std::string(given->value) + ":" : std::string();
    params += "lookahead-threads=" + std::to_string(plan.Lookahead);
    avutil().av_dict_set(ost.PrivateOptions.Address(), "x264-params", params.c_str(), 0);
}
