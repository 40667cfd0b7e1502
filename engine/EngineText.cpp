#include "engine/EngineText.h"

#include "engine/FFUtils.h"

std::string EngineErrorMessage(int code) {
    switch (code) {
        case -1163346256: return "Not yet implemented in FFmpeg";
        case -10043: return "Unsupported network protocol";
        case -42: return "Unknown format";
        case -33: return "Number syntax expected in filename";
        case -32: return "End of file";
        case -22: return "Invalid data found when processing input";
        case -12: return "Not enough memory";
        case -5: return "I/O error";
        case -2: return "No such file or directory";
        default: break;
    }
    // Today's libraries report some of these under codes of their own.
    if (code == AVERROR_INVALIDDATA) return "Invalid data found when processing input";
    if (code == AVERROR_EOF) return "End of file";
    if (code == AVERROR_PATCHWELCOME) return "Not yet implemented in FFmpeg";
    if (code == AVERROR_PROTOCOL_NOT_FOUND) return "Unsupported network protocol";
    char buf[256];
    if (avutil().av_strerror && avutil().av_strerror(code, buf, sizeof buf) == 0) return buf;
    return Format("Error number %d occurred", code);
}

std::string EngineErrorText(const std::string& name, int code) { return name + ": " + EngineErrorMessage(code); }

std::string EngineCodecName(const AVCodecContext* ctx) {
    if (!ctx) return "?";
    if (ctx->codec && ctx->codec->name) return ctx->codec->name;
    return EngineCodecName(ctx->codec_id);
}

std::string EngineCodecName(AVCodecID id) {
    const char* n = avcodec().avcodec_get_name(id);
    return n ? n : "?";
}
