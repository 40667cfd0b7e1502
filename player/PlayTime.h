#pragma once
// Time texts of the preview and the edit dialogs.
#include <cstdint>
#include <cstdio>
#include <string>

// Whole seconds as "h:mm:ss" (hours without leading zeros); negative counts as 0.
inline std::string FormatSeconds(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%.2d:%.2d", static_cast<long long>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

// Microseconds as "hh:mm:ss.zzz"; hours do not wrap at 24.
inline std::string FormatPlayTime(std::int64_t microseconds) {
    const std::int64_t s = microseconds / 1000000;
    char text[48];
    std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d.%.3d", static_cast<int>(s / 60 / 60), static_cast<int>(s / 60 % 60),
                  static_cast<int>(s % 60), static_cast<int>(microseconds % 1000000 * 1000 / 1000000));
    return text;
}
