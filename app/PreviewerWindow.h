#pragma once
// The preview window of a conversion task: a small tool window on top of the others,
// centred on the screen, sized to the frame and titled with the frame's time. A press of the
// left button anywhere moves it as its caption would.
#include <QImage>
#include <QWidget>

#include "engine/Previewer.h"

class TPreviewerWindow : public QWidget, public TPreviewer {
public:
    TPreviewerWindow();
    void ShowFrame(const TFrameBitmap& bitmap, int64_t pts) override;
    bool Closed() const override { return FClosed; }
    const QImage& Frame() const { return FFrame; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QImage FFrame;
    bool FClosed = false;
    bool FPlaced = false;
};

// Lets every conversion task with Preview set open one of these windows.
void InstallPreviewerWindows();
