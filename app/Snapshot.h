#pragma once
// Snapshot pictures: the full frame and the picture as the window showed it, as BMP and
// JPEG files with fixed names in the snapshot folder, each replacing the previous one.
#include <QImage>

#include <string>
#include <vector>

#include "formats/OutputName.h"

class IniFile;

// Writes the pictures that the keys "snapFullSize", "snapSmallSize", "snapBmp" and
// "snapJpg" (1 each when missing) ask for, JPEG with quality "jpgCmp" (30), into the folder
// "SnapOutPutDir"; a folder that cannot be made falls back to the default folder with the
// warning. Returns the files written; throws std::runtime_error when one cannot be written.
std::vector<std::string> SaveSnapshots(IniFile& settings, const QImage& full, const QImage& small,
                                       const TWarningSink& warn);
