#pragma once
// Turns the chosen output format and the user's parameter choices for it into the output
// options of one job: disc targets, audio-only output, encoders and H.264 presets, bit
// rates, frame rate, container, output size and the geometry of the zoom modes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/TaskOptions.h"
#include "formats/ParameterTables.h"

class IniFile;

// The job's picture geometry: zoom mode and crop margins in source pixels (0: no crop).
struct TJobGeometry {
    std::string ZoomMode = "lbox";  // "full", "lbox", "pan", "center"
    int CropMarginTop = 0;
    int CropMarginLeft = 0;
    int CropMarginBottom = 0;
    int CropMarginRight = 0;
};

// Receives one line for the job's log: a value that was out of range and what was used
// instead.
using TJobNote = std::function<void(const std::string& line)>;

// What the builder needs to know about the job's source.
struct TSourceSummary {
    int VideoStreamCount = 0;
    int Width = 0;  // of the first video stream
    int Height = 0;
    int64_t BitRate = 0;  // bit/s of the first video stream; 0 when unknown
    int64_t Duration = 0;  // microseconds of the whole source; 0 when unknown
    // The shape of its pixels (0 when unknown: square). Width, Height and the sample aspect
    // are those of the picture as it is seen, once turned upright (UprightSummary).
    int SampleAspectNum = 0, SampleAspectDen = 1;
    int Rotation = 0;  // clockwise degrees the coded picture is turned by, until made upright
};

// The summary of the upright picture: sides and sample aspect swapped by a quarter turn.
// With rotate false the picture is taken as coded.
TSourceSummary UprightSummary(TSourceSummary source, bool rotate);

// Asked when the stored frame size cannot be read: true uses 320x240, false the source size.
class TSizeQuestion {
public:
    virtual ~TSizeQuestion() = default;
    virtual bool AskUseDefaultSize() = 0;
};

// The answer of a program without windows: always the default size.
class TDefaultSizeAnswer : public TSizeQuestion {
public:
    bool AskUseDefaultSize() override { return true; }
};

// The text of the question a window shows, with its caption.
inline constexpr const char* SizeQuestionText = "Error output Video Size.Use the default size 320x240?";
inline constexpr const char* SizeQuestionCaption = "Warning";

// One format's parameter values as the builder reads them: the value stored in the settings
// file when there is one, else the default entry of the format definition's list (what the
// panel's "Default" button would store), else the given fallback.
class TFormatParameters {
public:
    TFormatParameters(int formatCode, const IniFile& formatFile, const IniFile& settingsFile);
    std::string Read(const std::string& valueKey, const std::string& fallback) const;
    // The value of a parameter, checked: the stored value when it is one the parameter can
    // take, else the definition's default when that is, else the fallback; each value passed
    // over gets a note.
    std::string ReadChecked(TParameter p, const std::string& fallback, const TJobNote& note) const;
    // The definition's default for a "para..." key, mapped as the panel stores it.
    std::optional<std::string> DefinitionDefault(const std::string& valueKey) const;
    // "Format" of the definition, "null" when absent.
    std::string DefinedFormat() const;
    // "EncoderOptions" of the definition: the encoder's own settings as extra-option lines
    // joined by "<CRLF>"; "" when absent.
    std::string DefinedEncoderOptions() const;
    // "Device" of the definition, "" when absent (a computer or an HD set).
    std::string DefinedDevice() const;
    const std::string& Section() const { return FSection; }

private:
    std::string FSection;
    const IniFile& FFormatFile;
    const IniFile& FSettingsFile;
};

// The job's zoom mode as stored for the format ("paraZoom", compared without regard to the
// key's case), "lbox" when the format has none.
std::string StoredZoomMode(int formatCode, const IniFile& settingsFile);

// Whether a stored or defined value is one the parameter can take: for the frame size
// "as source" or a size ParseFrameSize reads; for the others any text that is not a number
// (it keeps its meaning: "as source", or none) or a number within the parameter's range.
bool AcceptableValue(TParameter p, const std::string& value);

// The rates of a job that must fit a size: sound at the chosen rate, lowered for a long job
// (never below 48 kbit/s), the picture gets the rest, up to MaximumFitVideoRate (a short job
// needs no more to look like its source, and players of H.264 level 4 take no more). Refused
// (with the reason) when the picture would get less than MinimumFitVideoRate, or the length
// is unknown.
inline constexpr int64_t MinimumFitVideoRate = 100000;    // bit/s
inline constexpr int64_t MaximumFitVideoRate = 20000000;  // bit/s
struct TSizePlan {
    int64_t VideoBitrate = 0;  // bit/s
    int64_t AudioBitrate = 0;  // bit/s; 0 without sound
    std::string Refusal;       // empty when the job fits
};
TSizePlan PlanTargetSize(int megabytes, int64_t lengthUs, int64_t audioCeiling, double frameRate);

// Fills the output options (which the caller has reset) and, for audio-only output, the
// input's extra options. Shows at most one question; never fails otherwise: values out of
// range are passed over with a note (a frame size for the format's default, a crop larger
// than the picture for none). The options already there count: a recording time (the trim)
// is the length a size is planned for. A job that cannot fit its format's size gets the
// reason in refusal, when given.
void BuildOutputOptions(int formatCode, const IniFile& formatFile, const IniFile& settingsFile,
                        const TJobGeometry& job, const TSourceSummary& source, TSizeQuestion& question,
                        TOutputOptions& output, TInputOptions& input, const TJobNote& note = {},
                        std::string* refusal = nullptr);
