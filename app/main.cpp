#include <QStyleFactory>

#include <cstdio>
#include <cstring>

#include "app/Application.h"
#include "app/GlobalUnit.h"
#include "app/QtMainThread.h"
#include "app/WinCover.h"
#include "app/WinMain.h"
#include "formats/Edition.h"
#include "platform/ProgramFolder.h"

namespace {

// --help and --version are answered on the terminal, before anything needs a display; every
// other argument is a file to add (or one of Qt's own options).
bool AnswerOnTheTerminal(int argc, char** argv, int& status) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) return false;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs("usage: reelshift [FILE...]\n"
                       "Converts video and audio files in a window; the files named become jobs.\n"
                       "reelshift-cli converts from a terminal. See reelshift(1) and reelshift-cli(1).\n",
                       stdout);
            status = 0;
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
            std::printf("reelshift %d.%d.%d.%d\n", REELSHIFT_VERSION_MAJOR, REELSHIFT_VERSION_MINOR,
                        REELSHIFT_VERSION_PATCH, REELSHIFT_VERSION_TWEAK);
            status = 0;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (int status = 0; AnswerOnTheTerminal(argc, argv, status)) return status;
    TApplication app(argc, argv);
    QApplication::setApplicationName("reelshift");
    // Docks and window lists match the window to its launcher by this name.
    QGuiApplication::setDesktopFileName(REELSHIFT_APP_ID);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    TQtMainThread mainThread;

    // The cover goes up before anything else is built.
    TfrmCover cover(QString::fromStdString(ProgramFolder()),
                    QString::fromStdString(EditionProfile(CompiledEdition()).Title));
    cover.ShowNow();

    SetApplicationTitle("Zanto Video Converter");
    TfrmMain main(EditionGlobalObject());
    cover.SetMainWindow(&main);
    // Files named on the command line ("Open with" of the desktop) become jobs as by Add.
    // Taken from argv as bytes (Qt has removed its own options from it): arguments() decodes
    // them, and a name that is not UTF-8 would not come back.
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        if (!optionsEnded && std::strcmp(argv[i], "--") == 0) {
            optionsEnded = true;  // the first one ends the options; the files follow
            continue;
        }
        files.emplace_back(argv[i]);
    }
    main.AddStartupFiles(files);
    main.show();
    return app.exec();
}
