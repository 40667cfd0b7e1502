#pragma once
// The product edition chosen when the program is built, and what it decides: file names,
// the title and (through the catalogue) the formats offered.
#include <string>

enum class TEdition { Mp4Avi, Video };

// The edition this program was built as.
TEdition CompiledEdition();

struct TEditionProfile {
    std::string SettingsFileName;  // settings file beside the program
    std::string FormatFileName;    // read-only format definition file
    std::string Title;             // application title
};

const TEditionProfile& EditionProfile(TEdition edition);

// "mp4avi" / "video"; the reverse returns false for an unknown name.
std::string EditionName(TEdition edition);
bool ParseEditionName(const std::string& name, TEdition& edition);

// The edition's format definition file: beside the program when it is there, else in the
// installed data folder (<prefix>/share/reelshift beside <prefix>/bin), else the path beside
// the program (which then does not exist, so every format reads as undefined).
std::string FindFormatFile(TEdition edition);
std::string FindFormatFile(TEdition edition, const std::string& programFolder);
// Empty when the edition's format definition file can be read; otherwise why not, naming
// the places it was looked for. Without it every format reads as undefined and converts
// into the wrong file, so a converter must not go on.
std::string FormatFileProblem(TEdition edition);
std::string FormatFileProblem(TEdition edition, const std::string& programFolder);

// The user's configuration folder for this program: $XDG_CONFIG_HOME/reelshift, else
// ~/.config/reelshift.
std::string UserConfigFolder();

// The settings file lives beside the program when that folder is writable (a portable
// install), else in the given configuration folder, which is created when missing.
std::string SettingsFileLocation(const std::string& programFolder, const std::string& fileName,
                                 const std::string& configFolder);

// True for a program installed under a prefix: its definition file is not beside it but in
// the data folder (<prefix>/share/reelshift). Such a program never writes into its folder.
bool RunsInstalled(TEdition edition, const std::string& programFolder);

// The edition's settings file for the running program.
std::string EditionSettingsFile(TEdition edition);
