#pragma once
// File names are bytes. Qt decodes them as UTF-8 and puts U+FFFD where a name is not, which
// cannot be encoded back, and its directory listings leave such names out altogether. The
// program keeps the bytes of every path it opens and decodes them only to show them.
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <string>

// The path's characters to show: a byte that is not UTF-8 shows as U+FFFD.
QString DisplayPath(const std::string& path);

// True when the bytes decode to characters that encode back to the same bytes.
bool DecodesWhole(const std::string& path);

// The bytes of a path that came through Qt (a file dialog, a typed or given name). Where a
// part of it lost bytes in decoding, the folder's entries that decode to the same characters
// stand in, the first in byte order that taken does not refuse. A path that names nothing
// is encoded as it stands.
std::string PathBytes(const QString& path, const std::function<bool(const std::string&)>& taken = nullptr);

// The path of a local file: address, from its percent-encoding, which holds the bytes
// whatever they are (a file manager's drag sends them so); nullopt for other addresses.
std::optional<std::string> LocalFileBytes(const QUrl& url);
