#pragma once
// The process-wide logger: collects the media libraries' log output into whole lines per
// thread and carries the engine's own messages, both delivered through OnLog.
//
// Delivery on the main thread: with TriggerEventInMainThread (the default) a line logged on
// another thread is handed to TheMainThread() and the logging thread waits until the main
// thread has run the handler. A main thread that waits for workers must therefore keep
// serving (MainThread::ServePending) — the desktop program's event loop does; the terminal
// front end serves while it waits; tests either serve or switch TriggerEventInMainThread off.
#include <atomic>
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
    // Only one logger may exist: a second one throws std::logic_error with
    // "Allow creating only one instance of TFFLogger.".
    TFFLogger();
    ~TFFLogger();
    TFFLogger(const TFFLogger&) = delete;
    TFFLogger& operator=(const TFFLogger&) = delete;

    TLogLevel LogLevel() const { return FLogLevel; }
    // Also moves the libraries' level when it changes.
    void SetLogLevel(TLogLevel level);
    // "quiet" .. "debug" (any case) or a library level number; anything else throws
    // FFmpegException.
    void SetLogLevelText(const std::string& text);
    // The level the libraries' lines are filtered with (kept in step with LogLevel).
    static int LibraryLevel();

    bool TriggerEventInMainThread = true;
    TLogEvent OnLog;

    // Installs the library log callback and sends the level; needs avutil bound
    // (std::logic_error "Assertion failure" otherwise).
    void Attach();
    bool Attached() const { return FAttached; }

    // Engine messages: delivered when LogLevel reaches the level, and verbose ones (the
    // progress lines) whenever the logger is not quiet.
    void Log(const void* Sender, TLogLevel level, const std::string& msg);
    void LogFmt(const void* Sender, TLogLevel level, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
    // The same, never waiting for the main thread: for threads the main thread may itself
    // be waiting for (a run's stage threads, while the run's thread waits for room in
    // their queues).
    void Post(const void* Sender, TLogLevel level, const std::string& msg);

    // The library callback's work after formatting: context is the logging object (its
    // first member an AVClass pointer) or null; text a piece of a line or several lines.
    void LibraryLog(const void* context, int libraryLevel, const std::string& text);

private:
    void Deliver(const void* Sender, TThreadID threadId, TLogLevel level, const std::string& msg, bool wait);

    TLogLevel FLogLevel;
    bool FAttached = false;
    struct PendingLines;
    PendingLines* FPending;
};

// The one logger of the process, made on first use unless the program made its own.
TFFLogger& FFLogger();
