#include "engine/FFmpegLogger.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/FFUtils.h"
#include "engine/LibAVApi.h"
#include "engine/MainThread.h"
#include "platform/IniFile.h"

namespace {
std::atomic<int> gLibraryLevel{32};
}

int LogLevelToLibrary(TLogLevel level) { return (int(level) - 1) * 8; }

TLogLevel LibraryToLogLevel(int l) {
    if (l < -8) return llQuiet;
    if (l >= 48) return llDebug;
    int q = l >= 0 ? l / 8 : -((-l + 7) / 8);  // toward minus infinity
    return TLogLevel(q + 1);
}

TThreadID CurrentThreadID() { return TThreadID(::syscall(SYS_gettid)); }

struct TFFLogger::PendingLines {
    std::mutex lock;
    struct Item {
        TThreadID thread;
        std::string text;
    };
    std::vector<Item> items;
};

TFFLogger::TFFLogger() : FLogLevel(LibraryToLogLevel(gLibraryLevel)), FPending(new PendingLines) {}

TFFLogger::~TFFLogger() { delete FPending; }

TFFLogger& FFLogger() {
    static TFFLogger logger;
    return logger;
}

void TFFLogger::SetLogLevel(TLogLevel level) {
    if (level == FLogLevel) return;
    FLogLevel = level;
    gLibraryLevel = LogLevelToLibrary(level);
    if (avutil().av_log_set_level) avutil().av_log_set_level(gLibraryLevel);
}

void TFFLogger::SetLogLevelText(const std::string& text) {
    static const std::pair<const char*, int> names[] = {{"quiet", -8}, {"panic", 0},    {"fatal", 8},
                                                        {"error", 16}, {"warning", 24}, {"info", 32},
                                                        {"verbose", 40}, {"debug", 48}};
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    std::optional<int> level;
    for (auto& [name, value] : names)
        if (lower == name) level = value;
    if (!level) level = ParseInteger(text).value_or(0);
    SetLogLevel(LibraryToLogLevel(*level));
}

namespace {
void LibraryCallback(void* avcl, int level, const char* fmt, va_list vl) {
    if (level > gLibraryLevel) return;
    std::string prefix;
    if (avcl) {
        AVClass* cls = *static_cast<AVClass**>(avcl);
        if (cls && cls->item_name) prefix = Format("[%s @ %p]", cls->item_name(avcl), avcl);
    }
    FFLogger().LibraryLog(avcl, level, prefix + "\x01" + FormatV(fmt, vl));
}
}  // namespace

void TFFLogger::Attach() {
    avutil().av_log_set_callback(LibraryCallback);
    avutil().av_log_set_level(gLibraryLevel);
}

void TFFLogger::LibraryLog(const void* context, int libraryLevel, const std::string& text) {
    // text: prefix, \x01, message (the prefix is used only when a new line starts).
    auto sep = text.find('\x01');
    std::string prefix = sep == std::string::npos ? std::string() : text.substr(0, sep);
    std::string msg = sep == std::string::npos ? text : text.substr(sep + 1);
    const TThreadID me = CurrentThreadID();
    std::vector<std::string> lines;
    {
        std::lock_guard guard(FPending->lock);
        auto it = std::find_if(FPending->items.begin(), FPending->items.end(),
                               [&](const PendingLines::Item& i) { return i.thread == me; });
        if (it == FPending->items.end()) it = FPending->items.insert(FPending->items.begin(), {me, {}});
        it->text += it->text.empty() ? prefix + msg : msg;
        for (auto nl = it->text.find('\n'); nl != std::string::npos; nl = it->text.find('\n')) {
            lines.push_back(it->text.substr(0, nl));
            it->text.erase(0, nl + 1);
        }
    }
    for (const auto& line : lines) Deliver(this, me, LibraryToLogLevel(libraryLevel), line);
}

void TFFLogger::Log(const void* Sender, TLogLevel level, const std::string& msg) {
    if (FLogLevel >= level || (level == llVerbose && FLogLevel != llQuiet))
        Deliver(Sender, CurrentThreadID(), level, msg);
}

void TFFLogger::LogFmt(const void* Sender, TLogLevel level, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string msg = FormatV(fmt, ap);
    va_end(ap);
    Log(Sender, level, msg);
}

void TFFLogger::Deliver(const void* Sender, TThreadID threadId, TLogLevel level, const std::string& msg) {
    TLogEvent handler = OnLog;
    if (!handler) return;
    if (TriggerEventInMainThread)
        TheMainThread().RunAndWait([&] { handler(Sender, threadId, level, msg); });
    else
        handler(Sender, threadId, level, msg);
}
