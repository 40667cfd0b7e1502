#include "edits/TrimRules.h"

#include <cstdio>

std::string FormatPlayTime(int64_t us) {
    const int64_t seconds = us / 1000000;
    char text[64];
    std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d.%.3d", int(seconds / 60 / 60), int(seconds / 60 % 60),
                  int(seconds % 60), int(us % 1000000 * 1000 / 1000000));
    return text;
}

TTrimStore StoreTrim(int64_t start, int64_t end, int64_t duration) {
    TTrimStore s;
    const bool within = start >= 0 && end > 0 && end <= duration;
    // Both marks at one place, or less than a millisecond apart: stored as "no limit" it
    // would convert to the end of the file.
    if (within && start <= end && end - start < 1000) {
        s.Refused = true;
        return s;
    }
    const bool inside = within && start < end;
    const int64_t d = inside ? end - start : duration;
    if (d <= 0) return s;
    // A selection that falls back to the whole file keeps no start either, so the file is
    // converted from its beginning as the column then says.
    s.TrimStart = inside && start > 0 ? start : 0;
    s.TrimLength = duration - d < 1000 ? 0 : d;
    s.SetsColumn = true;
    s.ColumnSeconds = d / 1000000;
    return s;
}

TTrimSelection RestoreTrim(int64_t trimStart, int64_t trimLength, int64_t duration) {
    TTrimSelection s;
    if (trimStart >= 0) s.Start = trimStart;
    s.End = trimLength > 0 ? trimStart + trimLength : duration;
    return s;
}

int SelectionPosition(int64_t time, int64_t duration, int maximum) {
    return duration > 0 ? int(int64_t(maximum) * time / duration) : 0;
}
