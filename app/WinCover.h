#pragma once
// The borderless picture shown while the program starts. It closes itself once the main
// window is on screen.
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class TfrmCover : public QWidget {
    Q_OBJECT
public:
    // Loads "skin/videocover.jpg", then "skin/mp4avicover.jpg" from programFolder when they
    // exist, the later replacing the earlier; without either it keeps its own picture.
    TfrmCover(const QString& programFolder, const QString& caption);

    // Shows the cover centred on the screen and paints it at once.
    void ShowNow();
    // The window whose showing ends the cover.
    void SetMainWindow(QWidget* mainWindow) { FMainWindow = mainWindow; }
    const QImage& Picture() const { return FPicture; }

    // The picture drawn when no cover file is found.
    static QImage BuiltInPicture(const QString& caption);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void tmrCloseTimer();

    QImage FPicture;
    QPointer<QWidget> FMainWindow;
    QTimer* tmrClose;
};
