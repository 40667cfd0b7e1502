#pragma once
// The start-up update check: fetches the maker's small XML feed, offers a newer version,
// and gathers the promotional messages of the progress window from the feed, from the copy
// of it kept by the last good check, or from the built-in list.
#include <QtGlobal>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/AdInfo.h"

class QWidget;
class TGlobalObject;

// How long the check may spend on the network, all its downloads together, counted from the
// first connection attempt; and the largest feed it takes. Past either a download gives up:
// a server that sends a byte now and then, or without end, cannot hold up the start.
constexpr int FeedReadTimeout = 15000;  // milliseconds
constexpr qint64 MaxFeedBytes = 1 << 20;

// The feed as just downloaded, and the copy kept for starts without a connection. Both live
// beside the settings file: the working folder of a desktop program is often not writable.
inline constexpr const char* FeedFileName = "zantonet.xml";
inline constexpr const char* FeedCacheFileName = "zanto.xml";

// An HTTP GET of an http or https address into memory (no proxy). The window system keeps
// being served meanwhile (painting, timers) but user input waits, so nothing can be started
// behind the check's back. On success the whole body replaces fileName and the result is
// true; a refused connection, a download not done within timeoutMs, a body larger than
// MaxFeedBytes, an HTTP error status or a file that cannot be written give false and leave
// fileName as it was.
bool Download(const std::string& address, const std::string& fileName, int timeoutMs = FeedReadTimeout);

// A feed file that cannot be read or is not well-formed XML, or a value that is not a number.
class TFeedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value of a feed file. path names elements joined by ".", beginning with the document
// element ("XMLPackage.count"). A document element of another name, or a missing second
// name, gives an empty text; a later missing name leaves the search at the element found so
// far. With a non-blank attribute the result is that attribute (empty when missing), else
// the element's text. A file that cannot be read or parsed throws TFeedError.
std::string ReadFeedValue(const std::string& fileName, const std::string& path, const std::string& attribute);

// A feed value read as a number; anything else throws TFeedError naming the text.
int FeedInteger(const std::string& text);
double FeedNumber(const std::string& text);

// The feed of the compiled edition, or REELSHIFT_UPDATE_URL when that is set (mirrors, and
// trying a feed by hand).
std::string FeedAddress();

struct TUpdateCheckSettings {
    std::string FeedAddress;
    std::string Folder;       // holds the two feed files
    std::string VersionText;  // the running program's, e.g. " 3.300 "
    std::string Title;
    std::string DownloadAddress;
    int TimeoutMs = FeedReadTimeout;
};

// The check as the main window runs it: the edition's feed, the files beside the settings
// file, the state object's title, version text and installer address.
TUpdateCheckSettings UpdateCheckSettings(const TGlobalObject& global);

struct TUpdateCheckResult {
    std::vector<TAdInfo> AdList;
    std::string LatestVersion;     // "videoversion" as read; empty when none was read
    bool CloseForUpgrade = false;  // the user accepted the upgrade: close without asking
};

// Runs the whole check. A newer version is offered with a Yes/No question; Yes opens the
// installer's address. A feed that cannot be parsed or a value that is not a number is
// shown by the application's error handler and ends the check with what it had gathered.
// Addresses of promotional messages that are not web addresses are dropped (left empty).
TUpdateCheckResult RunUpdateCheck(const TUpdateCheckSettings& settings, QWidget* parent);
