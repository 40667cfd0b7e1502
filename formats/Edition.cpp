#include "formats/Edition.h"

#include <unistd.h>

#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/ProgramFolder.h"

#ifndef REELSHIFT_EDITION_VIDEO
#define REELSHIFT_EDITION_VIDEO 0
#endif

TEdition CompiledEdition() {
    return REELSHIFT_EDITION_VIDEO ? TEdition::Video : TEdition::Mp4Avi;
}

const TEditionProfile& EditionProfile(TEdition edition) {
    static const TEditionProfile mp4avi{"zantomp4aviconverter.ini", "zantomp4aviformat.ini",
                                        "Zanto MP4 to AVI Converter"};
    static const TEditionProfile video{"zantoreelshift.ini", "zantovideoformat.ini", "Zanto Video Converter"};
    return edition == TEdition::Video ? video : mp4avi;
}

std::string EditionName(TEdition edition) {
    return edition == TEdition::Video ? "video" : "mp4avi";
}

bool ParseEditionName(const std::string& name, TEdition& edition) {
    if (name == "video") {
        edition = TEdition::Video;
        return true;
    }
    if (name == "mp4avi") {
        edition = TEdition::Mp4Avi;
        return true;
    }
    return false;
}

std::string FindFormatFile(TEdition edition, const std::string& programFolder) {
    namespace fs = std::filesystem;
    const std::string& name = EditionProfile(edition).FormatFileName;
    const fs::path beside = fs::path(programFolder) / name;
    std::error_code ec;
    if (fs::is_regular_file(beside, ec)) return beside.string();
    const fs::path installed =
        (fs::path(programFolder) / ".." / "share" / "reelshift" / name).lexically_normal();
    if (fs::is_regular_file(installed, ec)) return installed.string();
    return beside.string();
}

std::string FindFormatFile(TEdition edition) {
    return FindFormatFile(edition, ProgramFolder());
}

std::string FormatFileProblem(TEdition edition, const std::string& programFolder) {
    namespace fs = std::filesystem;
    const std::string found = FindFormatFile(edition, programFolder);
    std::error_code ec;
    if (!fs::is_regular_file(found, ec)) {
        const std::string& name = EditionProfile(edition).FormatFileName;
        const fs::path installed = (fs::path(programFolder) / ".." / "share" / "reelshift" / name).lexically_normal();
        return "the format definition file " + found + " is missing (also looked for " + installed.string() + ")";
    }
    if (::access(found.c_str(), R_OK) != 0)
        return "the format definition file " + found + " cannot be read: " + std::strerror(errno);
    return {};
}

std::string FormatFileProblem(TEdition edition) { return FormatFileProblem(edition, ProgramFolder()); }

std::string UserConfigFolder() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = ".";
    return base + "/reelshift";
}

std::string SettingsFileLocation(const std::string& programFolder, const std::string& fileName,
                                 const std::string& configFolder) {
    namespace fs = std::filesystem;
    if (!programFolder.empty() && ::access(programFolder.c_str(), W_OK) == 0)
        return (fs::path(programFolder) / fileName).string();
    std::error_code ec;
    fs::create_directories(configFolder, ec);
    return (fs::path(configFolder) / fileName).string();
}

bool RunsInstalled(TEdition edition, const std::string& programFolder) {
    namespace fs = std::filesystem;
    const std::string found = FindFormatFile(edition, programFolder);
    return fs::path(found).parent_path() != fs::path(programFolder) && fs::exists(found);
}

std::string EditionSettingsFile(TEdition edition) {
    const std::string program = ProgramFolder();
    const std::string& name = EditionProfile(edition).SettingsFileName;
    // An installed program's folder is shared (and writable for root): settings are per user.
    return SettingsFileLocation(RunsInstalled(edition, program) ? std::string() : program, name,
                                UserConfigFolder());
}
