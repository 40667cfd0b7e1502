#include "formats/OptionsBuilder.h"

#include "platform/Text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "formats/DeviceLimits.h"
#include "formats/ParameterTables.h"
#include "platform/IniFile.h"

namespace {


const char* const AsSource = "as source";

// Containers passed to the engine by name; any other format lets the extension decide.
bool IsNamedContainer(const std::string& format) {
    static const char* names[] = {"ipod", "3gp", "3g2", "avi", "psp", "mov", "vcd", "flv", "mpegts", "vob"};
    const std::string f = Lower(format);
    return std::find(std::begin(names), std::end(names), f) != std::end(names);
}

// Video encoders that are named to the engine; the rest leave the choice to the container.
bool IsNamedVideoEncoder(const std::string& v) {
    static const char* names[] = {"mpeg4",   "libxvid",   "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2",
                                  "huffyuv", "dvvideo",   "rawvideo",   "h263p",      "h263",    "rv10",      "rv20",
                                  "ljpeg",   "mjpeg",     "svq1",       "zlib",       "wmv1",    "wmv2"};
    return std::find(std::begin(names), std::end(names), v) != std::end(names);
}

int Even(int v) { return v / 2 * 2; }

std::string Size(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }
std::string Ratio(int w, int h) { return std::to_string(w) + ":" + std::to_string(h); }

// The audio settings shared by both kinds of output. Channel counts below 1 are passed on
// only for outputs with video.
void ReadAudioSettings(const TFormatParameters& params, bool positiveChannelsOnly, TOutputOptions& out) {
    const std::string channel = params.Read("paraChannel", "2");
    if (channel != AsSource) {
        if (auto n = ParseInteger(channel); n && (!positiveChannelsOnly || *n > 0)) out.AudioChannels = *n;
    }
    const std::string rate = params.Read("paraSampleRate", "44100");
    if (rate != AsSource) {
        if (auto n = ParseInteger(rate); n && *n > 0) out.AudioSampleRate = *n;
    }
    const std::string bitrate = params.Read("paraAudioBitRate", "128");
    if (bitrate != AsSource && !Trim(bitrate).empty()) {
        std::optional<long double> value;
        if (auto n = ParseInteger(bitrate)) value = *n;
        else value = ParseNumber(bitrate);
        if (value) {
            const long double x = *value * 1000;
            if (x > 0) out.AudioBitrate = static_cast<int64_t>(std::trunc(x));
        }
    }
    // A format that never had a volume keeps the sound as it is.
    const std::string volume = params.Read("paraVolume", "256");
    if (volume != "256") {
        if (auto n = ParseInteger(volume)) out.AudioVolume = *n;
    }
}

struct TSize {
    int W = 0, H = 0;
};

// Content size and bars of the letterbox: the picture CW x CH keeps its shape inside W x H.
struct TBars {
    int Top = 0, Bottom = 0, Left = 0, Right = 0;
};

TBars LetterboxBars(int CW, int CH, int W, int H) {
    TBars bars;
    if (CW <= 0 || CH <= 0 || W <= 0 || H <= 0) return bars;
    const long double sw = CW, sh = CH, w = W, h = H;
    // Content height when the width is fitted; bars above and below.
    auto fitHeight = [&] {
        const int c = Even(static_cast<int>(std::trunc(sh / (sw / w))));
        bars.Top = bars.Bottom = (H - c) / 4 * 2;
        bars.Left = bars.Right = 0;
    };
    // Content width when the height is fitted; bars left and right.
    auto fitWidth = [&] {
        const int c = Even(static_cast<int>(std::trunc(sw / (sh / h))));
        bars.Left = bars.Right = (W - c) / 4 * 2;
        bars.Top = bars.Bottom = 0;
    };
    const long double a = sw / w, b = sh / h;
    // Each shape test that holds overrides the earlier ones.
    if (CW >= W && H >= CH) fitHeight();
    if (W >= CW && CH >= H) fitWidth();
    if (W >= CW && H >= CH) {
        if (a > b) fitHeight();
        else if (a < b) fitWidth();
        else {
            fitHeight();
            const int top = bars.Top;
            fitWidth();
            bars.Top = bars.Bottom = top;
        }
    }
    if (CW >= W && CH >= H) {
        if (a > b) fitHeight();
        else if (a < b) fitWidth();
        else fitWidth();
    }
    if (W == CW && H == CH) bars = {};
    return bars;
}

// Centred picture: a source that fits inside W x H keeps its own size, a larger one is
// shrunk until it fits, keeping its shape; black fills the rest.
TSize CenteredContent(int CW, int CH, int W, int H) {
    auto even = [](long double v) { return std::max(2, Even(static_cast<int>(std::trunc(v)))); };
    TSize s{W, H};
    if (CW <= 0 || CH <= 0 || W <= 0 || H <= 0) return s;
    const long double sw = CW, sh = CH, w = W, h = H;
    auto shrinkToWidth = [&] { s = {W, std::min(H, even(sh / (sw / w)))}; };
    auto shrinkToHeight = [&] { s = {std::min(W, even(sw / (sh / h))), H}; };
    if (CW >= W && H >= CH) shrinkToWidth();
    if (W >= CW && CH >= H) shrinkToHeight();
    if (W >= CW && H >= CH) s = {even(sw), even(sh)};
    if (CW >= W && CH >= H) {
        if (sw / w >= sh / h) shrinkToWidth();
        else shrinkToHeight();
    }
    return s;
}

}  // namespace

