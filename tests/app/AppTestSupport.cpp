#include "tests/app/AppTestSupport.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <QTextDocument>

#include <filesystem>
#include <map>

#include "app/WinMain.h"
#include "formats/Edition.h"
#include "platform/qt/Power.h"
#include "platform/qt/Shell.h"

namespace apptest {

namespace {
bool RefusePowerOff(std::string* error) {
    ADD_FAILURE() << "a test asked to switch the computer off";
    if (error) *error = "refused in tests";
    return false;
}
}  // namespace

TApplication& App() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    static TApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        // A main window that is shown runs the update check; in tests it must fail at once
        // on loopback instead of reaching the maker's server.
        ::setenv("REELSHIFT_UPDATE_URL", "http://127.0.0.1:9/", 0);
        power::SetPowerOffRequest(RefusePowerOff);
        return new TApplication(argc, argv);
    }();
    return *app;
}

std::string Clip(const std::string& name, double seconds) {
    static testsupport::TempDir folder;
    static std::map<std::string, std::string> made;
    const std::string key = name + "@" + std::to_string(seconds);
    if (auto it = made.find(key); it != made.end()) return it->second;
    const std::filesystem::path sub = folder.path() / std::to_string(made.size());
    std::filesystem::create_directories(sub);
    const std::string path = (sub / name).string();
    testsupport::MakeClip(path, seconds);
    made[key] = path;
    return path;
}

TUrlRecorder::TUrlRecorder() {
    shell::SetUrlOpener([this](const QUrl& url) {
        Opened.push_back(url);
        return true;
    });
}
TUrlRecorder::~TUrlRecorder() { shell::SetUrlOpener({}); }

TPowerRecorder::TPowerRecorder() {
    power::SetPowerOffRequest([this](std::string* error) {
        ++Requests;
        if (Refusal.empty()) return true;
        if (error) *error = Refusal;
        return false;
    });
}
TPowerRecorder::~TPowerRecorder() { power::SetPowerOffRequest(RefusePowerOff); }

TMainWindowFixture::TMainWindowFixture() : SettingsPath(dir.file("zantomp4aviconverter.ini")) {}

TMainWindowFixture::~TMainWindowFixture() {
    if (window) {
        boxes.Answer = true;
        window->close();
        window.reset();
    }
}

TGlobalObject TMainWindowFixture::Global() const {
    TGlobalObject g = EditionGlobalObject();
    g.SetSettingsFile(SettingsPath);
    g.SetFormatFile(testsupport::BinDir() + "/" + EditionProfile(CompiledEdition()).FormatFileName);
    return g;
}

TfrmMain& TMainWindowFixture::Window() {
    if (!window) {
        window = std::make_unique<TfrmMain>(Global());
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    return *window;
}

QStringList MarkupShown(const QWidget& root, const QString& text) {
    QStringList found;
    QList<QWidget*> widgets = root.findChildren<QWidget*>();
    widgets.prepend(const_cast<QWidget*>(&root));
    for (QWidget* w : widgets) {
        if (auto* label = qobject_cast<QLabel*>(w); label && label->text().contains(text)) {
            const bool rich = label->textFormat() == Qt::RichText ||
                              (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
            if (rich) found << "label " + label->objectName() + ": " + label->text();
        }
        if (w->toolTip().contains(text) && Qt::mightBeRichText(w->toolTip()))
            found << "tool tip " + w->objectName() + ": " + w->toolTip();
    }
    return found;
}

}  // namespace apptest
