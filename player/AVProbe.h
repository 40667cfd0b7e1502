#pragma once
// The media probe: opens a file with the demuxer layer (no decoding of its pictures) and
// answers questions about the file, its streams, and a text report of both.
#include <cstdint>
#include <string>

struct AVFormatContext;
struct AVStream;

// The whole file. Times in microseconds, -1 when the demuxer does not know them.
struct TFileStreamInfo {
    std::int64_t StartTime = -1;
    std::int64_t Duration = -1;
    int BitRate = -1;
    std::int64_t TimeStamp = -1;  // seconds since 1970-01-01 UTC; 0 when the file has none
    int Year = -1;
    int Track = -1;
    std::string Title, Author, CopyrightText, Comment, Album, Genre;
};

// StartTime and Duration are in the stream's time base as the demuxer gives them; the
// ...Us values in microseconds, -1 when unknown. Every unknown number is -1.
struct TVideoStreamInfo {
    std::string Language, CodecName;
    std::int64_t StartTime = -1, StartTimeUs = -1;
    std::int64_t Duration = -1, DurationUs = -1;
    int BitRate = -1, Height = -1, Width = -1;
    float DisplayAspectRatio = -1.0f;
    int PixelFormat = -1;
    int FrameRateNum = -1, FrameRateDen = -1;
    // Width, Height and DisplayAspectRatio are those of the coded picture; it is shown
    // turned Rotation degrees clockwise, then mirrored when Mirrored.
    int Rotation = 0;
    bool Mirrored = false;
    int SampleAspectNum = 0, SampleAspectDen = 1;  // 0 when unknown (square)
    int FieldOrder = 0;     // an AVFieldOrder; Interlaced when top or bottom first
    bool Interlaced = false;
    int ColorTransfer = 2;  // an AVColorTransferCharacteristic (2: unspecified)
    bool Hdr = false;       // PQ or HLG
    // The picture as it is seen.
    int UprightWidth() const { return Rotation == 90 || Rotation == 270 ? Height : Width; }
    int UprightHeight() const { return Rotation == 90 || Rotation == 270 ? Width : Height; }
};

struct TAudioStreamInfo {
    std::string Language, CodecName;
    std::int64_t StartTime = -1, StartTimeUs = -1;
    std::int64_t Duration = -1, DurationUs = -1;
    int BitRate = -1, Channels = -1, SampleRate = -1, SampleFormat = -1;
};

class TCustomAVProbe {
public:
    TCustomAVProbe();
    virtual ~TCustomAVProbe();
    TCustomAVProbe(const TCustomAVProbe&) = delete;
    TCustomAVProbe& operator=(const TCustomAVProbe&) = delete;

    // Opens a file (UTF-8 name), optionally with a forced input format name. Throws
    // FFmpegException only when the media libraries are not loaded; any other failure is a
    // false result with LastError.
    bool LoadFile(const std::string& fileName, const std::string& formatName = "");
    // Adopts a context opened elsewhere; the probe never closes it.
    void AttachContext(AVFormatContext* context);
    void CloseFile();

    // A stream index below 0 means the first stream of that kind.
    TFileStreamInfo FileStreamInfo();
    TVideoStreamInfo VideoStreamInfo(int streamIndex);
    TAudioStreamInfo AudioStreamInfo(int streamIndex);
    bool IsAudioStream(int streamIndex);
    bool IsVideoStream(int streamIndex);

    std::string FileName() const;
    std::string InputFormatName() const;
    // The multi-line report of the file and its streams; empty with no file open.
    std::string FileInfoText();

    std::int64_t FileSize() const { return FFileSize; }
    int StreamCount() const { return FStreamCount; }
    int ProgramCount() const { return FProgramCount; }
    int AudioStreamCount() const { return FAudioStreamCount; }
    int VideoStreamCount() const { return FVideoStreamCount; }
    int SubtitleStreamCount() const { return FSubtitleStreamCount; }
    int FirstAudioStreamIndex() const { return FFirstAudioStreamIndex; }
    int FirstVideoStreamIndex() const { return FFirstVideoStreamIndex; }
    int FirstSubtitleStreamIndex() const { return FFirstSubtitleStreamIndex; }
    const std::string& LastError() const { return FLastError; }
    // The format name given to LoadFile, handed on as the input format of a conversion.
    const std::string& ForcedFormatName() const { return FForcedFormatName; }
    AVFormatContext* FormatContext() const { return FContext; }

protected:
    // Called after a file was opened or attached, and after it was closed.
    virtual void DoOpened() {}
    virtual void DoClosed() {}

private:
    void ComputeFileValues();
    void ResetFileValues();
    void Fail(int level, const std::string& message);
    bool IsStreamOfType(int index, int type);  // type: an AVMediaType
    // The stream for an info call, or null with LastError set; kind 0 video, 1 audio.
    AVStream* StreamOfKind(int streamIndex, int kind);
    std::string MetadataBlock(const struct AVDictionary* metadata, const std::string& indent) const;
    std::string StreamLine(int index) const;

    AVFormatContext* FContext = nullptr;
    bool FOwnsContext = false;
    bool FAddedFilePrefix = false;
    std::string FLastError;
    std::string FForcedFormatName;
    std::int64_t FFileSize = -1;
    int FStreamCount = -1, FProgramCount = -1;
    int FAudioStreamCount = -1, FVideoStreamCount = -1, FSubtitleStreamCount = -1;
    int FFirstAudioStreamIndex = -1, FFirstVideoStreamIndex = -1, FFirstSubtitleStreamIndex = -1;
};

// Adds the default stream for decoding: the first video stream, else the first audio
// stream, else -1, and its start time in microseconds (the file's when there is no such
// stream, 0 when unknown).
class TAVProbe : public TCustomAVProbe {
public:
    ~TAVProbe() override;
    int DefaultStreamIndex() const { return FDefaultStreamIndex; }
    std::int64_t DefaultStartTime() const { return FDefaultStartTime; }

protected:
    void DoOpened() override;
    void DoClosed() override;

private:
    int FDefaultStreamIndex = -1;
    std::int64_t FDefaultStartTime = 0;
};

// Texts of the report, shared with the tests: a rate as ", 29.97 fps", ", 25 fps" or
// ", 90k tbn"; a microsecond time as "seconds.micros".
std::string RateText(double value, const char* unit);
std::string SecondsText(std::int64_t microseconds);
// What the report says of a video stream's picture beyond its size: its rotation, mirror,
// fields and HDR transfer (", rotated 90° clockwise, HDR (PQ)"); empty for a plain one.
std::string PictureNotes(const AVStream& stream);
// Key of a tag as the report shows it ("TALB" → "album").
std::string MetadataKeyName(const std::string& key);
// A time base with a zero denominator, made usable in place (1/0 → 1/1).
void RepairTimeBase(int& num, int& den);
