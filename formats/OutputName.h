#pragma once
// Where a converted file goes: the output folder from the settings file, the source's name
// without its extension, "_(new)" or the first free "_(new_N)", and the caller's suffix.
// Shared by the desktop program and the terminal front end, so it knows nothing of windows:
// the one message it may need to show goes through a callback.
#include <functional>
#include <string>

class IniFile;

// Shows a warning to the user (a message box in the desktop program, standard error in the
// terminal front end).
using TWarningSink = std::function<void(const std::string& text)>;

// The folder that stands in when the chosen output folder cannot be made: $HOME/reelshift.
std::string DefaultOutputFolder();

// Section "settings", key "OutPutDir" of the settings file, or DefaultOutputFolder().
std::string StoredOutputFolder(const IniFile& settings);

// The folder a settings key names (default DefaultOutputFolder()), made with all missing
// parents. When it cannot be made, the warning is shown, the default folder is made and
// stored under the key instead. Returns the folder in use, as stored.
std::string ForceStoredFolder(IniFile& settings, const std::string& key, const TWarningSink& warn);

// The output path for source with suffix (suffix includes its dot, e.g. "_ipod.mp4" or
// ".avi"). When the stored folder does not exist and cannot be created, the warning is
// shown, the default folder is created and stored instead. Reserves nothing: two calls
// before either file is written can return the same name.
//
// A name counts as taken when a file of that name exists, when its temporary file exists
// (another run is writing it) and, for a run planning many names at once, when alsoTaken
// says so (the names it has given out already).
std::string OutputFileName(IniFile& settings, const std::string& source, const std::string& suffix,
                           const TWarningSink& warn,
                           const std::function<bool(const std::string& path)>& alsoTaken = nullptr);

// "." + "FileExt" of the format's section in the definition file ("mp4" when absent). An
// extension that is not one plain name part (empty, with a slash, "..") would write beside
// or outside the folder; it reads as "mp4" too.
std::string FormatExtension(const IniFile& formatFile, int code);

// The file a run writes for source with format code: OutputFileName with the format's
// extension. The job list's "Destination File" shows the same name, so both come from here.
std::string RunOutputFileName(IniFile& settings, const IniFile& formatFile, int code, const std::string& source,
                              const TWarningSink& warn,
                              const std::function<bool(const std::string& path)>& alsoTaken = nullptr);

// The name without numbering, whether taken or not: folder + name + "_(new)" + the format's
// extension (the folder made as above).
std::string UnnumberedRunOutputFileName(IniFile& settings, const IniFile& formatFile, int code,
                                        const std::string& source, const TWarningSink& warn);
