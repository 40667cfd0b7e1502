#include "platform/qt/FileSystems.h"

#include <QStorageInfo>

#include "platform/Text.h"

namespace filesystems {

namespace {
TFileSystemTypeReader& Reader() {
    static TFileSystemTypeReader reader;
    return reader;
}
}  // namespace

std::string FileSystemType(const std::string& path) {
    if (Reader()) return Reader()(path);
    const QStorageInfo info(QString::fromStdString(path));
    if (!info.isValid()) return {};
    return info.fileSystemType().toStdString();
}

bool IsOnOpticalDisc(const std::string& path) {
    const std::string type = Lower(FileSystemType(path));
    return type == "iso9660" || type == "udf";
}

void SetFileSystemTypeReader(TFileSystemTypeReader reader) { Reader() = std::move(reader); }

}  // namespace filesystems
