#pragma once
// Shared by the tests of the edit dialogs: the player's libraries with the silent sound
// driver, generated clips, and waiting while the main-thread queue and Qt's events are served.
#include <QCoreApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "edits/DialogPreview.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "engine/MainThread.h"
#include "tests/edits/EditsTestSupport.h"
#include "tests/support/TestSupport.h"

namespace dialogtest {

inline void SetUpDialogs() {
    static bool done = false;
    if (done) return;
    done = true;
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    TheMainThread();  // this thread is the main thread from here on
    EnsureApplication();
    FFLogger().TriggerEventInMainThread = false;
    if (!FFLoader().LoadLibrarySet(PlayerLibraries)) throw std::runtime_error(FFLoader().LastError());
    FFLogger().SetLogLevel(llQuiet);
}

inline double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Serves the main-thread queue and Qt's events until done() or the time is up.
inline bool ServeUntil(const std::function<bool()>& done, double timeoutSeconds) {
    const double until = Seconds() + timeoutSeconds;
    while (!done()) {
        if (Seconds() > until) return false;
        TheMainThread().ServePending();
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline void ServeFor(double seconds) { ServeUntil([] { return false; }, seconds); }

// A clip of one flat colour with a tone.
inline void MakeFlatClip(const std::string& output, double seconds, const std::string& color, const std::string& size) {
    auto r = testsupport::Run({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                               "color=c=" + color + ":s=" + size + ":r=25", "-f", "lavfi", "-i",
                               "sine=frequency=440:sample_rate=44100", "-t", std::to_string(seconds), "-c:v",
                               "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", output});
    if (r.exitCode != 0) throw std::runtime_error("ffmpeg failed: " + r.err);
}

template <class T>
T* Child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
}

// Catches the warnings the dialogs show instead of message boxes.
class WarningCatcher {
public:
    WarningCatcher() {
        SetEditWarning([this](QWidget*, const QString& caption, const QString& text) {
            Caption = caption.toStdString();
            Text = text.toStdString();
            ++Count;
        });
    }
    ~WarningCatcher() { SetEditWarning({}); }
    std::string Caption, Text;
    int Count = 0;
};

}  // namespace dialogtest
