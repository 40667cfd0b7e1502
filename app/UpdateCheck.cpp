#include "app/UpdateCheck.h"

#include <QDomDocument>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>

#include "app/Application.h"
#include "app/GlobalUnit.h"
#include "app/MessageBoxes.h"
#include "formats/Edition.h"
#include "platform/qt/Shell.h"

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> names;
    std::string::size_type start = 0;
    for (;;) {
        const auto dot = path.find('.', start);
        names.push_back(path.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return names;
}

QDomDocument LoadFeed(const std::string& fileName) {
    QFile file(QString::fromStdString(fileName));
    if (!file.open(QIODevice::ReadOnly)) throw TFeedError("Cannot open the update feed " + fileName);
    QDomDocument document;
    QString message;
    int line = 0, column = 0;
    if (!document.setContent(file.readAll(), &message, &line, &column))
        throw TFeedError("The update feed " + fileName + " is not valid XML: " + message.toStdString() + " (line " +
                         std::to_string(line) + ", column " + std::to_string(column) + ")");
    return document;
}

std::string FeedValue(const QDomDocument& document, const std::string& path, const std::string& attribute) {
    const std::vector<std::string> names = SplitPath(path);
    try {
        QDomElement current = document.documentElement();
        if (current.tagName() != QString::fromStdString(names.front())) return "";
        for (size_t i = 1; i < names.size(); ++i) {
            const QDomElement next = current.firstChildElement(QString::fromStdString(names[i]));
            if (next.isNull()) {
                if (i == 1) return "";
                continue;
            }
            current = next;
        }
        const std::string name = Trim(attribute);
        if (!name.empty()) return current.attribute(QString::fromStdString(name)).toStdString();
        return current.text().toStdString();
    } catch (const std::exception&) {
        return "error";
    }
}

std::string Join(const std::string& folder, const char* name) {
    return (std::filesystem::path(folder) / name).string();
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// More rows than any feed carries; a damaged count must not hold up the start.
constexpr int MaxAdRows = 1000;

// The first count promotional messages of a feed file, read from one parse of it. An
// address that is not a web address is dropped, so a feed can never make the program open
// a local file or a script.
std::vector<TAdInfo> ReadAdList(const std::string& fileName, int count) {
    const QDomDocument document = LoadFeed(fileName);
    std::vector<TAdInfo> list;
    for (int i = 0; i < std::min(count, MaxAdRows); ++i) {
        const std::string row = "XMLPackage.row" + std::to_string(i);
        TAdInfo info;
        info.Message = FeedValue(document, row, "info");
        info.Address = FeedValue(document, row, "url");
        if (!shell::IsWebAddress(info.Address)) info.Address.clear();
        list.push_back(std::move(info));
    }
    return list;
}

}  // namespace

bool Download(const std::string& address, const std::string& fileName, int timeoutMs) {
    const QUrl url(QString::fromStdString(address));
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https")) return false;

    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(url);
    request.setRawHeader("Accept", "text/html, */*");
    request.setRawHeader("User-Agent", "Mozilla/3.0 (compatible; Indy Library)");
    if (timeoutMs <= 0) return false;

    const std::unique_ptr<QNetworkReply> reply(manager.get(request));
    // One limit on the whole download: Qt's transfer time-out starts again with every byte.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply.get(), &QNetworkReply::abort);
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(), [&reply](qint64 got, qint64 total) {
        if (got > MaxFeedBytes || total > MaxFeedBytes) reply->abort();
    });
    QEventLoop wait;
    QObject::connect(reply.get(), &QNetworkReply::finished, &wait, &QEventLoop::quit);
    deadline.start(timeoutMs);
    if (!reply->isFinished()) wait.exec(QEventLoop::ExcludeUserInputEvents);
    deadline.stop();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool ok = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
    const QByteArray body = ok ? reply->readAll() : QByteArray();
    if (!ok || body.size() > MaxFeedBytes) return false;

    // Written whole or not at all: a cut-off file would be an unreadable cache next time.
    QSaveFile out(QString::fromStdString(fileName));
    if (!out.open(QIODevice::WriteOnly)) return false;
    out.write(body);
    return out.commit();
}

