#pragma once
// The trim dialog's arithmetic: play-time texts, what "Ok" stores for a selection, and the
// selection a trimmed job reopens with. Times are microseconds.
#include <cstdint>
#include <string>

// "hh:mm:ss.zzz"; hours are not wrapped at 24.
std::string FormatPlayTime(int64_t microseconds);

struct TTrimStore {
    int64_t TrimStart = 0;
    int64_t TrimLength = 0;  // 0: to the end
    bool SetsColumn = false;  // whether the "Trimmed Length" column changes
    int64_t ColumnSeconds = 0;
    // A selection inside the file shorter than a millisecond: nothing is stored, the dialog
    // says why and stays open (stored as "no limit" it would convert the rest of the file).
    bool Refused = false;
};
inline constexpr const char* TrimTooShort = "The selection is shorter than one frame.";

// What "Ok" stores for a selection from start to end of a file of the given duration. A
// selection that is not inside the file stores the whole file; one within a millisecond of
// the whole file stores 0 (no limit); one within a millisecond of nothing is refused.
TTrimStore StoreTrim(int64_t start, int64_t end, int64_t duration);

struct TTrimSelection {
    int64_t Start = 0;
    int64_t End = 0;
};

// The selection a job's stored trim shows when the dialog opens on it.
TTrimSelection RestoreTrim(int64_t trimStart, int64_t trimLength, int64_t duration);

// A position on a seek bar of the given maximum, in 64-bit integer arithmetic.
int SelectionPosition(int64_t time, int64_t duration, int maximum);
