#pragma once
// Small text helpers shared by the engine, the probe and the player.
#include <cstdarg>
#include <cstdint>
#include <string>

struct AVCodecParameters;
struct AVDictionary;
struct AVFilterContext;
struct AVFilterGraph;
struct AVRational;

// printf-style formatting into a std::string (no length limit).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list ap);

// "hh:mm:ss.zzz" of a microsecond count; "N/A" for the no-timestamp value.
std::string TimeToText(std::int64_t microseconds);

// Message of a library error code, e.g. "End of file" for AVERROR_EOF.
std::string ErrorMessage(int errorCode);
// name + ": " + the message of the code, the text shown for a file the libraries refused.
std::string ErrorText(const std::string& name, int errorCode);

// Parses a filter chain text into graph between an existing source and sink (the text's
// "in" and "out"). AVERROR(ENOMEM) when the ends cannot be made, else what the parser returns.
int LinkFilterChain(AVFilterGraph& graph, AVFilterContext* source, AVFilterContext* sink, const std::string& chain);

// "Video", "Audio", "Data", "Subtitle", "Attachment", otherwise "Unknown".
std::string CodecTypeName(int codecType);

// The codec of a stream by name: "short(long)" when a codec is known, otherwise the
// descriptor's name or the four-character tag.
std::string CodecName(const AVCodecParameters& par, bool encoder);

// "%d Byte", "%.2f KB", "%.2f MB" or "%.2f GB".
std::string FileSizeText(std::int64_t size);

// The value of a tag, or def when the dictionary has no such key.
std::string MetadataValue(const AVDictionary* dict, const char* key, const std::string& def = "");

// Adds params to an encoder's "key=a:b" parameter list (x264-params, x265-params, ...):
// after what is given already, so a person's own settings keep their place.
void AppendCodecParams(AVDictionary** dict, const char* key, const std::string& params);

// Reads a whole file into data. Returns its size, -1 when it cannot be opened or read,
// -12 when the memory cannot be had.
std::int64_t ReadWholeFile(const std::string& path, std::string& data);

// Seconds since 1970-01-01 UTC as local date-time (days since 1899-12-30), and back
// (rounded to whole seconds).
double UnixToDateTime(std::int64_t unixSeconds);
std::int64_t DateTimeToUnix(double dateTime);
// "yyyy-mm-dd hh:nn:ss" in local time.
std::string LocalDateTimeText(std::int64_t unixSeconds);

// A double as a rational whose terms stay within max (the libraries' own rule).
AVRational DoubleToRational(double x, int max);
