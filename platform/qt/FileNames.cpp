#include "platform/qt/FileNames.h"

#include <QFile>
#include <QStringList>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

bool Exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

// Names in folder (bytes) whose decoding is name, in byte order.
std::vector<std::string> EntriesShownAs(const std::string& folder, const QString& name) {
    std::vector<std::string> found;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "/" : folder.c_str()), ::closedir);
    if (!dir) return found;
    while (const dirent* entry = ::readdir(dir.get()))
        if (QFile::decodeName(entry->d_name) == name) found.emplace_back(entry->d_name);
    std::sort(found.begin(), found.end());
    return found;
}

// The first path below prefix whose parts from i on decode to parts[i...] and that exists.
std::optional<std::string> Resolve(const std::string& prefix, const QStringList& parts, qsizetype i,
                                   const std::function<bool(const std::string&)>& taken) {
    if (i == parts.size()) {
        if (Exists(prefix) && !(taken && taken(prefix))) return prefix;
        return std::nullopt;
    }
    const QString& part = parts[i];
    std::vector<std::string> candidates;
    if (part.contains(QChar::ReplacementCharacter))
        candidates = EntriesShownAs(prefix, part);
    else
        candidates.push_back(QFile::encodeName(part).toStdString());
    for (const std::string& name : candidates) {
        const std::string next = (prefix.empty() || prefix.back() != '/' ? prefix + "/" : prefix) + name;
        if (i + 1 < parts.size() && !Exists(next)) continue;
        if (auto found = Resolve(next, parts, i + 1, taken)) return found;
    }
    return std::nullopt;
}

}  // namespace

QString DisplayPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

bool DecodesWhole(const std::string& path) { return QFile::encodeName(DisplayPath(path)).toStdString() == path; }

std::string PathBytes(const QString& path, const std::function<bool(const std::string&)>& taken) {
    const std::string direct = QFile::encodeName(path).toStdString();
    // Only a name that holds U+FFFD may have lost bytes.
    if (!path.contains(QChar::ReplacementCharacter) || path.isEmpty()) return direct;
    if (Exists(direct) && !(taken && taken(direct))) return direct;
    const bool absolute = path.startsWith('/');
    const QStringList parts = path.split('/', Qt::SkipEmptyParts);
    if (auto found = Resolve(absolute ? "/" : ".", parts, 0, taken)) {
        // A relative path stays relative.
        return absolute ? *found : found->substr(2);
    }
    return direct;
}

std::optional<std::string> LocalFileBytes(const QUrl& url) {
    if (!url.isLocalFile()) return std::nullopt;
    // The decoded form of the path replaces bytes that are not UTF-8; the encoded one keeps them.
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}
