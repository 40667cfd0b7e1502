#include "engine/FFmpegLogger.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/LibAVApi.h"
#include "engine/MainThread.h"
#include "platform/IniFile.h"

namespace {
std::atomic<int> gLibraryLevel{AV_LOG_INFO};
std::atomic<TFFLogger*> gInstance{nullptr};
}  // namespace

int LogLevelToLibrary(TLogLevel level) { return (int(level) - 1) * 8; }

TLogLevel LibraryToLogLevel(int l) {
    if (l < -8) return llQuiet;
    if (l >= 48) return llDebug;
    const int q = l >= 0 ? l / 8 : -((-l + 7) / 8);  // rounded toward minus infinity
    return TLogLevel(q + 1);
}

TThreadID CurrentThreadID() { return TThreadID(::syscall(SYS_gettid)); }

// Pending partial lines, one entry per thread that has logged an unfinished line.
struct TFFLogger::PendingLines {
    std::mutex lock;
    struct Item {
        TThreadID thread;
        std::string text;
    };
    std::vector<Item> items;
};

TFFLogger::TFFLogger() : FLogLevel(LibraryToLogLevel(gLibraryLevel)), FPending(nullptr) {
    TFFLogger* expected = nullptr;
    if (!gInstance.compare_exchange_strong(expected, this))
        throw std::logic_error("Allow creating only one instance of TFFLogger.");
    FPending = new PendingLines;
}

TFFLogger::~TFFLogger() {
    // Lines logged after this point go to the libraries' own output, never to a dead object.
    if (FAttached && avutil().av_log_set_callback && avutil().av_log_default_callback)
        avutil().av_log_set_callback(avutil().av_log_default_callback);
    gInstance = nullptr;
    delete FPending;
}

TFFLogger& FFLogger() {
    if (TFFLogger* l = gInstance.load()) return *l;
    static std::mutex made;
    static std::unique_ptr<TFFLogger> owned;
    std::lock_guard guard(made);
    if (!gInstance.load()) owned = std::make_unique<TFFLogger>();
    return *gInstance.load();
}

int TFFLogger::LibraryLevel() { return gLibraryLevel; }

void TFFLogger::SetLogLevel(TLogLevel level) {
    if (level == FLogLevel) return;
    FLogLevel = level;
    gLibraryLevel = LogLevelToLibrary(level);
    if (avutil().av_log_set_level) avutil().av_log_set_level(gLibraryLevel);
}

void TFFLogger::SetLogLevelText(const std::string& text) {
    static const std::pair<const char*, int> names[] = {{"quiet", -8},  {"panic", 0},     {"fatal", 8},
                                                        {"error", 16},  {"warning", 24},  {"info", 32},
                                                        {"verbose", 40}, {"debug", 48}};
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    std::optional<int> level;
    for (auto& [name, value] : names)
        if (lower == name) level = value;
    if (!level) level = ParseInteger(text);
    if (!level) throw FFmpegException(Format("Invalid loglevel \"%s\"", text.c_str()));
    SetLogLevel(LibraryToLogLevel(*level));
}

namespace {
void LibraryCallback(void* avcl, int level, const char* fmt, va_list vl) {
    level &= 0xff;  // the libraries may add colour bits above the level
    if (level > gLibraryLevel) return;
    TFFLogger* logger = gInstance.load();
    if (!logger) return;
    logger->LibraryLog(avcl, level, FormatV(fmt, vl));
}
}  // namespace

void TFFLogger::Attach() {
    if (!avutil().av_log_set_callback || !avutil().av_log_set_level) throw std::logic_error("Assertion failure");
    avutil().av_log_set_callback(LibraryCallback);
    avutil().av_log_set_level(gLibraryLevel);
    FAttached = true;
}

void TFFLogger::LibraryLog(const void* context, int libraryLevel, const std::string& text) {
    if (libraryLevel > gLibraryLevel) return;
    std::string prefix;
    if (context) {
        const AVClass* cls = *static_cast<const AVClass* const*>(context);
        if (cls && cls->item_name)
            prefix = Format("[%s @ %p]", cls->item_name(const_cast<void*>(context)), context);
    }
    // A library that gives up (a failed assertion) aborts right after this line: posted, it
    // would never be seen.
    if (libraryLevel <= AV_LOG_FATAL) std::fprintf(stderr, "%s%s", prefix.c_str(), text.c_str());
    const TThreadID me = CurrentThreadID();
    std::vector<std::string> lines;
    {
        std::lock_guard guard(FPending->lock);
        auto& items = FPending->items;
        auto it = std::find_if(items.begin(), items.end(), [&](const PendingLines::Item& i) { return i.thread == me; });
        if (it == items.end()) it = items.insert(items.begin(), PendingLines::Item{me, {}});
        // Only the piece that starts a line carries the prefix.
        it->text += it->text.empty() ? prefix + text : text;
        for (auto nl = it->text.find('\n'); nl != std::string::npos; nl = it->text.find('\n')) {
            lines.push_back(it->text.substr(0, nl));
            it->text.erase(0, nl + 1);
        }
        // Threads come and go (one per task): an entry with nothing pending is dropped.
        if (it->text.empty()) items.erase(it);
    }
    // Delivered outside the lock: the main thread may itself be logging meanwhile. Library
    // lines come from threads the main thread may be waiting for (a codec's own workers
    // while it opens or closes the codec), so they are posted, never waited for.
    for (const auto& line : lines) Deliver(this, me, LibraryToLogLevel(libraryLevel), line, false);
}

void TFFLogger::Log(const void* Sender, TLogLevel level, const std::string& msg) {
    if (FLogLevel >= level || (level == llVerbose && FLogLevel != llQuiet))
        Deliver(Sender, CurrentThreadID(), level, msg, true);
}

void TFFLogger::Post(const void* Sender, TLogLevel level, const std::string& msg) {
    if (FLogLevel >= level || (level == llVerbose && FLogLevel != llQuiet))
        Deliver(Sender, CurrentThreadID(), level, msg, false);
}

void TFFLogger::LogFmt(const void* Sender, TLogLevel level, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string msg = FormatV(fmt, ap);
    va_end(ap);
    Log(Sender, level, msg);
}

void TFFLogger::Deliver(const void* Sender, TThreadID threadId, TLogLevel level, const std::string& msg,
                        bool wait) {
    TLogEvent handler = OnLog;
    if (!handler) return;
    if (!TriggerEventInMainThread)
        handler(Sender, threadId, level, msg);
    else if (wait)
        TheMainThread().RunAndWait([&] { handler(Sender, threadId, level, msg); });
    else
        TheMainThread().Post([handler, Sender, threadId, level, msg] { handler(Sender, threadId, level, msg); });
}