std::string ReadFeedValue(const std::string& fileName, const std::string& path, const std::string& attribute) {
    return FeedValue(LoadFeed(fileName), path, attribute);
}

int FeedInteger(const std::string& text) {
    const std::string t = Trim(text);
    int value = 0;
    const char* end = t.data() + t.size();
    const auto [ptr, ec] = std::from_chars(t.data(), end, value);
    if (t.empty() || ec != std::errc() || ptr != end) throw TFeedError("'" + text + "' is not a valid integer value");
    return value;
}

double FeedNumber(const std::string& text) {
    const std::string t = Trim(text);
    double value = 0;
    const char* end = t.data() + t.size();
    const auto [ptr, ec] = std::from_chars(t.data(), end, value, std::chars_format::fixed);
    if (t.empty() || ec != std::errc() || ptr != end || !std::isfinite(value))
        throw TFeedError("'" + text + "' is not a valid floating point value");
    return value;
}

std::string FeedAddress() {
    if (const char* mirror = std::getenv("REELSHIFT_UPDATE_URL"); mirror && *mirror) return mirror;
    return CompiledEdition() == TEdition::Video ? "http://www.zantosoft.com/update/video-converter.xml"
                                                : "http://www.zantosoft.com/update/mp4-to-avi-converter.xml";
}

TUpdateCheckSettings UpdateCheckSettings(const TGlobalObject& global) {
    TUpdateCheckSettings s;
    s.FeedAddress = FeedAddress();
    s.Folder = std::filesystem::path(global.SettingsFile()).parent_path().string();
    s.VersionText = global.VersionText();
    s.Title = global.Title();
    s.DownloadAddress = global.DownloadAddress();
    return s;
}

TUpdateCheckResult RunUpdateCheck(const TUpdateCheckSettings& settings, QWidget* parent) {
    TUpdateCheckResult result;
    const std::string feed = Join(settings.Folder, FeedFileName);
    const std::string cache = Join(settings.Folder, FeedCacheFileName);
    // Both downloads share the one limit; the time the user takes to answer is not counted.
    qint64 spent = 0;
    auto download = [&](const std::string& into) {
        QElapsedTimer clock;
        clock.start();
        const bool ok = Download(settings.FeedAddress, into, int(settings.TimeoutMs - spent));
        spent += clock.elapsed();
        return ok;
    };
    try {
        if (download(feed) && FileExists(feed)) {
            const std::string count = ReadFeedValue(feed, "XMLPackage.count", "number");
            result.LatestVersion = ReadFeedValue(feed, "XMLPackage.videoversion", "number");
            if (FeedNumber(result.LatestVersion) > FeedNumber(settings.VersionText)) {
                const std::string question =
                    "Do you want to upgrade to " + settings.Title + " " + result.LatestVersion + " now?";
                if (MessageBoxes().AskYesNo(parent, "Warning - New Version Available for Download.",
                                            QString::fromStdString(question))) {
                    // Close only when the page is on its way; otherwise the user would be left
                    // with neither the new version nor the old one running.
                    if (shell::OpenWebAddress(settings.DownloadAddress))
                        result.CloseForUpgrade = true;
                    else
                        MessageBoxes().Show(parent, TMessageIcon::Warning, "Warning",
                                            QString::fromStdString("The download page " + settings.DownloadAddress +
                                                                   " could not be opened."));
                }
            }
            // The cache is refreshed only after the fresh copy has been read without error.
            download(cache);
            // Both texts come from the copy just read: the second download may have failed
            // and left an older cache whose rows no longer match this feed.
            const int n = FeedInteger(count);
            if (n > 0) result.AdList = ReadAdList(feed, n);
        } else if (FileExists(cache)) {
            const std::string count = ReadFeedValue(cache, "XMLPackage.count", "number");
            result.LatestVersion = ReadFeedValue(cache, "XMLPackage.videoversion", "number");
            const int n = FeedInteger(count);
            if (n > 0) result.AdList = ReadAdList(cache, n);
        } else {
            result.AdList = BuiltInAdInfos();
        }
    } catch (const std::exception&) {
        HandleApplicationError(std::current_exception(), MessageBoxes());
    }
    return result;
}
