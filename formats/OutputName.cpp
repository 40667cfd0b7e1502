#include "formats/OutputName.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "engine/OutputClaim.h"
#include "formats/Catalogue.h"
#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"

namespace fs = std::filesystem;

namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// Creates the folder with all missing parents; true when it exists afterwards.
bool ForceFolder(const std::string& path) {
    if (path.empty()) return false;
    if (IsFolder(path)) return true;
    std::error_code ec;
    fs::create_directories(path, ec);
    return IsFolder(path);
}

bool NameTaken(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// The file name of path without folder and without its last extension.
std::string BaseName(const std::string& path) {
    std::string name = path;
    if (auto slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
    if (auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

}  // namespace

std::string DefaultOutputFolder() { return (fs::path(HomeFolder()) / "reelshift").string(); }

std::string StoredOutputFolder(const IniFile& settings) {
    return settings.ReadString(settings_key::Section, settings_key::OutputFolder, DefaultOutputFolder());
}

std::string ForceStoredFolder(IniFile& settings, const std::string& key, const TWarningSink& warn) {
    std::string folder = settings.ReadString(settings_key::Section, key, DefaultOutputFolder());
    if (!ForceFolder(folder)) {
        const std::string fallback = DefaultOutputFolder();
        if (warn)
            warn("Cannot create output directory:" + folder + ".It will create default directory " + fallback +
                 "!");
        ForceFolder(fallback);
        settings.WriteString(settings_key::Section, key, fallback);
        folder = fallback;
    }
    return folder;
}

namespace {
std::string NameBase(IniFile& settings, const std::string& source, const TWarningSink& warn) {
    std::string folder = ForceStoredFolder(settings, settings_key::OutputFolder, warn);
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + BaseName(source);
}
}  // namespace

std::string OutputFileName(IniFile& settings, const std::string& source, const std::string& suffix,
                           const TWarningSink& warn, const std::function<bool(const std::string& path)>& alsoTaken) {
    const std::string base = NameBase(settings, source, warn);
    auto taken = [&](const std::string& name) {
        return NameTaken(name) || NameTaken(TOutputClaim::TemporaryName(name)) || (alsoTaken && alsoTaken(name));
    };
    std::string candidate = base + "_(new)" + suffix;
    for (int n = 1; taken(candidate); ++n) candidate = base + "_(new_" + std::to_string(n) + ")" + suffix;
    return candidate;
}

std::string FormatExtension(const IniFile& formatFile, int code) {
    const std::string ext = formatFile.ReadString(FormatSectionName(code), settings_key::FileExtension, "mp4");
    const bool plain = !ext.empty() && ext != "." && ext != ".." && ext.find('/') == std::string::npos &&
                       ext.find('\0') == std::string::npos;
    return "." + (plain ? ext : std::string("mp4"));
}

std::string RunOutputFileName(IniFile& settings, const IniFile& formatFile, int code, const std::string& source,
                              const TWarningSink& warn, const std::function<bool(const std::string& path)>& alsoTaken) {
    return OutputFileName(settings, source, FormatExtension(formatFile, code), warn, alsoTaken);
}

std::string UnnumberedRunOutputFileName(IniFile& settings, const IniFile& formatFile, int code,
                                        const std::string& source, const TWarningSink& warn) {
    return NameBase(settings, source, warn) + "_(new)" + FormatExtension(formatFile, code);
}
