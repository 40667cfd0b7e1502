#include "formats/OptionsBuilder.h"

#include "platform/Text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "engine/FFUtils.h"
#include "formats/Catalogue.h"
#include "formats/DeviceLimits.h"
#include "formats/ParameterTables.h"
#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"

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

// Encoders of today's formats: always named, set up by their definition's encoder options.
bool IsCurrentVideoEncoder(const std::string& v) {
    static const char* names[] = {"libx265", "libsvtav1", "libvpx-vp9", "prores_ks", "dnxhd"};
    return std::find(std::begin(names), std::end(names), v) != std::end(names);
}

int Even(int v) { return v / 2 * 2; }

std::string Size(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }
std::string Ratio(int w, int h) { return std::to_string(w) + ":" + std::to_string(h); }
// Two filter chains one after the other; either may be empty.
std::string Joined(const std::string& first, const std::string& second) {
    return first.empty() ? second : second.empty() ? first : first + "," + second;
}

// The audio settings shared by both kinds of output. Channel counts below 1 are passed on
// only for outputs with video.
void ReadAudioSettings(const TFormatParameters& params, bool positiveChannelsOnly, TOutputOptions& out,
                       const TJobNote& note) {
    const std::string channel = params.ReadChecked(TParameter::Channel, "2", note);
    if (channel != AsSource) {
        if (auto n = ParseInteger(channel); n && (!positiveChannelsOnly || *n > 0)) out.AudioChannels = *n;
    }
    const std::string rate = params.ReadChecked(TParameter::SampleRate, "44100", note);
    if (rate != AsSource) {
        if (auto n = ParseInteger(rate); n && *n > 0) out.AudioSampleRate = *n;
    }
    const std::string bitrate = params.ReadChecked(TParameter::AudioBitRate, "128", note);
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
    const std::string volume = params.ReadChecked(TParameter::Volume, "256", note);
    if (volume != "256") {
        if (auto n = ParseInteger(volume)) out.AudioVolume = *n;
    }
}

struct TSize {
    int Width = 0, Height = 0;
};

// Content size and bars of the letterbox: the picture contentW x contentH keeps its shape
// inside frameW x frameH.
struct TBars {
    int Top = 0, Bottom = 0, Left = 0, Right = 0;
};

TBars LetterboxBars(int contentW, int contentH, int frameW, int frameH) {
    TBars bars;
    if (contentW <= 0 || contentH <= 0 || frameW <= 0 || frameH <= 0) return bars;
    const long double sw = contentW, sh = contentH, w = frameW, h = frameH;
    // A very wide or tall source would shrink to no rows or columns: the picture keeps at
    // least two (the encoders' smallest even size).
    auto content = [](long double v) { return std::max(2, Even(static_cast<int>(std::trunc(v)))); };
    // Content height when the width is fitted; bars above and below.
    auto fitHeight = [&] {
        const int c = content(sh / (sw / w));
        bars.Top = bars.Bottom = (frameH - c) / 4 * 2;
        bars.Left = bars.Right = 0;
    };
    // Content width when the height is fitted; bars left and right.
    auto fitWidth = [&] {
        const int c = content(sw / (sh / h));
        bars.Left = bars.Right = (frameW - c) / 4 * 2;
        bars.Top = bars.Bottom = 0;
    };
    const long double a = sw / w, b = sh / h;
    // Each shape test that holds overrides the earlier ones.
    if (contentW >= frameW && frameH >= contentH) fitHeight();
    if (frameW >= contentW && contentH >= frameH) fitWidth();
    if (frameW >= contentW && frameH >= contentH) {
        if (a > b) fitHeight();
        else if (a < b) fitWidth();
        else {
            fitHeight();
            const int top = bars.Top;
            fitWidth();
            bars.Top = bars.Bottom = top;
        }
    }
    if (contentW >= frameW && contentH >= frameH) {
        if (a > b) fitHeight();
        else if (a < b) fitWidth();
        else fitWidth();
    }
    if (frameW == contentW && frameH == contentH) bars = {};
    return bars;
}

