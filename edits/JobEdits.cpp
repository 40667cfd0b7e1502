#include "edits/JobEdits.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"

TJobGeometry JobGeometry(const TlvFilesRecord& job) {
    TJobGeometry g;
    g.ZoomMode = job.ZoomMode;
    g.CropMarginTop = job.CropMarginTop;
    g.CropMarginLeft = job.CropMarginLeft;
    g.CropMarginBottom = job.CropMarginBottom;
    g.CropMarginRight = job.CropMarginRight;
    return g;
}

void ApplyTrim(const TlvFilesRecord& job, TInputOptions& input, TOutputOptions& output) {
    if (job.TrimStart >= 0) input.StartTime = job.TrimStart;
    if (job.TrimLength > 0) output.RecordingTime = job.TrimLength;
}

TSourcePictureSwitches StoredPictureSwitches(const IniFile& settingsFile) {
    TSourcePictureSwitches s;
    s.Rotate = settingsFile.ReadInteger(settings_key::Section, settings_key::AutoRotate, 1) != 0;
    s.Deinterlace = settingsFile.ReadInteger(settings_key::Section, settings_key::AutoDeinterlace, 1) != 0;
    s.ToneMap = settingsFile.ReadInteger(settings_key::Section, settings_key::AutoToneMap, 1) != 0;
    return s;
}

std::string MakeJobOptions(const TlvFilesRecord& job, int formatCode, const IniFile& formatFile, const IniFile& settingsFile,
                           const TSourceSummary& source, TSizeQuestion& question, TInputOptions& input,
                           TOutputOptions& output, const TJobNote& note,
                           const TSourcePictureSwitches* switches) {
    input.Reset();
    input.FileName = job.SourceFile;
    output.Reset();
    ApplyTrim(job, input, output);
    std::string refusal;
    const TSourcePictureSwitches on = switches ? *switches : StoredPictureSwitches(settingsFile);
    BuildOutputOptions(formatCode, formatFile, settingsFile, JobGeometry(job), UprightSummary(source, on.Rotate),
                       question, output, input, note, &refusal);
    // Given with the input: the engine takes the picture's defaults when it opens it.
    if (!on.Rotate) AddExtOption(input.ExtOptions, "autorotate", "0");
    if (!on.Deinterlace) AddExtOption(input.ExtOptions, "autodeinterlace", "0");
    if (!on.ToneMap) AddExtOption(input.ExtOptions, "autotonemap", "0");
    ApplyFrameHook(output);
    return refusal;
}

int PercentToPixels(int size, int percent) { return int(std::trunc(size * (percent / 100.0))); }

void PlaceWatermarks(TlvFilesRecord& job, int width, int height) {
    // A negative position stores 0 in both the pixel and the percentage field.
    auto place = [](int size, int32_t& slider, int32_t& pixels) {
        const int p = PercentToPixels(size, slider);
        if (p < 0) slider = pixels = 0;
        else pixels = p;
    };
    width &= ~1;
    height &= ~1;
    place(width, job.TextSliderX, job.TextLeft);
    place(height, job.TextSliderY, job.TextTop);
    place(width, job.ImageSliderX, job.ImageLeft);
    place(height, job.ImageSliderY, job.ImageTop);
}
