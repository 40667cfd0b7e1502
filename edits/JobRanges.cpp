#include "edits/JobRanges.h"

#include <algorithm>
#include <iterator>

void KeepJobInRange(TlvFilesRecord& job, const std::function<void(const std::string&)>& note) {
    const TlvFilesRecord defaults;
    auto keep = [&](const char* name, auto& value, auto defaultValue, auto min, auto max, bool even = false) {
        if (value >= min && value <= max && (!even || value % 2 == 0)) return;
        if (note)
            note(std::string(name) + " " + std::to_string(value) + " is out of range; " + std::to_string(defaultValue) +
                 " is used.");
        value = defaultValue;
    };
    keep("TrimStart", job.TrimStart, defaults.TrimStart, int64_t(0), TrimMax);
    keep("TrimLength", job.TrimLength, defaults.TrimLength, int64_t(0), TrimMax);
    keep("CropMarginTop", job.CropMarginTop, defaults.CropMarginTop, 0, MaxFrameSide, true);
    keep("CropMarginLeft", job.CropMarginLeft, defaults.CropMarginLeft, 0, MaxFrameSide, true);
    keep("CropMarginBottom", job.CropMarginBottom, defaults.CropMarginBottom, 0, MaxFrameSide, true);
    keep("CropMarginRight", job.CropMarginRight, defaults.CropMarginRight, 0, MaxFrameSide, true);
    keep("CropEditTop", job.CropEditTop, defaults.CropEditTop, 0, CropEditMax);
    keep("CropEditLeft", job.CropEditLeft, defaults.CropEditLeft, 0, CropEditMax);
    keep("CropEditBottom", job.CropEditBottom, defaults.CropEditBottom, 0, CropEditMax);
    keep("CropEditRight", job.CropEditRight, defaults.CropEditRight, 0, CropEditMax);
    keep("TextLeft", job.TextLeft, defaults.TextLeft, 0, MaxFrameSide);
    keep("TextTop", job.TextTop, defaults.TextTop, 0, MaxFrameSide);
    keep("TextSliderX", job.TextSliderX, defaults.TextSliderX, PositionMin, PositionMax);
    keep("TextSliderY", job.TextSliderY, defaults.TextSliderY, PositionMin, PositionMax);
    keep("ImageLeft", job.ImageLeft, defaults.ImageLeft, 0, MaxFrameSide);
    keep("ImageTop", job.ImageTop, defaults.ImageTop, 0, MaxFrameSide);
    keep("ImageSliderX", job.ImageSliderX, defaults.ImageSliderX, PositionMin, PositionMax);
    keep("ImageSliderY", job.ImageSliderY, defaults.ImageSliderY, PositionMin, PositionMax);
    keep("ImageAlpha", job.ImageAlpha, defaults.ImageAlpha, ImageAlphaMin, ImageAlphaMax);
    keep("TransparentStyle", job.TransparentStyle, defaults.TransparentStyle, 1, 2);
    keep("Brightness", job.Brightness, defaults.Brightness, BrightnessMin, BrightnessMax);
    keep("Contrast", job.Contrast, defaults.Contrast, ContrastMin, ContrastMax);
    keep("Saturation", job.Saturation, defaults.Saturation, SaturationMin, SaturationMax);
    keep("Exposure", job.Exposure, defaults.Exposure, ExposureMin, ExposureMax);
    keep("Font Size", job.WatermarkFont.Size, defaults.WatermarkFont.Size, FontSizeMin, FontSizeMax);
    keep("Font Color", job.WatermarkFont.Color, defaults.WatermarkFont.Color, 0u, 0xFFFFFFu);
    static const char* const zooms[] = {"full", "lbox", "pan", "center", "orig", "cent"};
    if (std::find(std::begin(zooms), std::end(zooms), job.ZoomMode) == std::end(zooms)) {
        if (note) note("ZoomMode \"" + job.ZoomMode + "\" is not a zoom mode; \"" + defaults.ZoomMode + "\" is used.");
        job.ZoomMode = defaults.ZoomMode;
    }
}
