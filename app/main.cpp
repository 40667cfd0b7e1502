#include <QStyleFactory>

#include "app/Application.h"
#include "app/GlobalUnit.h"
#include "app/QtMainThread.h"
#include "app/WinCover.h"
#include "app/WinMain.h"
#include "formats/Edition.h"
#include "platform/ProgramFolder.h"

int main(int argc, char** argv) {
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
    main.AddStartupFiles(app.arguments().mid(1));
    main.show();
    return app.exec();
}
