#pragma once
// A job's edits as the conversion run hands them to the engine: the geometry the options
// builder reads, the trim as input start and recording time, the frame hook switch; and the
// value ranges of the edits, which every place that fills a record keeps to.
#include <cstdint>

#include "edits/JobRanges.h"
#include "edits/JobRecord.h"
#include "engine/SourcePicture.h"
#include "engine/TaskOptions.h"
#include "formats/OptionsBuilder.h"

// Zoom mode and crop margins of the job.
TJobGeometry JobGeometry(const TlvFilesRecord& job);

// The trim start becomes the input's start time, a trim length the output's recording
// time (so the output ends at the trim end). Call after resetting both records.
void ApplyTrim(const TlvFilesRecord& job, TInputOptions& input, TOutputOptions& output);

// Every job's frames pass through the hook; one without edits stops it at its first frame.
inline void ApplyFrameHook(TOutputOptions& output) { output.CustomHook = true; }

// Everything a run hands the engine for one job, in one place for the window's run and the
// terminal converter: the input (source path and trim start) and the output options (reset,
// then the trim length, the format's options for the job's zoom and crop, the frame hook).
// The caller sets the output's file name. Returns why the job cannot be converted with this
// format (too long to fit its size), or "" when it can.
std::string MakeJobOptions(const TlvFilesRecord& job, int formatCode, const IniFile& formatFile, const IniFile& settingsFile,
                           const TSourceSummary& source, TSizeQuestion& question, TInputOptions& input,
                           TOutputOptions& output, const TJobNote& note = {},
                           const TSourcePictureSwitches* switches = nullptr);
// The source summary is that of the coded picture; the job works on the upright one. The
// picture switches are those stored in the settings file unless given.

// The switches of the picture's automatic steps as stored (each on unless stored as 0).
TSourcePictureSwitches StoredPictureSwitches(const IniFile& settingsFile);


// A percentage of a frame dimension in pixels, as the watermark dialog places the text and
// the image: truncated.
int PercentToPixels(int size, int percent);

// Turns the stored percentages of the text and image into pixel positions for a source of
// width x height, as pressing "Ok" in the watermark dialog does: measured on its preview
// frame, which is the source's size rounded down to even numbers.
void PlaceWatermarks(TlvFilesRecord& job, int width, int height);
