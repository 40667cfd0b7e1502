#pragma once
// The option handler of an engine task: one named option with a text value at a time,
// applied to the task's settings and to its generic option store. Failures are raised as
// FFmpegException with the program's own texts.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/EngineSettings.h"
#include "engine/OptionTable.h"

// What the option handler needs from the task it configures.
class TOptionHost {
public:
    virtual ~TOptionHost() = default;
    virtual int InputCount() const = 0;
    virtual int OutputCount() const = 0;
    // Adds one stream of the type (video, audio, subtitle) to the last output.
    virtual void NewStream(AVMediaType type) = 0;
    // Frame rates (frames per second as a fraction) of the video streams of the inputs
    // opened so far, in input and stream order; used to guess a target's TV norm.
    virtual std::vector<AVRational> InputVideoFrameRates() const = 0;
    // The sender of the task's log messages.
    virtual const void* LogSender() const = 0;
    // "t" was given: the recording time also becomes the progress total.
    virtual void RecordingTimeChanged(int64_t /*microseconds*/) {}
};

class TOptionParser {
public:
    TOptionParser(TEngineSettings& settings, TGenericOptions& generic, TOptionHost& host);

    // One option of the table (name compared exactly); anything else goes to the store.
    void ParseOption(const std::string& name, const std::string& value);

    // The option table (engine/OptionTable.cpp), and the entry of a name or null.
    static const std::vector<TOptionEntry>& Entries();
    static const TOptionEntry* FindEntry(const std::string& name);

    // The generic option store; false when the name is unknown or the value refused.
    bool SetGenericOption(const std::string& name, const std::string& value);

    // kind: "apre", "vpre", "spre" or "fpre".
    void ApplyPreset(const std::string& kind, const std::string& value);

    // type: "vcd", "svcd", "dvd", "dv", "dv50"; norm "pal", "ntsc", "film" or anything
    // else for a guess; defaultNorm decides when the guess finds nothing.
    void ApplyTarget(const std::string& type, const std::string& norm, const std::string& defaultNorm);

    // Typed setters for the component's record fields; the same rules as the options.
    void SetStartTime(int64_t us) { FSettings.StartTime = us; }
    void SetRecordingTime(int64_t us);
    void SetInputTsOffset(int64_t us) { FSettings.InputTsOffset = us; }
    void SetProgramId(int id) { FSettings.ProgramId = id; }
    void SetAudioChannels(int channels);
    void SetAudioSampleRate(int rate);
    void SetAudioVolume(int volume) { FSettings.AudioVolume = volume; }
    void SetMuxDelay(double seconds) { FSettings.MuxMaxDelay = float(seconds); }
    void SetMuxPreload(double seconds) { FSettings.MuxPreload = float(seconds); }
    void SetVideoSync(int method) { FSettings.VideoSyncMethod = method; }
    void SetAudioSync(int samplesPerSecond) { FSettings.AudioSyncMethod = samplesPerSecond; }
    void SetCopyTimestamps(bool on) { FSettings.CopyTs = on; }
    void SetInputSync(bool on) { FSettings.InputSync = on; }
    // "vcodec", "acodec", "scodec": "copy" or an encoder name.
    void SetCodec(AVMediaType type, const std::string& name);

    // The built-in preset of that name (case-insensitive); false when there is none.
    static bool FindBuiltinPreset(const std::string& name, std::string& resolvedName, std::string& text);

private:
    struct TTableGroups;  // the option table's groups (OptionTable.cpp)

    void LogInfo(const std::string& text) const;
    void Log(int level, const std::string& text) const;
    void DoNothing(const std::string& name) const;
    // Handlers of the table: each takes the name it was called by and the value.
    void LogLevelOption(const std::string& name, const std::string& value);
    void FormatOption(const std::string& name, const std::string& value);
    void RecordingTimeOption(const std::string& name, const std::string& value);
    void TsScaleOption(const std::string& name, const std::string& value);
    void TimestampOption(const std::string& name, const std::string& value);
    void MetaDataOption(const std::string& name, const std::string& value);
    void MaxFramesOption(const std::string& name, const std::string& value);
    void FrameRateOption(const std::string& name, const std::string& value);
    void FrameSizeOption(const std::string& name, const std::string& value);
    void AspectOption(const std::string& name, const std::string& value);
    void QScaleOption(const std::string& name, const std::string& value);
    void CodecOption(const std::string& name, const std::string& value);
    void PassOption(const std::string& name, const std::string& value);
    void VStatsOption(const std::string& name, const std::string& value);
    void NewStreamOption(const std::string& name, const std::string& value);
    void SampleRateOption(const std::string& name, const std::string& value);
    void ChannelsOption(const std::string& name, const std::string& value);
    void BitrateOption(const std::string& name, const std::string& value);
    void CropOption(const std::string& name, const std::string& value);
    void MatrixOption(const std::string& name, const std::string& value);
    void TagOption(const std::string& name, const std::string& value);
    void StreamIdOption(const std::string& name, const std::string& value);
    void MapOption(const std::string& name, const std::string& value);
    void MapMetaDataOption(const std::string& name, const std::string& value);
    void BitstreamFilterOption(const std::string& name, const std::string& value);
    void VideoHookOption(const std::string& name, const std::string& value);
    void PixelFormatOption(const std::string& name, const std::string& value);
    void SampleFormatOption(const std::string& name, const std::string& value);
    void TargetOption(const std::string& name, const std::string& value);

    bool SetOnTemplates(const std::string& name, const std::string& value, bool& found);
    bool SetPrivateOption(AVMediaType type, const std::string& name, const std::string& value);
    bool SetTranslated(const std::string& name, const std::string& value, bool& handled);
    std::string TargetEncoderName(AVMediaType type) const;
    enum class TTvNorm { Pal, Ntsc, Film, Unknown };
    TTvNorm TargetNorm(const std::string& normText, const std::string& defaultNorm) const;

    TEngineSettings& FSettings;
    TGenericOptions& FGeneric;
    TOptionHost& FHost;
    // While a built-in preset for an encoder is applied, its private options are checked
    // against that encoder (for example "libx264").
    std::string FPresetEncoder;
};

// Resolves a codec by name for a media type. encoder: an encoder (names of the older
// generation are mapped to today's), otherwise a decoder. strict: the context's
// strictness (an experimental codec needs -2 or lower).
const AVCodec* FindCodecOrThrow(const std::string& name, AVMediaType type, bool encoder, int strict);

