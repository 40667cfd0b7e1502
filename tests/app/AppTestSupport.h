#pragma once
// Shared pieces of the window tests: one application object, recorded message boxes and a
// scratch home folder.
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/MessageBoxes.h"
#include "tests/support/TestSupport.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace apptest {

// The process's application object (created on first use, offscreen).
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
        ::setenv("HOME", FDir.path().c_str(), 1);
    }
    ~TScratchHome() {
        if (FOld) ::setenv("HOME", FOld->c_str(), 1);
        else ::unsetenv("HOME");
    }
    std::string Path() const { return FDir.path().string(); }
    std::string File(const std::string& name) const { return FDir.file(name); }

private:
    testsupport::TempDir FDir;
    std::optional<std::string> FOld;
};

}  // namespace apptest
