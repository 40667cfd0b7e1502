// Targets: the settings of a disc or tape format ("vcd", "dvd", "dv" ...) in one option.
#include <cmath>

#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/FFmpegLogger.h"
#include "engine/FFmpegOptions.h"

void TOptionParser::TargetOption(const std::string&, const std::string& value) {
    std::string norm = "auto", type = value;
    for (const char* prefix : {"pal", "ntsc", "film"}) {
        std::string p = std::string(prefix) + "-";
        if (value.compare(0, p.size(), p) == 0) {
            norm = prefix;
            type = value.substr(p.size());
            break;
        }
    }
    ApplyTarget(type, norm, "ntsc");
}

// The TV norm named, or guessed from the frame rate asked for, then from the inputs'.
TOptionParser::TTvNorm TOptionParser::TargetNorm(const std::string& normText, const std::string& defaultNorm) const {
    if (normText == "pal") return TTvNorm::Pal;
    if (normText == "ntsc") return TTvNorm::Ntsc;
    if (normText == "film") return TTvNorm::Film;
    TTvNorm norm = TTvNorm::Unknown;
    auto byRate = [&](long rate) {
        if (rate == 25000) norm = TTvNorm::Pal;
        else if (rate == 29970 || rate == 23976) norm = TTvNorm::Ntsc;
    };
    const AVRational& r = FSettings.FrameRate;
    if (r.den == 0) throw FFmpegException("frame_rate is invalid.");
    byRate(std::lround(r.num * 1000.0 / r.den));
    if (norm == TTvNorm::Unknown) {
        for (const AVRational& in : FHost.InputVideoFrameRates()) {
            if (in.den == 0 || in.num == 0) continue;
            byRate(std::lround(in.num * 1000.0 / in.den));
            if (norm != TTvNorm::Unknown) break;
        }
    }
    if (norm == TTvNorm::Unknown)
        norm = defaultNorm == "film" ? TTvNorm::Film : defaultNorm == "ntsc" ? TTvNorm::Ntsc : TTvNorm::Pal;
    if (FSettings.Verbose > 0) LogInfo(Format("Assuming %s for target.", norm == TTvNorm::Pal ? "PAL" : "NTSC"));
    return norm;
}

void TOptionParser::ApplyTarget(const std::string& type, const std::string& normText, const std::string& defaultNorm) {
    const TTvNorm norm = TargetNorm(normText, defaultNorm);
    const bool pal = norm == TTvNorm::Pal;
    const char* rate = pal ? "25" : norm == TTvNorm::Ntsc ? "30000/1001" : "24000/1001";
    const char* gop = pal ? "15" : "18";
    auto defaultAspect = [&](bool wide) {
        if (FSettings.FrameAspectRatio != 0.0) return;
        FSettings.FrameAspectRatio = wide ? 16.0 / 9.0 : 4.0 / 3.0;
        LogInfo(wide ? "Assuming 16:9 for aspect ratio" : "Assuming 4:3 for aspect ratio");
    };

    if (type == "vcd") {
        SetCodec(AVMEDIA_TYPE_VIDEO, "mpeg1video");
        SetCodec(AVMEDIA_TYPE_AUDIO, "mp2");
        ParseOption("f", "vcd");
        ParseOption("s", pal ? "352x288" : "352x240");
        ParseOption("r", rate);
        SetGenericOption("g", gop);
        SetGenericOption("b", "1150000");
        SetGenericOption("maxrate", "1150000");
        SetGenericOption("minrate", "1150000");
        SetGenericOption("bufsize", "327680");  // 40 KiB of VBV buffer
        SetGenericOption("ab", "224000");
        FSettings.AudioSampleRate = 44100;
        FSettings.AudioChannels = 2;
        SetGenericOption("packetsize", "2324");
        SetGenericOption("muxrate", "1411200");  // 75 sectors of 2352 bytes a second
        FSettings.MuxPreload = 0.44f;
        defaultAspect(false);
    } else if (type == "svcd") {
        SetCodec(AVMEDIA_TYPE_VIDEO, "mpeg2video");
        SetCodec(AVMEDIA_TYPE_AUDIO, "mp2");
        ParseOption("f", "svcd");
        ParseOption("s", pal ? "480x576" : "480x480");
        ParseOption("r", rate);
        SetGenericOption("g", gop);
        SetGenericOption("b", "2040000");
        SetGenericOption("maxrate", "2516000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        SetGenericOption("flags", "+scan_offset");
        SetGenericOption("ab", "224000");
        FSettings.AudioSampleRate = 44100;
        SetGenericOption("packetsize", "2324");
        if (FSettings.AudioChannels == 1) FSettings.AudioChannels = 2;
        defaultAspect(false);
    } else if (type == "dvd") {
        SetCodec(AVMEDIA_TYPE_VIDEO, "mpeg2video");
        SetCodec(AVMEDIA_TYPE_AUDIO, "ac3");
        ParseOption("f", "dvd");
        ParseOption("s", pal ? "720x576" : "720x480");
        ParseOption("r", rate);
        SetGenericOption("g", gop);
        SetGenericOption("b", "6000000");
        SetGenericOption("maxrate", "9000000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        SetGenericOption("packetsize", "2048");
        SetGenericOption("muxrate", "10080000");
        SetGenericOption("ab", "448000");
        FSettings.AudioSampleRate = 48000;
        if (FSettings.AudioChannels == 1) FSettings.AudioChannels = 2;
        defaultAspect(true);
    } else if (type == "dv" || type == "dv50") {
        ParseOption("f", "dv");
        ParseOption("s", pal ? "720x576" : "720x480");
        ParseOption("pix_fmt", type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        ParseOption("r", rate);
        FSettings.AudioSampleRate = 48000;
        FSettings.AudioChannels = 2;
    } else {
        throw FFmpegException("Unknown target type");
    }
}
