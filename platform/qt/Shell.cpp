#include "platform/qt/Shell.h"

#include <QDesktopServices>
#include <QFileInfo>

namespace shell {

namespace {
TUrlOpener& Opener() {
    static TUrlOpener opener;
    return opener;
}

bool Open(const QUrl& url) {
    if (Opener()) return Opener()(url);
    return QDesktopServices::openUrl(url);
}
}  // namespace

bool IsWebAddress(const std::string& text) {
    const QUrl url(QString::fromStdString(text), QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty()) return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool OpenWebAddress(const std::string& address) {
    if (!IsWebAddress(address)) return false;
    return Open(QUrl(QString::fromStdString(address), QUrl::TolerantMode));
}

bool OpenFolder(const std::string& path) {
    const QFileInfo info(QString::fromStdString(path));
    if (path.empty() || !info.isDir()) return false;
    return Open(QUrl::fromLocalFile(info.absoluteFilePath()));
}

void SetUrlOpener(TUrlOpener opener) { Opener() = std::move(opener); }

}  // namespace shell
