#include "app/Snapshot.h"

#include <QFile>

#include <stdexcept>

#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"

std::vector<std::string> SaveSnapshots(IniFile& settings, const QImage& full, const QImage& small,
                                       const TWarningSink& warn) {
    std::string folder = ForceStoredFolder(settings, "SnapOutPutDir", warn);
    const bool fullSize = settings.ReadInteger(settings_key::Section, settings_key::SnapshotFullSize, 1) == 1;
    const bool smallSize = settings.ReadInteger(settings_key::Section, settings_key::SnapshotSmallSize, 1) == 1;
    const bool bmp = settings.ReadInteger(settings_key::Section, settings_key::SnapshotBmp, 1) == 1;
    const bool jpg = settings.ReadInteger(settings_key::Section, settings_key::SnapshotJpg, 1) == 1;
    int quality = settings.ReadInteger(settings_key::Section, settings_key::SnapshotJpgQuality, 30);
    if (quality < 1 || quality > 100) quality = 30;  // the Preferences' range
    if (folder.empty() || folder.back() != '/') folder += '/';

    std::vector<std::string> written;
    auto save = [&](const QImage& picture, const char* name, const char* format, int q) {
        const std::string path = folder + name;
        // Through a file of our own, so that the reason (no space left, not allowed) is known.
        QFile file(QString::fromStdString(path));
        const bool ok = !picture.isNull() && file.open(QIODevice::WriteOnly) && picture.save(&file, format, q) &&
                        file.flush();
        if (!ok) {
            const QString reason = picture.isNull() ? QString("there is no picture") : file.errorString();
            file.close();
            throw std::runtime_error("Cannot write the snapshot " + path + ": " + reason.toStdString());
        }
        written.push_back(path);
    };
    if (fullSize && bmp) save(full, "Snapshot_full.bmp", "BMP", -1);
    if (smallSize && bmp) save(small, "Snapshot_small.bmp", "BMP", -1);
    if (fullSize && jpg) save(full, "Snapshot_full.jpg", "JPG", quality);
    if (smallSize && jpg) save(small, "Snapshot_small.jpg", "JPG", quality);
    return written;
}
