#pragma once
// Shared pieces of the window tests: one application object, recorded message boxes and a
// scratch home folder.
#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/GlobalUnit.h"
#include "app/MessageBoxes.h"
#include "app/QtMainThread.h"
#include "tests/support/TestSupport.h"

class TfrmMain;

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace apptest {

// The process's application object (created on first use, offscreen). From then on a
// request to switch the computer off fails the test that makes it: only a test that
// installs a TPowerRecorder may get that far.
TApplication& App();

// A fixture's first member, so the application exists before any widget member.
struct TUsesApp {
    TUsesApp() { App(); }
};

struct TShownMessage {
    TMessageIcon Icon;
    QString Caption;
    QString Text;
};

// Records every box instead of showing it; questions get the answer set in Answer.
class TRecordedBoxes : public TMessageBoxes {
public:
    TRecordedBoxes() { SetMessageBoxes(this); }
    ~TRecordedBoxes() override { SetMessageBoxes(nullptr); }
    void Show(QWidget*, TMessageIcon icon, const QString& caption, const QString& text) override {
        Shown.push_back({icon, caption, text});
    }
    bool AskYesNo(QWidget*, const QString& caption, const QString& text) override {
        Asked.push_back({TMessageIcon::Question, caption, text});
        return Answer;
    }
    bool Answer = true;
    std::vector<TShownMessage> Shown;
    std::vector<TShownMessage> Asked;
};

// Points $HOME at a scratch folder for the life of the object.
class TScratchHome {
public:
    TScratchHome() {
        if (const char* old = std::getenv("HOME")) FOld = old;
        if (const char* old = std::getenv("XDG_STATE_HOME")) FOldState = old;
        ::setenv("HOME", FDir.path().c_str(), 1);
        ::unsetenv("XDG_STATE_HOME");  // the job list's recovery file goes under this home
    }
    ~TScratchHome() {
        if (FOld) ::setenv("HOME", FOld->c_str(), 1);
        else ::unsetenv("HOME");
        if (FOldState) ::setenv("XDG_STATE_HOME", FOldState->c_str(), 1);
    }
    std::string Path() const { return FDir.path().string(); }
    std::string File(const std::string& name) const { return FDir.file(name); }

private:
    testsupport::TempDir FDir;
    std::optional<std::string> FOld, FOldState;
};

// A short generated clip (test pattern and tone, 320x240, 25 fps, 44.1 kHz), made once per
// test program and shared; name gives the file name and with it the container.
std::string Clip(const std::string& name, double seconds = 1.0);

// Records the web addresses and folders the program asks to open; nothing is launched.
class TUrlRecorder {
public:
    TUrlRecorder();
    ~TUrlRecorder();
    std::vector<QUrl> Opened;
};

// Counts the requests to switch the computer off; the machine stays on.
class TPowerRecorder {
public:
    TPowerRecorder();
    ~TPowerRecorder();
    int Requests = 0;
    std::string Refusal;  // when set, each request fails with this reason
};

// Runs fn on the first modal window of type T once it is up (the caller then opens it).
// Gives up after ten seconds, so a window that never comes cannot be answered in a later test.
template <typename T>
void WhenModal(std::function<void(T*)> fn) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, fn, ticks] {
        auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
        const bool up = window && window->isVisible();
        if (up || ++*ticks > 2000) {
            timer->stop();
            timer->deleteLater();
        }
        if (up) fn(window);
    });
    timer->start();
}

// What of text, from outside the program, the widgets under root (root included) would show
// as markup instead of as its characters: labels that read it as rich text and tool tips
// that carry it unescaped. Empty when every one shows the characters.
QStringList MarkupShown(const QWidget& root, const QString& text);

// The main window on a scratch settings file and home folder, with the main-thread service,
// recorded message boxes and recorded shell requests.
struct TMainWindowFixture {
    TMainWindowFixture();
    ~TMainWindowFixture();
    TGlobalObject Global() const;
    // Creates and shows the window (once).
    TfrmMain& Window();

    TUsesApp app;
    TQtMainThread mainThread;
    TScratchHome home;
    testsupport::TempDir dir;
    std::string SettingsPath;
    TRecordedBoxes boxes;
    TUrlRecorder urls;
    std::unique_ptr<TfrmMain> window;
};

}  // namespace apptest
