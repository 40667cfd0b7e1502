#include "platform/IniFile.h"

#include "platform/Text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    if (!in) return lines;
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // UTF-8 mark
        first = false;
        lines.push_back(std::move(line));
    }
    return lines;
}

// "[name]" → name; anything else → nullopt.
std::optional<std::string> SectionName(const std::string& line) {
    std::string t = Trim(line);
    if (t.size() >= 2 && t.front() == '[') {
        auto close = t.find(']');
        if (close != std::string::npos) return Trim(t.substr(1, close - 1));
    }
    return std::nullopt;
}

bool IsComment(const std::string& t) { return t.empty() || t[0] == ';' || t[0] == '#'; }

// key=value → (key, value); nullopt for other lines.
std::optional<std::pair<std::string, std::string>> KeyValue(const std::string& line) {
    std::string t = Trim(line);
    if (IsComment(t) || t[0] == '[') return std::nullopt;
    auto eq = t.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return std::make_pair(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
}

// Index range [begin, end) of the section's body, or nullopt when absent.
struct SectionRange {
    size_t header, begin, end;
};
std::optional<SectionRange> FindSection(const std::vector<std::string>& lines, const std::string& section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionName(lines[i]);
        if (!name || !SameText(*name, section)) continue;
        size_t j = i + 1;
        while (j < lines.size() && !SectionName(lines[j])) ++j;
        return SectionRange{i, i + 1, j};
    }
    return std::nullopt;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// A writer killed midway leaves its temporary file behind; the next write clears those
// that are old enough that no live writer can own them.
void RemoveStaleTemporaries(const std::string& dir, const std::string& prefix) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
        auto written = fs::last_write_time(it->path(), ec);
        if (!ec && now - written > std::chrono::minutes(1)) fs::remove(it->path(), ec);
    }
}

void WriteAtomically(const std::string& path, const std::vector<std::string>& lines, bool durable) {
    std::string dir = ".";
    std::string base = path;
    if (auto slash = path.rfind('/'); slash != std::string::npos) {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        base = path.substr(slash + 1);
    }
    const std::string prefix = base + ".tmp-";
    RemoveStaleTemporaries(dir, prefix);
    std::string text;
    for (const auto& l : lines) text += l + "\n";

    std::string tmpl = path + ".tmp-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) throw std::runtime_error("Cannot write " + path + ": " + std::strerror(errno));
    // Keep the old file's permissions; mkstemp makes the new one private.
    struct stat st {};
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    bool ok = WriteAll(fd, text) && (!durable || ::fsync(fd) == 0);
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(name.data(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(name.data());
        throw std::runtime_error("Cannot write " + path + ": " + std::strerror(err));
    }
    if (!durable) return;
    if (int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

}  // namespace

std::optional<int> ParseInteger(const std::string& text) {
    std::string t = Trim(text);
    if (t.empty()) return std::nullopt;
    bool neg = false;
    size_t i = 0;
    if (t[0] == '-' || t[0] == '+') {
        neg = t[0] == '-';
        i = 1;
    }
    int base = 10;
    if (t.compare(i, 2, "0x") == 0 || t.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    } else if (i < t.size() && t[i] == '$') {
        base = 16;
        i += 1;
    }
    if (i >= t.size()) return std::nullopt;
    long long v = 0;
    for (; i < t.size(); ++i) {
        int d;
        char c = t[i];
        if (c >= '0' && c <= '9') d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return std::nullopt;
        v = v * base + d;
        if (v > 0x100000000LL) return std::nullopt;
    }
    if (neg) v = -v;
    if (base == 16 && !neg && v <= 0xFFFFFFFFLL && v > 0x7FFFFFFFLL) v -= 0x100000000LL;  // hex wraps like Windows
    if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
    return int(v);
}

std::optional<std::string> IniFile::Read(const std::string& section, const std::string& key) const {
    auto lines = ReadLines(FPath);
    auto range = FindSection(lines, section);
    if (!range) return std::nullopt;
    for (size_t i = range->begin; i < range->end; ++i)
        if (auto kv = KeyValue(lines[i]); kv && SameText(kv->first, key)) return kv->second;
    return std::nullopt;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    return Read(section, key).value_or(def);
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    auto v = Read(section, key);
    if (!v) return def;
    return ParseInteger(*v).value_or(def);
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::SectionExists(const std::string& section) const {
    return FindSection(ReadLines(FPath), section).has_value();
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
    return Read(section, key).has_value();
}

std::vector<std::string> IniFile::ReadSectionKeys(const std::string& section) const {
    std::vector<std::string> keys;
    auto lines = ReadLines(FPath);
    if (auto range = FindSection(lines, section))
        for (size_t i = range->begin; i < range->end; ++i)
            if (auto kv = KeyValue(lines[i])) keys.push_back(kv->first);
    return keys;
}

std::vector<std::string> IniFile::ReadSectionNames() const {
    std::vector<std::string> names;
    for (const auto& l : ReadLines(FPath))
        if (auto n = SectionName(l)) names.push_back(*n);
    return names;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    auto lines = ReadLines(FPath);
    const std::string entry = Trim(key) + "=" + value;
    auto range = FindSection(lines, section);
    if (!range) {
        if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
        lines.push_back("[" + section + "]");
        lines.push_back(entry);
    } else {
        bool replaced = false;
        for (size_t i = range->begin; i < range->end && !replaced; ++i)
            if (auto kv = KeyValue(lines[i]); kv && SameText(kv->first, key)) {
                lines[i] = entry;
                replaced = true;
            }
        if (!replaced) {
            // After the section's last non-blank line, so blank separators stay between sections.
            size_t at = range->end;
            while (at > range->begin && Trim(lines[at - 1]).empty()) --at;
            lines.insert(lines.begin() + long(at), entry);
        }
    }
    WriteAtomically(FPath, lines, FWrites == TWrites::Durable);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::DeleteKey(const std::string& section, const std::string& key) {
    auto lines = ReadLines(FPath);
    auto range = FindSection(lines, section);
    if (!range) return;
    for (size_t i = range->begin; i < range->end; ++i)
        if (auto kv = KeyValue(lines[i]); kv && SameText(kv->first, key)) {
            lines.erase(lines.begin() + long(i));
            WriteAtomically(FPath, lines, FWrites == TWrites::Durable);
            return;
        }
}

void IniFile::EraseSection(const std::string& section) {
    auto lines = ReadLines(FPath);
    auto range = FindSection(lines, section);
    if (!range) return;
    lines.erase(lines.begin() + long(range->header), lines.begin() + long(range->end));
    WriteAtomically(FPath, lines, FWrites == TWrites::Durable);
}
