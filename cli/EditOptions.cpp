#include "cli/EditOptions.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "edits/FrameEdits.h"
#include "edits/JobEdits.h"
#include "edits/TrimRules.h"
#include "engine/FFUtils.h"
#include "engine/FrameBitmap.h"

namespace {

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(sep, from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return parts;
        from = at + 1;
    }
}

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

std::optional<long> WholeNumber(const std::string& text) {
    const std::string t = Trim(text);
    size_t i = t.size() > 1 && (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (i >= t.size()) return std::nullopt;
    for (size_t k = i; k < t.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(t[k]))) return std::nullopt;
    if (t.size() - i > 9) return std::nullopt;
    return std::stol(t);
}

std::string Range(const std::string& option, int low, int high) {
    return Format("%s needs a whole number from %d to %d", option.c_str(), low, high);
}

std::optional<std::string> ReadRanged(const std::string& option, const std::string& value, int low, int high,
                                      int32_t& into) {
    const auto n = WholeNumber(value);
    if (!n || *n < low || *n > high) return Range(option, low, high);
    into = int32_t(*n);
    return std::nullopt;
}

// "X%,Y%" (the signs optional), each 0..100.
std::optional<std::string> ReadPosition(const std::string& option, const std::string& value, int32_t& x, int32_t& y) {
    const auto parts = Split(value, ',');
    const std::string message = Format("%s needs X%%,Y%% with each from %d to %d", option.c_str(), PositionMin, PositionMax);
    if (parts.size() != 2) return message;
    std::optional<long> v[2];
    for (int i = 0; i < 2; ++i) {
        std::string p = Trim(parts[i]);
        if (!p.empty() && p.back() == '%') p.pop_back();
        v[i] = WholeNumber(p);
        if (!v[i] || *v[i] < PositionMin || *v[i] > PositionMax) return message;
    }
    x = int32_t(*v[0]);
    y = int32_t(*v[1]);
    return std::nullopt;
}

std::optional<std::string> ReadFont(const std::string& value, TJobFont& font) {
    const std::string message =
        "--font needs \"FAMILY,SIZE,#RRGGBB[,bold][,italic][,underline][,strikeout]\" with SIZE from 7 to 70";
    const auto parts = Split(value, ',');
    if (parts.size() < 3) return message;
    TJobFont f;
    f.Name = Trim(parts[0]);
    const auto size = WholeNumber(parts[1]);
    const std::string colour = Trim(parts[2]);
    if (f.Name.empty() || !size || *size < 7 || *size > 70) return message;
    f.Size = int(*size);
    if (colour.size() != 7 || colour[0] != '#') return message;
    for (size_t i = 1; i < 7; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(colour[i]))) return message;
    f.Color = uint32_t(std::stoul(colour.substr(1), nullptr, 16));
    for (size_t i = 3; i < parts.size(); ++i) {
        std::string style = Trim(parts[i]);
        for (char& c : style) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (style == "bold") f.Bold = true;
        else if (style == "italic") f.Italic = true;
        else if (style == "underline") f.Underline = true;
        else if (style == "strikeout") f.StrikeOut = true;
        else return message;
    }
    font = f;
    return std::nullopt;
}

}  // namespace

std::optional<int64_t> ParseTimeValue(const std::string& text) {
    const std::string t = Trim(text);
    const auto parts = Split(t, ':');
    if (parts.empty() || parts.size() > 3) return std::nullopt;
    int64_t whole = 0;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        const auto n = WholeNumber(parts[i]);
        if (!n || *n < 0 || parts[i].find_first_of("+-") != std::string::npos) return std::nullopt;
        // Minutes beside hours stay below 60, as a clock shows them.
        if (i > 0 && *n >= 60) return std::nullopt;
        whole = whole * 60 + *n;
    }
    // The seconds: digits, an optional point and up to six decimals.
    const std::string& s = parts.back();
    const size_t dot = s.find('.');
    const std::string integral = s.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : s.substr(dot + 1);
    if (integral.empty() && fraction.empty()) return std::nullopt;
    if (integral.size() > 9 || fraction.size() > 6) return std::nullopt;
    for (char c : integral + fraction)
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int64_t seconds = integral.empty() ? 0 : std::stoll(integral);
    if (parts.size() > 1 && seconds >= 60) return std::nullopt;
    int64_t micro = 0;
    for (size_t i = 0; i < 6; ++i) micro = micro * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    return (whole * 60 + seconds) * 1000000 + micro;
}