TFormatParameters::TFormatParameters(int formatCode, const IniFile& formatFile, const IniFile& settingsFile)
    : FSection("formatInfo" + std::to_string(formatCode)), FFormatFile(formatFile), FSettingsFile(settingsFile) {}

std::string TFormatParameters::DefinedFormat() const { return FFormatFile.ReadString(FSection, "Format", "null"); }

std::string TFormatParameters::DefinedDevice() const { return FFormatFile.ReadString(FSection, "Device", ""); }

std::optional<std::string> TFormatParameters::DefinitionDefault(const std::string& valueKey) const {
    for (TParameter p : AllParameters()) {
        if (!SameText(ValueKey(p), valueKey)) continue;
        const std::string list = FFormatFile.ReadString(FSection, ListKey(p), "null");
        // An empty list offers nothing to fall back on, whatever the panel would show.
        if (!ListOffered(p, list) || list.empty()) return std::nullopt;
        const std::vector<std::string> entries = SplitList(list);
        const int index = FFormatFile.ReadInteger(FSection, IndexKey(p), 0);
        if (index < 0 || index >= static_cast<int>(entries.size())) return std::nullopt;
        return EngineValue(p, entries[index]);
    }
    return std::nullopt;
}

std::string TFormatParameters::Read(const std::string& valueKey, const std::string& fallback) const {
    if (auto stored = FSettingsFile.Read(FSection, valueKey)) return *stored;
    if (auto def = DefinitionDefault(valueKey)) return *def;
    return fallback;
}

std::string StoredZoomMode(int formatCode, const IniFile& settingsFile) {
    return settingsFile.ReadString("formatInfo" + std::to_string(formatCode), "parazoom", "lbox");
}

