#include "edits/JobEdits.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

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

std::string MakeJobOptions(const TlvFilesRecord& job, int formatCode, const IniFile& formatFile, const IniFile& settingsFile,
                           const TSourceSummary& source, TSizeQuestion& question, TInputOptions& input,
                           TOutputOptions& output, const TJobNote& note) {
    input.Reset();
    input.FileName = job.SourceFile;
    output.Reset();
    ApplyTrim(job, input, output);
    std::string refusal;
    BuildOutputOptions(formatCode, formatFile, settingsFile, JobGeometry(job), source, question, output, input, note,
                       &refusal);
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
