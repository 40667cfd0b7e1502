#pragma once
// The process-wide logger: collects the media libraries' log output into whole lines per
// thread and carries the engine's own messages, both delivered through OnLog.
#include <cstdint>
#include <functional>
#include <string>

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// Library level of a TLogLevel ((n - 1) * 8) and back.
int LogLevelToLibrary(TLogLevel level);
TLogLevel LibraryToLogLevel(int libraryLevel);

using TThreadID = std::uint64_t;
TThreadID CurrentThreadID();

// Sender: the logger for library lines, the task that logged for engine messages.
using TLogEvent = std::function<void(const void* Sender, TThreadID AThreadID, TLogLevel ALogLevel,
                                     const std::string& ALogMsg)>;

class TFFLogger {
public:
    TFFLogger();
    ~TFFLogger();
    TFFLogger(const TFFLogger&) = delete;
    TFFLogger& operator=(const TFFLogger&) = delete;

    TLogLevel LogLevel() const { return FLogLevel; }
    void SetLogLevel(TLogLevel level);
    // "quiet" .. "debug" (any case) or a library level number.
    void SetLogLevelText(const std::string& text);

    bool TriggerEventInMainThread = true;
    TLogEvent OnLog;

    // Installs the library log callback; needs avutil bound.
    void Attach();

    void Log(const void* Sender, TLogLevel level, const std::string& msg);
    void LogFmt(const void* Sender, TLogLevel level, const char* fmt, ...) __attribute__((format(printf, 4, 5)));

    // The library callback's work, callable directly (tests feed it lines).
    void LibraryLog(const void* context, int libraryLevel, const std::string& text);

private:
    void Deliver(const void* Sender, TThreadID threadId, TLogLevel level, const std::string& msg);

    TLogLevel FLogLevel;
    struct PendingLines;
    PendingLines* FPending;
};

// The one logger of the process, made on first use.
TFFLogger& FFLogger();