void BuildOutputOptions(int formatCode, const IniFile& formatFile, const IniFile& settingsFile,
                        const TJobGeometry& job, const TSourceSummary& source, TSizeQuestion& question,
                        TOutputOptions& out, TInputOptions& input) {
    const TFormatParameters params(formatCode, formatFile, settingsFile);
    const std::string F = params.DefinedFormat();
    const std::string f = Lower(F);

    // Disc targets.
    if (f == "ntsc-dvd") {
        out.Target = 3;
        out.TargetNorm = 2;
        out.AspectRatio = params.Read("paraVideoSize", "null") == "720x480" ? "16:9" : "4:3";
    } else if (f == "pal-dvd") {
        out.Target = 3;
        out.TargetNorm = 1;
        out.AspectRatio = params.Read("paraVideoSize", "null") == "720x576" ? "16:9" : "4:3";
    } else {
        static const struct {
            const char* name;
            int target, norm;
        } discs[] = {{"ntsc-vcd", 1, 2}, {"pal-vcd", 1, 1}, {"ntsc-svcd", 2, 2}, {"pal-svcd", 2, 1}};
        for (const auto& d : discs) {
            if (f != d.name) continue;
            out.Target = d.target;
            out.TargetNorm = d.norm;
            out.AspectRatio = "4:3";
        }
    }

    // A disc is shown at its own display shape, whatever its pixel count: the geometry below
    // works in that shape. Other formats have square pixels.
    const bool disc = out.Target != 0;
    const int shapeW = disc && out.AspectRatio == "16:9" ? 16 : 4, shapeH = disc && out.AspectRatio == "16:9" ? 9 : 3;

    // No video encoder: sound only, and the source's picture is not even decoded.
    const std::string V = Trim(params.Read("paraVideoEncoder", ""));
    if (V.empty()) {
        out.AudioCodec = params.Read("paraAudioEncoder", "libfaac");
        ReadAudioSettings(params, true, out);
        AddExtOption(input.ExtOptions, "vn", "1");
        out.VideoDisable = true;
        out.SubtitleDisable = true;
        return;
    }

    // The device presets name settings of an older encoder generation; today's encoder fills
    // the gaps with High profile, the 8x8 transform and B-frames. The device's own limits
    // follow the preset and win.
    const TDeviceLimits& limits = DeviceLimitsOf(params.DefinedDevice());
    if (V == "libx264") {
        out.VideoCodec = "libx264";
        out.VideoPreset = f == "psp" ? "libx264-psp" : f == "ipod" ? "libx264-ipod" : f == "ps3" ? "libx264-ps3" : "libx264-mp4";
        AddExtOption(out.ExtOptions, "profile", limits.H264Profile);
        AddExtOption(out.ExtOptions, "level", std::to_string(limits.H264Level));
        if (!limits.BFrames) AddExtOption(out.ExtOptions, "bf", "0");
    } else if (IsNamedVideoEncoder(V)) {
        if ((V == "mpeg4" || V == "libxvid") && limits.Mpeg4Simple) AddExtOption(out.ExtOptions, "bf", "0");
        out.VideoCodec = V;
        // MPEG-2 video follows the DVD rules, unless the format is a disc of its own (an
        // SVCD must stay an SVCD).
        if (V == "mpeg2video" && out.Target == 0) out.Target = 3;
    }

    if (source.VideoStreamCount < 1) {
        out.VideoDisable = true;
    } else {
        const std::string bitrate = params.Read("paraVideoBitRate", "512");
        const auto kbits = bitrate != AsSource ? ParseInteger(bitrate) : std::nullopt;
        if (kbits) {
            if (*kbits > 0) out.VideoBitrate = static_cast<int64_t>(*kbits) * 1000;
        } else {
            out.VideoBitrate = source.BitRate;
        }

        const std::string rate = params.Read("paraFrameRate", "29.97");
        if (rate != AsSource) {
            std::optional<long double> value;
            if (auto n = ParseInteger(rate)) value = *n;
            else value = ParseNumber(rate);
            if (value && *value > 0) out.FrameRate = rate;
        }

        if (IsNamedContainer(F)) out.FileFormat = F;

        const int SW = source.Width, SH = source.Height;
        int W = SW, H = SH;
        std::string Z = params.Read("paraVideoSize", "null");
        if (Z != AsSource) {
            const size_t x = Z.find('x');
            if (x != std::string::npos && x != 0 && x != Z.size() - 1) {
                W = ParseInteger(Z.substr(0, x)).value_or(SW);
                H = ParseInteger(Z.substr(x + 1)).value_or(SH);
                // H.263 knows only a few picture sizes.
                if (Lower(out.VideoCodec) == "h263" &&
                    std::string("704x576,352x288,176x144,160x120,128x96").find(Z) == std::string::npos) {
                    if (W > 176 && W <= 352) W = 352, H = 288;
                    else if (W > 352) W = 704, H = 576;
                }
            } else if (question.AskUseDefaultSize()) {
                W = 320, H = 240;
            } else {
                Z = AsSource;
            }
        }
        if (Z == AsSource) W = SW, H = SH;

        for (int* crop : {&out.CropTop, &out.CropLeft, &out.CropBottom, &out.CropRight})
            if (*crop == -1) *crop = 0;
        const int t = std::max(0, job.CropMarginTop), l = std::max(0, job.CropMarginLeft),
                  b = std::max(0, job.CropMarginBottom), r = std::max(0, job.CropMarginRight);
        const bool cropped = t > 0 || l > 0 || b > 0 || r > 0;
        // The part of the source that survives the job's crop.
        const int CW = SW - l - r, CH = SH - t - b;
        const std::string cropFilter = "crop=" + std::to_string(CW) + ":" + std::to_string(CH) + ":" +
                                       std::to_string(l) + ":" + std::to_string(t);
        const std::string M = job.ZoomMode;
        std::string filter;
        // The frame as it is seen: DW x H square units (DW = W for square pixels).
        const int DW = disc && H > 0 ? static_cast<int>(std::lround(double(H) * shapeW / shapeH)) : W;
        auto toPixels = [&](int displayWidth) {
            return DW == W ? displayWidth : Even(static_cast<int>(std::lround(double(displayWidth) * W / DW)));
        };
        // The display aspect of an IW x IH part of the frame, as two integers.
        auto shapeOf = [&](int IW, int IH) {
            if (!disc) return Ratio(IW, IH);
            long long n = 1LL * IW * DW, d = 1LL * IH * W;
            const long long g = std::gcd(n, d);
            return g ? std::to_string(n / g) + ":" + std::to_string(d / g) : Ratio(IW, IH);
        };
        const std::string frameShape = disc ? Ratio(shapeW, shapeH) : Ratio(W, H);

        if (M == "full") {
            if (cropped) {
                out.CropTop = t;
                out.CropBottom = b;
                out.CropLeft = l;
                out.CropRight = r;
            }
            out.FrameSize = Size(W, H);
            out.AspectRatio = frameShape;
        } else if (M == "lbox") {
            TBars bars = LetterboxBars(CW, CH, DW, H);
            const int IW = toPixels(DW - bars.Left - bars.Right), IH = H - bars.Top - bars.Bottom;
            bars.Left = (W - IW) / 4 * 2;
            const std::string pad =
                "pad=" + std::to_string(W) + ":" + std::to_string(H) + ":" + std::to_string(bars.Left) + ":" + std::to_string(bars.Top);
            out.AspectRatio = shapeOf(IW, IH);
            if (cropped) {
                // No frame size: the filters crop and scale the source themselves, and the
                // aspect describes the frame they make (bars included).
                out.AspectRatio = frameShape;
                filter = cropFilter + ",scale=" + std::to_string(IW) + ":" + std::to_string(IH) + "," + pad;
            } else {
                out.FrameSize = Size(IW, IH);
                filter = pad;
            }
        } else if (M == "pan") {
            // Cut the cropped picture to 4:3, evenly on both sides of the long dimension.
            // A wide DVD is cut to its own 16:9.
            const int pw = disc ? shapeW : 4, ph = disc ? shapeH : 3;
            int cl = l, cr = r, ct = t, cb = b;
            if (CW > 0 && CH > 0) {
                if (1LL * ph * CW > 1LL * pw * CH) {
                    const int e = (CW - CH * pw / ph) / 4 * 2;
                    cl += e, cr += e;
                } else if (1LL * ph * CW < 1LL * pw * CH) {
                    const int e = (CH - CW * ph / pw) / 4 * 2;
                    ct += e, cb += e;
                }
            }
            out.CropLeft = cl;
            out.CropRight = cr;
            out.CropTop = ct;
            out.CropBottom = cb;
            out.FrameSize = Size(W, H);
            out.AspectRatio = frameShape;
        } else if (M == "center") {
            TSize content = CenteredContent(CW, CH, DW, H);
            content.W = toPixels(content.W);
            const int left = (W - content.W) / 4 * 2, top = (H - content.H) / 4 * 2;
            char pad[96];
            std::snprintf(pad, sizeof pad, "pad=%d:%d:%d:%d:black", W, H, left, top);
            out.AspectRatio = shapeOf(content.W, content.H);
            if (cropped) {
                out.AspectRatio = frameShape;
                filter = cropFilter + ",scale=" + std::to_string(content.W) + ":" + std::to_string(content.H) + "," + pad;
            } else {
                out.FrameSize = Size(content.W, content.H);
                filter = pad;
            }
        }

        if (!filter.empty()) out.VideoFilters = out.VideoFilters.empty() ? filter : out.VideoFilters + "," + filter;
    }

    std::string A = params.Read("paraAudioEncoder", "");
    if (A == "libamr_nb") A = "libopencore_amrnb";
    out.AudioCodec = A;
    if (Trim(A).empty()) out.AudioDisable = true;
    ReadAudioSettings(params, false, out);
}