// Centred picture: a source that fits inside frameW x frameH keeps its own size, a larger one is
// shrunk until it fits, keeping its shape; black fills the rest.
TSize CenteredContent(int contentW, int contentH, int frameW, int frameH) {
    auto even = [](long double v) { return std::max(2, Even(static_cast<int>(std::trunc(v)))); };
    TSize s{frameW, frameH};
    if (contentW <= 0 || contentH <= 0 || frameW <= 0 || frameH <= 0) return s;
    const long double sw = contentW, sh = contentH, w = frameW, h = frameH;
    auto shrinkToWidth = [&] { s = {frameW, std::min(frameH, even(sh / (sw / w)))}; };
    auto shrinkToHeight = [&] { s = {std::min(frameW, even(sw / (sh / h))), frameH}; };
    if (contentW >= frameW && frameH >= contentH) shrinkToWidth();
    if (frameW >= contentW && contentH >= frameH) shrinkToHeight();
    if (frameW >= contentW && frameH >= contentH) s = {even(sw), even(sh)};
    if (contentW >= frameW && contentH >= frameH) {
        if (sw / w >= sh / h) shrinkToWidth();
        else shrinkToHeight();
    }
    return s;
}

std::string LengthText(int64_t us) {
    const int64_t seconds = us / 1000000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", (long long)(seconds / 3600), (long long)(seconds / 60 % 60),
                      (long long)(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", (long long)(seconds / 60), (long long)(seconds % 60));
    return text;
}

// The length the job converts: from its start (the trim start) to the recording time's end
// or the source's end.
int64_t ConvertedLength(const TSourceSummary& source, const TInputOptions& input, const TOutputOptions& out) {
    const int64_t start = input.StartTime > 0 ? input.StartTime : 0;
    int64_t length = source.Duration > 0 ? std::max<int64_t>(0, source.Duration - start) : 0;
    if (out.RecordingTime > 0 && out.RecordingTime != NoTimestamp) length = length > 0 ? std::min(length, out.RecordingTime) : out.RecordingTime;
    return length;
}

}  // namespace

TSizePlan PlanTargetSize(int megabytes, int64_t lengthUs, int64_t audioCeiling, double frameRate) {
    TSizePlan plan;
    const std::string size = std::to_string(megabytes) + " MB";
    if (lengthUs <= 0) {
        plan.Refusal = "The length of this file is unknown, so it cannot be made to fit " + size + ".";
        return plan;
    }
    const double seconds = lengthUs / 1e6;
    // The container's index grows with every frame (about a dozen bytes per picture and per
    // sound frame); two-pass rate control lands within a few percent, so a little is kept back.
    const double fps = frameRate > 0 ? frameRate : 30.0;
    const double indexBytes = 4096 + seconds * (fps * 12 + (audioCeiling > 0 ? 47 * 10 : 0));
    const double bits = (megabytes * 1e6 - indexBytes) * 8 * 0.96;
    const double total = bits / seconds;
    if (audioCeiling > 0) plan.AudioBitrate = std::min<int64_t>(audioCeiling, std::max<int64_t>(48000, int64_t(total / 4)));
    plan.VideoBitrate = std::min(int64_t(total) - plan.AudioBitrate, MaximumFitVideoRate);
    if (plan.VideoBitrate < MinimumFitVideoRate) {
        plan.Refusal = Format("Too long to fit %s: %s of video would get %lld kbit/s, below the %lld kbit/s a watchable "
                              "picture needs. Trim it, or choose a larger size.",
                              size.c_str(), LengthText(lengthUs).c_str(),
                              (long long)std::max<int64_t>(0, plan.VideoBitrate / 1000),
                              (long long)(MinimumFitVideoRate / 1000));
        plan.VideoBitrate = 0;
    }
    return plan;
}

TFormatParameters::TFormatParameters(int formatCode, const IniFile& formatFile, const IniFile& settingsFile)
    : FSection(FormatSectionName(formatCode)), FFormatFile(formatFile), FSettingsFile(settingsFile) {}

std::string TFormatParameters::DefinedFormat() const { return FFormatFile.ReadString(FSection, settings_key::ContainerFormat, "null"); }

std::string TFormatParameters::DefinedEncoderOptions() const {
    return FFormatFile.ReadString(FSection, settings_key::EncoderOptions, "");
}

std::string TFormatParameters::DefinedDevice() const { return FFormatFile.ReadString(FSection, settings_key::Device, ""); }

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

