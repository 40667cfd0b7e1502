#pragma once
// An INI file with Windows semantics: sections and keys match without regard to case,
// unknown lines and their order are kept, and nothing is cached — every call opens the
// file, so the disk always holds the current state. Writes replace the file atomically
// (temporary file in the same folder, renamed over the old one), so a crash mid-write
// leaves the previous file intact.
#include <optional>
#include <string>
#include <vector>

class IniFile {
public:
    // Durable: every change is on the disk before the write returns (the user's settings).
    // Scratch: a file that lives for one run and goes with it needs no waiting for the disk.
    enum class TWrites { Durable, Scratch };
    explicit IniFile(std::string path, TWrites writes = TWrites::Durable) : FPath(std::move(path)), FWrites(writes) {}
    const std::string& Path() const { return FPath; }

    std::optional<std::string> Read(const std::string& section, const std::string& key) const;
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // A missing value, or one that is not a whole number, reads as the default.
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    std::vector<std::string> ReadSectionKeys(const std::string& section) const;
    std::vector<std::string> ReadSectionNames() const;

    // Throw std::runtime_error when the file cannot be written.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value);
    void DeleteKey(const std::string& section, const std::string& key);
    void EraseSection(const std::string& section);

private:
    std::string FPath;
    TWrites FWrites;
};

// The whole-number rule shared by the INI reader and the parameter checks: optional sign,
// decimal digits or "0x"/"$" hex, surrounding blanks allowed, 32-bit range.
std::optional<int> ParseInteger(const std::string& text);