bool IsEditOption(const std::string& o) {
    static const char* const names[] = {"--trim",     "--crop",          "--zoom",        "--text",
                                        "--text-at",  "--font",          "--image",       "--image-at",
                                        "--image-opacity", "--image-style", "--brightness", "--contrast",
                                        "--saturation", "--exposure"};
    for (const char* n : names)
        if (o == n) return true;
    return false;
}

std::optional<std::string> ReadEditOption(const std::string& o, const std::string& value, TCommandEdits& e) {
    TlvFilesRecord& job = e.Job;
    if (o == "--trim") {
        const auto parts = Split(value, ',');
        const char* message = "--trim needs START,END in seconds (12.5) or as h:mm:ss.mmm, END after START";
        if (parts.size() != 2) return std::string(message);
        const auto from = ParseTimeValue(parts[0]), to = ParseTimeValue(parts[1]);
        if (!from || !to || *to <= *from) return std::string(message);
        e.Trimmed = true;
        e.TrimFrom = *from;
        e.TrimTo = *to;
        return std::nullopt;
    }
    if (o == "--crop") {
        const auto parts = Split(value, ',');
        const char* message = "--crop needs LEFT,TOP,RIGHT,BOTTOM, each a whole number of source pixels from 0";
        if (parts.size() != 4) return std::string(message);
        int32_t* into[4] = {&job.CropMarginLeft, &job.CropMarginTop, &job.CropMarginRight, &job.CropMarginBottom};
        for (int i = 0; i < 4; ++i) {
            const auto n = WholeNumber(parts[i]);
            if (!n || *n < 0 || *n > 100000) return std::string(message);
            *into[i] = int32_t(*n / 2 * 2);  // the engine crops by even amounts
        }
        e.Cropped = true;
        return std::nullopt;
    }
    if (o == "--zoom") {
        if (value != "full" && value != "lbox" && value != "pan" && value != "center")
            return std::string("--zoom needs one of full, lbox, pan, center");
        e.Zoom = value;
        return std::nullopt;
    }
    if (o == "--text") {
        if (value.empty()) return std::string("--text needs a text");
        job.WatermarkText = value;
        return std::nullopt;
    }
    if (o == "--text-at") return ReadPosition(o, value, job.TextSliderX, job.TextSliderY);
    if (o == "--font") return ReadFont(value, job.WatermarkFont);
    if (o == "--image") {
        TFrameBitmap probe;
        if (!LoadWatermarkImage(value, probe)) return Format("--image cannot read '%s' as a BMP picture", value.c_str());
        std::error_code ec;
        job.WatermarkImage = std::filesystem::absolute(value, ec).string();
        return std::nullopt;
    }
    if (o == "--image-at") return ReadPosition(o, value, job.ImageSliderX, job.ImageSliderY);
    if (o == "--image-opacity") return ReadRanged(o, value, ImageAlphaMin, ImageAlphaMax, job.ImageAlpha);
    if (o == "--image-style") return ReadRanged(o, value, 1, 2, job.TransparentStyle);
    if (o == "--brightness") return ReadRanged(o, value, BrightnessMin, BrightnessMax, job.Brightness);
    if (o == "--contrast") return ReadRanged(o, value, ContrastMin, ContrastMax, job.Contrast);
    if (o == "--saturation") return ReadRanged(o, value, SaturationMin, SaturationMax, job.Saturation);
    if (o == "--exposure") return ReadRanged(o, value, ExposureMin, ExposureMax, job.Exposure);
    return Format("unknown option '%s'", o.c_str());
}

std::optional<std::string> JobForFile(const TCommandEdits& e, const std::string& source, int64_t duration, int width,
                                      int height, TlvFilesRecord& job) {
    job = e.Job;
    job.SourceFile = source;
    if (e.Trimmed) {
        if (e.TrimTo > duration)
            return Format("--trim ends at %s, after the end of %s (%s)", FormatPlayTime(e.TrimTo).c_str(), source.c_str(),
                          FormatPlayTime(duration).c_str());
        const TTrimStore stored = StoreTrim(e.TrimFrom, e.TrimTo, duration);
        job.TrimStart = stored.TrimStart;
        job.TrimLength = stored.TrimLength;
    }
    if (e.Cropped && width > 0 && height > 0 &&
        (job.CropMarginLeft + job.CropMarginRight >= width || job.CropMarginTop + job.CropMarginBottom >= height))
        return Format("--crop leaves nothing of the %dx%d picture of %s", width, height, source.c_str());
    PlaceWatermarks(job, width, height);
    return std::nullopt;
}
