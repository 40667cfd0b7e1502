#pragma once
// The value ranges of a job's edits, which every place that fills a record keeps to, and
// the check that brings a record read from outside the program within them.
#include <cstdint>
#include <functional>
#include <string>

#include "edits/JobRecord.h"
#include "formats/ParameterTables.h"  // MaxFrameSide

// The ranges of the effect controls and of the image opacity.
inline constexpr int BrightnessMin = 0, BrightnessMax = 512;
inline constexpr int ContrastMin = -100, ContrastMax = 100;
inline constexpr int SaturationMin = 0, SaturationMax = 512;
inline constexpr int ExposureMin = -255, ExposureMax = 512;
inline constexpr int ImageAlphaMin = 0, ImageAlphaMax = 255;
inline constexpr int PositionMin = 0, PositionMax = 100;  // percent of the frame
inline constexpr int FontSizeMin = 7, FontSizeMax = 70;   // the font dialog's sizes
inline constexpr int CropEditMax = 9999;                  // the crop dialog's boxes
// The longest trim start or length: a thousand hours, far below what a microsecond count
// and the file's number fields can hold.
inline constexpr int64_t TrimMax = int64_t(1000) * 3600 * 1000000;

// Brings a record read from outside the program (the recovery file) within the ranges the
// dialogs allow: each value out of range takes its default, and note gets a line naming the
// value. Pixel positions and crop margins are kept within the largest frame the encoders
// take (margins also even), text and image positions at 0 or more, the trim within TrimMax.
void KeepJobInRange(TlvFilesRecord& job, const std::function<void(const std::string&)>& note);

