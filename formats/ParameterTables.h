#pragma once
// The vocabulary of the parameter boxes: how an entry of a format definition's list (its
// display name, "mpeg-4", "mono 1 channel", "100%") becomes the value stored in the
// settings file and read by the option builder ("mpeg4", "1", "256"), and the checks that
// typed values must pass.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/TaskOptions.h"  // CurrentEncoderName: today's name of an older encoder

enum class TParameter {
    VideoSize,
    VideoBitRate,
    FrameRate,
    VideoEncoder,
    AudioBitRate,
    SampleRate,
    AudioEncoder,
    Channel,
    Volume,
};

// All nine, in the order the panel loads them.
const std::vector<TParameter>& AllParameters();

// Keys of one parameter: the list in the format definition file ("VideoSize"), the index of
// its default or chosen entry ("iVideoSize") and the stored value ("paraVideoSize").
std::string ListKey(TParameter p);
std::string IndexKey(TParameter p);
std::string ValueKey(TParameter p);

// Whether a list value from the format definition file offers anything: "null" never does;
// an empty value does not either, except for frame size, video bit rate and frame rate,
// whose empty list is one empty entry.
bool ListOffered(TParameter p, const std::string& listValue);
// Entries of a list value, split at every "," without trimming (a trailing comma gives a
// final empty entry).
std::vector<std::string> SplitList(const std::string& listValue);

// The value stored for a chosen entry or a typed text, or nullopt when nothing would be
// stored (an invalid text, or an entry the tables do not know). Encoder, channel and
// volume entries are looked up as written and, failing that, with surrounding blanks
// removed, since definition files are edited by hand.
std::optional<std::string> EngineValue(TParameter p, const std::string& display);
// The first display name that stores the given value (encoders, channel, volume); the text
// itself for the parameters that store their text; nullopt when none does.
std::optional<std::string> DisplayName(TParameter p, const std::string& engineValue);

// Display name → engine name, in lookup order.
using TNameTable = std::vector<std::pair<std::string, std::string>>;
const TNameTable& VideoEncoderTable();
const TNameTable& AudioEncoderTable();
const TNameTable& ChannelTable();
// Volume percentage (25 .. 400) → engine volume (256 is unchanged).
const std::vector<std::pair<int, int>>& VolumeTable();

// Whether the engine of this build can encode with this (stored) encoder name, after the
// renaming of encoders that no longer exist under their old names.
bool EncoderAvailable(const std::string& engineName);

// The largest picture side the encoders take.
inline constexpr int MaxFrameSide = 16384;

// A frame size as stored: two decimal integers from 1 to MaxFrameSide joined by "x" (blanks
// around the whole allowed), nothing else: no sign, no hexadecimal, no third part.
struct TFrameSize {
    int Width = 0, Height = 0;
    bool operator==(const TFrameSize&) const = default;
};
std::optional<TFrameSize> ParseFrameSize(const std::string& text);

// The numbers a format's parameters may take, wherever they are read from (the settings
// file, a format definition): bit rates in kbit/s, the sample rate in Hz, the frame rate in
// frames per second, channels, and the engine volume (256 leaves the sound as it is). 0
// keeps its meaning of "none" (or "as the source" for channels).
struct TValueRange {
    long double Min, Max;
    bool Holds(long double v) const { return v >= Min && v <= Max; }
};
inline constexpr TValueRange VideoBitRateRange{0, 1000000};
inline constexpr TValueRange AudioBitRateRange{0, 10000};
inline constexpr TValueRange SampleRateRange{0, 768000};
inline constexpr TValueRange FrameRateRange{0, 1000};
inline constexpr TValueRange ChannelRange{0, 8};
inline constexpr TValueRange VolumeRange{0, 1024};

// The frame size check: "as source", a size to store (possibly corrected to even numbers),
// or invalid. Each side must be a decimal number up to MaxFrameSide.
struct TFrameSizeCheck {
    enum TKind { fsAsSource, fsValid, fsCorrected, fsInvalid } Kind = fsInvalid;
    std::string Value;  // the size to store for fsValid and fsCorrected
};
TFrameSizeCheck CheckFrameSize(const std::string& text);

// The rate modes a video bit-rate entry can name besides kbit/s and "as source":
// "CRF 26" encodes at that constant quality (0 .. 63), "10 MB" sizes the video of each job
// so that the file fits that many megabytes (10^6 bytes).
std::optional<int> QualityEntry(const std::string& text);
std::optional<int> TargetSizeEntry(const std::string& text);

// The text checks of the typed boxes.
bool ValidVideoBitRate(const std::string& text);  // an integer, "as source" or a rate mode above
bool ValidSampleRate(const std::string& text);    // an integer or "as source"
bool ValidAudioBitRate(const std::string& text);  // an integer, a decimal number or "as source"

// A decimal number: the whole text (blanks around it allowed) reads as a floating-point
// value in plain decimal notation.
std::optional<long double> ParseNumber(const std::string& text);
