#pragma once
// What kind of file system holds a folder. Output folders may not lie on a read-only
// optical disc (iso9660, udf), the counterpart of a CD-ROM drive.
#include <functional>
#include <string>

namespace filesystems {

// The type name of the file system that holds path ("ext4", "iso9660", ...); empty when
// it cannot be told.
std::string FileSystemType(const std::string& path);

// True when path lies on an optical disc's file system.
bool IsOnOpticalDisc(const std::string& path);

// Replaces the type lookup (tests cannot mount a disc); an empty function restores it.
using TFileSystemTypeReader = std::function<std::string(const std::string& path)>;
void SetFileSystemTypeReader(TFileSystemTypeReader reader);

}  // namespace filesystems
