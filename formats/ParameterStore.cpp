#include "formats/ParameterStore.h"

#include "platform/Text.h"

std::string TParameterStore::ReadString(const std::string& section, const std::string& key,
                                        const std::string& def) const {
    if (auto v = Read(section, key)) return *v;
    return def;
}

int TParameterStore::ReadInteger(const std::string& section, const std::string& key, int def) const {
    if (auto v = Read(section, key))
        if (auto n = ParseInteger(*v)) return *n;
    return def;
}

void TParameterStore::WriteInteger(const std::string& section, const std::string& key, int value) {
    Write(section, key, std::to_string(value));
}

std::optional<std::string> TSettingsFileStore::Read(const std::string& section, const std::string& key) const {
    return FFile.Read(section, key);
}

void TSettingsFileStore::Write(const std::string& section, const std::string& key, const std::string& value) {
    FFile.WriteString(section, key, value);
}

std::optional<std::string> TPendingStore::Read(const std::string& section, const std::string& key) const {
    for (const TWrite& w : FPending)
        if (SameText(w.Section, section) && SameText(w.Key, key)) return w.Value;
    return FFile.Read(section, key);
}

void TPendingStore::Write(const std::string& section, const std::string& key, const std::string& value) {
    for (TWrite& w : FPending)
        if (SameText(w.Section, section) && SameText(w.Key, key)) {
            w.Value = value;
            return;
        }
    FPending.push_back({section, key, value});
}

void TPendingStore::Commit() {
    // Taken first, so a failing write does not leave the rest waiting for a second commit.
    std::vector<TWrite> writes;
    writes.swap(FPending);
    for (const TWrite& w : writes) FFile.WriteString(w.Section, w.Key, w.Value);
}

void CopyH264TuningKeys(const IniFile& formatFile, const std::string& section, TParameterStore& store) {
    if (auto v = formatFile.Read(section, "paraBitExact"); v && Lower(*v) == "true")
        store.Write(section, "paraBitExact", *v);
    for (const char* key : {"paraMaxBitrate", "paraBufferSize", "paraLevel", "paraQscale", "paraGop"})
        if (auto v = formatFile.Read(section, key))
            if (auto n = ParseInteger(*v); n && *n > 0) store.Write(section, key, *v);
    if (auto v = formatFile.Read(section, "paraCoder"))
        if (auto n = ParseInteger(*v); n && *n >= 0) store.Write(section, "paraCoder", *v);
}
