#pragma once
// The record behind one row of the job list: the source and every per-file edit made in the
// trim, crop and watermark dialogs. The run, the options builder and the frame drawing read it.
// It holds plain values only, so that the terminal converter fills the same record.
#include <cstdint>
#include <string>

// The watermark text's font: what the font dialog chooses, colour as 0xRRGGBB.
struct TJobFont {
    std::string Name = "MS Sans Serif";
    int Size = 8;  // points
    uint32_t Color = 0x000000;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;

    bool operator==(const TJobFont&) const = default;
};

struct TlvFilesRecord {
    std::string SourceFile;
    int64_t TrimStart = 0;   // microseconds into the source
    int64_t TrimLength = 0;  // microseconds; 0: to the end
    std::string ZoomMode = "lbox";  // "full", "lbox", "pan", "center"
    int32_t CropMarginTop = 0;  // source pixels
    int32_t CropMarginLeft = 0;
    int32_t CropMarginBottom = 0;
    int32_t CropMarginRight = 0;
    int32_t CropEditTop = 0;  // as entered in the crop dialog
    int32_t CropEditLeft = 0;
    int32_t CropEditBottom = 0;
    int32_t CropEditRight = 0;
    std::string WatermarkText;  // empty: none
    TJobFont WatermarkFont;
    int32_t TextLeft = 0;  // frame pixels
    int32_t TextTop = 0;
    int32_t TextSliderX = 0;
    int32_t TextSliderY = 0;
    std::string WatermarkImage;  // path of a picture; empty: none
    int32_t ImageLeft = 0;  // frame pixels
    int32_t ImageTop = 0;
    int32_t ImageSliderX = 0;
    int32_t ImageSliderY = 0;
    int32_t ImageAlpha = 168;
    int32_t TransparentStyle = 1;  // 1 or 2
    int32_t Brightness = 255;  // 255: unchanged
    int32_t Contrast = 0;      // 0: unchanged
    int32_t Saturation = 255;  // 255: unchanged
    int32_t Exposure = 0;      // 0: unchanged
    bool ProcessText = false;
    bool ProcessImage = false;

    bool operator==(const TlvFilesRecord&) const = default;
};