bool AcceptableValue(TParameter p, const std::string& value) {
    if (p == TParameter::VideoSize) return Trim(value) == AsSource || ParseFrameSize(value).has_value();
    // Only what reads as a number can be out of range; the rules of the builder give every
    // other text its meaning.
    std::optional<long double> number;
    if (auto n = ParseInteger(value)) number = *n;
    else if (p == TParameter::FrameRate || p == TParameter::AudioBitRate) number = ParseNumber(value);
    if (!number) return true;
    switch (p) {
    case TParameter::VideoBitRate: return VideoBitRateRange.Holds(*number);
    case TParameter::SampleRate: return SampleRateRange.Holds(*number);
    case TParameter::Channel: return ChannelRange.Holds(*number);
    case TParameter::Volume: return VolumeRange.Holds(*number);
    case TParameter::FrameRate: return FrameRateRange.Holds(*number);
    case TParameter::AudioBitRate: return AudioBitRateRange.Holds(*number);
    default: return true;
    }
}

std::string TFormatParameters::ReadChecked(TParameter p, const std::string& fallback, const TJobNote& note) const {
    const std::string key = ValueKey(p);
    if (auto stored = FSettingsFile.Read(FSection, key)) {
        if (AcceptableValue(p, *stored)) return *stored;
        if (note) note("The stored " + key + " \"" + *stored + "\" is out of range; the format's default is used.");
    }
    if (auto def = DefinitionDefault(key)) {
        if (AcceptableValue(p, *def)) return *def;
        if (note) note("The format's " + ListKey(p) + " entry \"" + *def + "\" is out of range; it is not used.");
    }
    return fallback;
}

std::string StoredZoomMode(int formatCode, const IniFile& settingsFile) {
    return settingsFile.ReadString(FormatSectionName(formatCode), settings_key::Zoom, "lbox");
}

TSourceSummary UprightSummary(TSourceSummary source, bool rotate) {
    if (rotate && (source.Rotation == 90 || source.Rotation == 270)) {
        std::swap(source.Width, source.Height);
        if (source.SampleAspectNum > 0) std::swap(source.SampleAspectNum, source.SampleAspectDen);
    }
    source.Rotation = 0;
    return source;
}

