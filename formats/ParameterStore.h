#pragma once
// Where the parameter boxes keep the user's choices. The main window's boxes write straight
// to the settings file; the settings dialog's boxes collect their writes and hand them over
// only when the user confirms.
#include <optional>
#include <string>
#include <vector>

#include "platform/IniFile.h"

class TParameterStore {
public:
    virtual ~TParameterStore() = default;
    virtual std::optional<std::string> Read(const std::string& section, const std::string& key) const = 0;
    virtual void Write(const std::string& section, const std::string& key, const std::string& value) = 0;

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // A missing value, or one that is not a whole number, reads as the default.
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    void WriteInteger(const std::string& section, const std::string& key, int value);
};

// Every write goes to the settings file at once.
class TSettingsFileStore : public TParameterStore {
public:
    explicit TSettingsFileStore(std::string settingsFile) : FFile(std::move(settingsFile)) {}
    std::optional<std::string> Read(const std::string& section, const std::string& key) const override;
    void Write(const std::string& section, const std::string& key, const std::string& value) override;

private:
    IniFile FFile;
};

// Writes wait here until Commit, which makes them in the order they were made (a key written
// twice keeps its first place and its last value). Reads see the waiting values over the file.
class TPendingStore : public TParameterStore {
public:
    explicit TPendingStore(std::string settingsFile) : FFile(std::move(settingsFile)) {}
    std::optional<std::string> Read(const std::string& section, const std::string& key) const override;
    void Write(const std::string& section, const std::string& key, const std::string& value) override;

    void Commit();
    void Discard() { FPending.clear(); }
    bool Empty() const { return FPending.empty(); }

private:
    struct TWrite {
        std::string Section, Key, Value;
    };
    IniFile FFile;
    std::vector<TWrite> FPending;
};

// The H.264 tuning values of a format: copied from the format definition's section into the
// store's section of the same name, each only when present and sensible ("paraBitExact" when
// "true"; "paraCoder" when 0 or more; the others when above 0).
void CopyH264TuningKeys(const IniFile& formatFile, const std::string& section, TParameterStore& store);
