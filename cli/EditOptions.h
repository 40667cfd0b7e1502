#pragma once
// The per-file edits of reelshift-cli --format: trim, crop, zoom, text and image watermarks
// and the colour effects, read from the command line into the job record the desktop
// program's dialogs fill. Values out of range are refused with a message naming the option.
#include <cstdint>
#include <optional>
#include <string>

#include "edits/JobRecord.h"

struct TCommandEdits {
    TlvFilesRecord Job;  // the edits; source, trim and pixel positions are set per file
    std::optional<std::string> Zoom;
    bool Cropped = false;
    bool Trimmed = false;
    int64_t TrimFrom = 0;  // microseconds
    int64_t TrimTo = 0;
};

// True for the options this unit reads (each takes one value).
bool IsEditOption(const std::string& option);

// Reads one option's value into edits; the error message when it cannot be used.
std::optional<std::string> ReadEditOption(const std::string& option, const std::string& value, TCommandEdits& edits);

// "12.5" or "1:02:03.250" as microseconds; nullopt when it is neither.
std::optional<int64_t> ParseTimeValue(const std::string& text);

// The record for one file: its source, its trim, its watermark positions in pixels of its
// frame. The message when the trim or the crop does not fit the file.
std::optional<std::string> JobForFile(const TCommandEdits& edits, const std::string& source, int64_t duration,
                                      int width, int height, TlvFilesRecord& job);