void BuildOutputOptions(int formatCode, const IniFile& formatFile, const IniFile& settingsFile,
                        const TJobGeometry& job, const TSourceSummary& source, TSizeQuestion& question,
                        TOutputOptions& out, TInputOptions& input, const TJobNote& note, std::string* refusal) {
    const TFormatParameters params(formatCode, formatFile, settingsFile);
    const std::string definedFormat = params.DefinedFormat();
    const std::string format = Lower(definedFormat);

    // Disc targets.
    if (format == "ntsc-dvd") {
        out.Target = 3;
        out.TargetNorm = 2;
        out.AspectRatio = params.Read(ValueKey(TParameter::VideoSize), "null") == "720x480" ? "16:9" : "4:3";
    } else if (format == "pal-dvd") {
        out.Target = 3;
        out.TargetNorm = 1;
        out.AspectRatio = params.Read(ValueKey(TParameter::VideoSize), "null") == "720x576" ? "16:9" : "4:3";
    } else {
        static const struct {
            const char* name;
            int target, norm;
        } discs[] = {{"ntsc-vcd", 1, 2}, {"pal-vcd", 1, 1}, {"ntsc-svcd", 2, 2}, {"pal-svcd", 2, 1}};
        for (const auto& d : discs) {
            if (format != d.name) continue;
            out.Target = d.target;
            out.TargetNorm = d.norm;
            out.AspectRatio = "4:3";
        }
    }

    // A disc is shown at its own display shape, whatever its pixel count: the geometry below
    // works in that shape. So is DV, whose 720x480 and 720x576 pictures are seen at 4:3.
    // Other formats have square pixels.
    const bool disc = out.Target != 0 || format == "dv";
    const int shapeW = disc && out.AspectRatio == "16:9" ? 16 : 4, shapeH = disc && out.AspectRatio == "16:9" ? 9 : 3;

    // No video encoder: sound only, and the source's picture is not even decoded.
    const std::string videoEncoder = Trim(params.Read(ValueKey(TParameter::VideoEncoder), ""));
    if (videoEncoder.empty()) {
        out.AudioCodec = params.Read(ValueKey(TParameter::AudioEncoder), "libfaac");
        ReadAudioSettings(params, true, out, note);
        AddExtOption(input.ExtOptions, "vn", "1");
        out.VideoDisable = true;
        out.SubtitleDisable = true;
        return;
    }

    // The device presets name settings of an older encoder generation; today's encoder fills
    // the gaps with High profile, the 8x8 transform and B-frames. The device's own limits
    // follow the preset and win.
    const TDeviceLimits& limits = DeviceLimitsOf(params.DefinedDevice());
    // A definition may name its encoder's settings itself (speed preset, profile, pixels);
    // the device presets then do not apply.
    const std::string encoderOptions = params.DefinedEncoderOptions();
    if (!encoderOptions.empty()) {
        out.VideoCodec = videoEncoder;
        for (const auto& option : ParseExtOptions(encoderOptions)) AddExtOption(out.ExtOptions, option.Key, option.Value);
    } else if (videoEncoder == "libx264") {
        out.VideoCodec = "libx264";
        out.VideoPreset = format == "psp" ? "libx264-psp" : format == "ipod" ? "libx264-ipod" : format == "ps3" ? "libx264-ps3" : "libx264-mp4";
        AddExtOption(out.ExtOptions, "profile", limits.H264Profile);
        AddExtOption(out.ExtOptions, "level", std::to_string(limits.H264Level));
        if (!limits.BFrames) AddExtOption(out.ExtOptions, "bf", "0");
    } else if (IsCurrentVideoEncoder(videoEncoder)) {
        out.VideoCodec = videoEncoder;
    } else if (IsNamedVideoEncoder(videoEncoder)) {
        if ((videoEncoder == "mpeg4" || videoEncoder == "libxvid") && limits.Mpeg4Simple) AddExtOption(out.ExtOptions, "bf", "0");
        out.VideoCodec = videoEncoder;
        // MPEG-2 video follows the DVD rules, unless the format is a disc of its own (an
        // SVCD must stay an SVCD).
        if (videoEncoder == "mpeg2video" && out.Target == 0) out.Target = 3;
    }

    if (source.VideoStreamCount < 1) {
        out.VideoDisable = true;
    } else {
        const std::string bitrate = params.ReadChecked(TParameter::VideoBitRate, "512", note);
        const std::optional<int> kbits = bitrate != AsSource ? ParseInteger(bitrate) : std::optional<int>();
        if (const auto crf = QualityEntry(bitrate)) {
            // Constant quality: the encoder spends what each picture needs, no rate at all.
            AddExtOption(out.ExtOptions, "crf", std::to_string(*crf));
            AddExtOption(out.ExtOptions, "b", "0");
        } else if (TargetSizeEntry(bitrate)) {
            // Sized below, once the sound's rate is known.
        } else if (kbits) {
            if (*kbits > 0) out.VideoBitrate = static_cast<int64_t>(*kbits) * 1000;
        } else {
            out.VideoBitrate = source.BitRate;
        }

        const std::string rate = params.ReadChecked(TParameter::FrameRate, "29.97", note);
        if (rate != AsSource) {
            std::optional<long double> value;
            if (auto n = ParseInteger(rate)) value = *n;
            else value = ParseNumber(rate);
            if (value && *value > 0) out.FrameRate = rate;
        }

        if (IsNamedContainer(definedFormat)) out.FileFormat = definedFormat;

        const int sourceW = source.Width, sourceH = source.Height;
        int frameW = sourceW, frameH = sourceH;
        std::string frameSize = params.ReadChecked(TParameter::VideoSize, "null", note);
        if (Trim(frameSize) == AsSource) frameSize = AsSource;
        if (frameSize != AsSource) {
            if (const auto size = ParseFrameSize(frameSize)) {
                frameW = size->Width;
                frameH = size->Height;
                // H.263 knows only a few picture sizes.
                if (Lower(out.VideoCodec) == "h263" &&
                    std::string("704x576,352x288,176x144,160x120,128x96").find(frameSize) == std::string::npos) {
                    if (frameW > 176 && frameW <= 352) frameW = 352, frameH = 288;
                    else if (frameW > 352) frameW = 704, frameH = 576;
                }
            } else if (question.AskUseDefaultSize()) {
                frameW = 320, frameH = 240;
            } else {
                frameSize = AsSource;
            }
        }
        if (frameSize == AsSource) frameW = sourceW, frameH = sourceH;

        for (int* crop : {&out.CropTop, &out.CropLeft, &out.CropBottom, &out.CropRight})
            if (*crop == -1) *crop = 0;
        int marginTop = std::max(0, job.CropMarginTop), marginLeft = std::max(0, job.CropMarginLeft),
            marginBottom = std::max(0, job.CropMarginBottom), marginRight = std::max(0, job.CropMarginRight);
        // A crop that leaves less than a picture of 2 x 2 of a source of known size would
        // make every filter after it fail: the whole picture is kept instead.
        if (sourceW > 0 && sourceH > 0 &&
            (int64_t(marginLeft) + marginRight > sourceW - 2 || int64_t(marginTop) + marginBottom > sourceH - 2)) {
            if (note)
                note("The crop (top " + std::to_string(marginTop) + ", left " + std::to_string(marginLeft) +
                     ", bottom " + std::to_string(marginBottom) + ", right " + std::to_string(marginRight) +
                     ") is larger than the picture (" + Size(sourceW, sourceH) + "); the whole picture is kept.");
            marginTop = marginLeft = marginBottom = marginRight = 0;
        }
        const bool cropped = marginTop > 0 || marginLeft > 0 || marginBottom > 0 || marginRight > 0;
        // The part of the source that survives the job's crop.
        const int keptW = sourceW - marginLeft - marginRight, keptH = sourceH - marginTop - marginBottom;
        const std::string cropFilter = "crop=" + std::to_string(keptW) + ":" + std::to_string(keptH) + ":" +
                                       std::to_string(marginLeft) + ":" + std::to_string(marginTop);
        const std::string zoom = job.ZoomMode;
        std::string filter;
        // The kept part's width as it is seen: wider or narrower than its pixel count when
        // the source's pixels are not square (720x576 16:9 DV).
        const bool anamorphic = source.SampleAspectNum > 0 && source.SampleAspectDen > 0 &&
                                source.SampleAspectNum != source.SampleAspectDen;
        const int seenW = anamorphic ? Even(static_cast<int>(std::lround(double(keptW) * source.SampleAspectNum /
                                                                         source.SampleAspectDen)))
                                     : keptW;
        // The frame as it is seen: displayW x frameH square units (displayW = frameW for square pixels).
        const int displayW = disc && frameH > 0 ? static_cast<int>(std::lround(double(frameH) * shapeW / shapeH)) : frameW;
        auto toPixels = [&](int displayWidth) {
            return displayW == frameW ? displayWidth : Even(static_cast<int>(std::lround(double(displayWidth) * frameW / displayW)));
        };
        // The display aspect of a pictureW x pictureH part of the frame, as two integers.
        auto shapeOf = [&](int pictureW, int pictureH) {
            if (!disc) return Ratio(pictureW, pictureH);
            long long n = 1LL * pictureW * displayW, d = 1LL * pictureH * frameW;
            const long long g = std::gcd(n, d);
            return g ? std::to_string(n / g) + ":" + std::to_string(d / g) : Ratio(pictureW, pictureH);
        };
        const std::string frameShape = disc ? Ratio(shapeW, shapeH) : Ratio(frameW, frameH);

        if (zoom == "full") {
            if (cropped) {
                out.CropTop = marginTop;
                out.CropBottom = marginBottom;
                out.CropLeft = marginLeft;
                out.CropRight = marginRight;
            }
            out.FrameSize = Size(frameW, frameH);
            out.AspectRatio = frameShape;
        } else if (zoom == "lbox") {
            TBars bars = LetterboxBars(seenW, keptH, displayW, frameH);
            const int pictureW = toPixels(displayW - bars.Left - bars.Right), pictureH = frameH - bars.Top - bars.Bottom;
            bars.Left = (frameW - pictureW) / 4 * 2;
            // A picture that fills the frame needs no bars; a pad of nothing would still copy
            // every frame.
            const bool fills = pictureW == frameW && pictureH == frameH;
            const std::string pad = fills ? std::string()
                                          : "pad=" + std::to_string(frameW) + ":" + std::to_string(frameH) + ":" +
                                                std::to_string(bars.Left) + ":" + std::to_string(bars.Top);
            out.AspectRatio = shapeOf(pictureW, pictureH);
            if (cropped) {
                // No frame size: the filters crop and scale the source themselves, and the
                // aspect describes the frame they make (bars included).
                out.AspectRatio = frameShape;
                filter = Joined(cropFilter + ",scale=" + std::to_string(pictureW) + ":" + std::to_string(pictureH), pad);
            } else {
                out.FrameSize = Size(pictureW, pictureH);
                filter = pad;
            }
        } else if (zoom == "pan") {
            // Cut the cropped picture to 4:3, evenly on both sides of the long dimension.
            // A wide DVD is cut to its own 16:9.
            const int pw = disc ? shapeW : 4, ph = disc ? shapeH : 3;
            int cl = marginLeft, cr = marginRight, ct = marginTop, cb = marginBottom;
            if (keptW > 0 && keptH > 0 && !anamorphic) {
                if (1LL * ph * keptW > 1LL * pw * keptH) {
                    const int e = (keptW - keptH * pw / ph) / 4 * 2;
                    cl += e, cr += e;
                } else if (1LL * ph * keptW < 1LL * pw * keptH) {
                    const int e = (keptH - keptW * ph / pw) / 4 * 2;
                    ct += e, cb += e;
                }
            } else if (keptW > 0 && keptH > 0) {
                // Compared as seen, cut in the source's own pixels.
                const long long sn = source.SampleAspectNum, sd = source.SampleAspectDen;
                if (ph * keptW * sn > pw * keptH * sd) {
                    const int e = static_cast<int>((keptW - keptH * pw * sd / (ph * sn)) / 4 * 2);
                    cl += e, cr += e;
                } else if (ph * keptW * sn < pw * keptH * sd) {
                    const int e = static_cast<int>((keptH - keptW * ph * sn / (pw * sd)) / 4 * 2);
                    ct += e, cb += e;
                }
            }
            out.CropLeft = cl;
            out.CropRight = cr;
            out.CropTop = ct;
            out.CropBottom = cb;
            out.FrameSize = Size(frameW, frameH);
            out.AspectRatio = frameShape;
        } else if (zoom == "center") {
            TSize content = CenteredContent(seenW, keptH, displayW, frameH);
            content.Width = toPixels(content.Width);
            const int left = (frameW - content.Width) / 4 * 2, top = (frameH - content.Height) / 4 * 2;
            char pad[96] = "";
            if (content.Width != frameW || content.Height != frameH)
                std::snprintf(pad, sizeof pad, "pad=%d:%d:%d:%d:black", frameW, frameH, left, top);
            out.AspectRatio = shapeOf(content.Width, content.Height);
            if (cropped) {
                out.AspectRatio = frameShape;
                filter = Joined(cropFilter + ",scale=" + std::to_string(content.Width) + ":" + std::to_string(content.Height), pad);
            } else {
                out.FrameSize = Size(content.Width, content.Height);
                filter = pad;
            }
        }

        out.VideoFilters = Joined(out.VideoFilters, filter);
    }

    std::string audioEncoder = params.Read(ValueKey(TParameter::AudioEncoder), "");
    if (audioEncoder == "libamr_nb") audioEncoder = "libopencore_amrnb";
    out.AudioCodec = audioEncoder;
    if (Trim(audioEncoder).empty()) out.AudioDisable = true;
    ReadAudioSettings(params, false, out, note);

    const auto megabytes = TargetSizeEntry(params.Read(ValueKey(TParameter::VideoBitRate), ""));
    if (megabytes && !out.VideoDisable) {
        double fps = 0;
        if (auto rate = ParseNumber(out.FrameRate)) fps = double(*rate);
        const int64_t audioCeiling = out.AudioDisable ? 0 : out.AudioBitrate > 0 ? out.AudioBitrate : 128000;
        const TSizePlan plan = PlanTargetSize(*megabytes, ConvertedLength(source, input, out), audioCeiling, fps);
        if (!plan.Refusal.empty()) {
            if (refusal) *refusal = plan.Refusal;
            return;
        }
        out.VideoBitrate = plan.VideoBitrate;
        if (!out.AudioDisable) out.AudioBitrate = plan.AudioBitrate;
        out.TwoPass = true;
    }
}
