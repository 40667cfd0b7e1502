#pragma once
// The records through which the program hands one job to the engine component: the
// options of an input, of an output and the output's metadata, plus the "extra options"
// text that both carry (lines of key "=" value).
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// "No time given": the media libraries' no-timestamp value.
inline constexpr int64_t NoTimestamp = std::numeric_limits<int64_t>::min();

// Metadata written into an output.
struct TStreamInfo {
    // Days since 1899-12-30, local time: -1 nothing, 0 the current time, > 0 that time.
    double Timestamp = -1.0;
    int Year = -1;   // written when > 0
    int Track = -1;  // written when > 0
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;

    void Reset() { *this = TStreamInfo{}; }
};

struct TInputOptions {
    std::string FileName;             // empty: the name given when the task is added
    std::string FileFormat;           // forced input format
    int64_t StartTime = NoTimestamp;  // microseconds
    int ProgramId = -1;               // used when >= 0
    std::string ExtOptions;           // further input options, see ParseExtOptions
    // Two numbers the component carries but never reads; free for the caller's own use.
    int Reserved1 = 0;
    int Reserved2 = 0;

    void Reset() { *this = TInputOptions{}; }
};

// Every field's "not set" value is its initial value; numbers apply when > 0 unless
// noted, texts when not empty, flags when true.
struct TOutputOptions {
    std::string FileName;  // empty: the name given with the output
    std::string FileFormat;
    int PacketSize = -1;
    int MuxRate = -1;
    float MuxDelay = -1.0f;    // seconds
    float MuxPreload = -1.0f;  // seconds

    std::string AudioCodec;
    std::string AudioPreset;
    bool AudioDisable = false;
    int AudioVolume = -1;  // applies when >= 0; 256 is unchanged
    int AudioChannels = -1;
    int AudioSampleRate = -1;
    int64_t AudioBitrate = -1;  // bit/s
    int AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int AudioSync = 0;
    std::string AudioTag;

    std::string VideoCodec;
    std::string VideoPreset;
    bool VideoDisable = false;
    std::string FrameRate;    // "29.97", "25", "30000/1001"
    std::string FrameSize;    // width "x" height
    std::string AspectRatio;  // "w:h" or a number
    int CropTop = -1;
    int CropBottom = -1;
    int CropLeft = -1;
    int CropRight = -1;
    int GopSize = -1;
    int64_t VideoBitrate = -1;  // bit/s
    int64_t MaxRate = -1;
    int64_t MinRate = -1;
    int64_t VideoBitrateTolerance = -1;
    int64_t BufSize = -1;
    int VideoSync = -1;
    std::string VideoTag;
    std::string VideoFilters;
    std::string VideoLanguage;

    std::string SubtitleCodec;
    std::string SubtitlePreset;
    bool SubtitleDisable = false;
    std::string SubtitleLanguage;

    bool InputSync = false;
    bool CopyTimestamps = false;
    int64_t StartTime = NoTimestamp;      // microseconds
    int64_t RecordingTime = NoTimestamp;  // microseconds; also the progress total
    TStreamInfo Metadata;

    int Target = 0;       // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
    int TargetNorm = 0;   // 0 "auto", 1 "pal", 2 "ntsc"
    int DefaultNorm = 1;  // 1 "pal", anything else "ntsc": used when the norm cannot be guessed
    bool CustomHook = false;
    bool Join = false;
    // The video is encoded twice: a first pass (no sound, no file) writes its log into a
    // temporary folder, and the output's own run sizes its pictures from it. The folder is
    // removed when the task ends.
    bool TwoPass = false;
    std::string ExtOptions;  // further output options, see ParseExtOptions

    void Reset() { *this = TOutputOptions{}; }
};

// One line of an extra-options text. Keys are compared in lower case (KeyLower).
struct TExtOption {
    std::string Key;
    std::string Value;
    std::string KeyLower() const;
    bool operator==(const TExtOption&) const = default;
};

// Splits an extra-options text into its lines: the text is trimmed, "\r\n" and "\r" count
// as line breaks, so does every literal "<CRLF>" (which lets a whole list travel on one
// line of an INI file); each line is split at its first "=" (no "=": the whole line is the
// key, the value empty); key and value are trimmed; blank lines are dropped.
std::vector<TExtOption> ParseExtOptions(const std::string& text);

// Appends key "=" value as a new line of an extra-options text.
void AddExtOption(std::string& text, const std::string& key, const std::string& value);

// The same lines joined with "<CRLF>", for storage on a single line.
std::string ExtOptionsToSingleLine(const std::string& text);

// Encoder names of older library generations mapped to the encoders that do the job today
// ("libfaac" → "aac", "vorbis" → "libvorbis", "libflac" → "flac"). Returns nullopt for an
// encoder that has no counterpart in this build ("libopencore_amrnb", "msmpeg4v1"); any
// other name comes back unchanged, so an unknown one still fails at the encoder lookup.
std::optional<std::string> CurrentEncoderName(const std::string& name);

// The engine option lines ("key", "value") that the fields of the records stand for, in the
// order the component applies them: target preset, codecs and presets, the extra lines, the
// remaining fields in table order, frame size and filter chain, then the lines that add
// further streams. Encoder names are passed as written; the engine maps them with
// CurrentEncoderName when it looks the encoder up. DefaultNorm has no option of its own
// (the component hands it to the target preset directly).
std::vector<std::pair<std::string, std::string>> ToEngineOptions(const TOutputOptions& options);
std::vector<std::pair<std::string, std::string>> ToEngineOptions(const TInputOptions& options);

// A microsecond time as the seconds text that the duration options read ("12.500000").
std::string DurationText(int64_t microseconds);
